#include "platform/ini_file.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/files.h"

namespace vantrel::platform {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// One line of the file: `text` without its line end, `end` the line end as found ("\r\n",
// "\n" or "" for a last line without one), so that a rewrite gives back every other byte.
struct Line {
    std::string_view text;
    std::string_view end;
};

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    while (!content.empty()) {
        const std::size_t lf = content.find('\n');
        if (lf == std::string_view::npos) {
            lines.push_back({content, {}});
            break;
        }
        const std::size_t textEnd = lf > 0 && content[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back({content.substr(0, textEnd), content.substr(textEnd, lf + 1 - textEnd)});
        content.remove_prefix(lf + 1);
    }
    return lines;
}

// What a line means to the profile functions.
struct Parsed {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string_view name;   // the section or key name, trimmed
    std::string_view value;  // for a key: trimmed, one pair of surrounding quotes removed
};

Parsed parse(std::string_view line) {
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') return {};
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        return {Parsed::Kind::Section,
                trim(text.substr(1, close == std::string_view::npos ? close : close - 1)),
                {}};
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return {};
    std::string_view value = trim(text.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return {Parsed::Kind::Key, trim(text.substr(0, equals)), value};
}

// Where a key is, or where it would go, in a file's lines.
struct Location {
    std::optional<std::size_t> keyLine;  // the first line holding the key
    std::optional<std::size_t>
        sectionLast;  // the last header or key line of the first matching section
};

// Sections may repeat; the key's first occurrence in any of them counts.
Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed parsed = parse(lines[i].text);
        if (parsed.kind == Parsed::Kind::Section) {
            inSection = equalsIgnoringCase(parsed.name, section);
            inFirstSection = inSection && !where.sectionLast;
            if (inFirstSection) where.sectionLast = i;
        } else if (parsed.kind == Parsed::Kind::Key && inSection) {
            if (inFirstSection) where.sectionLast = i;
            if (equalsIgnoringCase(parsed.name, key)) {
                where.keyLine = i;
                return where;
            }
        }
    }
    return where;
}

std::string_view withoutBom(std::string_view content) {
    if (content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
    return content;
}

// At most `maxChars` UTF-8 characters of `text`.
std::string cutToChars(const std::string& text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
        if (chars++ == maxChars) return text.substr(0, i);
    }
    return text;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Read-modify-write of one file must not interleave between threads.
std::mutex& writeMutex() {
    static std::mutex mutex;
    return mutex;
}

// What a file held when it was last read, and how it looked then: a file whose identity,
// size and times are unchanged is not read again. File times move in coarse steps, so a
// change made in the same step as the read would leave them as they were: a file written
// shortly before it was read is read again until it has settled.
constexpr auto kSettled = std::chrono::seconds(2);

struct Snapshot {
    struct Stamp {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = -1;
        WallTime modified;
        WallTime changed;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stamp;
    bool settled = false;  // written at least kSettled before it was read
    std::shared_ptr<const std::string> content;
};

std::mutex& snapshotMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::filesystem::path, Snapshot>& snapshots() {
    static std::map<std::filesystem::path, Snapshot> files;
    return files;
}

// The content of `path`, read again only when the file changed since the last read.
std::shared_ptr<const std::string> currentContent(const std::filesystem::path& path) {
    Result<FileInfo> info = fileInfo(path);
    if (!info) {
        std::lock_guard lock(snapshotMutex());
        snapshots().erase(path);
        return nullptr;
    }
    const Snapshot::Stamp stamp{info->device, info->inode, info->size, info->modified,
                                info->changed};
    {
        std::lock_guard lock(snapshotMutex());
        const auto known = snapshots().find(path);
        if (known != snapshots().end() && known->second.settled && known->second.stamp == stamp)
            return known->second.content;
    }
    // A change between the look and the read only makes the next look read again.
    Result<std::string> read = readFile(path);
    if (!read) return nullptr;
    auto content = std::make_shared<const std::string>(std::move(read).value());
    std::lock_guard lock(snapshotMutex());
    const bool settled = std::chrono::system_clock::now() - info->modified > kSettled &&
                         std::chrono::system_clock::now() - info->changed > kSettled;
    snapshots()[path] = Snapshot{stamp, settled, content};
    return content;
}

}  // namespace

std::optional<std::string> IniFile::find(const std::string& section, const std::string& key) const {
    const std::shared_ptr<const std::string> content = currentContent(path_);
    if (!content) return std::nullopt;
    const std::vector<Line> lines = splitLines(withoutBom(*content));
    const Location where = locate(lines, section, key);
    if (!where.keyLine) return std::nullopt;
    return std::string(parse(lines[*where.keyLine].text).value);
}

std::string IniFile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    return find(section, key).value_or(fallback);
}

std::string IniFile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback, std::size_t maxChars) const {
    return cutToChars(getString(section, key, fallback), maxChars);
}

int IniFile::getInt(const std::string& section, const std::string& key, int fallback) const {
    const std::optional<std::string> value = find(section, key);
    if (!value) return fallback;
    std::string_view digits = *value;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return fallback;
    std::int64_t magnitude = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    for (const char c : digits) {
        if (c < '0' || c > '9') break;
        magnitude = std::min(magnitude * 10 + (c - '0'), limit);
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

Status IniFile::setString(const std::string& section, const std::string& key,
                          const std::string& value) {
    if (section.empty() || trim(section) != section || section.find(']') != std::string::npos ||
        hasLineBreak(section)) {
        return Status::error(ErrorKind::InvalidArgument,
                             "settings: bad section name \"" + section + "\"");
    }
    if (key.empty() || trim(key) != key || key.find('=') != std::string::npos ||
        hasLineBreak(key) || key.front() == '[' || key.front() == ';' || key.front() == '#') {
        return Status::error(ErrorKind::InvalidArgument, "settings: bad key name \"" + key + "\"");
    }
    if (hasLineBreak(value)) {
        return Status::error(ErrorKind::InvalidArgument,
                             "settings: a value cannot span lines (key " + key + ")");
    }

    std::lock_guard guard(writeMutex());
    Result<std::string> content = readFile(path_);
    if (!content && content.status().kind() != ErrorKind::NotFound) return content.status();
    const std::string original = content ? std::move(content).value() : std::string();
    const std::string_view bom =
        std::string_view(original).starts_with(kUtf8Bom) ? kUtf8Bom : std::string_view();
    const std::vector<Line> lines = splitLines(std::string_view(original).substr(bom.size()));
    const Location where = locate(lines, section, key);

    // New lines follow the file's own line ends.
    const std::string_view newline = !lines.empty() && lines.front().end == "\r\n" ? "\r\n" : "\n";
    std::string updated(bom);
    updated.reserve(original.size() + section.size() + key.size() + value.size() + 8);
    const auto appendLine = [&](std::string_view text, std::string_view end) {
        updated.append(text);
        updated.append(end);
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (where.keyLine == i) {
            appendLine(std::string(parse(lines[i].text).name) + "=" + value, lines[i].end);
            continue;
        }
        // A last line without a line end gets one when a new line may follow it.
        appendLine(lines[i].text, lines[i].end.empty() && !where.keyLine ? newline : lines[i].end);
        if (!where.keyLine && where.sectionLast == i) appendLine(key + "=" + value, newline);
    }
    if (!where.keyLine && !where.sectionLast) {
        appendLine("[" + section + "]", newline);
        appendLine(key + "=" + value, newline);
    }
    return writeFileAtomically(path_, updated);
}

Status IniFile::setInt(const std::string& section, const std::string& key, int value) {
    return setString(section, key, std::to_string(value));
}

}  // namespace vantrel::platform
