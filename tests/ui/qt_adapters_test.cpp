// The Qt adapters: events and questions from worker threads reach the GUI thread, post()
// never waits, send() and questions do.

#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "client/ui/qt_notifier.h"
#include "client/ui/qt_user_prompt.h"
#include "tests/ui/ui_fixture.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;

class QtAdaptersTest : public testing::QtTest {};

TEST_F(QtAdaptersTest, postQueuesOntoTheGuiThreadAndSendWaitsForTheListener) {
    // setup
    QtNotifier notifier;
    QObject owner;
    std::atomic<int> handled{0};
    std::thread::id handlerThread;
    notifier.addListener(&owner, [&](const NotifierEvent& event) {
        ASSERT_TRUE(std::holds_alternative<LoginStateChanged>(event));
        handlerThread = std::this_thread::get_id();
        ++handled;
    });
    // act: a post from the GUI thread is not handled before the loop turns
    notifier.post(LoginStateChanged{true});
    EXPECT_EQ(handled, 0);
    ASSERT_TRUE(waitUntil([&] { return handled == 1; }));
    // act: send from a worker blocks until the GUI thread ran the listener
    std::atomic<bool> sent{false};
    int handledWhenSendReturned = -1;
    std::thread worker([&] {
        notifier.send(LoginStateChanged{false});
        handledWhenSendReturned = handled;
        sent = true;
    });
    ASSERT_TRUE(waitUntil([&] { return sent.load(); }));
    worker.join();
    // verify
    EXPECT_EQ(handledWhenSendReturned, 2);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    // A removed listener hears nothing more.
    notifier.removeListeners(&owner);
    notifier.send(LoginStateChanged{true});
    EXPECT_EQ(handled, 2);
}

// Presses `button` on the next message box that shows, with `caption` and `text` noted.
void answerNextBox(QMessageBox::StandardButton button, QString& caption, QString& text) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button, &caption, &text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            box->button(button)->click();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

TEST_F(QtAdaptersTest, aWorkersQuestionIsParkedUntilTheGuiThreadAnswersIt) {
    QtUserPrompt prompt;
    QString caption, text;
    answerNextBox(QMessageBox::Yes, caption, text);
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        answer =
            prompt.askYesNo("停止下载文件", "是否要取消下载?", UserPrompt::Icon::Question)
                ? 1
                : 0;
    });
    ASSERT_TRUE(waitUntil([&] { return answer != -1; }));
    worker.join();
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(caption.toStdString(), "停止下载文件");
    EXPECT_EQ(text.toStdString(), "是否要取消下载?");
}

// Regression: a box with one short line was narrower than its caption ("DRA…换工具").
TEST_F(QtAdaptersTest, aShortMessagesBoxIsWideEnoughForItsWholeCaption) {
    QtUserPrompt prompt;
    int boxWidth = 0;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &boxWidth] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxWidth = box->width();
            box->button(QMessageBox::Ok)->click();
            timer->deleteLater();
        }
    });
    timer->start(10);
    prompt.show(kAppCaption, "完成", UserPrompt::Icon::Information);
    const int caption = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar"))
                            .horizontalAdvance(QString::fromUtf8(kAppCaption));
    EXPECT_GT(boxWidth, caption + 100);
}

TEST_F(QtAdaptersTest, aParkedQuestionGivesUpWithNoWhenTheClientStops) {
    std::atomic<bool> stopping{false};
    QtUserPrompt prompt([&] { return stopping.load(); });
    std::atomic<int> answer{-1};
    int answerWhileBoxWasUp = -2;
    // While the box is up (inside its own event loop), the client starts stopping; the
    // worker must give up within about a second although nobody answered.
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        timer->stop();
        stopping = true;
        for (int i = 0; i < 300 && answer == -1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        answerWhileBoxWasUp = answer;
        box->button(QMessageBox::Yes)->click();
        timer->deleteLater();
    });
    timer->start(10);
    std::thread worker([&] {
        answer = prompt.askYesNo(kAppCaption, "本地存在未安装的更新，是否现在安装?",
                                 UserPrompt::Icon::Question)
                     ? 1
                     : 0;
    });
    ASSERT_TRUE(waitUntil([&] { return answerWhileBoxWasUp != -2; }));
    worker.join();
    EXPECT_EQ(answerWhileBoxWasUp, 0);
    EXPECT_EQ(answer, 0);
}

}  // namespace
}  // namespace vantrel::ui
