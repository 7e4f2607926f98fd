#include "client/catalogue/dbf_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <new>

#include "platform/text_codec.h"

namespace vantrel::catalogue {
namespace {

thread_local std::string lastDbfErrorText;

std::string format(const char* pattern, int code) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, code);
    return buffer;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

// Copies a table from `in` to `out` piece by piece; only fewer bytes than asked is a failure.
class TableCopy {
  public:
    TableCopy(platform::File& in, platform::File& out) : in_(in), out_(out) {}

    Status header(int length) {
        std::string header(static_cast<std::size_t>(length), '\0');
        if (Status s = readExactly(header.data(), header.size()); !s) return s;
        return write(header.data(), header.size());
    }

    // Records are read in chunks of ten; a chunk asks for no more than what remains of the
    // records. Answers how many records were kept.
    Result<int> records(int count, int recordLength,
                        const std::function<bool(int index, const char* record)>& drop) {
        constexpr int kChunkRecords = 10;
        std::string chunk(static_cast<std::size_t>(recordLength) * kChunkRecords, '\0');
        int kept = 0;
        for (int first = 0; first < count; first += kChunkRecords) {
            const int n = std::min(kChunkRecords, count - first);
            const std::size_t want = static_cast<std::size_t>(n) * recordLength;
            if (Status s = readExactly(chunk.data(), want); !s) return s;
            for (int k = 0; k < n; ++k) {
                const char* record = chunk.data() + static_cast<std::size_t>(k) * recordLength;
                if (drop(first + k, record)) continue;
                if (Status s = write(record, static_cast<std::size_t>(recordLength)); !s) return s;
                ++kept;
            }
        }
        return kept;
    }

    // Whatever follows the last record (the end-of-file marker) goes along.
    Status rest() {
        char chunk[4096];
        for (;;) {
            Result<std::size_t> got = in_.readAt(readAt_, chunk, sizeof chunk);
            if (!got) return got.status();
            if (got.value() == 0) return Status::ok();
            readAt_ += static_cast<std::int64_t>(got.value());
            if (Status s = write(chunk, got.value()); !s) return s;
        }
    }

    Status recordCount(int kept) {
        char countBytes[4];
        for (int i = 0; i < 4; ++i)
            countBytes[i] = static_cast<char>((static_cast<unsigned>(kept) >> (8 * i)) & 0xFF);
        return out_.writeAt(4, countBytes, 4);
    }

  private:
    Status readExactly(char* buffer, std::size_t size) {
        Result<std::size_t> got = in_.readAt(readAt_, buffer, size);
        if (!got) return got.status();
        if (got.value() != size) return Status::error(ErrorKind::Corruption, "short table");
        readAt_ += static_cast<std::int64_t>(size);
        return Status::ok();
    }
    Status write(const char* data, std::size_t size) {
        Status s = out_.writeAt(writeAt_, data, size);
        writeAt_ += static_cast<std::int64_t>(size);
        return s;
    }

    platform::File& in_;
    platform::File& out_;
    std::int64_t readAt_ = 0;
    std::int64_t writeAt_ = 0;
};

// Copies the table at `path` without the records for which `drop` answers true, fixes the
// copy's record count and puts it in place of the original as one durable replacement.
int rewriteTable(const std::filesystem::path& path,
                 const std::function<bool(int index, const char* record)>& drop,
                 platform::FileSystem& files) {
    platform::RealClock& clock = platform::RealClock::instance();
    DbfFile table(clock, files);
    if (!table.open(path, DbfFile::kReadOnly)) return -1;
    const int headerLength = table.headerLength();
    const int recordLength = table.recordLength();
    const int count = table.recordCount();
    table.close();

    Result<std::unique_ptr<platform::File>> in = files.open(path, platform::OpenMode::kRead);
    if (!in) return -1;
    const Status replaced =
        platform::replaceFileDurably(files, path, [&](const std::filesystem::path& temporary) {
            Result<std::unique_ptr<platform::File>> opened =
                files.open(temporary, platform::OpenMode::kCreateTruncate);
            if (!opened) return opened.status();
            TableCopy copy(*in.value(), *opened.value());
            if (Status s = copy.header(headerLength); !s) return s;
            Result<int> kept = copy.records(count, recordLength, drop);
            if (!kept) return kept.status();
            if (Status s = copy.rest(); !s) return s;
            if (Status s = copy.recordCount(kept.value()); !s) return s;
            return opened.value()->close();
        });
    return replaced ? 0 : -1;
}

}  // namespace

std::string TrimText(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::string TrimRight(std::string_view text) {
    std::size_t e = text.size();
    while (e > 0 && isBlank(text[e - 1])) --e;
    return std::string(text.substr(0, e));
}

std::string DbfRow::text(int field) const {
    if (file_ == nullptr || field < 0 || field >= file_->fieldCount()) return {};
    const DbfField& f = file_->fields()[static_cast<std::size_t>(field)];
    std::string_view raw(bytes_.data() + f.offset, f.length);
    // A NUL ends the text, as it ended the C string the field was copied into.
    raw = raw.substr(0, raw.find('\0'));
    return platform::gbkToUtf8Lossy(raw);
}

std::string DbfRow::text(std::string_view fieldName) const {
    return file_ == nullptr ? std::string() : text(file_->findField(fieldName));
}

std::string DbfRow::trimmed(std::string_view fieldName) const {
    return TrimText(text(fieldName));
}

bool DbfCursor::Next(int& index, DbfRow& row) {
    DbfFile* file = table_.file_.get();
    if (file == nullptr || next_ >= file->recordCount()) return false;
    const int length = file->recordLength();
    if (next_ >= chunkFirst_ + chunkCount_) {
        const int wanted = std::max(1, 65536 / length);
        chunk_.resize(static_cast<std::size_t>(wanted) * length);
        const int read = file->readRecords(next_, wanted, chunk_.data());
        if (read <= 0) {
            table_.lastError_ = format("读取DBF数据失败，错误代码：%d", file->error());
            return false;
        }
        chunkFirst_ = next_;
        chunkCount_ = read;
    }
    row.file_ = file;
    row.bytes_.assign(chunk_.data() + static_cast<std::size_t>(next_ - chunkFirst_) * length,
                      static_cast<std::size_t>(length));
    index = next_++;
    return true;
}

CDbfImpl::CDbfImpl()
    : clock_(platform::RealClock::instance()), files_(platform::FileSystem::real()) {}

CDbfImpl::CDbfImpl(const platform::Clock& clock, platform::FileSystem& files)
    : clock_(clock), files_(files) {}

CDbfImpl::~CDbfImpl() {
    Close();
}

int CDbfImpl::Open(const std::filesystem::path& path, int mode) {
    Close();
    auto file = std::make_unique<DbfFile>(clock_, files_);
    if (!file->open(path, mode)) {
        openError_ = file->error();
        return -1;
    }
    openError_ = 0;
    file_ = std::move(file);
    return 1;
}

bool CDbfImpl::Close() {
    if (!file_) return true;
    const bool saved = file_->close();
    if (!saved) lastError_ = format("保存DBF文件失败，错误代码：%d", file_->error());
    file_.reset();
    return saved;
}

int CDbfImpl::GetRecordCount() const {
    return file_ ? file_->recordCount() : 0;
}

int CDbfImpl::GetFieldCount() const {
    return file_ ? file_->fieldCount() : 0;
}

int CDbfImpl::FieldIndex(std::string_view name) const {
    return file_ ? file_->findField(name) : -1;
}

int CDbfImpl::AppendBlank() {
    if (!file_) {
        lastError_ = "该dbf文件不存在!";
        return -1;
    }
    std::string record(static_cast<std::size_t>(file_->recordLength()), ' ');
    if (file_->appendRecord(record.data()) != 1) {
        lastError_ = format("添加一条文件记录失败，错误代码：%d", file_->error());
        return -1;
    }
    return file_->recordCount() - 1;
}

bool CDbfImpl::ReadRow(int record, DbfRow& row) {
    row.file_ = nullptr;
    row.bytes_.clear();
    if (!file_) {
        lastError_ = "找不到该dbf文件！";
        return false;
    }
    row.bytes_.resize(static_cast<std::size_t>(file_->recordLength()));
    if (file_->readRecord(record, row.bytes_.data()) != 0) {
        lastError_ = format("读取DBF数据失败，错误代码：%d", file_->error());
        row.bytes_.clear();
        return false;
    }
    row.file_ = file_.get();
    return true;
}

int CDbfImpl::GetFieldValue(int record, int field, std::string& out) {
    out.clear();
    if (!file_ || record < 0 || record >= file_->recordCount() || field < 0 ||
        field >= file_->fieldCount()) {
        return 0;
    }
    DbfRow row;
    if (!ReadRow(record, row)) return 0;
    const DbfField& f = file_->fields()[static_cast<std::size_t>(field)];
    std::string_view raw(row.bytes().data() + f.offset, f.length);
    raw = raw.substr(0, raw.find('\0'));
    // One strict conversion; only a field that is not GBK is converted again, with '?'
    // for what does not convert, and leaves the message.
    Result<std::string> text = platform::gbkToUtf8(raw);
    if (text) {
        out = std::move(text).value();
    } else {
        out = platform::gbkToUtf8Lossy(raw);
        lastError_ = "DBF字段数据不是有效的GBK编码！";
    }
    return 0;
}

int CDbfImpl::GetFieldValueByName(int record, std::string_view name, std::string& out) {
    return GetFieldValue(record, FieldIndex(name), out);
}

bool CDbfImpl::encodeInto(std::string& record, int field, std::string_view text) {
    const DbfField& f = file_->fields()[static_cast<std::size_t>(field)];
    auto gbk = platform::utf8ToGbk(text);
    if (!gbk) {
        lastError_ = "设置DBF数据失败，数据无法转换为GBK编码！";
        return false;
    }
    // Cut at a character boundary, so a field never ends in half a Chinese character.
    const std::size_t n = platform::gbkPrefixLength(gbk.value(), f.length);
    char* at = record.data() + f.offset;
    std::fill(at, at + f.length, ' ');
    std::copy_n(gbk.value().data(), n, at);
    return true;
}

int CDbfImpl::SetFieldValue(int field, int record, std::string_view text) {
    if (!file_) {
        lastError_ = "找不到该dbf文件！";
        return 1;
    }
    if (record < 0 || record > file_->recordCount()) {
        lastError_ = "没有找到对应记录！";
        return 1;
    }
    if (field < 0 || field >= file_->fieldCount()) {
        lastError_ = "数据超过可允许的最大范围！";
        return 1;
    }
    std::string bytes(static_cast<std::size_t>(file_->recordLength()), ' ');
    if (record < file_->recordCount() && file_->readRecord(record, bytes.data()) != 0) {
        lastError_ = format("设置DBF数据失败，错误代码：%d", file_->error());
        return 1;
    }
    if (!encodeInto(bytes, field, text)) return 1;
    if (file_->writeRecord(record, bytes.data()) != 1) {
        lastError_ = format("设置DBF数据失败，错误代码：%d", file_->error());
        return 1;
    }
    return 0;
}

int CDbfImpl::SetFieldValueByName(int record, std::string_view name, std::string_view text) {
    const int field = FieldIndex(name);
    if (file_ && field < 0) return 0;
    return SetFieldValue(field, record, text);
}

int CDbfImpl::SetFieldValues(
    int record, const std::vector<std::pair<std::string_view, std::string_view>>& values) {
    if (!file_) {
        lastError_ = "找不到该dbf文件！";
        return 1;
    }
    if (record < 0 || record >= file_->recordCount()) {
        lastError_ = "没有找到对应记录！";
        return 1;
    }
    std::string bytes(static_cast<std::size_t>(file_->recordLength()), ' ');
    if (file_->readRecord(record, bytes.data()) != 0) {
        lastError_ = format("设置DBF数据失败，错误代码：%d", file_->error());
        return 1;
    }
    for (const auto& [name, text] : values) {
        const int field = file_->findField(name);
        if (field >= 0 && !encodeInto(bytes, field, text)) return 1;
    }
    if (file_->writeRecord(record, bytes.data()) != 1) {
        lastError_ = format("设置DBF数据失败，错误代码：%d", file_->error());
        return 1;
    }
    return 0;
}

int CDbfImpl::AppendRow(const std::vector<std::pair<std::string_view, std::string_view>>& values) {
    if (!file_) {
        lastError_ = "该dbf文件不存在!";
        return -1;
    }
    std::string record(static_cast<std::size_t>(file_->recordLength()), ' ');
    for (const auto& [name, text] : values) {
        const int field = file_->findField(name);
        if (field >= 0 && !encodeInto(record, field, text)) return -1;
    }
    if (file_->appendRecord(record.data()) != 1) {
        lastError_ = format("添加一条文件记录失败，错误代码：%d", file_->error());
        return -1;
    }
    return file_->recordCount() - 1;
}

const std::string& LastDbfErrorText() {
    return lastDbfErrorText;
}

int MarkRecordDeleted(int record, CDbfImpl& table) {
    DbfFile* file = table.handle();
    if (file == nullptr || record < 0 || record >= file->recordCount()) {
        lastDbfErrorText = "没有找到该条记录！";
        return -1;
    }
    std::string bytes(static_cast<std::size_t>(file->recordLength()), ' ');
    bool written = file->readRecord(record, bytes.data()) == 0;
    if (written) {
        bytes[0] = '*';
        written = file->writeRecord(record, bytes.data()) == 1;
    }
    if (!written) {
        lastDbfErrorText = format("设置DBF删除位失败，错误代码：%d", file->error());
        return -1;
    }
    return 0;
}

int FindRecordByPlanId(std::string_view planId, CDbfImpl& table) {
    const int field = table.FieldIndex("planID");
    if (field < 0) return -1;
    DbfCursor cursor(table);
    DbfRow row;
    int i;
    while (cursor.Next(i, row)) {
        if (TrimRight(row.text(field)) == planId) return i;
    }
    return -1;
}

int PackTable(const std::filesystem::path& path, platform::FileSystem& files) {
    return rewriteTable(
        path, [](int, const char* record) { return record[0] == '*'; }, files);
}

int RemoveRecord(const std::filesystem::path& path, int record, platform::FileSystem& files) {
    {
        DbfFile table(platform::RealClock::instance(), files);
        if (!table.open(path, DbfFile::kReadOnly)) return -1;
        if (record < 0 || record >= table.recordCount()) return -1;
    }
    return rewriteTable(
        path, [record](int index, const char*) { return index == record; }, files);
}

}  // namespace vantrel::catalogue
