#include "client/ui/qt_notifier.h"

#include <QThread>

namespace vantrel::ui {

QtNotifier::QtNotifier(QObject* parent) : QObject(parent) {}

void QtNotifier::addListener(const QObject* owner, Listener listener) {
    listeners_.emplace_back(owner, std::move(listener));
}

void QtNotifier::removeListeners(const QObject* owner) {
    std::erase_if(listeners_, [owner](const auto& entry) { return entry.first == owner; });
}

void QtNotifier::post(const NotifierEvent& event) {
    QMetaObject::invokeMethod(
        this, [this, event] { dispatch(event); }, Qt::QueuedConnection);
}

void QtNotifier::send(const NotifierEvent& event) {
    if (QThread::currentThread() == thread()) {
        dispatch(event);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, &event] { dispatch(event); }, Qt::BlockingQueuedConnection);
}

void QtNotifier::dispatch(const NotifierEvent& event) {
    // A listener may add or remove listeners; run over a copy.
    const auto listeners = listeners_;
    for (const auto& [owner, listener] : listeners) listener(event);
}

}  // namespace vantrel::ui
