#pragma once
// Opens a file or folder on the desktop without holding the GUI thread: the opener may
// wait for the program it starts. A failure comes back to the GUI thread, and only while
// `receiver` still lives; the worker itself touches nothing but its copies.

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace vantrel::ui {

// The opening itself: empty on success, else the reason (see client/app/desktop_open.h).
using DesktopOpen = std::function<std::string(const std::filesystem::path&)>;

// GUI thread. `failed(reason)` runs on the GUI thread when `open` reports a reason.
inline void openOnDesktop(QObject* receiver, const std::filesystem::path& target, DesktopOpen open,
                          std::function<void(const std::string&)> failed) {
    QPointer<QObject> guard(receiver);
    // Detached: a viewer the opener waits for may outlive the window.
    std::thread([guard, target, open = std::move(open), failed = std::move(failed)] {
        const std::string reason = open(target);
        QCoreApplication* app = QCoreApplication::instance();
        if (reason.empty() || app == nullptr) return;
        QMetaObject::invokeMethod(
            app,
            [guard, failed, reason] {
                if (guard) failed(reason);
            },
            Qt::QueuedConnection);
    }).detach();
}

}  // namespace vantrel::ui
