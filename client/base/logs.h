#pragma once
// The three log writers: system log, real-time report log and task logs. Callable from any
// thread; each kind is serialised across threads and processes by its named lock. Files
// are opened and closed for every record. Text is written as GBK.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "client/base/installation.h"
#include "client/base/notifier.h"
#include "platform/clock.h"

namespace vantrel {

namespace platform {
class NamedLock;
}

class Logs {
  public:
    // All three references must outlive the Logs.
    Logs(const Installation& installation, const platform::Clock& clock, Notifier& notifier);
    ~Logs();

    // 0 written, -1 not written.
    int writeSysLog(std::string_view message);
    // 0 written, -1 not written; also sends the real-time notice.
    int writeSssjSysLog(std::string_view message, int level);
    // 0 written, -1 not written. `file` is the task log path built by the task catalogue.
    int writeTaskLog(std::string_view message, int level, const std::filesystem::path& file);

    // Level names: 0 "消息", 1 "警告", 2 "错误", anything else "".
    static std::string_view levelName(int level);
    // "log/SysLog20261208.log" etc. for the given day.
    std::filesystem::path sysLogPath(const platform::LocalTime& day) const;
    std::filesystem::path sssjLogPath(const platform::LocalTime& day) const;

    // The records as written (GBK bytes), for the given moment (doc/formats/logs.md).
    static std::string formatSysLogRecord(const platform::LocalTime& time, std::uint32_t threadId,
                                          std::string_view message);
    static std::string formatSssjRecord(const platform::LocalTime& time, std::string_view message,
                                        int level);
    // Exactly 200 bytes: 197 bytes of text, CR, LF, NUL.
    static std::string formatTaskRecord(const platform::LocalTime& time, std::string_view message,
                                        int level);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel
