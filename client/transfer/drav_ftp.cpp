#include "client/transfer/drav_ftp.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

#include "client/gateway/record_codec.h"
#include "client/transfer/file_services.h"
#include "platform/error_text.h"

namespace vantrel {
namespace {

std::string formatted(const char* pattern, const std::string& path, int code) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, path.c_str(), code);
    return buffer;
}

}  // namespace

CDRAVFtp::CDRAVFtp(CVornFtp& session, const DataSizeSettings& settings,
                   const platform::Clock& clock, platform::FileSystem& files)
    : session_(session),
      clock_(clock),
      files_(files),
      receive_(settings.receive()),
      send_(settings.send()),
      receiveSize_(static_cast<int>(settings.receive().initialSize)),
      sendSize_(static_cast<int>(settings.send().initialSize)),
      batch_(settings.transIdBatch()),
      settingsLoaded_(settings.loaded()) {}

int CDRAVFtp::fail(const std::string& text) {
    error_ = text;
    return -1;
}

bool CDRAVFtp::connected() {
    if (session_.IsLoggedIn() && session_.IsConnected()) return true;
    return session_.LoginToGateway();
}

int CDRAVFtp::takeSerial(std::string& serial, char& flag) {
    // The session's pools: they belong to its connection and die with it.
    SerialPool& pool = session_.Serials();
    const Route route = session_.CurrentRoute();
    if (TakeSerial(pool, route, serial, flag) == 0) return 0;
    if (session_.RequestTransSerials(route.organisation, route.service, route.function, batch_,
                                     pool) != GatewayOutcome::Ok) {
        return fail(session_.LastError());
    }
    if (TakeSerial(pool, route, serial, flag) != 0) return fail("从列表中取交易序号失败!");
    return 0;
}

int CDRAVFtp::exchange(const std::string& mailbox, const std::string& ftpType,
                       std::string_view name1, std::string_view name2, std::int32_t a,
                       std::int32_t b, std::int32_t c, std::string_view payload,
                       std::chrono::milliseconds& elapsed) {
    const bool wasConnected = session_.IsLoggedIn() && session_.IsConnected();
    const int rc = exchangeOnce(mailbox, ftpType, name1, name2, a, b, c, payload, elapsed);
    // A gateway drops connections that stay idle: one that was up before this exchange
    // and was closed by the gateway during it is made again, and the exchange repeated
    // once with the new connection's numbers.
    if (rc != 0 && wasConnected && !session_.IsLoggedIn() && session_.LostByPeer())
        return exchangeOnce(mailbox, ftpType, name1, name2, a, b, c, payload, elapsed);
    return rc;
}

int CDRAVFtp::exchangeOnce(const std::string& mailbox, const std::string& ftpType,
                           std::string_view name1, std::string_view name2, std::int32_t a,
                           std::int32_t b, std::int32_t c, std::string_view payload,
                           std::chrono::milliseconds& elapsed) {
    elapsed = std::chrono::milliseconds(0);
    if (!connected()) return fail("系统处于断线状态,请先登录!");
    session_.SetRoute(kMailboxOrganisation, mailbox, ftpType);
    std::string serial;
    char flag = '0';
    if (takeSerial(serial, flag) != 0) return -1;
    VornFileService service(session_);
    const platform::Tick start = clock_.tick();
    if (service.sendRequest(serial, flag, name1, name2, a, b, c, payload) != GatewayOutcome::Ok)
        return fail("发送数据失败，失败原因:" + session_.LastError());
    std::string answer;
    const bool answered = session_.ReceiveResponse(answer) == GatewayOutcome::Ok;
    elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.tick() - start);
    const TransactionResponseRecord response = responseRecordOf(answer);
    if (!answered && response.returnCode.empty())
        return fail("接收数据失败，失败原因:" + session_.LastError());
    if (!answered) {
        if (response.returnCode == "0014") session_.Serials().clear();
        return fail(trimmed(response.message));
    }
    if (trimmed(response.function) != ftpType) return fail("返回数据不是该笔请求的结果数据!");
    if (!message_.resize(answer.size()) || message_.write(0, answer.data(), answer.size()) != 0)
        return fail("申请内存出错");
    return 0;
}

void CDRAVFtp::adapt(int direction, int sentSize, std::chrono::milliseconds elapsed) {
    int& size = direction == kUpload ? sendSize_ : receiveSize_;
    if (!settingsLoaded_ || sentSize != size) return;
    const PacketSizeLimits& limits = direction == kUpload ? send_ : receive_;
    const auto seconds = elapsed.count() / 1000.0;
    if (size < limits.highSize && seconds <= static_cast<double>(limits.lowSeconds)) {
        size = static_cast<int>(std::min<std::int64_t>(std::int64_t{size} * 2, limits.highSize));
    } else if (seconds > static_cast<double>(limits.highSeconds) && size > limits.lowSize) {
        size = static_cast<int>(std::max<std::int64_t>(size / 2, limits.lowSize));
    }
}

int CDRAVFtp::transfer(int direction, const std::string& mailbox, const std::string& remoteName,
                       const std::filesystem::path& localPath, std::int64_t fileSize,
                       std::int64_t offset) {
    if (direction != kUpload && direction != kDownload) return fail("不支持的FTP_TYPE!");
    if (offset < 0 || offset >= fileSize || fileSize > std::numeric_limits<std::int32_t>::max())
        return fail("偏移量出错!");
    const bool upload = direction == kUpload;
    const int size = packetSize(direction);
    const auto length = static_cast<std::int32_t>(std::min<std::int64_t>(size, fileSize - offset));
    const std::string path = localPath.string();

    std::string payload;
    if (upload) {
        Result<std::unique_ptr<platform::File>> in =
            files_.open(localPath, platform::OpenMode::kRead);
        if (!in)
            return fail(formatted("打不开文件%s，错误代码：%d!", path, in.status().systemCode()));
        payload.resize(static_cast<std::size_t>(length));
        Result<std::size_t> got = in.value()->readAt(offset, payload.data(), payload.size());
        if (!got || got.value() < payload.size())
            return fail(formatted("读文件：%s出错，错误原因：%d!", path,
                                  got ? 0 : got.status().systemCode()));
    }

    const std::string ftpType(upload ? filesvc::kUpload : filesvc::kDownload);
    std::chrono::milliseconds elapsed{0};
    const auto total = static_cast<std::int32_t>(fileSize);
    const auto at = static_cast<std::int32_t>(offset);
    const int rc =
        upload ? exchange(mailbox, ftpType, "", remoteName, total, at, length, payload, elapsed)
               : exchange(mailbox, ftpType, remoteName, "", length, at, length, {}, elapsed);
    if (rc != 0) return -1;
    adapt(direction, length, elapsed);
    if (upload) return length;

    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body) return fail("接收数据失败，失败原因:" + body.status().text());
    // Only the bytes asked for, at the place asked for: anything else would put foreign
    // data into the file.
    if (body->b != at || body->c <= 0 || body->c > length ||
        body->data.size() < static_cast<std::size_t>(body->c)) {
        return fail("偏移量出错!");
    }
    Result<std::unique_ptr<platform::File>> out =
        files_.open(localPath, platform::OpenMode::kCreate);
    if (!out)
        return fail(formatted("打不开文件%s，错误原因：%d!", path, out.status().systemCode()));
    Status written =
        out.value()->writeAt(offset, body->data.data(), static_cast<std::size_t>(body->c));
    if (written) written = out.value()->close();
    if (!written) {
        const int error = written.systemCode();
        if (error == ENOSPC) return fail("写文件：" + path + "出错，错误原因：磁盘空间已满!");
        return fail(formatted("写文件：%s出错，错误原因：%d!", path, error));
    }
    return body->c;
}

int CDRAVFtp::download(const std::string& mailbox, const std::string& remoteName,
                       const std::filesystem::path& localPath, std::int64_t fileSize,
                       const std::function<bool()>& stop) {
    std::error_code ec;
    std::int64_t done = 0;
    if (std::filesystem::exists(localPath, ec)) {
        done = static_cast<std::int64_t>(std::filesystem::file_size(localPath, ec));
        if (ec) done = 0;
    }
    if (done > fileSize) {
        // The gateway's file is shorter than what arrived before: start again.
        Result<std::unique_ptr<platform::File>> file =
            files_.open(localPath, platform::OpenMode::kReadWrite);
        const Status emptied = file ? file.value()->resize(0) : file.status();
        if (!emptied)
            return fail("写文件：" + localPath.string() + "出错，错误原因：" +
                        platform::systemErrorText(emptied.systemCode()));
        done = 0;
    }
    if (fileSize == 0 || done == fileSize) {
        Result<std::unique_ptr<platform::File>> touch =
            files_.open(localPath, platform::OpenMode::kCreate);
        if (!touch)
            return fail(formatted("打不开文件%s，错误原因：%d!", localPath.string(),
                                  touch.status().systemCode()));
        return 0;
    }
    while (done < fileSize) {
        if (stop && stop()) return fail("系统退出，停止下载文件[" + remoteName + "]");
        const int moved = transfer(kDownload, mailbox, remoteName, localPath, fileSize, done);
        if (moved < 0) return -1;
        done += moved;
    }
    return 0;
}

int CDRAVFtp::list(const std::string& day) {
    message_.clear();
    std::chrono::milliseconds elapsed{0};
    if (exchange(kRealtimeMailbox, std::string(filesvc::kList), day, "", 0, 0, 0, {}, elapsed) !=
        0) {
        message_.clear();
        return -1;
    }
    return entryCount();
}

int CDRAVFtp::entryCount() const {
    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body) return 0;
    Result<std::vector<filesvc::ListEntry>> all = filesvc::parseEntries(body->data, body->c);
    return all ? static_cast<int>(all->size()) : 0;
}


std::vector<RealtimeEntry> CDRAVFtp::entries() {
    std::vector<RealtimeEntry> result;
    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body) return result;
    Result<std::vector<filesvc::ListEntry>> all = filesvc::parseEntries(body->data, body->c);
    if (!all) return result;
    for (const filesvc::ListEntry& e : *all) {
        if (e.isDirectory() || e.type == "VER") continue;
        result.push_back(RealtimeEntry{e.name, e.type.substr(0, 2), e.size, e.date, e.time});
    }
    return result;
}

int CDRAVFtp::md5Check(const std::filesystem::path& localPath, const std::string& remoteName,
                       std::int64_t fileSize) {
    const std::string local = fileMd5(localPath);
    if (local.size() != 16) return fail("打开本地文件[" + localPath.string() + "]失败!");
    const auto size = static_cast<std::int32_t>(fileSize);
    std::chrono::milliseconds elapsed{0};
    if (exchange(kRealtimeMailbox, std::string(filesvc::kDownload), remoteName, "", size, size, -1,
                 {}, elapsed) != 0) {
        return -1;
    }
    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body || body->data.size() < 16) return fail("接收数据失败，失败原因:应答数据长度不足");
    if (body->data.substr(0, 16) != local) return fail("MD5计算不正确");
    return 0;
}

}  // namespace vantrel
