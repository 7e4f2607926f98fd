#pragma once
// CDbfImpl: the one access class for every table the client keeps, plus the table
// operations that work on a path or an open table (mark deleted, find by task id, pack,
// remove one record). Text crosses this boundary as UTF-8 and is stored as GBK, left-
// justified and blank-padded to the field's width; reads give the field untrimmed.
//
// Operations return the system's own codes and leave a Chinese text in LastError(). The
// layer has no locks: callers serialise their own tables.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/catalogue/dbf_file.h"
#include "platform/clock.h"

namespace vantrel::catalogue {

// One record as read, with field access by index or name.
class DbfRow {
  public:
    bool deleted() const { return !bytes_.empty() && bytes_[0] == '*'; }
    // The field's bytes converted to UTF-8, untrimmed; empty for an unknown field.
    std::string text(int field) const;
    std::string text(std::string_view fieldName) const;
    // As text(), trimmed of surrounding blanks.
    std::string trimmed(std::string_view fieldName) const;
    const std::string& bytes() const { return bytes_; }

  private:
    friend class CDbfImpl;
    friend class DbfCursor;
    std::string bytes_;
    const DbfFile* file_ = nullptr;
};

class CDbfImpl;

// Walks the records of an open table in order, reading them in chunks of about 64 KiB.
// Each chunk shows the file as it was when read; writes to the current record through
// the table do not disturb the walk. The table must stay open while the cursor is used.
class DbfCursor {
  public:
    explicit DbfCursor(CDbfImpl& table) : table_(table) {}
    // The next record into `row` and its index into `index`; false at the end or on a
    // read failure (the table's LastError() then says why).
    bool Next(int& index, DbfRow& row);

  private:
    CDbfImpl& table_;
    std::string chunk_;
    int chunkFirst_ = 0;
    int chunkCount_ = 0;
    int next_ = 0;
};

class CDbfImpl {
  public:
    // `clock` dates the header at close; defaults to the machine's clock.
    CDbfImpl();
    // `files` carries every read and write; clock and files must outlive the table.
    explicit CDbfImpl(const platform::Clock& clock,
                      platform::FileSystem& files = platform::FileSystem::real());
    virtual ~CDbfImpl();
    CDbfImpl(const CDbfImpl&) = delete;
    CDbfImpl& operator=(const CDbfImpl&) = delete;

    // 1 on success, -1 on failure (no message: callers report with the path). Mode 1 is
    // read-only, 2 read-write. OpenError() tells the handle's code of the last failure.
    int Open(const std::filesystem::path& path, int mode);
    // False, with LastError() set, when a write of this table failed: it is not saved whole.
    bool Close();
    bool IsOpen() const { return file_ != nullptr; }
    int OpenError() const { return openError_; }

    int GetRecordCount() const;
    int GetFieldCount() const;
    // Index of the field, names compared ignoring case; -1 when absent or no table is open.
    int FieldIndex(std::string_view name) const;
    // Index of the new blank record, or -1.
    int AppendBlank();
    // Always 0; `out` is the field's text untrimmed, or empty when out of range. Bytes that
    // are not GBK read as '?' and leave a message in LastError().
    int GetFieldValue(int record, int field, std::string& out);
    int GetFieldValueByName(int record, std::string_view name, std::string& out);
    // 0 on success, 1 on failure. `record` equal to the count appends a blank record first.
    int SetFieldValue(int field, int record, std::string_view text);
    // 0 on success or when the table has no such field, 1 on failure.
    int SetFieldValueByName(int record, std::string_view name, std::string_view text);

    // Sets several fields of one existing record in a single write (unknown names are
    // ignored). 0 on success, 1 on failure, with the texts of SetFieldValue.
    int SetFieldValues(int record,
                       const std::vector<std::pair<std::string_view, std::string_view>>& values);
    // Reads one whole record; false with LastError() set.
    bool ReadRow(int record, DbfRow& row);
    // Appends one record built from blanks and the named values in a single write; the
    // index of the new record, or -1. Unknown names are ignored.
    int AppendRow(const std::vector<std::pair<std::string_view, std::string_view>>& values);

    const std::string& LastError() const { return lastError_; }
    // For the table operations below.
    DbfFile* handle() { return file_.get(); }

  private:
    friend class DbfCursor;
    // Stores `text` into the field bytes of `record`; false with LastError() set.
    bool encodeInto(std::string& record, int field, std::string_view text);

    const platform::Clock& clock_;
    platform::FileSystem& files_;
    std::unique_ptr<DbfFile> file_;
    std::string lastError_;
    int openError_ = 0;
};

// The text that MarkRecordDeleted leaves on failure; kept per thread so concurrent callers
// never read each other's text.
const std::string& LastDbfErrorText();

// 0, or -1 with LastDbfErrorText() set.
int MarkRecordDeleted(int record, CDbfImpl& table);
// Index of the first record whose planID field, right-trimmed, equals `planId` exactly;
// deleted records are not skipped. -1 when absent.
int FindRecordByPlanId(std::string_view planId, CDbfImpl& table);
// Removes every record marked deleted. The packed table is written beside the original,
// synced and renamed over it in one step, so an interruption or a full disk never
// truncates it. 0 on success (also when nothing was deleted), -1 on failure with the table
// untouched.
int PackTable(const std::filesystem::path& path,
              platform::FileSystem& files = platform::FileSystem::real());
// Removes one record the same way. 0 on success, -1 on failure.
int RemoveRecord(const std::filesystem::path& path, int record,
                 platform::FileSystem& files = platform::FileSystem::real());

// Trims blanks (space, tab, CR, LF, NUL) from both ends / from the right.
std::string TrimText(std::string_view text);
std::string TrimRight(std::string_view text);

}  // namespace vantrel::catalogue
