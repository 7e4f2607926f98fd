// Tasks of every kind edited with `vantrel-cli tasks` while `vantrel-cli serve` runs: a new
// task runs without a restart, and a deleted one is gone from the running client (a deleted
// download used to run again minutes later).

#include <gtest/gtest.h>

#include "client/app/single_instance.h"
#include "client/catalogue/table_schema.h"
#include "client/catalogue/task_catalogue.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/cli_process.h"
#include "tests/support/local_time.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ServeTasks : public TransferGatewayFixture {
  protected:
    void SetUp() override {
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            writeBytes(installation.localconfig() / spec->fileName,
                       catalogue::BuildTableBytes(*spec, localTime(2026, 1, 1)));
        }
        ASSERT_TRUE(platform::writeFileAtomically(
            installation.clientIni(), "[GateMultiple]\nGateIP1=127.0.0.1\nGatePort1=" +
                                          std::to_string(gateway.gatewayPort()) +
                                          "\nGateType=0\n[userinfo]\nOpertID=OPER01\n"));
        for (const fs::path& dir : {recv, synced, send, sent}) fs::create_directories(dir);
    }

    bool clientRunning() {
        SingleInstance probe;
        std::string error;
        return probe.acquire(runtime, error) == SingleInstance::Outcome::AlreadyRunning;
    }

    // The id of the task `description` in the tables, as `tasks add` stored it.
    std::string idOf(const std::string& description) {
        catalogue::CPlanDir dirs;
        const Context ctx = context();
        catalogue::CModule module(ctx, dirs);
        module.SetOperator("OPER01");
        module.Load<catalogue::DownloadTask>();
        module.Load<catalogue::UploadTask>();
        module.Load<catalogue::AutoSyncTask>();
        for (const auto& t : module.Tasks<catalogue::DownloadTask>())
            if (t.plandes == description) return t.planid;
        for (const auto& t : module.Tasks<catalogue::UploadTask>())
            if (t.plandes == description) return t.planid;
        for (const auto& t : module.Tasks<catalogue::AutoSyncTask>())
            if (t.plandes == description && t.plantype != 2) return t.planid;
        return {};
    }

    static bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = 40s) {
        for (auto waited = 0ms; waited < limit; waited += 50ms) {
            if (done()) return true;
            std::this_thread::sleep_for(50ms);
        }
        return done();
    }

    std::string output() { return readLocal(root.path() / "cli.out"); }

    fs::path runtime = root.path() / "run";
    fs::path recv = root.path() / "recv";
    fs::path synced = root.path() / "synced";
    fs::path send = root.path() / "send";
    fs::path sent = root.path() / "sent";
    CliProcess cli{VANTREL_CLI, root.path(), runtime, "pass1234"};
};

TEST_F(ServeTasks, tasksAddedAndDeletedWithTheCliTakeEffectInTheRunningServe) {
    // setup: a file of the business day in the mailbox, a ready file in the outbox
    const std::string quotes = putRemote("quotes.txt", 3000);
    ASSERT_TRUE(platform::setFileTime(files->root() / "FTP_A_QS" / "quotes.txt",
                                      platform::fromLocalTime(localTime(2026, 12, 8, 10)))
                    .isOk());
    std::ofstream(send / "report.txt") << "closing prices\r\n";
    std::ofstream(send / "report.txt.rdy").flush();
    const pid_t serve = cli.spawn({"serve"});
    ASSERT_TRUE(waitFor([&] { return clientRunning(); })) << output();

    // act: one task of each kind, added while serve runs
    const std::vector<std::string> window = {"--begin", "00:00", "--end", "23:59", "--yes"};
    auto add = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"tasks", "add"});
        args.insert(args.end(), window.begin(), window.end());
        return cli.run(args);
    };
    ASSERT_EQ(add({"download", "--desc", "下载", "--mailbox", "FTP_A_QS", "--file", "*.*", "--dir",
                   recv.string()}),
              0)
        << output();
    ASSERT_EQ(add({"upload", "--desc", "上传", "--mailbox", "FTP_A_QS", "--dir", send.string(),
                   "--sent-dir", sent.string()}),
              0)
        << output();
    ASSERT_EQ(cli.run({"tasks", "add", "autosync", "--desc", "同步", "--mailbox", "FTP_A_QS",
                       "--dir", synced.string(), "--yes"}),
              0)
        << output();
    const std::string ids[] = {idOf("下载"), idOf("上传"), idOf("同步")};
    for (const std::string& id : ids) ASSERT_FALSE(id.empty()) << output();

    // verify: the scheduled ones run on their own, the auto-sync one when asked
    EXPECT_TRUE(waitFor([&] { return readLocal(recv / "quotes.txt") == quotes; })) << sysLog();
    EXPECT_TRUE(waitFor([&] { return !fs::exists(send / "report.txt"); })) << sysLog();
    EXPECT_FALSE(fs::is_empty(sent));
    ASSERT_EQ(cli.run({"tasks", "run", ids[2]}), 0);
    EXPECT_TRUE(waitFor([&] { return readLocal(synced / "quotes.txt") == quotes; })) << sysLog();

    // act: each deleted once its run has ended (a running task refuses the delete), then
    // asked to run
    for (const std::string& id : ids) {
        ASSERT_TRUE(waitFor([&] { return cli.run({"tasks", "delete", id}) == 0; })) << output();
        ASSERT_EQ(cli.run({"tasks", "run", id}), 0) << output();
    }

    // verify: the running client no longer knows them
    for (const std::string& id : ids) {
        EXPECT_TRUE(waitFor([&] {
            return sysLog().find("计划[" + id + "]不存在或未在运行！") != std::string::npos;
        })) << id;
        EXPECT_TRUE(idOf(id).empty());
    }
    kill(serve, SIGTERM);
    EXPECT_EQ(CliProcess::wait(serve, 60s), 0) << output();
}

}  // namespace
}  // namespace vantrel::testing
