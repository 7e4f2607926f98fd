// The socket layer on loopback: connect time-outs counted in idle seconds, the shutdown
// check, and the waits.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <thread>
#include <vector>

#include "client/gateway/socket_connect.h"
#include "platform/event.h"
#include "platform/tcp_socket.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// A listener that never accepts, with its backlog filled, so further connects hang.
class DeafListener {
  public:
    DeafListener() {
        EXPECT_EQ(listener_.listenOn(htonl(INADDR_LOOPBACK), 0, 0), 0);
        const auto ip = platform::parseIpv4("127.0.0.1");
        for (int i = 0; i < 8; ++i) {
            platform::TcpSocket s;
            s.open();
            s.setNonBlocking(true);
            s.startConnect(*ip, listener_.localPort());
            fillers_.push_back(std::move(s));
        }
        std::this_thread::sleep_for(100ms);
    }
    int port() const { return listener_.localPort(); }

  private:
    platform::TcpSocket listener_;
    std::vector<platform::TcpSocket> fillers_;
};

TEST(SocketConnect, connectToAPortThatAcceptsNothingTimesOutInWholeSeconds) {
    DeafListener deaf;
    CSocketConnect socket;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.Connect("127.0.0.1", deaf.port(), 2), GatewayOutcome::Failed);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(socket.LastError(), "select() timeout in 2 seconds!");
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_GE(took, 1900ms);
}

TEST(SocketConnect, stopDuringAConnectEndsItAsShuttingDown) {
    DeafListener deaf;
    platform::Event stop;
    CSocketConnect socket;
    socket.SetStopQuery(stopQueryFor(stop));
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop.set();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.Connect("127.0.0.1", deaf.port(), 30), GatewayOutcome::ShuttingDown);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(socket.LastError(), "VORN系统退出");
    EXPECT_FALSE(socket.IsConnected());
    stopper.join();
}

TEST(SocketConnect, addressesAreDottedIpv4Only) {
    CSocketConnect socket;
    EXPECT_EQ(socket.Connect("localhost", 8888, 1), GatewayOutcome::Failed);
    EXPECT_EQ(socket.LastError(),
              "连接网关[ip:localhost,port:8888]失败,ErrNo:99!");  // EADDRNOTAVAIL
    CSocketConnect fast(kFastLinkWording);
    EXPECT_EQ(fast.Connect("gateway.example", 8021, 1), GatewayOutcome::Failed);
    EXPECT_EQ(fast.LastError(), "connect[ip:gateway.example,port:8021]failed,ErrNo:99!");
}

TEST(SocketConnect, timeOutZeroReturnsOnceTheConnectIsUnderWay) {
    DeafListener deaf;
    CSocketConnect socket;
    EXPECT_EQ(socket.Connect("127.0.0.1", deaf.port(), 0), GatewayOutcome::Ok);
    EXPECT_TRUE(socket.IsConnected());
}

class ConnectedPair : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(listener.listenOn(htonl(INADDR_LOOPBACK), 0, 4), 0);
        ASSERT_EQ(client.Connect("127.0.0.1", listener.localPort(), 5), GatewayOutcome::Ok)
            << client.LastError();
        int err = 0;
        peer = listener.accept(err);
        ASSERT_TRUE(peer.isOpen());
    }
    platform::TcpSocket listener;
    CSocketConnect client;
    platform::TcpSocket peer;
};

TEST_F(ConnectedPair, waitsReportNothingYetTimeOutAndPeerClose) {
    EXPECT_EQ(client.WaitForData(2, false), GatewayOutcome::NothingYet);
    EXPECT_EQ(client.WaitForData(1, true), GatewayOutcome::TimedOut);
    EXPECT_EQ(client.LastError(), "接收数据超时!");
    EXPECT_EQ(client.SetTimeOut(0), GatewayOutcome::TimedOut);

    ASSERT_EQ(peer.sendSome("abc", 3), 3);
    EXPECT_EQ(client.WaitForData(1, true), GatewayOutcome::Ok);
    char buffer[8] = {};
    const platform::Clock& clock = platform::RealClock::instance();
    EXPECT_EQ(client.RecvDataUntil(buffer, 3, clock.tick() + std::chrono::seconds(5), clock),
              GatewayOutcome::Ok);
    EXPECT_STREQ(buffer, "abc");

    peer.close();
    EXPECT_EQ(client.RecvDataUntil(buffer, 4, clock.tick() + std::chrono::seconds(5), clock),
              GatewayOutcome::PeerClosed);
    EXPECT_EQ(client.LastError(), "网关主动关闭连接!");
}

TEST_F(ConnectedPair, sendAllMovesEveryByteAndRefusesBadArguments) {
    std::string big(1 << 20, 'q');
    std::thread reader([&] {
        std::string got;
        char buf[65536];
        while (got.size() < big.size()) {
            long n = peer.receiveSome(buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        EXPECT_EQ(got, big);
    });
    EXPECT_EQ(client.SendData(big.data(), static_cast<int>(big.size())), GatewayOutcome::Ok);
    reader.join();
    EXPECT_EQ(client.SendData(nullptr, 3), GatewayOutcome::BadArguments);
    EXPECT_EQ(client.SendData("x", 0), GatewayOutcome::BadArguments);
    char c;
    const platform::Clock& clock = platform::RealClock::instance();
    EXPECT_EQ(client.RecvDataUntil(&c, -1, clock.tick() + std::chrono::seconds(5), clock),
              GatewayOutcome::BadArguments);
    client.Close();
    EXPECT_EQ(client.SendData("x", 1), GatewayOutcome::BadArguments);
}

// The fast-transfer client's link: the same loops, its own words.
TEST(FastLink, receivesAndSendsInItsOwnWords) {
    platform::TcpSocket listener;
    ASSERT_EQ(listener.listenOn(htonl(INADDR_LOOPBACK), 0, 4), 0);
    CSocketConnect fast(kFastLinkWording);
    ASSERT_EQ(fast.Connect("127.0.0.1", listener.localPort(), 5), GatewayOutcome::Ok)
        << fast.LastError();
    int err = 0;
    platform::TcpSocket peer = listener.accept(err);
    ASSERT_EQ(peer.sendSome("hello", 5), 5);
    const platform::Clock& clock = platform::RealClock::instance();
    char buffer[5];
    EXPECT_EQ(fast.RecvDataUntil(buffer, 5, clock.tick() + 5s, clock), GatewayOutcome::Ok);
    EXPECT_EQ(fast.SendData("hi", 2), GatewayOutcome::Ok);
    ASSERT_EQ(peer.receiveSome(buffer, 2), 2);  // nothing unread, so the close is orderly
    peer.close();
    EXPECT_EQ(fast.RecvDataUntil(buffer, 5, clock.tick() + 5s, clock), GatewayOutcome::PeerClosed);
    EXPECT_EQ(fast.LastError(), "recv()-0");
    EXPECT_EQ(fast.SendData(nullptr, 1), GatewayOutcome::BadArguments);
}

}  // namespace
}  // namespace vantrel
