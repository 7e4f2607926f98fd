#pragma once
// vantrel-cli serve in its own process against the loopback gateway: a temporary root with
// the shipped table templates, Client.ini naming the gateway, and one download task of
// the mailbox FTP_A_QS into recv/.

#include <gtest/gtest.h>

#include <random>

#include "client/app/single_instance.h"
#include "client/catalogue/table_schema.h"
#include "client/catalogue/task_catalogue.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/cli_process.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The bytes the client asked for in download data requests.
class RequestedBytes final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code == "40" && trimmed(request.record.function) == "04" && body && body->c > 0)
            bytes += body->c;
        return std::nullopt;
    }
    std::atomic<std::int64_t> bytes{0};
};

class CliServe : public TransferGatewayFixture {
  protected:
    void SetUp() override {
        gateway.addService(requested);
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
        fs::create_directories(runtime);
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            platform::LocalTime day;
            day.year = 2026;
            writeBytes(installation.localconfig() / spec->fileName,
                       catalogue::BuildTableBytes(*spec, day));
        }
        ASSERT_TRUE(platform::writeFileAtomically(
            installation.clientIni(), "[GateMultiple]\nGateIP1=127.0.0.1\nGatePort1=" +
                                          std::to_string(gateway.gatewayPort()) +
                                          "\nGateType=0\n[userinfo]\nOpertID=OPER01\n"));
        fs::create_directories(recv);
        // The task row, as `tasks add` writes it.
        catalogue::CPlanDir dirs;
        const Context ctx = context();
        catalogue::CModule module(ctx, dirs);
        module.SetOperator("OPER01");
        catalogue::DownloadTask t;
        t.planid = taskId;
        t.plandes = "每日";
        t.plantype = 1;
        t.mailname = "FTP_A_QS";
        t.filename = "*.*";
        t.recvpath = recv.string();
        t.hastrans = 1;
        t.begindate = "2026-01-01";
        t.begintime = "00:00";
        t.endtime = "23:59";
        t.curweek = "1111111";
        t.planstate = 1;
        t.right = "OPER01";
        std::string message;
        ASSERT_EQ(module.Add<catalogue::DownloadTask>(t, message), 1) << message;
    }

    bool clientRunning() {
        SingleInstance probe;
        std::string error;
        return probe.acquire(runtime, error) == SingleInstance::Outcome::AlreadyRunning;
    }

    // Starts serve and hands it the task once it holds the single-instance lock.
    pid_t serveAndRunTheTask() {
        const pid_t pid = cli.spawn({"serve"});
        for (int i = 0; i < 400 && !clientRunning(); ++i) std::this_thread::sleep_for(25ms);
        EXPECT_EQ(cli.run({"tasks", "run", taskId}), 0);
        return pid;
    }

    std::string output() { return readLocal(root.path() / "cli.out"); }

    // An upload task of `send` into `sent`, as `tasks add` writes it.
    void addUploadTask(const std::string& id, const fs::path& send, const fs::path& sent) {
        catalogue::CPlanDir dirs;
        const Context ctx = context();
        catalogue::CModule module(ctx, dirs);
        module.SetOperator("OPER01");
        catalogue::UploadTask t;
        t.planid = id;
        t.plandes = "上传";
        t.opertype = "1";
        t.mailname = "FTP_A_QS";
        t.loadtype = 1;
        t.hastrans = 1;
        t.begindate = "2026-01-01";
        t.begintime = "00:00";
        t.endtime = "23:59";
        t.sendpath = send.string();
        t.sentpath = sent.string();
        t.curweek = "1111111";
        t.tmpweek = "1111111";
        t.weektype = 1;
        t.timespace = 10;
        t.planstate = 1;
        t.right = "OPER01";
        std::string message;
        ASSERT_EQ(module.Add<catalogue::UploadTask>(t, message), 1) << message;
    }

    // Every task log of the task, whatever day serve wrote it on.
    std::string taskLogs(const std::string& id) {
        std::string text;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(installation.log(), ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(id + "-", 0) == 0 && entry.path().extension() == ".log")
                text += platform::gbkToUtf8Lossy(readLocal(entry.path()));
        }
        return text;
    }

    // Waits (at most 60 s) until the task log holds `line`.
    bool awaitLogLine(const std::string& id, const std::string& line) {
        for (int i = 0; i < 2400; ++i) {
            if (taskLogs(id).find(line) != std::string::npos) return true;
            std::this_thread::sleep_for(25ms);
        }
        return false;
    }

    // Stops serve in order.
    void stopServe(pid_t serve) {
        kill(serve, SIGTERM);
        EXPECT_EQ(CliProcess::wait(serve, 60s), 0) << output();
    }

    // The files below `dir` whose names end in one of the transfer's own suffixes.
    static std::vector<std::string> leftovers(const fs::path& dir) {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const std::string suffix = entry.path().extension().string();
            if (suffix == ".tmp" || suffix == ".~block" || suffix == ".~unzip" || suffix == ".rdy")
                found.push_back(entry.path().lexically_relative(dir).string());
        }
        return found;
    }

    const std::string taskId = "20261208090000-00042";
    fs::path runtime = root.path() / "run";
    fs::path recv = root.path() / "recv";
    CliProcess cli{VANTREL_CLI, root.path(), runtime, "pass1234"};
    std::shared_ptr<RequestedBytes> requested = std::make_shared<RequestedBytes>();
};

}  // namespace vantrel::testing
