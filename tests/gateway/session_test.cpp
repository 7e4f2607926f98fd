// The gateway handle against the test gateway: login and fail-over, transactions, serial
// numbers, permissions and the update server's fast login.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "client/gateway/interactive_gateway.h"
#include "client/transfer/fast_ftp.h"
#include "tests/gateway/gateway_fixture.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// Answers "40" requests: the payload back, or the return code the payload names.
class EchoService final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        if (request.code != "40") return std::nullopt;
        testgateway::TransactionAnswer answer;
        if (request.payload.rfind("code:", 0) == 0) {
            answer.returnCode = request.payload.substr(5, 4);
            answer.message = "拒绝 ";
        } else {
            answer.payload = request.payload;
        }
        return answer;
    }
};

class Session : public GatewayFixture {
  protected:
    void SetUp() override {
        process.setProduct("HMRQ0001", "1.30.00");
        gateway.addService(std::make_shared<EchoService>());
        GatewayFixture::SetUp();
    }

    // A serial number the gateway hands out for the handle's route (VRELKA/FTP_A_QS/04
    // when none is set yet), by an exchange of its own.
    static std::string drawSerial(CVornFtp& handle) {
        if (handle.CurrentRoute().key().empty()) handle.SetRoute("VRELKA", "FTP_A_QS", "04");
        const Route route = handle.CurrentRoute();
        std::string serial;
        char flag = '0';
        EXPECT_EQ(
            handle.GetTransSerial(route.organisation, route.service, route.function, serial, flag),
            GatewayOutcome::Ok)
            << handle.LastError();
        return serial;
    }

    // Sends one "40" transaction with `payload` on the handle's route, with `serial` or a
    // newly drawn one.
    void sendTransaction(CVornFtp& handle, const std::string& payload, std::string serial = "") {
        if (serial.empty()) serial = drawSerial(handle);
        std::string packet;
        ASSERT_EQ(handle.BuildRequest(frame::kFileServiceCode, serial, '0',
                                      static_cast<int>(payload.size()), packet),
                  GatewayOutcome::Ok);
        packet.replace(frame::kPayloadOffset, payload.size(), payload);
        ASSERT_EQ(handle.SendPacket(packet.data(), static_cast<int>(packet.size()), true),
                  GatewayOutcome::Ok)
            << handle.LastError();
    }
};

TEST_F(Session, loginReportsDateTimeAndCodesAndLogsTheGateway) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway()) << handle->LastError();
    EXPECT_TRUE(handle->IsLoggedIn());
    EXPECT_EQ(handle->GetUserCode(), "U0000042");
    EXPECT_EQ(handle->LoginCode(), "LC000042");
    const LoginFacts facts = process.lastLogin();
    EXPECT_EQ(facts.businessDate, "20261208");
    EXPECT_EQ(facts.gatewayTime, "093015");
    EXPECT_EQ(facts.userCode, "U0000042");
    EXPECT_TRUE(handle->LoginToGateway());  // already logged in: no second login
    EXPECT_EQ(gateway.counters().logins.load(), 1);
    EXPECT_NE(sysLog().find("用户登录网关(顺序)[127.0.0.1/" +
                            std::to_string(gateway.gatewayPort()) + "]成功"),
              std::string::npos);
}

TEST_F(Session, failOverSkipsUnusableEntriesAndTriesTheRestInOrder) {
    const std::string dead = refusingPort();
    auto handle = std::make_unique<CVornFtp>(context(), process);
    handle->SetGatewayList({{"", "8888", "8021", "30"},
                            {"127.0.0.1", "", "8021", "30"},
                            {"127.0.0.1", "70000", "8021", "30"},
                            {"127.0.0.1", dead, "8021", "30"},
                            entry(gateway.gatewayPort())},
                           0, "", "OPER01", "pass1234");
    ASSERT_EQ(handle->Gateways().size(), 2u);
    ASSERT_TRUE(handle->LoginToGateway()) << handle->LastError();
    const std::string log = sysLog();
    const auto failed = log.find("用户登录网关(顺序)[127.0.0.1/" + dead +
                                 "]失败，失败原因：socket status is error with 111!");
    const auto succeeded =
        log.find("用户登录网关(顺序)[127.0.0.1/" + std::to_string(gateway.gatewayPort()) + "]成功");
    ASSERT_NE(failed, std::string::npos) << log;
    ASSERT_NE(succeeded, std::string::npos) << log;
    EXPECT_LT(failed, succeeded);
}

TEST_F(Session, listWithoutUsablePortsFailsWithoutTouchingTheNetwork) {
    auto handle = std::make_unique<CVornFtp>(context(), process);
    handle->SetGatewayList({{"127.0.0.1", "", "8021", "30"}, {"127.0.0.1", "0", "8021", "30"}}, 1,
                           "", "OPER01", "x");
    EXPECT_FALSE(handle->LoginToGateway());
    EXPECT_EQ(gateway.counters().connections.load(), 0);
}

TEST_F(Session, randomModeSpreadsLoginsOverTheGateways) {
    testgateway::TestGateway second(fixtureSettings());
    ASSERT_TRUE(second.start());
    constexpr int kLogins = 40;
    for (int i = 0; i < kLogins; ++i) {
        CVornFtp handle(context(), process);
        handle.SetGatewayList({entry(gateway.gatewayPort()), entry(second.gatewayPort())}, 1, "",
                              "OPER01", "pass1234");
        ASSERT_TRUE(handle.LoginToGateway()) << handle.LastError();
        handle.Disconnect();
    }
    // Both orders occur; the chance of 40 equal draws is 2^-39.
    EXPECT_GT(gateway.counters().logins.load(), 0);
    EXPECT_GT(second.counters().logins.load(), 0);
    EXPECT_EQ(gateway.counters().logins.load() + second.counters().logins.load(), kLogins);
    EXPECT_NE(sysLog().find("用户登录网关(随机)"), std::string::npos);
    second.stop();
}

TEST_F(Session, refusedLoginsGiveTheGatewaysReason) {
    auto wrong = makeHandle("OPER01", "wrong");
    EXPECT_FALSE(wrong->LoginToGateway());
    EXPECT_EQ(wrong->LastError(), "网关主动关闭连接（用户名或密码不正确）!");
    EXPECT_FALSE(wrong->IsConnected());

    auto unknown = makeHandle("NOBODY", "pass1234");
    EXPECT_FALSE(unknown->LoginToGateway());
    EXPECT_EQ(unknown->LastError(), "网关主动关闭连接（用户名或密码不正确）!");

    auto locked = makeHandle("LOCKED");
    EXPECT_FALSE(locked->LoginToGateway());
    EXPECT_EQ(locked->LastError(), "操作员已被锁定");
    EXPECT_FALSE(locked->IsLoggedIn());
    EXPECT_EQ(gateway.counters().refusedLogins.load(), 2);
    EXPECT_NE(sysLog().find("失败，失败原因：网关主动关闭连接（用户名或密码不正确）!"),
              std::string::npos);
}

// Regression: every scheduled run's disconnect showed the window offline.
TEST_F(Session, disconnectClearsNoticesAndOnlyTheInteractiveHandleTellsTheWindow) {
    auto worker = makeHandle();
    ASSERT_TRUE(worker->LoginToGateway());
    worker->DropIfLoggedIn();
    EXPECT_TRUE(notifier.events().empty()) << "a worker's connection is not the window's";

    InteractiveGateway interactive(context());
    CVornFtp& handle = interactive.handle();
    handle.SetGatewayList({entry(gateway.gatewayPort())}, 0, "", "OPER01", "pass1234");
    ASSERT_TRUE(handle.LoginToGateway());
    auto events = notifier.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(std::get<LoginStateChanged>(events.back()).loggedIn);
    EXPECT_EQ(interactive.process().reloginNotice.load(), 1);
    interactive.process().loggedInNotice = 1;
    handle.DropIfLoggedIn();
    EXPECT_FALSE(handle.IsLoggedIn());
    EXPECT_FALSE(handle.IsConnected());
    EXPECT_EQ(interactive.process().reloginNotice.load(), 0);
    EXPECT_EQ(interactive.process().loggedInNotice.load(), 0);
    events = notifier.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(std::get<LoginStateChanged>(events.back()).loggedIn);
    handle.DropIfLoggedIn();  // not logged in: nothing
    EXPECT_EQ(notifier.events().size(), 2u);
}

TEST_F(Session, transactionsEchoAndRefusalsMapToTheirCodes) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    std::string answer;

    // A payload larger than one cipher chunk travels in several.
    const std::string big(40000, 'x');
    sendTransaction(*handle, big);
    ASSERT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Ok) << handle->LastError();
    EXPECT_EQ(answer.substr(frame::kPayloadOffset), big);
    // The serial request took sequence number 1.
    EXPECT_EQ(answer.substr(frame::kRecordOffset + 16, 10), "0000000002");  // sequence echoed

    sendTransaction(*handle, "code:0015");
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Refused);
    EXPECT_EQ(handle->LastError(), "0015-拒绝[VRELKA-FTP_A_QS-04]");

    sendTransaction(*handle, "code:1234");
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Refused);
    EXPECT_EQ(handle->LastError(), "返回代码:1234-拒绝");
    EXPECT_TRUE(handle->IsLoggedIn());
}

TEST_F(Session, sessionLossEmptiesThePoolOfEveryRoute) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, handle->Serials()),
              GatewayOutcome::Ok);
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_SG", "03", 20, handle->Serials()),
              GatewayOutcome::Ok);
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    std::string serial;
    char flag;
    ASSERT_EQ(TakeSerial(handle->Serials(), handle->CurrentRoute(), serial, flag), 0);
    EXPECT_EQ(serial, "2026120800000001");

    for (const char* code : {"E999", "E998"}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, handle->Serials()),
                  GatewayOutcome::Ok);
        const std::string spent = drawSerial(*handle);
        gateway.faults().failNextTransaction(code);
        std::string answer;
        sendTransaction(*handle, "hello", spent);
        EXPECT_EQ(handle->ReceiveResponse(answer), std::string(code) == "E999"
                                                       ? GatewayOutcome::SerialsVoided
                                                       : GatewayOutcome::SessionEnded);
        EXPECT_EQ(handle->LastError(),
                  std::string("返回代码:") + code + "-" + testgateway::failureMessage(code));
        EXPECT_EQ(TakeSerial(handle->Serials(), Route{"VRELKA", "FTP_A_QS", "04"}, serial, flag),
                  -1);
        EXPECT_EQ(TakeSerial(handle->Serials(), Route{"VRELKA", "FTP_SG", "03"}, serial, flag), -1);
    }
}

TEST_F(Session, serialRequestAfterE999IsSentOnceMore) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    SerialPool pool;
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 3, pool), GatewayOutcome::Ok);
    gateway.faults().failNextTransaction("E999");
    const int before = gateway.counters().serialRequests.load();
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, pool), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_EQ(gateway.counters().serialRequests.load() - before, 2);
    // The old block went with the E999; the new one starts after the numbers given out.
    std::string serial;
    char flag;
    ASSERT_EQ(TakeSerial(pool, Route{"VRELKA", "FTP_A_QS", "04"}, serial, flag), 0);
    EXPECT_EQ(serial, "2026120800000004");

    gateway.faults().failNextTransaction("E998");
    EXPECT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 20, pool),
              GatewayOutcome::Refused);
    EXPECT_EQ(handle->LastError(),
              "批量申请交易序列号[VRELKA-FTP_A_QS-04]失败-[E998-会话已超时,请重新登录]!");

    EXPECT_EQ(handle->RequestTransSerials("VRELKA", "FTP_A_QS", "04", 0, pool),
              GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "批量申请交易序列号[VRELKA-FTP_A_QS-04]-申请数量[0]不合法!");
}

// The gateway's checks that every suite runs against: a number is good once, on the route
// it was handed out for, until the gateway restarts.
TEST_F(Session, theGatewayRefusesNumbersOfAnotherRouteUsedTwiceOrFromBeforeARestart) {
    // setup
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    const std::string serial = drawSerial(*handle);
    std::string answer;
    auto exchange = [&](const char* service, const char* function) {
        handle->SetRoute("VRELKA", service, function);
        sendTransaction(*handle, "payload", serial);
        return handle->ReceiveResponse(answer);
    };

    // act + verify
    EXPECT_EQ(exchange("FTP_SG", "03"), GatewayOutcome::Refused);
    EXPECT_EQ(handle->LastError(), "返回代码:0014-交易序列号已失效");
    EXPECT_EQ(exchange("FTP_A_QS", "04"), GatewayOutcome::Ok);
    EXPECT_EQ(exchange("FTP_A_QS", "04"), GatewayOutcome::Refused);
    const std::uint16_t port = gateway.gatewayPort();
    gateway.stop();
    ASSERT_TRUE(gateway.start(port));
    handle->DropIfLoggedIn();
    ASSERT_TRUE(handle->LoginToGateway());
    EXPECT_EQ(exchange("FTP_A_QS", "04"), GatewayOutcome::Refused);
    expectedViolations = {
        "[" + serial + "] on VRELKA/FTP_SG/03: handed out for VRELKA/FTP_A_QS/04",
        "[" + serial + "] on VRELKA/FTP_A_QS/04: used before",
        "[" + serial + "] on VRELKA/FTP_A_QS/04: never handed out",
    };
    EXPECT_EQ(gateway.serialViolations(), expectedViolations);
}

// Regression: a block of numbers asked for without waiting, whose answer nobody polled, was
// read by the next synchronous request of another route as its own; both routes' numbers
// then went out on the wrong route.
TEST_F(Session, aBlockAskedForWithoutWaitingIsFiledForTheRouteThatAskedForIt) {
    // setup
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "03");
    ASSERT_EQ(handle->RequestTransSerialsAsync(), GatewayOutcome::Ok);

    // act: another service's synchronous request on the same handle
    ASSERT_EQ(handle->RequestTransSerials("VRELKA", "FTP_SSHB", "00", 20, handle->Serials()),
              GatewayOutcome::Ok)
        << handle->LastError();

    // verify: each route's numbers are good on it, and only there
    for (const char* function : {"00", "03"}) {
        SCOPED_TRACE(function);
        const Route route{"VRELKA", function == std::string("00") ? "FTP_SSHB" : "FTP_A_QS",
                          function};
        handle->SetRoute(route.organisation, route.service, route.function);
        std::string serial;
        char flag;
        ASSERT_EQ(TakeSerial(handle->Serials(), route, serial, flag), 0);
        sendTransaction(*handle, "payload", serial);
        std::string answer;
        EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Ok) << handle->LastError();
    }
}

// An answer to a request nobody reads any more (a transfer that ended with requests in
// flight) is not taken for the answer awaited.
TEST_F(Session, anAnswerNobodyAwaitsIsPassedOver) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    const std::string first = drawSerial(*handle);
    const std::string second = drawSerial(*handle);
    sendTransaction(*handle, "left behind", first);
    sendTransaction(*handle, "awaited", second);
    std::string answer;
    ASSERT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Ok) << handle->LastError();
    EXPECT_EQ(answer.substr(frame::kPayloadOffset), "awaited");
    EXPECT_EQ(answer.substr(frame::kRecordOffset, 16), second);
}

TEST_F(Session, getTransSerialTakesOneNumberPerExchange) {
    auto handle = makeHandle();
    std::string serial;
    char flag;
    EXPECT_EQ(handle->GetTransSerial("VRELKA", "FTP_A_QS", "01", serial, flag),
              GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "申请交易序列号[VRELKA-FTP_A_QS-01]-系统未登录!");
    ASSERT_TRUE(handle->LoginToGateway());
    ASSERT_EQ(handle->GetTransSerial("VRELKA", "FTP_A_QS", "01", serial, flag), GatewayOutcome::Ok);
    ASSERT_EQ(handle->GetTransSerial("VRELKA", "FTP_A_QS", "01", serial, flag), GatewayOutcome::Ok);
    EXPECT_EQ(serial, "2026120800000002");
    EXPECT_EQ(flag, '0');
    EXPECT_EQ(gateway.counters().serialRequests.load(), 2);
}

// Records the slots an error answer frees.
class RecordingWindow final : public InFlightWindow {
  public:
    void releaseSlot(std::string_view serial) override { released.emplace_back(serial); }
    std::vector<std::string> released;
};

// Polls until something other than "nothing yet" arrives, for at most ~5 s.
GatewayOutcome pollOnce(CVornFtp& handle, std::string& answer, InFlightWindow* window) {
    for (int i = 0; i < 500; ++i) {
        const GatewayOutcome got = handle.PollResponse(answer, window);
        if (got != GatewayOutcome::NothingYet) return got;
        std::this_thread::sleep_for(10ms);
    }
    return GatewayOutcome::NothingYet;
}

TEST_F(Session, pollingDeliversSerialBlocksAndFreesTheSlotOfAnErrorAnswer) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    const std::string first = drawSerial(*handle);
    const std::string second = drawSerial(*handle);
    std::string answer;
    RecordingWindow window;
    EXPECT_EQ(handle->PollResponse(answer, &window),
              GatewayOutcome::NothingYet);  // nothing sent, nothing there

    ASSERT_EQ(handle->RequestTransSerialsAsync(), GatewayOutcome::Ok);
    sendTransaction(*handle, "payload", first);
    EXPECT_EQ(pollOnce(*handle, answer, &window), GatewayOutcome::SerialBlockFiled);
    EXPECT_FALSE(NeedsSerials(handle->Serials(), handle->CurrentRoute()));
    EXPECT_EQ(pollOnce(*handle, answer, &window), GatewayOutcome::Ok);
    EXPECT_TRUE(window.released.empty());

    gateway.faults().failNextTransaction("0014");
    sendTransaction(*handle, "payload", second);
    EXPECT_EQ(pollOnce(*handle, answer, &window), GatewayOutcome::NewSession);
    EXPECT_EQ(window.released, std::vector<std::string>{second});
    EXPECT_TRUE(handle->Serials().empty());

    gateway.faults().failNextTransaction("0014");
    ASSERT_EQ(handle->RequestTransSerialsAsync(), GatewayOutcome::Ok);
    EXPECT_EQ(pollOnce(*handle, answer, &window), GatewayOutcome::NewSession);
    EXPECT_EQ(handle->LastError(),
              "批量申请交易序列号[VRELKA-FTP_A_QS-04]失败-[0014-交易序列号已失效]!");
}

TEST_F(Session, peerCloseWhileWaitingGivesMinusThree) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    const std::string serial = drawSerial(*handle);
    gateway.faults().dropAfterPackets = 2;  // the serial request was the first
    sendTransaction(*handle, "payload", serial);
    std::string answer;
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::PeerClosed);
    EXPECT_EQ(handle->LastError(), "接收交易应答包头失败[网关主动关闭连接!]");
    EXPECT_FALSE(handle->IsLoggedIn());
}

TEST_F(Session, permissionsGrantByKindAndWildcard) {
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    EXPECT_TRUE(handle->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_TRUE(handle->CheckPermission("ftp_a_qs", "04", "vrelka"));  // "**": every function
    EXPECT_TRUE(handle->CheckPermission("FTP_SG", "00", "VRELKA"));    // kind "c"
    EXPECT_FALSE(handle->CheckPermission("FTP_SG", "03", "VRELKA"));
    EXPECT_TRUE(handle->CheckPermission("FTP_SG", "", "VRELKA"));  // no function: org and service
    EXPECT_FALSE(handle->CheckPermission("FTP_B_QS", "00", "VRELKA"));  // kind "X" grants nothing
    EXPECT_FALSE(handle->CheckPermission("FTP_A_QS", "00", "OTHER"));
    EXPECT_EQ(handle->Permissions().entries().size(), 3u);
    EXPECT_EQ(gateway.counters().permissionQueries.load(), 1);  // loaded once per login

    // The table is the connection's: the next connection asks again.
    handle->DropIfLoggedIn();
    EXPECT_FALSE(handle->PermissionsLoaded());
    EXPECT_TRUE(handle->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_EQ(gateway.counters().permissionQueries.load(), 2);
}

TEST_F(Session, emptyPermissionListIsAskedForAgain) {
    auto handle = makeHandle("NOPERM");
    ASSERT_TRUE(handle->LoginToGateway());
    EXPECT_FALSE(handle->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_FALSE(handle->PermissionsLoaded());
    EXPECT_FALSE(handle->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_EQ(gateway.counters().permissionQueries.load(), 2);
}

TEST_F(Session, permissionLoadLogsInFirstAndLogsAFailedLogin) {
    auto handle = makeHandle("OPER01", "wrong");
    EXPECT_FALSE(handle->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_NE(sysLog().find("通用句柄登录失败,失败原因:网关主动关闭连接（用户名或密码不正确）!!"),
              std::string::npos);
    auto good = makeHandle();
    EXPECT_TRUE(good->CheckPermission("FTP_A_QS", "00", "VRELKA"));
    EXPECT_TRUE(good->IsLoggedIn());
}

TEST_F(Session, fastLoginReturnsTheValuesAskedFor) {
    CFastFtp ftp;
    ftp.init({{"127.0.0.1", std::to_string(gateway.updatePort())}}, {}, 5);
    std::vector<FastLoginValue> values;
    ASSERT_EQ(ftp.login({"moduleversion", "packagename", "unknown"}, "HMRQ0001", "1.30.00", values),
              2)
        << ftp.status();
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "moduleversion");
    EXPECT_EQ(values[0].value, "1.30.01");
    EXPECT_EQ(values[1].value, "v1.30.01.zip");

    CFastFtp other;
    other.init({{"127.0.0.1", std::to_string(gateway.updatePort())}}, {}, 5);
    EXPECT_EQ(other.login({"moduleversion"}, "OTHER001", "1.30.00", values), -1);
    EXPECT_EQ(other.status(), "登录失败 原因:产品代码不正确");
}

TEST_F(Session, stopDuringAnAnswerWaitGivesUpWithinAboutASecond) {
    platform::Event stop;
    process.setStopQuery(stopQueryFor(stop));
    auto handle = makeHandle();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    const std::string serial = drawSerial(*handle);
    gateway.faults().answerDelayMs = 4000;
    sendTransaction(*handle, "payload", serial);
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop.set();
    });
    std::string answer;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::ShuttingDown);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    stopper.join();
    gateway.faults().answerDelayMs = 0;
}

}  // namespace
}  // namespace vantrel
