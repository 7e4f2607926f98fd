#pragma once
// What the window tests share: one QApplication on the offscreen platform, a bounded wait
// that keeps the event loop turning, a prompt whose answers the test scripts, and small
// hand-written stand-ins for the session, the settings and the file services.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "client/base/user_prompt.h"
#include "client/transfer/block_transfer.h"
#include "client/ui/core_ports.h"
#include "client/ui/ports.h"

namespace vantrel::ui::testing {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "vantrel_ui_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A test base whose QApplication exists before any member widget is made.
class QtTest : public ::testing::Test {
  protected:
    QtTest() { application(); }
};

// Turns the event loop until `done` holds or 10 s have passed; the final answer of `done`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Message boxes as records; questions answered from a script (No when it runs dry).
class ScriptedPrompt final : public UserPrompt {
  public:
    struct Message {
        std::string caption;
        std::string text;
        Icon icon;
        bool question;
    };
    bool askYesNo(const std::string& caption, const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({caption, text, icon, true});
        if (answers_.empty()) return false;
        const bool yes = answers_.front();
        answers_.pop_front();
        return yes;
    }
    void show(const std::string& caption, const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({caption, text, icon, false});
    }
    void answer(bool yes) {
        std::lock_guard lock(mutex_);
        answers_.push_back(yes);
    }
    std::vector<Message> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& m : messages()) out.push_back(m.text);
        return out;
    }
    std::string last() const {
        const auto all = texts();
        return all.empty() ? std::string() : all.back();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::deque<bool> answers_;
};

// A session whose login result, permissions and threads the test controls.
class FakeSession final : public GatewaySession {
  public:
    bool isLoggedIn() override { return loggedIn; }
    void dropIfLoggedIn() override { loggedIn = false; }
    void setGatewayList(const std::vector<GatewayEntry>& list, GatewayOrder order,
                        const std::string& op, const std::string& password) override {
        std::lock_guard lock(mutex);
        gateways = list;
        this->order = order;
        operatorCode_ = op;
        this->password = password;
        ++setCalls;
    }
    bool loginToGateway() override {
        loginThread = std::this_thread::get_id();
        ++loginCalls;
        if (holdLogin) {
            for (int i = 0; i < 1000 && holdLogin; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        loggedIn = loginSucceeds.load();
        return loggedIn;
    }
    std::string lastError() override { return "网关拒绝连接"; }
    std::string userCode() override { return "U0000042"; }
    std::string branchCode() override { return "U0000042"; }
    std::string operatorCode() override {
        std::lock_guard lock(mutex);
        return operatorCode_;
    }
    bool checkPermission(const std::string& service, const std::string& functionCode) override {
        std::lock_guard lock(mutex);
        return denied.count(service + "/" + functionCode) == 0;
    }

    std::atomic<bool> loggedIn{false};
    std::atomic<bool> loginSucceeds{true};
    std::atomic<bool> holdLogin{false};
    std::atomic<int> loginCalls{0};
    std::atomic<int> setCalls{0};
    std::thread::id loginThread;
    std::mutex mutex;
    std::vector<GatewayEntry> gateways;
    GatewayOrder order = GatewayOrder::InOrder;
    std::string password;
    std::set<std::string> denied;  // "FTP_A_QS/04"

  private:
    std::string operatorCode_;
};

// A mailbox tree in memory: directory ("" or "a\\") -> entries; downloads and uploads
// report progress in a few steps and record what they moved.
class FakeMailbox final : public MailboxService {
  public:
    GatewayOutcome list(const std::string& mailbox, const std::string& directory,
                        std::vector<RemoteEntry>& entries, std::string& error) override {
        std::lock_guard lock(mutex);
        listed.push_back(mailbox + ":" + directory);
        if (failList) {
            error = "目录不存在";
            return GatewayOutcome::Failed;
        }
        entries = tree[mailbox][directory];
        return GatewayOutcome::Ok;
    }
    // The pattern is recorded; the entries are those of the tree's key `pattern`.
    GatewayOutcome listPattern(const std::string& service, const std::string& pattern, bool history,
                               std::vector<RemoteEntry>& entries, std::string& error) override {
        std::lock_guard lock(mutex);
        listed.push_back(service + (history ? "?" : ":") + pattern);
        if (failList) {
            error = "目录不存在";
            return GatewayOutcome::Failed;
        }
        entries = tree[service][pattern];
        return GatewayOutcome::Ok;
    }
    GatewayOutcome rename(const std::string& mailbox, const std::string& from,
                          const std::string& to, std::string&) override {
        std::lock_guard lock(mutex);
        renamed.push_back(mailbox + ":" + from + ">" + to);
        return GatewayOutcome::Ok;
    }
    GatewayOutcome remove(const std::string& mailbox, const std::string& path,
                          std::string&) override {
        std::lock_guard lock(mutex);
        removed.push_back(mailbox + ":" + path);
        auto& entries = tree[mailbox][""];
        std::erase_if(entries, [&](const RemoteEntry& e) { return e.name == path; });
        return GatewayOutcome::Ok;
    }
    TransferOutcome download(const TransferItem& item, TransferProgress& progress) override {
        return move(item, progress, TransferDirection::Download);
    }
    TransferOutcome upload(const TransferItem& item, TransferProgress& progress) override {
        return move(item, progress, TransferDirection::Upload);
    }

    std::mutex mutex;
    std::map<std::string, std::map<std::string, std::vector<RemoteEntry>>> tree;
    std::vector<std::string> listed, renamed, removed, moved;
    bool failList = false;
    int stepMs = 5;
    UserPrompt* prompt = nullptr;  // asks the Stop question

  private:
    TransferOutcome move(const TransferItem& item, TransferProgress& progress,
                         TransferDirection direction) {
        const std::uint64_t size = item.size ? item.size : 4096;
        const bool download = direction == TransferDirection::Download;
        for (int step = 1; step <= 4; ++step) {
            if (progress.stopPressed.exchange(false) && prompt) {
                if (prompt->askYesNo(download ? "停止下载文件" : "停止上传文件",
                                     download ? "是否要取消下载?" : "是否要取消上传?",
                                     UserPrompt::Icon::Question)) {
                    return {GatewayOutcome::Cancelled, "用户取消"};
                }
                progress.resumed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
            storeProgress(progress,
                          makeProgressRecord(download, item.remoteName,
                                             static_cast<std::int64_t>(size * step / 4),
                                             static_cast<std::int64_t>(size),
                                             static_cast<std::int64_t>(size * step / 4),
                                             0.01 * step));
        }
        std::lock_guard lock(mutex);
        moved.push_back(item.remoteDirectory + item.remoteName);
        return {GatewayOutcome::Ok, ""};
    }
};

// Settings kept in memory.
class MemorySettings final : public SettingsStore {
  public:
    LoginSettings loadLogin() override { return stored; }
    Status saveLogin(const LoginSettings& s) override {
        stored.gateways = s.gateways;
        stored.order = s.order;
        if (!s.operatorCode.empty()) stored.operatorCode = s.operatorCode;
        ++saves;
        return Status::ok();
    }
    int minimumFreeMegabytes() override { return diskSpace; }
    std::filesystem::path receiveDirectory() override { return receive; }
    std::filesystem::path bulletinDirectory() override { return receive / "Bullet"; }
    SystemSettings loadSystem() override { return system; }
    Status saveSystem(const SystemSettings& s) override {
        system = s;
        ++saves;
        return Status::ok();
    }
    Status saveMinimumFreeMegabytes(int megabytes) override {
        diskSpace = megabytes;
        return Status::ok();
    }
    SystemSettings system;
    int diskSpace = 1000;

    LoginSettings stored;
    int saves = 0;
    std::filesystem::path receive;
};

// A stand-in for the desktop's opener that exits with `code` (3: no program for the type).
inline std::filesystem::path writeOpener(const std::filesystem::path& dir, int code) {
    const std::filesystem::path script = dir / "opener.sh";
    std::ofstream(script) << "#!/bin/sh\nexit " << code << "\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
}

}  // namespace vantrel::ui::testing
