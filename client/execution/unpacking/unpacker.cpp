#include "client/execution/unpacking/unpacker.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <vector>

#include "client/execution/runs/crash_point.h"
#include "client/execution/unpacking/zip_directory.h"
#include "client/gateway/text_format.h"
#include "client/transfer/local_path.h"
#include "platform/child_process.h"
#include "platform/disk_space.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace vantrel::execution {

namespace fs = std::filesystem;

namespace {

constexpr int kMoveAttempts = 4;
constexpr int kNotAnArchive = 9;
constexpr int kDiskFull = 50;
constexpr int kCorruptArchive = 2;
constexpr int kNotRun = -1;
const char* const kCorruptText = "解压文件失败(压缩文件已损坏)";

// Every received file gets a directory of its own. The suffix keeps it apart from every
// data file (those end in ".tmp" or ".tmp.~block") and from the unpacker's copies, whatever
// the names of the day's files are.
constexpr const char* kExtractionSuffix = ".~unzip";

UnpackResult failure(int code, Status status) {
    return UnpackResult{std::move(status), code, {}};
}

UnpackResult failure(int code, const std::string& text) {
    return failure(code, Status::error(ErrorKind::IoError, text));
}

UnpackResult refusal(const std::string& text) {
    UnpackResult result = failure(kNotRun, text);
    result.refused = true;
    return result;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Whether an archive entry name, written below a directory, stays below it. The unpacker
// takes both separators in names from Windows archives, so both count here.
bool staysInside(std::string_view name) {
    if (!name.empty() && isSeparator(name.front())) return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        std::size_t end = begin;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        if (name.substr(begin, end - begin) == "..") return false;
        begin = end + 1;
    }
    return true;
}

// The text refusing an archive whose entries could be written elsewhere; empty when every
// entry is harmless.
std::string refusalOf(const ZipDirectory& directory) {
    for (const ZipEntry& entry : directory.entries) {
        if (!staysInside(entry.name))
            return "解压文件失败(压缩文件中的[" + entry.name + "]会写到解压目录以外)";
        if (entry.isSymlink) return "解压文件失败(压缩文件中的[" + entry.name + "]是链接)";
    }
    return {};
}

struct FileWalk {
    std::vector<fs::path> files;      // relative to the walked directory
    std::optional<fs::path> refused;  // the first link, special file or escaping path
    std::error_code error;
};

// The regular files below `root`, without following links. A link or a special file ends
// the walk: it is refused, not skipped, since its presence means the output is not what
// was vetted.
FileWalk walkFiles(const fs::path& root) {
    FileWalk walk;
    fs::recursive_directory_iterator it(root, walk.error);
    for (; !walk.error && it != fs::recursive_directory_iterator(); it.increment(walk.error)) {
        const fs::path relative = it->path().lexically_relative(root);
        const fs::file_status status = it->symlink_status(walk.error);
        if (walk.error) break;
        if (relative.empty() || *relative.begin() == ".." ||
            (!fs::is_regular_file(status) && !fs::is_directory(status))) {
            walk.refused = relative.empty() ? it->path() : relative;
            return walk;
        }
        if (fs::is_regular_file(status)) walk.files.push_back(relative);
    }
    // In name order, so logs and partial deliveries are the same on every system.
    std::sort(walk.files.begin(), walk.files.end());
    return walk;
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string pathText(const fs::path& path) {
    return path.generic_string();
}

Status moveFailure(const std::string& name, const std::string& reason) {
    return Status::error(ErrorKind::IoError, "移动文件[" + name + "]失败，失败原因：" + reason);
}

// Whether `destination` lies inside `canonicalTarget` once the links of its existing
// parents are resolved (the target itself may be reached through a link).
bool insideTarget(const fs::path& canonicalTarget, const fs::path& destination) {
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(destination.parent_path(), ec);
    if (ec) return false;
    const fs::path relative = (parent / destination.filename()).lexically_relative(canonicalTarget);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// The log lines of one move; `archive` is empty for a file moved as it is.
struct MoveLines {
    std::string archive;
    std::string file;

    std::string start(int attempt) const {
        if (archive.empty()) {
            return attempt == 0 ? formatText("移动文件[%s]开始", file.c_str())
                                : formatText("第(%d)次重试移动文件[%s]开始", attempt, file.c_str());
        }
        return attempt == 0 ? formatText("移动压缩文件[%s]解压后的文件[%s]开始", archive.c_str(),
                                         file.c_str())
                            : formatText("第(%d)次重试移动压缩文件[%s]解压后的文件[%s]开始",
                                         attempt, archive.c_str(), file.c_str());
    }
    std::string succeeded(int attempt) const {
        if (archive.empty()) {
            return attempt == 0 ? formatText("移动文件[%s]成功", file.c_str())
                                : formatText("第(%d)次重试移动文件[%s]成功", attempt, file.c_str());
        }
        return attempt == 0 ? formatText("移动压缩文件[%s]解压后的文件[%s]成功", archive.c_str(),
                                         file.c_str())
                            : formatText("第(%d)次移动压缩文件[%s]解压后的文件[%s]成功", attempt,
                                         archive.c_str(), file.c_str());
    }
    std::string failed(int attempt, int code) const {
        if (archive.empty()) {
            return attempt == 0 ? formatText("移动文件[%s]失败,错误代码:%d", file.c_str(), code)
                                : formatText("第(%d)次重试移动文件[%s]失败,错误代码:%d", attempt,
                                             file.c_str(), code);
        }
        return attempt == 0 ? formatText("移动压缩文件[%s]解压后的文件[%s]失败,错误代码:%d",
                                         archive.c_str(), file.c_str(), code)
                            : formatText("第(%d)次移动压缩文件[%s]解压后的文件[%s]失败,错误代码:%d",
                                         attempt, archive.c_str(), file.c_str(), code);
    }
};

// One file into place, up to four attempts in a row. The failure is the last attempt's.
Status moveWithRetries(const fs::path& from, const fs::path& to, const MoveLines& lines,
                       const DeliveryLog& log) {
    Status last;
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        if (log) log(lines.start(attempt), 0);
        last = platform::createDirectories(to.parent_path());
        if (last) last = platform::moveFileReplacing(from, to);
        if (last) {
            if (log) log(lines.succeeded(attempt), 0);
            return last;
        }
        if (log) log(lines.failed(attempt, last.systemCode()), 1);
    }
    return last;
}

}  // namespace

fs::path unzipProgram(const Installation& installation) {
    const fs::path bundled = installation.bin() / "unzip";
    std::error_code ec;
    return fs::is_regular_file(bundled, ec) ? bundled : fs::path("/usr/bin/unzip");
}

fs::path extractionDirectoryOf(const DownloadedFile& file) {
    std::error_code ec;
    const fs::path work = fs::absolute(file.workDirectory, ec);
    if (ec) return {};
    const fs::path base = file.kind == 1 || file.kind == 3 ? work / "temp" : work;
    Result<fs::path> inside = localPathInside(base, file.name);
    return inside ? fs::path(inside->string() + kExtractionSuffix) : fs::path();
}

UnpackResult unpackDownloadedFile(const DownloadedFile& file, bool unpack, const fs::path& unzip) {
    std::error_code ec;
    const fs::path work = fs::absolute(file.workDirectory, ec);
    if (ec) return failure(kNotRun, "解压文件:" + platform::systemErrorText(ec.value()));
    Result<fs::path> received = localPathInside(work, file.name);
    if (!received) return failure(kNotRun, received.status());
    // Bulletins and excluded types are delivered as they came.
    if (file.kind == 2 || !unpack) return UnpackResult{Status::ok(), kNotAnArchive, {}};

    const fs::path temp = work / "temp";
    const fs::path extraction = extractionDirectoryOf(file);
    const fs::path copy = localPathInside(temp, file.name)->string() + ".tmp";
    const fs::path source = received->string() + ".tmp";

    // What an interrupted earlier attempt left would otherwise be delivered with this one.
    removeQuietly(extraction);
    if (!platform::createDirectories(extraction)) {
        return failure(
            kNotRun, formatText("解压文件:创建解压临时目录 %s 失败!", extraction.string().c_str()));
    }
    const auto cleanUp = [&] {
        removeQuietly(copy);
        removeQuietly(extraction);
    };

    fs::create_directories(copy.parent_path(), ec);
    fs::remove(copy, ec);
    ec.clear();
    fs::copy_file(source, copy, ec);
    if (!ec)
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                        ec);
    if (ec) {
        const int code = ec.value();
        cleanUp();
        return failure(kNotRun, formatText("解压文件:创建临时文件失败!(Error:%d)", code));
    }

    // Vetted before the unpacker writes anything: afterwards a file outside may already
    // have been overwritten.
    Result<ZipDirectory> listing = readZipDirectory(copy);
    if (!listing) {
        cleanUp();
        return failure(kNotRun, kCorruptText);
    }
    if (const std::string refused = refusalOf(*listing); !refused.empty()) {
        cleanUp();
        return refusal(refused);
    }

    platform::ChildOptions options;
    options.program = unzip;
    options.arguments = {"-o", copy.string()};
    options.workingDirectory = extraction;
    options.quiet = true;
    options.noTerminal = true;
    Result<int> exit = platform::runAndWait(options);
    removeQuietly(copy);
    if (!exit) {
        removeQuietly(extraction);
        return failure(kNotRun, formatText("解压文件 %s 失败(Error:%d )", file.name.c_str(),
                                           exit.status().systemCode()));
    }

    switch (*exit) {
        case 0: {
            // An archive the check could not read was not vetted; its output is not used.
            if (!listing->isArchive) {
                removeQuietly(extraction);
                return failure(kNotRun, kCorruptText);
            }
            const FileWalk walk = walkFiles(extraction);
            if (walk.refused || walk.error) {
                removeQuietly(extraction);
                if (walk.error)
                    return failure(kNotRun,
                                   "解压文件:" + platform::systemErrorText(walk.error.value()));
                return refusal("解压文件失败(解压出的[" + pathText(*walk.refused) +
                               "]是链接或特殊文件)");
            }
            return UnpackResult{Status::ok(), 0, extraction};
        }
        case kNotAnArchive:
            removeQuietly(extraction);
            return UnpackResult{Status::ok(), kNotAnArchive, {}};
        case kCorruptArchive:
            removeQuietly(extraction);
            return failure(kCorruptArchive, kCorruptText);
        case kDiskFull: {
            // The file system the unpacker wrote to: its mount point names the full disk.
            const fs::path disk = platform::mountPoint(extraction);
            removeQuietly(extraction);
            return failure(kDiskFull, Status::error(ErrorKind::NoSpace,
                                                    formatText("解压文件失败(磁盘[%s]空间不足!)",
                                                               disk.string().c_str())));
        }
        default:
            removeQuietly(extraction);
            return failure(*exit, formatText("解压文件失败，错误码[%d]", *exit));
    }
}

Status deliverDownloadedFile(const DownloadedFile& file, const fs::path& extractionDirectory,
                             const fs::path& targetDirectory, const DeliveryLog& log) {
    Result<fs::path> received = localPathInside(file.workDirectory, file.name);
    if (!received) return moveFailure(file.name, received.status().text());
    if (Status made = platform::createDirectories(targetDirectory); !made)
        return moveFailure(file.name, made.text());
    std::error_code ec;
    const fs::path target = fs::canonical(targetDirectory, ec);
    if (ec) return moveFailure(file.name, platform::systemErrorText(ec.value()));
    const fs::path source = received->string() + ".tmp";

    if (extractionDirectory.empty()) {
        const fs::path destination = localPathInside(target, file.name).value();
        if (!insideTarget(target, destination)) {
            return moveFailure(file.name,
                               "目标路径[" + pathText(destination) + "]不在目标目录之内");
        }
        Status moved = moveWithRetries(source, destination, MoveLines{{}, file.name}, log);
        return moved ? moved : moveFailure(file.name, moved.text());
    }

    if (!fs::is_directory(extractionDirectory, ec)) {
        return moveFailure(file.name, "解压目录[" + pathText(extractionDirectory) + "]不存在");
    }
    const FileWalk walk = walkFiles(extractionDirectory);
    if (walk.error) return moveFailure(file.name, platform::systemErrorText(walk.error.value()));
    if (walk.refused) return moveFailure(pathText(*walk.refused), "解压出的文件是链接或特殊文件");
    for (const fs::path& relative : walk.files) {
        const std::string name = pathText(relative);
        const fs::path destination = target / relative;
        if (!insideTarget(target, destination)) {
            return moveFailure(name, "目标路径[" + pathText(destination) + "]不在目标目录之内");
        }
        Status moved = moveWithRetries(extractionDirectory / relative, destination,
                                       MoveLines{file.name, name}, log);
        if (!moved) return moveFailure(name, moved.text());
        if (&relative == &walk.files.front() && walk.files.size() > 1)
            crashPoint("download-moving");
    }
    if (log) log(formatText("移动文件[%s]成功", file.name.c_str()), 0);
    // The ".tmp" goes first: an extraction directory still present but empty then means
    // "all delivered", so a retry after a crash here succeeds without moving anything.
    fs::remove(source, ec);
    removeQuietly(extractionDirectory);
    return Status::ok();
}

}  // namespace vantrel::execution
