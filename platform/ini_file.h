#pragma once
// Settings files with the semantics of the Windows private-profile functions that the
// stored Client.ini and DataSize.ini were written for:
//  - a missing file, section or key gives the caller's default;
//  - section and key names compare case-insensitively (ASCII);
//  - values are trimmed of surrounding blanks, and one pair of surrounding quotes is removed;
//  - every call sees the file as it is now, but the file is read again only when its
//    identity, size or times changed since the last read in this process (a reader that
//    asks once a second costs a stat, not a read);
//  - writing one key rewrites only that line (or adds it), keeping every other line and
//    comment; a missing section is appended. Writes replace the file atomically.
// Files are UTF-8. Lines are split on LF with an optional CR before it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel::platform {

class IniFile {
  public:
    explicit IniFile(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }

    // The value, or `fallback` when the file, section or key is missing. An empty value
    // present in the file is returned as the empty string.
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    // As getString, then cut to at most `maxChars` characters (the fixed-size buffers of
    // the stored readers; a multi-byte UTF-8 character counts as one).
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& fallback, std::size_t maxChars) const;
    // An integer read that stops at the first non-digit ("12ab" gives 12, "-3" gives -3);
    // a missing key or a value with no leading digit gives `fallback`. Saturates at int limits.
    int getInt(const std::string& section, const std::string& key, int fallback) const;

    // Writes one key, creating the file and section as needed.
    Status setString(const std::string& section, const std::string& key, const std::string& value);
    Status setInt(const std::string& section, const std::string& key, int value);

  private:
    std::optional<std::string> find(const std::string& section, const std::string& key) const;
    std::filesystem::path path_;
};

}  // namespace vantrel::platform
