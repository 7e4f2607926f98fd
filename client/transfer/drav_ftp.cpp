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

GatewayOutcome CDRAVFtp::fail(const std::string& text, GatewayOutcome outcome) {
    error_ = text;
    return outcome;
}

int CDRAVFtp::failPacket(const std::string& text) {
    (void)fail(text);
    return -1;
}

bool CDRAVFtp::connected() {
    if (session_.IsLoggedIn() && session_.IsConnected()) return true;
    return session_.LoginToGateway();
}

GatewayOutcome CDRAVFtp::takeSerial(std::string& serial, char& flag) {
    // The session's pools: they belong to its connection and die with it.
    SerialPool& pool = session_.Serials();
    const Route route = session_.CurrentRoute();
    if (TakeSerial(pool, route, serial, flag) == 0) return GatewayOutcome::Ok;
    if (const GatewayOutcome asked = session_.RequestTransSerials(route.organisation, route.service,
                                                                  route.function, batch_, pool);
        asked != GatewayOutcome::Ok) {
        return fail(session_.LastError(), asked);
    }
    if (TakeSerial(pool, route, serial, flag) != 0) return fail("从列表中取交易序号失败!");
    return GatewayOutcome::Ok;
}

GatewayOutcome CDRAVFtp::exchange(const std::string& mailbox, const std::string& ftpType,
                                  std::string_view name1, std::string_view name2, std::int32_t a,
                                  std::int32_t b, std::int32_t c, std::string_view payload,
                                  std::chrono::milliseconds& elapsed) {
    const bool wasConnected = session_.IsLoggedIn() && session_.IsConnected();
    const GatewayOutcome outcome =
        exchangeOnce(mailbox, ftpType, name1, name2, a, b, c, payload, elapsed);
    // A gateway drops connections that stay idle: one that was up before this exchange
    // and was closed by the gateway during it is made again, and the exchange repeated
    // once with the new connection's numbers.
    if (outcome != GatewayOutcome::Ok && wasConnected && !session_.IsLoggedIn() &&
        session_.LostByPeer())
        return exchangeOnce(mailbox, ftpType, name1, name2, a, b, c, payload, elapsed);
    return outcome;
}

GatewayOutcome CDRAVFtp::exchangeOnce(const std::string& mailbox, const std::string& ftpType,
                                      std::string_view name1, std::string_view name2,
                                      std::int32_t a, std::int32_t b, std::int32_t c,
                                      std::string_view payload,
                                      std::chrono::milliseconds& elapsed) {
    elapsed = std::chrono::milliseconds(0);
    if (!connected()) return fail("系统处于断线状态,请先登录!");
    session_.SetRoute(kMailboxOrganisation, mailbox, ftpType);
    std::string serial;
    char flag = '0';
    if (const GatewayOutcome taken = takeSerial(serial, flag); taken != GatewayOutcome::Ok)
        return taken;
    VornFileService service(session_);
    const platform::Tick start = clock_.tick();
    if (const GatewayOutcome sent =
            service.sendRequest(serial, flag, name1, name2, a, b, c, payload);
        sent != GatewayOutcome::Ok)
        return fail("发送数据失败，失败原因:" + session_.LastError(), sent);
    std::string answer;
    const GatewayOutcome received = session_.ReceiveResponse(answer);
    elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.tick() - start);
    const TransactionResponseRecord response = responseRecordOf(answer);
    if (received != GatewayOutcome::Ok && response.returnCode.empty())
        return fail("接收数据失败，失败原因:" + session_.LastError(), received);
    if (received != GatewayOutcome::Ok) {
        if (response.returnCode == "0014") session_.Serials().clear();
        return fail(trimmed(response.message), received);
    }
    if (trimmed(response.function) != ftpType) return fail("返回数据不是该笔请求的结果数据!");
    if (!message_.resize(answer.size()) || message_.write(0, answer.data(), answer.size()) != 0)
        return fail("申请内存出错");
    return GatewayOutcome::Ok;
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
    if (direction != kUpload && direction != kDownload) return failPacket("不支持的FTP_TYPE!");
    if (offset < 0 || offset >= fileSize || fileSize > std::numeric_limits<std::int32_t>::max())
        return failPacket("偏移量出错!");
    const bool upload = direction == kUpload;
    const int size = packetSize(direction);
    const auto length = static_cast<std::int32_t>(std::min<std::int64_t>(size, fileSize - offset));
    const std::string path = localPath.string();

    std::string payload;
    if (upload) {
        Result<std::unique_ptr<platform::File>> in =
            files_.open(localPath, platform::OpenMode::kRead);
        if (!in)
            return failPacket(
                formatted("打不开文件%s，错误代码：%d!", path, in.status().systemCode()));
        payload.resize(static_cast<std::size_t>(length));
        Result<std::size_t> got = in.value()->readAt(offset, payload.data(), payload.size());
        if (!got || got.value() < payload.size())
            return failPacket(formatted("读文件：%s出错，错误原因：%d!", path,
                                        got ? 0 : got.status().systemCode()));
    }

    const std::string ftpType(upload ? filesvc::kUpload : filesvc::kDownload);
    std::chrono::milliseconds elapsed{0};
    const auto total = static_cast<std::int32_t>(fileSize);
    const auto at = static_cast<std::int32_t>(offset);
    const GatewayOutcome exchanged =
        upload ? exchange(mailbox, ftpType, "", remoteName, total, at, length, payload, elapsed)
               : exchange(mailbox, ftpType, remoteName, "", length, at, length, {}, elapsed);
    if (exchanged != GatewayOutcome::Ok) return -1;
    adapt(direction, length, elapsed);
    if (upload) return length;

    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body) return failPacket("接收数据失败，失败原因:" + body.status().text());
    // Only the bytes asked for, at the place asked for: anything else would put foreign
    // data into the file.
    if (body->b != at || body->c <= 0 || body->c > length ||
        body->data.size() < static_cast<std::size_t>(body->c)) {
        return failPacket("偏移量出错!");
    }
    Result<std::unique_ptr<platform::File>> out =
        files_.open(localPath, platform::OpenMode::kCreate);
    if (!out)
        return failPacket(
            formatted("打不开文件%s，错误原因：%d!", path, out.status().systemCode()));
    Status written =
        out.value()->writeAt(offset, body->data.data(), static_cast<std::size_t>(body->c));
    if (written) written = out.value()->close();
    if (!written) {
        const int error = written.systemCode();
        if (error == ENOSPC) return failPacket("写文件：" + path + "出错，错误原因：磁盘空间已满!");
        return failPacket(formatted("写文件：%s出错，错误原因：%d!", path, error));
    }
    return body->c;
}

GatewayOutcome CDRAVFtp::download(const std::string& mailbox, const std::string& remoteName,
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
        return GatewayOutcome::Ok;
    }
    while (done < fileSize) {
        if (stop && stop()) return fail("系统退出，停止下载文件[" + remoteName + "]");
        const int moved = transfer(kDownload, mailbox, remoteName, localPath, fileSize, done);
        if (moved < 0) return GatewayOutcome::Failed;
        done += moved;
    }
    return GatewayOutcome::Ok;
}

GatewayOutcome CDRAVFtp::list(const std::string& day) {
    message_.clear();
    std::chrono::milliseconds elapsed{0};
    const GatewayOutcome outcome =
        exchange(kRealtimeMailbox, std::string(filesvc::kList), day, "", 0, 0, 0, {}, elapsed);
    if (outcome != GatewayOutcome::Ok) message_.clear();
    return outcome;
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

GatewayOutcome CDRAVFtp::md5Check(const std::filesystem::path& localPath,
                                  const std::string& remoteName, std::int64_t fileSize) {
    const std::string local = fileMd5(localPath);
    if (local.size() != 16) return fail("打开本地文件[" + localPath.string() + "]失败!");
    const auto size = static_cast<std::int32_t>(fileSize);
    std::chrono::milliseconds elapsed{0};
    if (const GatewayOutcome outcome = exchange(kRealtimeMailbox, std::string(filesvc::kDownload),
                                                remoteName, "", size, size, -1, {}, elapsed);
        outcome != GatewayOutcome::Ok) {
        return outcome;
    }
    Result<filesvc::Body> body =
        filesvc::decodeBody(std::string_view(message_.data(), message_.length()));
    if (!body || body->data.size() < 16) return fail("接收数据失败，失败原因:应答数据长度不足");
    if (body->data.substr(0, 16) != local) return fail("MD5计算不正确");
    return GatewayOutcome::Ok;
}

}  // namespace vantrel
