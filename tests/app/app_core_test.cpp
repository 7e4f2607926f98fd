// The start-up and exit sequence with a recording fake of every step.

#include "client/app/app_core.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

#include "client/base/logs.h"
#include "platform/event.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text_codec.h"
#include "platform/thread_id.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

using Journal = std::vector<std::string>;

class FakeWindow final : public MainWindow {
  public:
    explicit FakeWindow(Journal& j) : journal(j) {}
    bool create() override {
        journal.push_back("window");
        return createOk;
    }
    void applyPermissions() override { journal.push_back("permissions"); }
    void hideProgress() override { journal.push_back("hide progress"); }
    void destroyProgress() override { journal.push_back("destroy progress"); }
    bool hasTimers() const override { return timers; }
    Journal& journal;
    bool createOk = true;
    bool timers = true;
};

class FakeLogin final : public LoginStep {
  public:
    explicit FakeLogin(Journal& j) : journal(j) {}
    LoginOutcome run(const LoginRequest& r) override {
        journal.push_back("login");
        request = r;
        if (duringLogin) duringLogin();
        return outcome;
    }
    Journal& journal;
    LoginOutcome outcome = LoginOutcome::LoggedIn;
    LoginRequest request;
    std::function<void()> duringLogin;
};

class FakeSession final : public InteractiveSession {
  public:
    explicit FakeSession(Journal& j) : journal(j) {}
    void disconnect() override {
        journal.push_back("disconnect");
        if (onDisconnect) onDisconnect();
    }
    Journal& journal;
    std::function<void()> onDisconnect;
};

class FakeStore final : public BlockStateListStore {
  public:
    explicit FakeStore(Journal& j) : journal(j) {}
    Status open(const std::filesystem::path& file) override {
        journal.push_back("store " + file.filename().string());
        opened = file;
        if (beforeAnswer) beforeAnswer();
        return answer;
    }
    Journal& journal;
    Status answer;
    std::filesystem::path opened;
    std::function<void()> beforeAnswer;
};

class FakeThreads final : public BackgroundThreads {
  public:
    explicit FakeThreads(Journal& j) : journal(j) {}
    void start(int workers) override { journal.push_back("threads " + std::to_string(workers)); }
    Journal& journal;
};

class FakeFlags final : public FlagFilesStartup {
  public:
    explicit FakeFlags(Journal& j) : journal(j) {}
    void initialiseToday() override { journal.push_back("flag files"); }
    Journal& journal;
};

class FakeTimers final : public PeriodicTimers {
  public:
    explicit FakeTimers(Journal& j) : journal(j) {}
    void start() override { journal.push_back("timers"); }
    Journal& journal;
};

class FakePrompt final : public UserPrompt {
  public:
    explicit FakePrompt(Journal& j) : journal(j) {}
    bool askYesNo(const std::string&, const std::string& text, Icon) override {
        journal.push_back("ask " + text);
        return false;
    }
    void show(const std::string& caption, const std::string& text, Icon icon) override {
        EXPECT_EQ(caption, kAppCaption);
        journal.push_back("box " + text);
        icons.push_back(icon);
    }
    Journal& journal;
    std::vector<Icon> icons;
};

class AppCoreTest : public ::testing::Test {
  protected:
    AppCoreTest()
        : installation_(dir_.path() / "root", dir_.path() / "run"),
          clock_(platform::fromLocalTime({2026, 12, 8, 10, 0, 0, 0, 2})),
          logs_(installation_, clock_, notifier_),
          window_(journal_),
          login_(journal_),
          session_(journal_),
          store_(journal_),
          threads_(journal_),
          flags_(journal_),
          timers_(journal_),
          prompt_(journal_) {
        std::filesystem::create_directories(installation_.localconfig());
        context_.installation = installation_;
        context_.clock = &clock_;
        context_.notifier = &notifier_;
        context_.prompt = &prompt_;
        context_.logs = &logs_;
    }

    StartupParts allParts() {
        StartupParts parts;
        parts.window = &window_;
        parts.login = &login_;
        parts.session = &session_;
        parts.blockStates = &store_;
        parts.threads = &threads_;
        parts.flagFiles = &flags_;
        parts.timers = &timers_;
        parts.freeSpace = [this](const std::filesystem::path& p) -> std::optional<std::uint64_t> {
            EXPECT_EQ(p, installation_.bin());
            journal_.push_back("disk check");
            return freeBytes_;
        };
        return parts;
    }

    std::string sysLog() {
        auto text = platform::readFile(logs_.sysLogPath(clock_.localNow()));
        return text ? platform::gbkToUtf8Lossy(text.value()) : std::string();
    }
    static bool has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    testing::TempDir dir_;
    Installation installation_;
    platform::FakeClock clock_;
    RecordingNotifier notifier_;
    Logs logs_;
    Journal journal_;
    FakeWindow window_;
    FakeLogin login_;
    FakeSession session_;
    FakeStore store_;
    FakeThreads threads_;
    FakeFlags flags_;
    FakeTimers timers_;
    FakePrompt prompt_;
    Context context_;
    std::optional<std::uint64_t> freeBytes_ = std::uint64_t{50} << 30;
};

TEST_F(AppCoreTest, startUpRunsEveryStepInOrderAndExitUndoesIt) {
    // setup
    std::ofstream(installation_.clientIni())
        << "[network]\nTransCounts=4\nGateIP=10.0.0.1\nGatePort=9000\n"
           "[userinfo]\nOpertID=op01\n[system]\npdtid=PRD00001\n";
    // The worker count is read again after login.
    login_.duringLogin = [this] {
        ASSERT_TRUE(platform::IniFile(installation_.clientIni())
                        .setInt("network", "TransCounts", 3)
                        .isOk());
    };
    bool directoriesBeforeStore = false;
    store_.beforeAnswer = [&] {
        directoriesBeforeStore = std::filesystem::is_directory(installation_.root() / "send") &&
                                 std::filesystem::is_directory(installation_.root() / "sent") &&
                                 std::filesystem::is_directory(installation_.root() / "recv");
    };
    bool exitLoggedBeforeDisconnect = false;
    session_.onDisconnect = [&] { exitLoggedBeforeDisconnect = has(sysLog(), "系统退出！"); };
    AppCore core(context_, allParts());

    // act
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    const std::string afterStart = sysLog();
    core.exit();

    // verify
    EXPECT_EQ(journal_, (Journal{"window", "disk check", "login", "permissions", "hide progress",
                                 "store filememlist.data", "box 系统登录成功!", "threads 3",
                                 "flag files", "timers", "disconnect", "destroy progress"}));
    EXPECT_EQ(store_.opened, installation_.data() / "filememlist.data");
    EXPECT_TRUE(directoriesBeforeStore);
    EXPECT_TRUE(has(afterStart, "系统启动！"));
    EXPECT_FALSE(has(afterStart, "系统退出！"));
    EXPECT_TRUE(exitLoggedBeforeDisconnect);
    EXPECT_TRUE(has(sysLog(), "系统退出！"));

    // The login was given the settings read before it.
    EXPECT_EQ(login_.request.operatorCode, "op01");
    EXPECT_EQ(login_.request.productId, "PRD00001");
    EXPECT_EQ(login_.request.clientVersion, "1.30.00");
    ASSERT_EQ(login_.request.gateways.size(), 5u);
    EXPECT_EQ(login_.request.gateways[0], (GatewayEntry{"10.0.0.1", "9000", "8021", "30"}));
    EXPECT_EQ(core.session().flagClientVersion, "1.30.00");
    EXPECT_EQ(core.session().flagId, "FLAG0001");
    // Thread id + seconds x 1000 + milliseconds (wrapping in 32 bits).
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch())
            .count();
    EXPECT_EQ(core.session().randomSeed,
              platform::currentThreadId() + static_cast<std::uint32_t>(ms));
    for (const StepReport& step : core.steps())
        EXPECT_EQ(step.outcome, StepOutcome::Done) << step.name;

    // The single-instance lock was released last.
    std::thread([&] {
        SingleInstance next;
        std::string error;
        EXPECT_EQ(next.acquire(installation_.runtimeDirectory(), error),
                  SingleInstance::Outcome::Acquired);
    }).join();
}

TEST_F(AppCoreTest, aCancelledLoginEndsStartUpButExitStillLogs) {
    login_.outcome = LoginOutcome::NotLoggedIn;
    AppCore core(context_, allParts());
    ASSERT_EQ(core.start(), AppCore::Start::Failed);
    core.exit();
    EXPECT_EQ(journal_,
              (Journal{"window", "disk check", "login", "disconnect", "destroy progress"}));
    EXPECT_FALSE(has(sysLog(), "系统启动！"));
    EXPECT_TRUE(has(sysLog(), "系统退出！"));
    EXPECT_FALSE(std::filesystem::exists(installation_.root() / "send"));
}

TEST_F(AppCoreTest, aWindowThatCannotBeCreatedEndsStartUpWithoutAMessage) {
    window_.createOk = false;
    AppCore core(context_, allParts());
    EXPECT_EQ(core.start(), AppCore::Start::Failed);
    EXPECT_EQ(journal_, (Journal{"window"}));
}

TEST_F(AppCoreTest, tooLittleDiskSpaceWarnsAndStartUpGoesOn) {
    std::ofstream(installation_.clientIni()) << "[system]\nDiskSpace=2000\n";
    freeBytes_ = std::uint64_t{1999} << 20;
    AppCore core(context_, allParts());
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    const std::string warning =
        "box 您的磁盘[" + installation_.bin().string() +
        "]空间:1999 M，已经少于系统所需最小值:2000 M，为了能够正常的进行业务操作，"
        "请您先进行磁盘清理!";
    ASSERT_GE(journal_.size(), 4u);
    EXPECT_EQ(journal_[1], "disk check");
    EXPECT_EQ(journal_[2], warning);
    EXPECT_EQ(journal_[3], "login");
    EXPECT_EQ(prompt_.icons.front(), UserPrompt::Icon::Warning);
    core.exit();
}

TEST_F(AppCoreTest, aFailingBlockStateStoreIsShownLoggedAndEndsStartUp) {
    store_.answer = Status::error(ErrorKind::NoSpace, "磁盘已满");
    AppCore core(context_, allParts());
    ASSERT_EQ(core.start(), AppCore::Start::Failed);
    const std::string text = "初始化内存映射文件filememlist.data失败,原因:磁盘已满";
    EXPECT_EQ(journal_, (Journal{"window", "disk check", "login", "permissions", "hide progress",
                                 "store filememlist.data", "box " + text}));
    EXPECT_EQ(prompt_.icons.back(), UserPrompt::Icon::Error);
    EXPECT_TRUE(has(sysLog(), "]-" + text + " \r\n"));
    EXPECT_FALSE(has(sysLog(), "系统启动！"));
    core.exit();
    EXPECT_TRUE(has(sysLog(), "系统退出！"));
}

TEST_F(AppCoreTest, hooksNotInstalledAreSkippedAndReportedAsSuch) {
    StartupParts parts = allParts();
    parts.session = nullptr;
    parts.blockStates = nullptr;
    parts.threads = nullptr;
    parts.flagFiles = nullptr;
    parts.timers = nullptr;
    AppCore core(context_, parts);
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    core.exit();
    EXPECT_EQ(journal_, (Journal{"window", "disk check", "login", "permissions", "hide progress",
                                 "box 系统登录成功!", "destroy progress"}));
    std::vector<std::string> skipped;
    for (const StepReport& step : core.steps()) {
        if (step.outcome == StepOutcome::NotInstalled) skipped.push_back(step.name);
    }
    EXPECT_EQ(skipped, (std::vector<std::string>{"block-state list store", "background threads",
                                                 "flag files", "timers", "interactive handle"}));
}

// Regression: a headless run reported its window timers as missing from the build.
TEST_F(AppCoreTest, aFrontEndWithoutAWindowHasNoTimersMissing) {
    StartupParts parts = allParts();
    parts.timers = nullptr;
    window_.timers = false;
    AppCore core(context_, parts);
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    core.exit();
    for (const StepReport& step : core.steps()) {
        EXPECT_NE(step.outcome, StepOutcome::NotInstalled) << step.name;
        if (step.name == "timers") {
            EXPECT_EQ(step.outcome, StepOutcome::NotApplicable);
        }
    }
}

TEST_F(AppCoreTest, anOfflineStartRunsOnWithoutClaimingALogin) {
    login_.outcome = LoginOutcome::Offline;
    AppCore core(context_, allParts());
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    EXPECT_EQ(journal_, (Journal{"window", "disk check", "login", "permissions", "hide progress",
                                 "store filememlist.data", "threads 5", "flag files", "timers"}));
    EXPECT_EQ(core.steps()[4].name, "login");
    EXPECT_EQ(core.steps()[4].outcome, StepOutcome::NotInstalled);
    core.exit();
}

TEST_F(AppCoreTest, existingAndNestedDirectoriesAreBothFine) {
    std::ofstream(installation_.clientIni()) << "[default]\nsendpath=deep/er/send\n";
    std::filesystem::create_directories(installation_.root() / "recv");
    AppCore core(context_, allParts());
    ASSERT_EQ(core.start(), AppCore::Start::Started);
    EXPECT_TRUE(std::filesystem::is_directory(installation_.root() / "deep" / "er" / "send"));
    EXPECT_TRUE(std::filesystem::is_directory(installation_.root() / "sent"));
    for (const StepReport& step : core.steps())
        EXPECT_EQ(step.outcome, StepOutcome::Done) << step.name;
    core.exit();
}

TEST_F(AppCoreTest, aSecondInstanceStopsAtOnceWithoutTouchingAnything) {
    // Another client holds the lock (a thread here stands for the other process).
    platform::Event held, release;
    std::thread other([&] {
        SingleInstance instance;
        std::string error;
        EXPECT_EQ(instance.acquire(installation_.runtimeDirectory(), error),
                  SingleInstance::Outcome::Acquired);
        held.set();
        release.wait();
    });
    held.wait();
    AppCore core(context_, allParts());
    EXPECT_EQ(core.start(), AppCore::Start::SecondInstance);
    core.exit();
    release.set();
    other.join();
    EXPECT_EQ(journal_, (Journal{"box 您已经运行了一个程序，不能再运行此程序!"}));
    EXPECT_FALSE(std::filesystem::exists(logs_.sysLogPath(clock_.localNow())));
}

}  // namespace
}  // namespace vantrel
