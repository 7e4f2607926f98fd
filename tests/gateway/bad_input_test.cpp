// A gateway that lies: after an honest login it sends one scripted answer per request.
// Every lie ends in a clear error and a dropped connection, never in a crash or an
// allocation of what a header claims.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <functional>
#include <thread>

#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/fast_ftp.h"
#include "platform/tcp_socket.h"
#include "tests/support/temp_dir.h"
#include "tools/testgateway/connection_io.h"

namespace vantrel {
namespace {

using namespace std::string_literals;

// The raw bytes to answer the first request after login with, given the session key.
using Script = std::function<std::string(const frame::SessionKey&)>;

std::string sealed(std::string_view code, const std::string& body, const frame::SessionKey& key) {
    std::string packet = frame::makePacket(2 + body.size());
    packet.replace(17, 2, code);
    packet.replace(19, body.size(), body);
    EXPECT_TRUE(frame::encryptBody(packet, key));
    return packet;
}

class LyingGateway {
  public:
    explicit LyingGateway(Script script, std::string status = "S")
        : script_(std::move(script)), status_(std::move(status)) {
        EXPECT_EQ(listener_.listenOn(htonl(INADDR_LOOPBACK), 0, 1), 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~LyingGateway() {
        stopping_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return listener_.localPort(); }

  private:
    void serve() {
        if (listener_.wait(platform::kReadable, 5000) <= 0) return;
        int err = 0;
        platform::TcpSocket socket = listener_.accept(err);
        testgateway::ConnectionIo io(socket, stopping_);
        const std::string challenge = "0123456789abcdef";
        std::string request;
        if (!io.writeAll(challenge) || !io.readPacket(request, 4096)) return;
        LoginDigest digest = computeLoginDigest("pass1234", request.substr(19, 8), challenge);
        LoginAnswerRecord answer{status_, "20261208", "093000", "LC000001", "U0000001", ""};
        if (!io.writeAll(sealed("E0", encode(answer), digest.sessionKey))) return;
        if (!io.readPacket(request, 1 << 20)) return;
        io.writeAll(script_(digest.sessionKey));
        // Keep the connection open until the client has given up on it.
        std::string rest;
        io.readExactly(1, rest);
    }

    Script script_;
    std::string status_;
    platform::TcpSocket listener_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

class BadInput : public ::testing::Test {
  protected:
    std::unique_ptr<CVornFtp> loggedIn(LyingGateway& lying) {
        Context c;
        c.installation = Installation(root.path(), root.path());
        auto handle = std::make_unique<CVornFtp>(c, process);
        handle->SetGatewayList({{"127.0.0.1", std::to_string(lying.port()), "8021", "30"}}, 0, "",
                               "OPER01", "pass1234");
        EXPECT_TRUE(handle->LoginToGateway()) << handle->LastError();
        handle->SetRoute("VRELKA", "FTP_A_QS", "04");
        return handle;
    }
    void sendTransaction(CVornFtp& handle) {
        std::string packet;
        ASSERT_EQ(handle.BuildRequest("40", "2026120800000001", '0', 4, packet),
                  GatewayOutcome::Ok);
        ASSERT_EQ(handle.SendPacket(packet.data(), static_cast<int>(packet.size()), true),
                  GatewayOutcome::Ok);
    }
    void expectDropped(CVornFtp& handle) {
        EXPECT_FALSE(handle.IsLoggedIn());
        EXPECT_FALSE(handle.IsConnected());
    }

    testing::TempDir root;
    GatewayProcessState process;
};

TEST_F(BadInput, headerAnnouncingGigabytesIsRefusedBeforeAnyAllocation) {
    LyingGateway lying([](const frame::SessionKey&) {
        std::string header(17, ' ');
        frame::writeHeader(header.data(), 0xF0000000u, 0xF0000000u);
        return header;
    });
    auto handle = loggedIn(lying);
    std::string answer;
    sendTransaction(*handle);
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), formatText("申请内存失败[%u]", 0xF0000000u + 17u));
    EXPECT_LT(answer.capacity(), 1u << 20);
    expectDropped(*handle);
}

TEST_F(BadInput, receivePacketRefusesAGigabyteHeaderToo) {
    LyingGateway lying([](const frame::SessionKey&) {
        std::string header(17, ' ');
        frame::writeHeader(header.data(), 0x7FFFFFF0u, 16);
        return header;
    });
    auto handle = loggedIn(lying);
    SerialPool pool;
    EXPECT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, pool),
              GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(),
              "批量申请交易序列号[VRELKA-FTP_A_QS-04]失败-接收数据：申请内存失败[2147483647]！!");
    expectDropped(*handle);
}

TEST_F(BadInput, bodyShorterThanItsRecordIsRefused) {
    LyingGateway lying(
        [](const frame::SessionKey& key) { return sealed("40", "0000000001234567", key); });
    auto handle = loggedIn(lying);
    std::string answer;
    sendTransaction(*handle);
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "接收交易应答数据失败[应答长度35不足]");
    expectDropped(*handle);
}

TEST_F(BadInput, ciphertextThatIsNotWholeBlocksIsRefused) {
    LyingGateway lying([](const frame::SessionKey& key) {
        std::string packet = sealed("40", encode(TransactionResponseRecord{}), key);
        packet.pop_back();  // one byte short of whole blocks
        frame::writeHeader(packet.data(), static_cast<std::uint32_t>(packet.size() - 17), 128);
        return packet;
    });
    auto handle = loggedIn(lying);
    std::string answer;
    sendTransaction(*handle);
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "解密数据失败,KLAV_Decrypt() failed!");
    expectDropped(*handle);
}

TEST_F(BadInput, serialAnswerWithNonDigitsIsRefused) {
    LyingGateway lying([](const frame::SessionKey& key) {
        SerialAnswerRecord answer{"TXID0001", "0000", "2026X20800000001", "0", "0020", ""};
        return sealed("23", encode(answer), key);
    });
    auto handle = loggedIn(lying);
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, handle->Serials()),
              GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "批量申请交易序列号[VRELKA-FTP_A_QS-04]失败-应答数据不合法!");
    EXPECT_TRUE(handle->Serials().empty());
    expectDropped(*handle);
}

TEST_F(BadInput, polledSerialAnswerWithNonDigitsIsRefused) {
    LyingGateway lying([](const frame::SessionKey& key) {
        SerialAnswerRecord answer{"TXID0001", "0000", "2026120800000001", "0", "2O", ""};
        return sealed("23", encode(answer), key);
    });
    auto handle = loggedIn(lying);
    ASSERT_EQ(handle->RequestTransSerialsAsync(), GatewayOutcome::Ok);
    std::string answer;
    GatewayOutcome got = GatewayOutcome::NothingYet;
    for (int i = 0; i < 300 && got == GatewayOutcome::NothingYet; ++i) {
        got = handle->PollResponse(answer, nullptr);
        if (got == GatewayOutcome::NothingYet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_EQ(got, GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "批量申请交易序列号[VRELKA-FTP_A_QS-04]失败-应答数据不合法!");
    expectDropped(*handle);
}

TEST_F(BadInput, lowerCaseLoginStatusCountsAsSuccess) {
    LyingGateway lying([](const frame::SessionKey&) { return std::string(); }, "s");
    auto handle = loggedIn(lying);
    EXPECT_TRUE(handle->IsLoggedIn());
    EXPECT_EQ(handle->LoginCode(), "LC000001");
}

// An update server whose fast-login answer carries `records` name/value records while its
// byte count claims `claimed` bytes, with digits right after the count's nine characters.
class LyingUpdateServer {
  public:
    LyingUpdateServer(int records, int claimed) {
        EXPECT_EQ(listener_.listenOn(htonl(INADDR_LOOPBACK), 0, 1), 0);
        thread_ = std::thread([this, records, claimed] {
            if (listener_.wait(platform::kReadable, 5000) <= 0) return;
            int err = 0;
            platform::TcpSocket socket = listener_.accept(err);
            testgateway::ConnectionIo io(socket, stopping_);
            std::string request;
            if (!io.readPacket(request, 4096)) return;
            std::string answer = frame::makePacket(128 + 32 * records);
            answer[82] = 'S';
            answer.replace(83, 9, formatText("%09d", claimed));
            answer.replace(92, 8,
                           "12345678");  // the login code: digits that must not join the count
            for (int i = 0; i < records; ++i) {
                answer.replace(145 + 32 * i, 32, formatText("name%-12dvalue%-11d", i, i));
            }
            io.writeAll(answer);
            std::string rest;
            io.readExactly(1, rest);
        });
    }
    ~LyingUpdateServer() {
        stopping_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return listener_.localPort(); }

  private:
    platform::TcpSocket listener_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

TEST_F(BadInput, fastLoginByteCountReadsOnlyItsNineCharacters) {
    LyingUpdateServer server(3, 64);
    CFastFtp ftp;
    ftp.init({{"127.0.0.1", std::to_string(server.port())}}, {}, 5);
    std::vector<FastLoginValue> values;
    ASSERT_EQ(ftp.login({"name0", "name1", "name2"}, "HMRQ0001", "1.30.00", values), 2)
        << ftp.status();
    EXPECT_EQ(values[1].name, "name1");
    EXPECT_EQ(values[1].value, "value1");
}

}  // namespace
}  // namespace vantrel
