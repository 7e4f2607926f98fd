#pragma once
// Filling the progress snapshot of an interactive transfer with the record the transfer
// dialog shows: speed "%9.2fK" (KiB/s), remaining time "%02d:%02d:%02d" and the status
// line. Toolkit-free; called on the transfer worker.

#include <cstdint>
#include <string>

#include "client/ui/ports.h"

namespace vantrel::ui {

enum class TransferDirection { Download, Upload };

// Writes one record into `progress` under its lock.
void recordProgress(TransferProgress& progress, TransferDirection direction, const std::string& fileName,
                    std::uint64_t bytesDone, std::uint64_t fileSize, double elapsedSeconds);

}  // namespace vantrel::ui
