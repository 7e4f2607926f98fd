#pragma once
// The entry names and types of a zip archive, read from its central directory, so that an
// archive can be vetted before the external unpacker writes anything. The unpacker
// extracts by the central directory's names, so what is checked here is what it writes.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel::execution {

struct ZipEntry {
    std::string name;  // the stored bytes, unconverted
    bool isSymlink = false;
};

struct ZipDirectory {
    // False when the file holds no end-of-central-directory record: not an archive.
    bool isArchive = false;
    std::vector<ZipEntry> entries;
};

// Corruption when an end record is found but the directory it describes does not hold up
// (out of bounds, wrong signatures, fewer entries than announced); IoError and NotFound
// when the file cannot be read. Archives with data before them (self-extracting) and
// ZIP64 archives are read.
Result<ZipDirectory> readZipDirectory(const std::filesystem::path& archive);

}  // namespace vantrel::execution
