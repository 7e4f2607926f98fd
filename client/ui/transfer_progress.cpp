#include "client/ui/transfer_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantrel::ui {

void recordProgress(TransferProgress& progress, TransferDirection direction, const std::string& fileName,
                    std::uint64_t bytesDone, std::uint64_t fileSize, double elapsedSeconds) {
    // Below a millisecond the speed means nothing; count it as one.
    const double seconds = std::max(elapsedSeconds, 0.001);
    const double kibPerSecond = static_cast<double>(bytesDone) / seconds / 1024.0;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%9.2fK", kibPerSecond);

    long long remaining = 0;
    if (kibPerSecond > 0) {
        const double left = static_cast<double>(fileSize) / (kibPerSecond * 1024.0) - seconds;
        remaining = std::max(0LL, static_cast<long long>(std::llround(left)));
    }
    char remainingText[32];
    std::snprintf(remainingText, sizeof remainingText, "%02lld:%02lld:%02lld", remaining / 3600,
                  remaining / 60 % 60, remaining % 60);

    char status[1024];
    std::snprintf(status, sizeof status,
                  direction == TransferDirection::Download ? "正在接收文件[%s](%lluB / %lluB ), 请稍候..."
                                                           : "正在发送文件[%s](%lluB / %lluB ), 请稍候...",
                  fileName.c_str(), static_cast<unsigned long long>(bytesDone),
                  static_cast<unsigned long long>(fileSize));

    std::lock_guard lock(progress.mutex);
    progress.fileName = fileName;
    progress.bytesDone = bytesDone;
    progress.fileSize = fileSize;
    progress.elapsedSeconds = elapsedSeconds;
    progress.speed = speed;
    progress.remaining = remainingText;
    progress.statusLine = status;
}

}  // namespace vantrel::ui
