#include "client/catalogue/dbf_table.h"

#include <fcntl.h>
#include <unistd.h>

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

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool closeChecked() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Reads up to `size` bytes; the count read, or -1.
ssize_t readSome(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the table at `path` into "<path>.tmp" without the records for which `drop`
// answers true, fixes the copy's record count and renames it over the original. Records
// are read in chunks of ten; a chunk asks for no more than what remains of the records,
// and only fewer bytes than asked is a failure.
int rewriteTable(const std::filesystem::path& path,
                 const std::function<bool(int index, const char* record)>& drop) {
    platform::RealClock& clock = platform::RealClock::instance();
    DbfFile table(clock);
    if (!table.open(path, DbfFile::kReadOnly)) return -1;
    const int headerLength = table.headerLength();
    const int recordLength = table.recordLength();
    const int count = table.recordCount();
    table.close();

    Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return -1;
    const std::filesystem::path tmp = path.string() + ".tmp";
    Fd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.get() < 0) return -1;
    auto fail = [&tmp]() {
        std::error_code ignored;
        std::filesystem::remove(tmp, ignored);
        return -1;
    };

    std::string header(static_cast<std::size_t>(headerLength), '\0');
    if (readSome(in.get(), header.data(), header.size()) != static_cast<ssize_t>(header.size())) return fail();
    if (!writeAll(out.get(), header.data(), header.size())) return fail();

    constexpr int kChunkRecords = 10;
    std::string chunk(static_cast<std::size_t>(recordLength) * kChunkRecords, '\0');
    int kept = 0;
    for (int first = 0; first < count; first += kChunkRecords) {
        const int n = std::min(kChunkRecords, count - first);
        const std::size_t want = static_cast<std::size_t>(n) * recordLength;
        if (readSome(in.get(), chunk.data(), want) != static_cast<ssize_t>(want)) return fail();
        for (int k = 0; k < n; ++k) {
            const char* record = chunk.data() + static_cast<std::size_t>(k) * recordLength;
            if (drop(first + k, record)) continue;
            if (!writeAll(out.get(), record, static_cast<std::size_t>(recordLength))) return fail();
            ++kept;
        }
    }
    // Whatever follows the last record (the end-of-file marker) goes along.
    for (;;) {
        ssize_t n = readSome(in.get(), chunk.data(), chunk.size());
        if (n < 0) return fail();
        if (n == 0) break;
        if (!writeAll(out.get(), chunk.data(), static_cast<std::size_t>(n))) return fail();
    }
    char countBytes[4];
    for (int i = 0; i < 4; ++i) countBytes[i] = static_cast<char>((static_cast<unsigned>(kept) >> (8 * i)) & 0xFF);
    if (::pwrite(out.get(), countBytes, 4, 4) != 4) return fail();
    if (::fsync(out.get()) != 0 || !out.closeChecked()) return fail();
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail();
    return 0;
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

std::string DbfRow::trimmed(std::string_view fieldName) const { return TrimText(text(fieldName)); }

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

CDbfImpl::CDbfImpl() : clock_(platform::RealClock::instance()) {}

CDbfImpl::CDbfImpl(const platform::Clock& clock) : clock_(clock) {}

CDbfImpl::~CDbfImpl() { Close(); }

int CDbfImpl::Open(const std::filesystem::path& path, int mode) {
    Close();
    auto file = std::make_unique<DbfFile>(clock_);
    if (!file->open(path, mode)) {
        openError_ = file->error();
        return -1;
    }
    openError_ = 0;
    file_ = std::move(file);
    return 1;
}

void CDbfImpl::Close() {
    if (file_) {
        file_->close();
        file_.reset();
    }
}

int CDbfImpl::GetRecordCount() const { return file_ ? file_->recordCount() : 0; }

int CDbfImpl::GetFieldCount() const { return file_ ? file_->fieldCount() : 0; }

int CDbfImpl::FieldIndex(std::string_view name) const { return file_ ? file_->findField(name) : -1; }

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
    if (!file_ || record < 0 || record >= file_->recordCount() || field < 0 || field >= file_->fieldCount()) {
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

int CDbfImpl::SetFieldValues(int record, const std::vector<std::pair<std::string_view, std::string_view>>& values) {
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

const std::string& LastDbfErrorText() { return lastDbfErrorText; }

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

int PackTable(const std::filesystem::path& path) {
    return rewriteTable(path, [](int, const char* record) { return record[0] == '*'; });
}

int RemoveRecord(const std::filesystem::path& path, int record) {
    {
        DbfFile table(platform::RealClock::instance());
        if (!table.open(path, DbfFile::kReadOnly)) return -1;
        if (record < 0 || record >= table.recordCount()) return -1;
    }
    return rewriteTable(path, [record](int index, const char*) { return index == record; });
}

}  // namespace vantrel::catalogue
