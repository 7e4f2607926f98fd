#pragma once
// CUpLoadFile: the daily upload list of one upload task, a table in data/ with one row per
// local file taken up for sending, and the work items of its unsent rows. A file of the
// send directory is ready when its marker (name + FlagFileExtend, ".rdy" by default)
// exists beside it. One manager per running task; every operation takes its lock.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_file_list.h"
#include "client/catalogue/task_records.h"

namespace vantrel::catalogue {

class BlockStateRemover;

struct ScannedFile {
    std::string name;
    std::int64_t size = 0;
    std::string date;  // YYYYMMDD of the last write
    std::string time;  // hh:mm:ss of the last write
};

// The `flag` of an upload list row: "1" once the file is sent, blank before.
inline constexpr const char* kSentFlag = "1";
inline bool IsSentFlag(const std::string& flag) {
    return flag == kSentFlag;
}

struct UploadWorkItem {
    std::string taskId;
    std::string fileName;
    std::string localSize;
    std::string sentSize;
    std::string modifyTime;
    std::string beginTime;
    std::string endTime;
    std::string md5;
    char flag = ' ';
    int retry = 0;
    std::string lastError;
    std::string changeDate;
    int row = -1;
    bool finished = false;
    // A sent row whose file, unchanged, still lies in the send directory with its marker:
    // the process died before the move. Only the move is left.
    bool movePending = false;
};

// A row of one of the task's lists of an earlier day, as stored.
struct EarlierUploadRow {
    std::vector<std::pair<std::string, std::string>> fields;  // every field, trimmed
    std::string value(std::string_view field) const;
};

class CUpLoadFile : public TaskFileList<UploadWorkItem> {
  public:
    // `blockStates` may be null (the ".~block" file is then removed directly); pointees
    // must outlive the manager.
    CUpLoadFile(const Context& context, BlockStateRemover* blockStates);
    ~CUpLoadFile();
    CUpLoadFile(const CUpLoadFile&) = delete;
    CUpLoadFile& operator=(const CUpLoadFile&) = delete;

    // Takes the task's directories (dated when the task says so), the ready-marker suffix
    // from the settings and today's list, then opens the list. 1 or 0.
    int InitFileList(const UploadTask& task);
    int InitFileListDbf();
    // The ready files of the send directory, oldest first (date, time, then name).
    std::vector<ScannedFile> ScanSendDirectory();
    // Lists the ready files that have no unsent row yet. 0 when no file is ready, -1 when a
    // ready file could not be listed (LastError says why): it would not be sent. A file
    // that an earlier day's list of the task holds, unchanged, keeps that row's state: sent
    // there (the process died before the move, and the next start came after midnight), it
    // is only moved; part sent, its transfer goes on.
    int AddNewFiles();
    bool LoadWorkItems();
    int SetUploadedSize(int row, std::int64_t bytes);
    int RecordFailure(int row, const std::string& error);
    int MarkSent(int row);
    int FinishItem(int row);
    // Moves the sent file into the sent directory under a unique name and deletes its
    // marker. 1 only when both succeeded; a failed move keeps the marker. For a pending
    // move, a file the interrupted move had already placed in the sent directory is kept
    // as the one copy there.
    int BackupSentFile(int row);
    // Run start: removes each ready marker whose file is gone from the send directory
    // because it was moved into the sent directory (a sent name of it there, placed there
    // no earlier than the marker was written): the process died between the move and the
    // marker's removal. The names of the markers removed.
    std::vector<std::string> RemoveMarkersOfMovedFiles();
    std::filesystem::path SendDirectory() const;
    std::filesystem::path SentDirectory() const;
    int SentCount() const;

  private:
    int initListLocked();
    std::vector<ScannedFile> scanLocked();
    // sent directory / base + "_SUCCESS_" + YYYYMMDDhhmmss + extension; a name that
    // already exists gets "_1", "_2", ... before the extension.
    std::filesystem::path sentFileNameLocked(const std::string& fileName) const;
    void removeBlockState(const std::filesystem::path& file);
    // The work item of a sent row whose move is still to be done, or null.
    // Requires: mutex_ held.
    std::unique_ptr<UploadWorkItem> pendingMoveLocked(const DbfRow& row, int index) const;
    // The work item a row describes.
    std::unique_ptr<UploadWorkItem> itemOf(const DbfRow& row, int index) const;
    // The last row of each file name (lower case) in the task's lists of earlier days, the
    // newest day's first; empty when the send directory is one of the day.
    std::map<std::string, EarlierUploadRow> earlierRowsLocked() const;
    // Appends `earlier` to today's list as the row of `file` when it describes the file as
    // it is. kFailed: it does, but the list could not take it (the text says why).
    enum class CarryOver { kNotTheFile, kCarried, kFailed };
    CarryOver carryOverLocked(const ScannedFile& file, const EarlierUploadRow& earlier);
    // The text of a row that could not be added to the list.
    std::string appendFailureLocked() const;
    // The file of the sent directory that is `source` itself (a move cut off between its
    // link and its unlink), if any.
    // Moves `source` to the new name `target` in the sent directory.
    Status moveIntoSentLocked(const std::filesystem::path& source,
                              const std::filesystem::path& target) const;
    std::optional<std::filesystem::path> linkedIntoSentLocked(
        const std::filesystem::path& source) const;
    std::string nowText() const;

    const Context& context_;
    BlockStateRemover* blockStates_;
    std::string taskId_;
    std::string readySuffix_ = ".rdy";
    std::filesystem::path sendDirectory_;
    std::filesystem::path sentDirectory_;
    bool datedSendDirectory_ = false;
    int sentCount_ = 0;
};

}  // namespace vantrel::catalogue
