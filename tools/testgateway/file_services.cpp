#include "tools/testgateway/file_services.h"

#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "client/gateway/record_codec.h"
#include "client/transfer/file_service_body.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"

namespace vantrel::testgateway {

namespace fs = std::filesystem;

namespace {

TransactionAnswer refusal(const std::string& code, const std::string& message) {
    TransactionAnswer a;
    a.returnCode = code;
    a.message = message;
    return a;
}

// '*' any run, '?' one character; compared without regard to case, as the gateway does.
bool matches(std::string_view pattern, std::string_view name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == '*') {
        for (std::size_t i = 0; i <= name.size(); ++i) {
            if (matches(pattern.substr(1), name.substr(i))) return true;
        }
        return false;
    }
    if (name.empty()) return false;
    if (pattern[0] != '?' && std::tolower(static_cast<unsigned char>(pattern[0])) !=
                                 std::tolower(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    return matches(pattern.substr(1), name.substr(1));
}

void stampOf(const fs::path& p, std::string& date, std::string& time) {
    struct stat info {};
    ::stat(p.c_str(), &info);
    struct tm local {};
    localtime_r(&info.st_mtime, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    date = text;
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    time = text;
}

// "YYYYMMDDhhmmss" of an entry's date and time.
std::string stampText(const filesvc::ListEntry& e) {
    std::string time = e.time;
    time.erase(std::remove(time.begin(), time.end(), ':'), time.end());
    return e.date + time;
}

}  // namespace

MailboxFileService::MailboxFileService(fs::path root, std::string businessDate, std::string version)
    : root_(std::move(root)),
      businessDate_(std::move(businessDate)),
      version_(std::move(version)) {}

std::optional<fs::path> MailboxFileService::pathOf(const std::string& mailbox,
                                                   const std::string& name) const {
    if (mailbox.empty() || mailbox.find_first_of("/\\.") != std::string::npos) return std::nullopt;
    // Scheduled runs name their files from the mailbox itself ("FTP_A_QS\\a.zip").
    std::string_view local = name;
    const std::string_view first = local.substr(0, local.find('\\'));
    if (first.size() == mailbox.size() &&
        strcasecmp(std::string(first).c_str(), mailbox.c_str()) == 0) {
        local.remove_prefix(std::min(local.size(), first.size() + 1));
    }
    if (local.empty()) return root_ / mailbox;
    Result<fs::path> p = localPathInside(root_ / mailbox, local);
    if (!p) return std::nullopt;
    return p.value();
}

std::optional<TransactionAnswer> MailboxFileService::packetFault() {
    std::lock_guard lock(faults_.mutex);
    const int after = faults_.failPacketAfter.load();
    if (after < 0) return std::nullopt;
    if (after > 0) {
        faults_.failPacketAfter = after - 1;
        return std::nullopt;
    }
    faults_.failPacketAfter = -1;
    return refusal(faults_.packetFailureCode, failureMessage(faults_.packetFailureCode));
}

void MailboxFileService::recordViolation(std::string what) {
    std::lock_guard lock(violationsMutex_);
    violations_.push_back(std::move(what));
}

std::vector<std::string> MailboxFileService::takeViolations() {
    std::lock_guard lock(violationsMutex_);
    std::vector<std::string> taken;
    taken.swap(violations_);
    return taken;
}

std::optional<TransactionAnswer> MailboxFileService::handle(const TransactionRequest& request) {
    if (request.code != "40") return std::nullopt;
    const std::string mailbox = trimmed(request.record.service);
    const std::string type = trimmed(request.record.function);
    Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
    if (!body) return refusal("0001", "请求数据格式不正确");
    Result<std::string> n1 = filesvc::nameFromWire(body->name1);
    Result<std::string> n2 = filesvc::nameFromWire(body->name2);
    if (!n1 || !n2) return refusal("0001", "文件名编码不正确");

    TransactionAnswer answer = answerFor(type, mailbox, *body, *n1, *n2);
    Delivery spoiled = Delivery::kWhole;
    if (type == filesvc::kList || type == filesvc::kHistory) {
        spoiled = faults_.nextListDelivery.exchange(Delivery::kWhole);
    } else if ((type == filesvc::kDownload || type == filesvc::kUpload) && body->c == -1) {
        spoiled = faults_.nextMd5Delivery.exchange(Delivery::kWhole);
    } else if (type == filesvc::kDownload) {
        spoiled = faults_.nextDownloadDelivery.exchange(Delivery::kWhole);
    }
    if (spoiled != Delivery::kWhole) answer.delivery = spoiled;
    return answer;
}

TransactionAnswer MailboxFileService::answerFor(const std::string& type, const std::string& mailbox,
                                                const filesvc::Body& body, const std::string& n1,
                                                const std::string& n2) {
    if (type == filesvc::kList) {
        if (n2 != "T" && !n2.empty() && n2 != "MT") {
            // A real gateway may refuse such a list or answer the whole mailbox.
            recordViolation("list selector [" + n2 + "] in " + mailbox);
            return refusal("0002", "不支持的文件列表选择[" + n2 + "]");
        }
        if (n2 == "MT") {
            const std::string version = dayVersion(mailbox, n1);
            filesvc::ListEntry ver{
                "VER", 0, version.substr(0, 8),
                version.substr(8, 2) + ":" + version.substr(10, 2) + ":" + version.substr(12, 2),
                "version"};
            const std::string entries = filesvc::encodeEntry(ver);
            TransactionAnswer a;
            a.payload = filesvc::encodeBody(body.name1, body.name2, 0, 0,
                                            static_cast<std::int32_t>(entries.size()), entries);
            return a;
        }
        return list(mailbox, n1, n2);
    }
    if (type == filesvc::kHistory) {
        // A day without files has no folder: its list is empty, not an error.
        TransactionAnswer a = list(mailbox, n1, "");
        if (a.returnCode == "0004") {
            a = TransactionAnswer{};
            a.payload = filesvc::encodeBody("", "", 0, 0, 0, {});
        }
        return a;
    }
    if (type == filesvc::kDelete) return remove(mailbox, n1);
    if (type == filesvc::kRename) return rename(mailbox, n1, n2);
    if (type == filesvc::kDownload) {
        if (body.c == -1) return md5(mailbox, n1, body.name1, body.name2);
        if (auto fault = packetFault()) return *fault;
        return download(mailbox, n1, body.name1, body.b, body.c);
    }
    if (type == filesvc::kUpload) {
        if (body.c == -1) return md5(mailbox, n2, body.name1, body.name2);
        if (auto fault = packetFault()) return *fault;
        return upload(mailbox, n2, body.name2, body.a, body.b,
                      body.data.substr(0, static_cast<std::size_t>(std::max(0, body.c))));
    }
    return refusal("0002", "不支持的文件服务[" + type + "]");
}

TransactionAnswer MailboxFileService::list(const std::string& mailbox, const std::string& requested,
                                           const std::string& selector) {
    // The real-time area is asked for a day ("20261208") and answers with that day's
    // reports; a day without any is an empty list.
    const bool realtime = mailbox == kRealtimeMailbox;
    const std::string pattern = realtime && requested.find_first_of("\\*?") == std::string::npos
                                    ? requested + "\\*.*"
                                    : requested;
    const std::string_view base = remoteBaseName(pattern);
    const std::string directory = pattern.substr(0, pattern.size() - base.size());
    auto dir = pathOf(
        mailbox, directory.empty() ? std::string() : directory.substr(0, directory.size() - 1));
    if (!dir) return refusal("0003", "目录名不合法");
    std::error_code ec;
    if (!fs::is_directory(*dir, ec)) {
        if (!realtime) return refusal("0004", "目录不存在");
        TransactionAnswer empty;
        empty.payload = filesvc::encodeBody("", "", 0, 0, 0, {});
        return empty;
    }
    std::vector<std::pair<std::string, fs::path>> found;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (realtime && name.ends_with(kPublishingMark)) continue;
        // "*.*" names every entry, dotted or not.
        const std::string_view wanted =
            base.empty() || base == "*.*" ? std::string_view("*") : base;
        if (matches(wanted, name)) found.emplace_back(name, entry.path());
    }
    std::sort(found.begin(), found.end());
    std::string entries;
    for (const auto& [name, path] : found) {
        filesvc::ListEntry e;
        e.name = name;
        stampOf(path, e.date, e.time);
        if (fs::is_directory(path, ec)) {
            e.type = "DIR";
        } else {
            e.type = "FIL";
            if (realtime) {
                fs::path mark = path;
                mark += kPublishingMark;
                e.type = fs::exists(mark, ec) ? "00F" : "10F";
            }
            e.size = static_cast<std::int64_t>(fs::file_size(path, ec)) + faults_.sizeLie.load();
            if (selector == "T" && e.date != businessDate_) continue;
        }
        entries += filesvc::encodeEntry(e);
    }
    TransactionAnswer a;
    a.payload =
        filesvc::encodeBody("", "", 0, 0, static_cast<std::int32_t>(entries.size()), entries);
    return a;
}

std::string MailboxFileService::dayVersion(const std::string& mailbox, const std::string& pattern) {
    std::string version = version_;
    const std::string_view base = remoteBaseName(pattern);
    const std::string directory = pattern.substr(0, pattern.size() - base.size());
    auto dir = pathOf(
        mailbox, directory.empty() ? std::string() : directory.substr(0, directory.size() - 1));
    std::error_code ec;
    if (!dir || !fs::is_directory(*dir, ec)) return version;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        if (!entry.is_regular_file(ec)) continue;
        filesvc::ListEntry e;
        stampOf(entry.path(), e.date, e.time);
        if (e.date == businessDate_) version = std::max(version, stampText(e));
    }
    return version;
}

TransactionAnswer MailboxFileService::remove(const std::string& mailbox, const std::string& name) {
    auto p = pathOf(mailbox, name);
    if (!p || name.empty()) return refusal("0003", "文件名不合法");
    std::lock_guard lock(filesMutex_);
    std::error_code ec;
    if (!fs::is_regular_file(*p, ec) || !fs::remove(*p, ec)) return refusal("0004", "文件不存在");
    TransactionAnswer a;
    a.payload = filesvc::encodeBody("", "", 0, 0, 0, {});
    return a;
}

TransactionAnswer MailboxFileService::rename(const std::string& mailbox, const std::string& from,
                                             const std::string& to) {
    auto a = pathOf(mailbox, from);
    auto b = pathOf(mailbox, to);
    if (!a || !b || from.empty() || to.empty()) return refusal("0003", "文件名不合法");
    std::lock_guard lock(filesMutex_);
    std::error_code ec;
    if (!fs::is_regular_file(*a, ec)) return refusal("0004", "文件不存在");
    if (fs::exists(*b, ec)) return refusal("0005", "目标文件已存在");
    fs::rename(*a, *b, ec);
    if (ec) return refusal("0006", "重命名失败");
    TransactionAnswer answer;
    answer.payload = filesvc::encodeBody("", "", 0, 0, 0, {});
    return answer;
}

TransactionAnswer MailboxFileService::download(const std::string& mailbox, const std::string& name,
                                               const std::string& wireName, std::int32_t offset,
                                               std::int32_t length) {
    auto p = pathOf(mailbox, name);
    if (!p || offset < 0 || length < 0) return refusal("0003", "请求参数不合法");
    std::ifstream in(*p, std::ios::binary);
    if (!in) return refusal("0004", "文件不存在");
    TransactionAnswer a;
    const std::int32_t reported = offset + faults_.nextOffsetLie.exchange(0);
    // The file's bytes are read straight behind the body's fixed part, which ends the
    // payload, instead of into a buffer of their own that would then be copied.
    a.payload = filesvc::encodeBody(wireName, "", length, reported, 0, {});
    const std::size_t prefix = a.payload.size();
    // Room for what the file holds from `offset`, never for a length it cannot fill.
    in.seekg(0, std::ios::end);
    const std::streamoff left = std::max<std::streamoff>(0, in.tellg() - std::streamoff(offset));
    const auto want = static_cast<std::int32_t>(std::min<std::streamoff>(length, left));
    a.payload.resize(prefix + static_cast<std::size_t>(want));
    in.seekg(offset);
    in.read(a.payload.data() + prefix, want);
    const auto got = static_cast<std::int32_t>(std::max<std::streamsize>(0, in.gcount()));
    a.payload.resize(prefix + static_cast<std::size_t>(got));
    filesvc::putInt32(a.payload, filesvc::kFieldCOffset, got);
    if (got > 0 && faults_.corruptNextDownload.exchange(false)) a.payload[prefix + got / 2] ^= 0x20;
    ++counters_.downloadPackets;
    counters_.downloadBytes += got;
    return a;
}

TransactionAnswer MailboxFileService::upload(const std::string& mailbox, const std::string& name,
                                             const std::string& wireName, std::int32_t size,
                                             std::int32_t offset, std::string_view data) {
    auto p = pathOf(mailbox, name);
    if (!p || name.empty() || offset < 0 || size < 0 ||
        static_cast<std::int64_t>(offset) + data.size() > static_cast<std::uint64_t>(size)) {
        return refusal("0003", "请求参数不合法");
    }
    {
        std::lock_guard lock(filesMutex_);
        std::error_code ec;
        fs::create_directories(p->parent_path(), ec);
        if (!fs::exists(*p, ec)) std::ofstream(*p, std::ios::binary).flush();
        if (fs::file_size(*p, ec) != static_cast<std::uintmax_t>(size))
            fs::resize_file(*p, static_cast<std::uintmax_t>(size), ec);
        std::fstream out(*p, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(offset);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out) return refusal("0007", "写文件失败");
    }
    ++counters_.uploadPackets;
    counters_.uploadBytes += static_cast<long long>(data.size());
    TransactionAnswer a;
    a.payload =
        filesvc::encodeBody("", wireName, size, offset, static_cast<std::int32_t>(data.size()), {});
    return a;
}

TransactionAnswer MailboxFileService::md5(const std::string& mailbox, const std::string& name,
                                          const std::string& n1, const std::string& n2) {
    auto p = pathOf(mailbox, name);
    if (!p || name.empty()) return refusal("0003", "文件名不合法");
    ++counters_.md5Queries;
    std::string digest;
    {
        std::lock_guard lock(filesMutex_);
        digest = fileMd5(*p);
    }
    if (digest.size() != 16) return refusal("0004", "文件不存在");
    TransactionAnswer a;
    a.payload = filesvc::encodeBody(n1, n2, 0, 0, 0, digest);
    return a;
}

}  // namespace vantrel::testgateway
