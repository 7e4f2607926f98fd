#include "client/ui/qt_user_prompt.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "client/ui/qt_text.h"

namespace vantrel::ui {

namespace {

QMessageBox::Icon boxIcon(UserPrompt::Icon icon) {
    switch (icon) {
        case UserPrompt::Icon::Information:
            return QMessageBox::Information;
        case UserPrompt::Icon::Warning:
            return QMessageBox::Warning;
        case UserPrompt::Icon::Error:
            return QMessageBox::Critical;
        case UserPrompt::Icon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// Room the window frame takes from the title bar beside the title: the window's icon and
// its buttons.
constexpr int kTitleBarDecorations = 160;

// A box sizes itself to its text; one short line would leave a title bar too narrow for
// the caption, which the window manager then cuts ("DRA…换工具"). A spacer the width of
// the caption keeps it whole.
void keepTitleWhole(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int width = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar"))
                          .horizontalAdvance(box.windowTitle()) +
                      kTitleBarDecorations;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

struct QtUserPrompt::Request {
    std::string caption;
    std::string text;
    Icon icon = Icon::Information;
    bool question = false;
    bool yes = false;

    void finish(bool answer) {
        std::lock_guard lock(mutex);
        yes = answer;
        answered = true;
        cv.notify_all();
    }
    // True once answered; false when `timeout` passed first.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [this] { return answered; });
    }

    std::mutex mutex;
    std::condition_variable cv;
    bool answered = false;
};

QtUserPrompt::QtUserPrompt(std::function<bool()> shouldStop, QObject* parent)
    : QObject(parent), shouldStop_(std::move(shouldStop)) {}

bool QtUserPrompt::askYesNo(const std::string& caption, const std::string& text, Icon icon) {
    return park(caption, text, icon, true);
}

void QtUserPrompt::show(const std::string& caption, const std::string& text, Icon icon) {
    park(caption, text, icon, false);
}

void QtUserPrompt::answer(Request& request) {
    QMessageBox box(boxIcon(request.icon), qs(request.caption), qs(request.text),
                    request.question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    keepTitleWhole(box);
    const int result = box.exec();
    request.finish(request.question && result == QMessageBox::Yes);
}

bool QtUserPrompt::park(const std::string& caption, const std::string& text, Icon icon,
                        bool question) {
    auto request = std::make_shared<Request>();
    request->caption = caption;
    request->text = text;
    request->icon = icon;
    request->question = question;
    if (QThread::currentThread() == thread()) {
        answer(*request);
        return request->yes;
    }
    QMetaObject::invokeMethod(
        this, [request] { answer(*request); }, Qt::QueuedConnection);
    while (!request->waitFor(std::chrono::seconds(1))) {
        if (shouldStop_ && shouldStop_()) return false;
    }
    std::lock_guard lock(request->mutex);
    return request->yes;
}

}  // namespace vantrel::ui
