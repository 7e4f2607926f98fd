#pragma once
// Finishing one downloaded file in two steps. The worker unpacks it (unpackDownloadedFile)
// right after its digest is verified; the delivery step later moves the result into the
// task's target directory (deliverDownloadedFile). Between the two, the received ".tmp"
// and the unpacked files stay where they are, so a delivery that fails can be retried by
// a later pass or run. Neither step touches the file's list record: the caller stores the
// extraction directory and records delivery only after deliverDownloadedFile succeeds.
//
// Both steps may run on any thread, for different files at the same time; they block on
// the file system and, for unpacking, on the external unpacker (no time limit).

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "client/base/installation.h"
#include "platform/status.h"

namespace vantrel::execution {

// One received file.
struct DownloadedFile {
    // The directory holding "<name>.tmp" (the transfer item's receive directory).
    std::filesystem::path workDirectory;
    // The file's name inside the work directory and, later, inside the target directory
    // ('/' or '\\' may separate subdirectories; names leaving the directory are refused).
    std::string name;
    // The transfer item's kind: 2 bulletin (never unpacked); 1 and 3 extract under the
    // work directory's "temp" subdirectory, others beside the ".tmp".
    int kind = 0;
};

struct UnpackResult {
    // Ok, or the failure text the task log and the file's record show. ErrorKind::NoSpace
    // when the unpacker reported a full disk.
    Status status;
    // 0 unpacked, 9 to be delivered as it is (not an archive, excluded from unpacking, or
    // a bulletin), 50 disk full; any other failure: the unpacker's exit code, or -1 when
    // it did not run or its output was refused.
    int code = 0;
    // Code 0: the directory holding the unpacked files. Store it with the file's record
    // and hand it to deliverDownloadedFile. Empty otherwise.
    std::filesystem::path extractionDirectory;
    // The archive's own entries were refused (names leaving the extraction directory,
    // links, special files): the same data is refused again, so it is not worth another try.
    bool refused = false;
};

// The unpacker program: "unzip" in the installation's bin/ when present, else
// /usr/bin/unzip.
std::filesystem::path unzipProgram(const Installation& installation);

// The directory unpackDownloadedFile puts the unpacked files of `file` in, whether or not it
// exists; empty when the name is refused.
std::filesystem::path extractionDirectoryOf(const DownloadedFile& file);

// Unpacks "<work>/<name>.tmp" with `unzip` (see unzipProgram) unless `unpack` is false
// (shouldUnpack) or the file is a bulletin; the ".tmp" itself is never changed. A leftover
// extraction directory of an earlier attempt is emptied first. Entries that would land
// outside the extraction directory (absolute names, "..", symbolic links) are refused
// before the unpacker runs, and its output is checked again afterwards; on any failure
// the partial output is removed.
UnpackResult unpackDownloadedFile(const DownloadedFile& file, bool unpack,
                                  const std::filesystem::path& unzip);

// Receives each delivery log line with its level (0 message, 1 warning, 2 error).
using DeliveryLog = std::function<void(std::string_view line, int level)>;

// Moves the file into `targetDirectory` (created when missing): from `extractionDirectory`
// every unpacked file keeping its subdirectories, or, when `extractionDirectory` is empty,
// "<work>/<name>.tmp" as "<target>/<name>". Each move replaces an existing file, copies
// across file systems, is synced, and is tried up to four times, one attempt right after
// the other, with a log line before and after each attempt. Files already moved stay
// moved; the rest stay in place for a later call. After the last unpacked file the
// archive's ".tmp" and the extraction directory are removed. Every destination is checked
// to stay inside the target directory, and a link found among the unpacked files is
// refused. Returns ok, or "移动文件[<name>]失败，失败原因：<reason>" for the file that
// could not be moved.
Status deliverDownloadedFile(const DownloadedFile& file,
                             const std::filesystem::path& extractionDirectory,
                             const std::filesystem::path& targetDirectory, const DeliveryLog& log);

}  // namespace vantrel::execution
