#include "client/base/logs.h"

#include <cstdio>
#include <string>
#include <system_error>

#include "client/base/day_text.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/text_codec.h"
#include "platform/thread_id.h"

namespace vantrel {
namespace {

constexpr std::size_t kTaskRecordBytes = 200;
constexpr std::size_t kTaskTextBytes = 197;
constexpr std::size_t kTaskTextChars = 200;
constexpr std::size_t kNoticeMessageChars = 255;

// Index of the byte after the first `chars` UTF-8 characters of `text`.
std::size_t utf8PrefixBytes(std::string_view text, std::size_t chars) {
    std::size_t i = 0;
    for (std::size_t n = 0; i < text.size() && n < chars; ++n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return i;
}

std::size_t utf8Length(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

std::filesystem::path datedPath(const std::filesystem::path& dir, const char* prefix,
                                const platform::LocalTime& day) {
    return dir / (prefix + base::FormatDate(day) + ".log");
}

// Appends one record under the caller's lock. The log directory is created again when it
// has gone (an operator may delete log/ while the client runs).
bool appendRecord(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        if (!platform::createDirectories(file.parent_path()).isOk()) return false;
    }
    return platform::appendToFile(file, bytes).isOk();
}

}  // namespace

struct Logs::Impl {
    Impl(const Installation& i, const platform::Clock& c, Notifier& n)
        : installation(i), clock(c), notifier(n) {}

    // The lock of one log kind, opened on first use and kept for the life of the Logs.
    platform::NamedLock* lockFor(std::shared_ptr<platform::NamedLock>& slot, const char* name) {
        std::lock_guard guard(openMutex);
        if (!slot) {
            std::filesystem::path dir = installation.runtimeDirectory();
            if (dir.empty()) dir = platform::defaultRuntimeDirectory();
            if (!platform::createDirectories(dir).isOk()) return nullptr;
            auto opened = platform::NamedLock::open(name, dir);
            if (!opened) return nullptr;
            slot = std::move(opened.value());
        }
        return slot.get();
    }

    const Installation& installation;
    const platform::Clock& clock;
    Notifier& notifier;
    std::mutex openMutex;
    std::shared_ptr<platform::NamedLock> sysLock;
    std::shared_ptr<platform::NamedLock> sssjLock;
    std::shared_ptr<platform::NamedLock> taskLock;
};

Logs::Logs(const Installation& installation, const platform::Clock& clock, Notifier& notifier)
    : impl_(std::make_unique<Impl>(installation, clock, notifier)) {}

Logs::~Logs() = default;

std::string_view Logs::levelName(int level) {
    switch (level) {
        case 0:
            return "消息";
        case 1:
            return "警告";
        case 2:
            return "错误";
        default:
            return "";
    }
}

std::filesystem::path Logs::sysLogPath(const platform::LocalTime& day) const {
    return datedPath(impl_->installation.log(), "SysLog", day);
}

std::filesystem::path Logs::sssjLogPath(const platform::LocalTime& day) const {
    return datedPath(impl_->installation.log(), "SssjSysLog", day);
}

std::string Logs::formatSysLogRecord(const platform::LocalTime& time, std::uint32_t threadId,
                                     std::string_view message) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X", threadId);
    return platform::utf8ToGbkLossy(base::FormatDateTime(time) + "--[" + id + "]-" +
                                    std::string(message) + " \r\n");
}

std::string Logs::formatSssjRecord(const platform::LocalTime& time, std::string_view message,
                                   int level) {
    return platform::utf8ToGbkLossy(base::FormatDateTime(time) + "[" +
                                    std::string(levelName(level)) + "]--" + std::string(message) +
                                    " \r\n");
}

std::string Logs::formatTaskRecord(const platform::LocalTime& time, std::string_view message,
                                   int level) {
    std::string record;
    if (!message.empty()) {
        const std::string_view name = levelName(level);
        std::string text = base::FormatDateTime(time) + "--";
        if (!name.empty()) text += "[" + std::string(name) + "]";
        text += message;
        // 200 characters of text before conversion, padded with blanks or cut.
        text.resize(utf8PrefixBytes(text, kTaskTextChars));
        text.append(kTaskTextChars - utf8Length(text), ' ');
        record = platform::utf8ToGbkLossy(text);
        // Never half a two-byte character at the cut: a blank takes its place.
        record.resize(platform::gbkPrefixLength(record, kTaskTextBytes));
    }
    record.resize(kTaskTextBytes, ' ');
    record += "\r\n";
    record.push_back('\0');
    return record;
}

int Logs::writeSysLog(std::string_view message) {
    platform::NamedLock* lock = impl_->lockFor(impl_->sysLock, "vantrel_SYSLOG");
    if (!lock) return -1;
    platform::NamedLockGuard hold(*lock);
    const platform::LocalTime now = impl_->clock.localNow();
    const bool written = appendRecord(
        sysLogPath(now), formatSysLogRecord(now, platform::currentThreadId(), message));
    return written ? 0 : -1;
}

int Logs::writeSssjSysLog(std::string_view message, int level) {
    platform::NamedLock* lock = impl_->lockFor(impl_->sssjLock, "vantrel_SSSJSYSLOG");
    if (!lock) return -1;
    platform::LocalTime now;
    {
        platform::NamedLockGuard hold(*lock);
        now = impl_->clock.localNow();
        if (!appendRecord(sssjLogPath(now), formatSssjRecord(now, message, level))) return -1;
    }
    // Sent after the lock is released: the receiving window may itself write logs.
    RealtimeLogRecord notice;
    notice.time = base::FormatDateTime(now);
    notice.message = std::string(message.substr(0, utf8PrefixBytes(message, kNoticeMessageChars)));
    notice.level = level;
    impl_->notifier.send(notice);
    return 0;
}

int Logs::writeTaskLog(std::string_view message, int level, const std::filesystem::path& file) {
    platform::NamedLock* lock = impl_->lockFor(impl_->taskLock, "vantrel_LOG");
    if (!lock) return -1;
    platform::NamedLockGuard hold(*lock);
    const std::string record = formatTaskRecord(impl_->clock.localNow(), message, level);
    return appendRecord(file, record) ? 0 : -1;
}

}  // namespace vantrel
