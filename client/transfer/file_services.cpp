#include "client/transfer/file_services.h"

#include "client/gateway/packet_frame.h"
#include "korrim/klav.h"
#include "platform/file_system.h"

namespace vantrel {

TransactionResponseRecord responseRecordOf(std::string_view packet) {
    TransactionResponseRecord r;
    if (packet.size() >= frame::kPayloadOffset)
        (void)decode(packet.substr(frame::kRecordOffset), r);
    return r;
}

std::string fileMd5(const std::filesystem::path& path) {
    Result<std::unique_ptr<platform::File>> in =
        platform::FileSystem::real().open(path, platform::OpenMode::kRead);
    if (!in) return {};
    KLAV_HANDLE context = nullptr;
    if (KLAV_HASHInit(KLAV_MD5, &context) != KLAV_OK) return {};
    std::string piece(32768, '\0');
    for (std::int64_t at = 0;;) {
        Result<std::size_t> n = in.value()->readAt(at, piece.data(), piece.size());
        if (!n) {
            unsigned char scratch[KLAV_MAX_DIGEST_SIZE];
            int scratchLength = 0;
            KLAV_HASHFinal(&context, scratch, &scratchLength);
            return {};
        }
        if (n.value() == 0) break;
        if (KLAV_HASHUpdate(&context, reinterpret_cast<const unsigned char*>(piece.data()),
                            static_cast<int>(n.value())) != KLAV_OK) {
            return {};
        }
        at += static_cast<std::int64_t>(n.value());
    }
    unsigned char digest[KLAV_MAX_DIGEST_SIZE];
    int length = 0;
    if (KLAV_HASHFinal(&context, digest, &length) != KLAV_OK || length != 16) return {};
    return std::string(reinterpret_cast<const char*>(digest), 16);
}

GatewayOutcome VornFileService::fail(GatewayOutcome outcome, const std::string& text) {
    handle_.SetLastError(text);
    return outcome;
}

GatewayOutcome VornFileService::takeSerial(std::string& serial, char& flag) {
    const Route route = handle_.CurrentRoute();
    if (TakeSerial(handle_.Serials(), route, serial, flag) == 0) return GatewayOutcome::Ok;
    const GatewayOutcome got = handle_.RequestTransSerials(route.organisation, route.service,
                                                           route.function, 20, handle_.Serials());
    if (got != GatewayOutcome::Ok) return got;
    if (TakeSerial(handle_.Serials(), route, serial, flag) != 0)
        return fail(GatewayOutcome::Failed, "从列表中取交易序号失败!");
    return GatewayOutcome::Ok;
}

GatewayOutcome VornFileService::sendRequest(const std::string& serial, char serialFlag,
                                            std::string_view name1, std::string_view name2,
                                            std::int32_t a, std::int32_t b, std::int32_t c,
                                            std::string_view payload) {
    if (!handle_.IsLoggedIn()) return fail(GatewayOutcome::Failed, "系统未登录!");
    const std::string& ftpType = handle_.CurrentRoute().function;
    if (!filesvc::isKnownFtpType(ftpType))
        return fail(GatewayOutcome::BadArguments, "不支持的FTP_TYPE!");
    Result<std::string> wire1 = filesvc::wireName(name1);
    Result<std::string> wire2 = filesvc::wireName(name2);
    if (!wire1 || !wire2) return fail(GatewayOutcome::BadArguments, "UNICODE出错");
    if (ftpType == filesvc::kUpload && c != -1) {
        // An upload packet never passes the file's end.
        if (static_cast<std::int64_t>(b) + c > a) c = a - b;
        if (c < 0) return fail(GatewayOutcome::BadArguments, "偏移量出错!");
        payload = payload.substr(0, static_cast<std::size_t>(c));
    }
    const std::size_t bodySize = filesvc::bodySize(*wire1, *wire2, payload);
    std::string packet;
    if (handle_.BuildRequest(frame::kFileServiceCode, serial, serialFlag,
                             static_cast<int>(bodySize), packet) != GatewayOutcome::Ok) {
        return fail(GatewayOutcome::BadArguments,
                    "申请内存[" + std::to_string(bodySize + frame::kPayloadOffset) + "]失败!");
    }
    filesvc::writeBody(packet.data() + frame::kPayloadOffset, *wire1, *wire2, a, b, c, payload);
    if (handle_.SendPacket(packet.data(), static_cast<int>(packet.size()), true) !=
        GatewayOutcome::Ok) {
        const std::string reason = handle_.LastError();
        handle_.DropIfLoggedIn();
        return fail(GatewayOutcome::Failed, "发送交易请求数据失败[" + reason + "]");
    }
    return GatewayOutcome::Ok;
}

GatewayOutcome VornFileService::list(const std::string& title, const std::string& mailbox,
                                     std::string_view ftpType, const std::string& name1,
                                     const std::string& name2,
                                     std::vector<filesvc::ListEntry>& out) {
    const bool wasConnected = handle_.IsLoggedIn() && handle_.IsConnected();
    const GatewayOutcome outcome = listOnce(title, mailbox, ftpType, name1, name2, out);
    // A connection the gateway dropped while idle is made again and the list asked once more.
    if (outcome != GatewayOutcome::Ok && wasConnected && !handle_.IsLoggedIn() &&
        handle_.LostByPeer())
        return listOnce(title, mailbox, ftpType, name1, name2, out);
    return outcome;
}

GatewayOutcome VornFileService::listOnce(const std::string& title, const std::string& mailbox,
                                         std::string_view ftpType, const std::string& name1,
                                         const std::string& name2,
                                         std::vector<filesvc::ListEntry>& out) {
    out.clear();
    if (!handle_.IsLoggedIn() && !handle_.LoginToGateway()) {
        return fail(GatewayOutcome::PeerClosed, title + "与服务器连接失败，请查询网络连接");
    }
    handle_.SetRoute(kMailboxOrganisation, mailbox, std::string(ftpType));
    std::string serial;
    char flag = '0';
    if (GatewayOutcome got = takeSerial(serial, flag); got != GatewayOutcome::Ok)
        return fail(got, title + handle_.LastError());
    if (GatewayOutcome got = sendRequest(serial, flag, name1, name2, 0, 0, 0, {});
        got != GatewayOutcome::Ok) {
        return fail(got, title + "失败(交易序列号:" + serial + ")," + handle_.LastError());
    }
    std::string answer;
    if (GatewayOutcome got = handle_.ReceiveResponse(answer); got != GatewayOutcome::Ok) {
        const TransactionResponseRecord response = responseRecordOf(answer);
        const std::string message =
            response.returnCode.empty() ? handle_.LastError() : trimmed(response.message);
        return fail(got, title + "失败(交易序列号:" + serial + ")," + message);
    }
    Result<filesvc::Body> body = filesvc::decodeBody(answer);
    if (!body) return GatewayOutcome::Ok;  // an answer without a body lists nothing
    Result<std::vector<filesvc::ListEntry>> entries = filesvc::parseEntries(body->data, body->c);
    if (!entries) return fail(GatewayOutcome::Failed, title + entries.status().text());
    out = std::move(entries.value());
    return GatewayOutcome::Ok;
}

namespace {

GatewayOutcome dropVersionEntries(std::vector<filesvc::ListEntry>& entries,
                                  GatewayOutcome outcome) {
    if (outcome != GatewayOutcome::Ok) return outcome;
    std::erase_if(entries, [](const filesvc::ListEntry& e) { return e.type == "VER"; });
    return outcome;
}

}  // namespace

GatewayOutcome VornFileService::listFiles(const std::string& mailbox, const std::string& directory,
                                          std::vector<filesvc::ListEntry>& out) {
    return dropVersionEntries(out,
                              list("查询文件列表-", mailbox, filesvc::kList, directory, "", out));
}

GatewayOutcome VornFileService::listToday(const std::string& mailbox, const std::string& directory,
                                          std::vector<filesvc::ListEntry>& out) {
    return dropVersionEntries(
        out, list("查询当日文件列表-", mailbox, filesvc::kList, directory, "T", out));
}

GatewayOutcome VornFileService::listHistory(const std::string& mailbox, const std::string& path,
                                            std::vector<filesvc::ListEntry>& out) {
    return dropVersionEntries(out,
                              list("查询历史文件列表-", mailbox, filesvc::kHistory, path, "", out));
}

GatewayOutcome VornFileService::queryVersion(const std::string& mailbox, const std::string& text,
                                             std::string& version) {
    version.clear();
    std::vector<filesvc::ListEntry> entries;
    const GatewayOutcome outcome =
        list("查询版本号-", mailbox, filesvc::kList, text, "MT", entries);
    if (outcome != GatewayOutcome::Ok) return outcome;
    version = filesvc::versionOf(entries);
    return outcome;
}

DigestVerdict VornFileService::verifyDigest(const std::filesystem::path& localPath,
                                            const std::string& remoteName, std::int64_t fileSize) {
    const DigestVerdict notVerified;
    auto failed = [&](const std::string& text) {
        handle_.SetLastError(text);
        return notVerified;
    };
    if (!handle_.IsLoggedIn() && !handle_.LoginToGateway())
        return failed("与服务器连接失败，请查询网络连接");
    if (!platform::FileSystem::real().open(localPath, platform::OpenMode::kRead))
        return failed("打开本地文件[" + localPath.string() + "]失败!");
    const std::string ftpType = handle_.CurrentRoute().function;
    if (ftpType != filesvc::kUpload && ftpType != filesvc::kDownload) {
        return failed("Md5校验类型不正确[" + ftpType + "]失败!");
    }
    std::string serial;
    char flag = '0';
    if (takeSerial(serial, flag) != GatewayOutcome::Ok) return notVerified;
    const bool download = ftpType == filesvc::kDownload;
    const auto size = static_cast<std::int32_t>(fileSize);
    if (sendRequest(serial, flag, download ? remoteName : "", download ? "" : remoteName, size,
                    size, -1, {}) != GatewayOutcome::Ok) {
        return failed("发送数据失败，失败原因:" + handle_.LastError());
    }
    // The local digest is worked out while the gateway works out its own.
    const std::string local = fileMd5(localPath);
    std::string answer;
    const bool answered = handle_.ReceiveResponse(answer) == GatewayOutcome::Ok;
    if (local.size() != 16) return failed("打开本地文件[" + localPath.string() + "]失败!");
    // After a receive failure the answer is empty: the receive's own text explains it.
    const TransactionResponseRecord response = responseRecordOf(answer);
    if (!answered && response.returnCode.empty())
        return failed("接收数据失败，失败原因:" + handle_.LastError());
    if (!answered) {
        if (response.returnCode == "0014") handle_.Serials().clear();
        return failed(trimmed(response.message));
    }
    if (trimmed(response.function) != ftpType) return failed("返回数据不是该笔请求的结果数据!");
    Result<filesvc::Body> body = filesvc::decodeBody(answer);
    if (!body) return failed("接收数据失败，失败原因:" + body.status().text());
    if (body->data.size() < 16) return failed("接收数据失败，失败原因:应答数据长度不足");
    if (body->data.substr(0, 16) != local) {
        handle_.SetLastError(
            download
                ? "文件:" + remoteName +
                      "校验错误,下载的文件可能被破坏。\n\r请不要使用断点续传功能重新下载该文件!"
                : "文件:" + localPath.string() +
                      "校验错误,上传的文件可能被破坏。\n\r请不要使用断点续传功能重新上传该文件!");
        return DigestVerdict{DigestVerdict::kMismatch, -1};
    }
    return DigestVerdict{DigestVerdict::kMatch, body->c};
}

int VornFileService::md5Check(const std::filesystem::path& localPath, const std::string& remoteName,
                              std::int64_t fileSize) {
    const DigestVerdict verdict = verifyDigest(localPath, remoteName, fileSize);
    return verdict.outcome == DigestVerdict::kMatch ? verdict.result : -1;
}

GatewayOutcome VornFileService::mailboxRequest(std::string_view ftpType, const std::string& name2,
                                               const std::string& mailbox,
                                               const std::string& name1) {
    if (!handle_.IsConnected() || !handle_.IsLoggedIn()) {
        if (!handle_.LoginToGateway())
            return fail(GatewayOutcome::PeerClosed, "与服务器连接失败，请查询网络连接");
    }
    handle_.SetRoute(kMailboxOrganisation, mailbox, std::string(ftpType));
    std::string serial;
    char flag = '0';
    if (GatewayOutcome got = takeSerial(serial, flag); got != GatewayOutcome::Ok) return got;
    if (GatewayOutcome got = sendRequest(serial, flag, name1, name2, 0, 0, 0, {});
        got != GatewayOutcome::Ok)
        return got;
    std::string answer;
    return handle_.ReceiveResponse(answer);
}

}  // namespace vantrel
