// The parts of the gateway session alone, over a loopback pair with a scripted peer: the
// frame channel's one reader against drops, truncated, over-long and late answers; the
// transaction client's reading of "0014"/"E999"/"E998" and of answers nobody awaits; the
// operator login against a peer that hangs up or refuses.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "client/gateway/frame_channel.h"
#include "client/gateway/login_digest.h"
#include "client/gateway/operator_login.h"
#include "client/gateway/text_format.h"
#include "client/gateway/transaction_client.h"
#include "platform/tcp_socket.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

const frame::SessionKey kKey{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::string sealed(std::string_view code, const std::string& body) {
    std::string packet = frame::makePacket(2 + body.size());
    packet.replace(frame::kCodeOffset, 2, code);
    packet.replace(frame::kRecordOffset, body.size(), body);
    EXPECT_TRUE(frame::encryptBody(packet, kKey));
    return packet;
}

std::string answerTo(const std::string& sequence, const std::string& returnCode) {
    TransactionResponseRecord r{"2026120800000001", sequence,    "VRELKA", "FTP_A_QS", "04",
                                returnCode,         "000000000", "message"};
    return sealed(frame::kFileServiceCode, encode(r));
}

class Parts : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(listener.listenOn(htonl(INADDR_LOOPBACK), 0, 4), 0);
        ASSERT_EQ(link.Connect("127.0.0.1", listener.localPort(), 5), GatewayOutcome::Ok)
            << link.LastError();
        int err = 0;
        peer = listener.accept(err);
        ASSERT_TRUE(peer.isOpen());
        channel.setSessionKey(kKey);
        identity.loggedIn = true;
        identity.loginCode = "LC000001";
    }
    void peerSends(const std::string& bytes) {
        ASSERT_EQ(peer.sendSome(bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    }
    // A request as the caller sends it, so the client awaits its sequence.
    std::string sentRequest() {
        std::string request;
        EXPECT_EQ(
            transactions.buildRequest(frame::kFileServiceCode, "2026120800000001", '0', 0, request),
            GatewayOutcome::Ok);
        return trimmed(responseSequence(request));
    }
    static std::string responseSequence(const std::string& request) {
        TransactionRequestRecord record;
        (void)decode(std::string_view(request).substr(frame::kRecordOffset), record);
        return record.sequence;
    }

    platform::TcpSocket listener;
    platform::TcpSocket peer;
    CSocketConnect link;
    int answerTimeOut = 1;
    int drops = 0;
    FrameChannel channel{link, nullptr, [this] { return answerTimeOut; }, [this] { ++drops; }};
    SerialSupply serials;
    SessionIdentity identity;
    TransactionClient transactions{channel, link, serials, identity, [this] { ++drops; }};
};

TEST_F(Parts, theReaderDropsOnTruncatedOverLongAndLateAnswers) {
    std::string answer;
    // Header announces a body the peer never finishes: the answer's deadline ends it.
    std::string truncated = answerTo("0000000001", "0000");
    peerSends(truncated.substr(0, truncated.size() - 5));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.readAnswer(answer, 90, true), GatewayOutcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(link.LastError(), "接收交易应答数据失败[接收超时]");
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(drops, 1);
    EXPECT_FALSE(channel.lostByPeer());

    // A header beyond any message of the protocol is refused before its body is read.
    std::string huge(frame::kHeaderSize, '\0');
    frame::writeHeader(huge.data(), frame::kMaxBodyLength + 1, frame::kMaxBodyLength + 1);
    peerSends(huge);
    EXPECT_EQ(channel.readPacket(answer), GatewayOutcome::Failed);
    EXPECT_EQ(link.LastError(), formatText("接收数据：申请内存失败[%d]！",
                                           static_cast<int>(frame::kMaxBodyLength) + 18));
    EXPECT_EQ(drops, 2);

    // A packet read cut short says so with the receive's code where the length would be.
    peerSends(truncated.substr(0, truncated.size() - 5));
    EXPECT_EQ(channel.readPacket(answer), GatewayOutcome::Failed);
    const auto body = std::min(frame::kPiece, truncated.size() - frame::kHeaderSize);
    EXPECT_EQ(link.LastError(),
              formatText("接收交易报文失败[-9!=%d]！,失败原因:接收超时", static_cast<int>(body)));
    EXPECT_EQ(drops, 3);

    // The peer hangs up in the middle of a body: lost by the peer, so a retry may follow.
    peerSends(truncated.substr(0, frame::kHeaderSize + 4));
    peer.close();
    EXPECT_EQ(channel.readAnswer(answer, 90, true), GatewayOutcome::PeerClosed);
    EXPECT_TRUE(channel.lostByPeer());
    EXPECT_EQ(drops, 4);
}

TEST_F(Parts, aPolledAnswerIsNothingYetUntilItArrivesAndSilenceTimesOut) {
    std::string answer;
    EXPECT_EQ(transactions.pollResponse(answer, nullptr), GatewayOutcome::NothingYet);
    EXPECT_EQ(drops, 0);  // nothing yet is not a failure
    EXPECT_EQ(channel.readPacket(answer), GatewayOutcome::Failed);
    EXPECT_EQ(link.LastError(), "交易超时[Time:1]！");
    EXPECT_EQ(drops, 1);
}

TEST_F(Parts, returnCodesBecomeOutcomesAndVoidTheSerialsOnlyWhenTheGatewaySaysSo) {
    const Route route{"VRELKA", "FTP_A_QS", "04"};
    transactions.setRoute(route);
    auto fillPool = [&] {
        SerialAnswerRecord block{"TXID0001", "0000", "2026120800000001", "0", "0020", ""};
        ASSERT_TRUE(AddSerialBlock(serials.pool(), route, block).isOk());
    };
    std::string answer;
    struct Case {
        const char* code;
        GatewayOutcome received;  // as the answer to the request awaited
        bool voidsSerials;
    };
    for (const Case c : {Case{"0014", GatewayOutcome::Refused, false},
                         Case{"E999", GatewayOutcome::SerialsVoided, true},
                         Case{"E998", GatewayOutcome::SessionEnded, true},
                         Case{"0015", GatewayOutcome::Refused, false}}) {
        fillPool();
        peerSends(answerTo(sentRequest(), c.code));
        EXPECT_EQ(transactions.receiveResponse(answer), c.received) << c.code;
        EXPECT_EQ(serials.pool().empty(), c.voidsSerials) << c.code;
        EXPECT_EQ(losesConnection(c.received), c.voidsSerials) << c.code;
    }
    // In a transfer window "0014" asks for a new session's numbers.
    fillPool();
    peerSends(answerTo("0000000099", "0014"));
    GatewayOutcome polled = GatewayOutcome::NothingYet;
    for (int i = 0; i < 200 && polled == GatewayOutcome::NothingYet; ++i) {
        polled = transactions.pollResponse(answer, nullptr);
        if (polled == GatewayOutcome::NothingYet) std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(polled, GatewayOutcome::NewSession);
    EXPECT_TRUE(serials.pool().empty());
    EXPECT_EQ(drops, 0);  // refusals keep the connection
}

TEST_F(Parts, answersToEarlierRequestsArePassedOverAndBlocksFiledOnTheWay) {
    const Route route{"VRELKA", "FTP_SSHB", "00"};
    transactions.setRoute(Route{"VRELKA", "FTP_A_QS", "04"});
    serials.awaitBlock(route);
    SerialAnswerRecord block{"TXID0001", "0000", "2026120800000001", "0", "0020", ""};
    const std::string sequence = sentRequest();
    peerSends(answerTo("0000000077", "E999"));  // to a request nobody awaits any more
    peerSends(sealed(frame::kSerialAnswerCode, encode(block)));
    peerSends(answerTo(sequence, "0000"));
    std::string answer;
    EXPECT_EQ(transactions.receiveResponse(answer), GatewayOutcome::Ok);
    // The block went to the route that asked for it, not to the current one.
    EXPECT_FALSE(NeedsSerials(serials.pool(), route));
    EXPECT_TRUE(NeedsSerials(serials.pool(), transactions.route()));
    EXPECT_EQ(serials.awaitedBlocks(), 0u);
}

TEST_F(Parts, theLoginFailsWhenThePeerHangsUpAndIsRefusedWhenItSaysNo) {
    const OperatorCredentials credentials{"OPER0001", "pass1234", "P1", "V1"};
    OperatorSession session;
    peer.close();
    EXPECT_EQ(OperatorLogin(channel, link).run(credentials, session), LoginVerdict::Failed);
    EXPECT_EQ(link.LastError(), "网关主动关闭连接（用户名或密码不正确）");
}

TEST_F(Parts, aRefusedLoginKeepsTheGatewaysWordsAndAnAcceptedOneItsFacts) {
    const std::string challenge = "0123456789abcdef";
    const OperatorCredentials credentials{"OPER0001", "pass1234", "P1", "V1"};
    const frame::SessionKey key = computeLoginDigest("pass1234", "OPER0001", challenge).sessionKey;
    auto answerWith = [&](const char* status) {
        LoginAnswerRecord record{status, "20261208", "093000", "LC000001", "U0000001", "口令错误"};
        std::string packet = frame::makePacket(2 + encode(record).size());
        packet.replace(frame::kCodeOffset, 2, frame::kLoginCode);
        packet.replace(frame::kRecordOffset, encode(record).size(), encode(record));
        EXPECT_TRUE(frame::encryptBody(packet, key));
        return packet;
    };
    for (const char* status : {"F", "S"}) {
        peerSends(challenge);
        peerSends(answerWith(status));
        OperatorSession session;
        const LoginVerdict verdict = OperatorLogin(channel, link).run(credentials, session);
        char request[frame::kRecordOffset + frame::kRecordSize] = {};
        ASSERT_GT(peer.receiveSome(request, sizeof request), 0);  // the login request
        if (std::string(status) == "F") {
            EXPECT_EQ(verdict, LoginVerdict::Refused);
            EXPECT_EQ(link.LastError(), "口令错误");
        } else {
            EXPECT_EQ(verdict, LoginVerdict::Accepted);
            EXPECT_EQ(session.loginCode, "LC000001");
            EXPECT_EQ(session.facts.businessDate, "20261208");
            EXPECT_EQ(channel.sessionKey(), key);
        }
    }
}

}  // namespace
}  // namespace vantrel
