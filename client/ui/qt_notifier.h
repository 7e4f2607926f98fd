#pragma once
// The Notifier of the GUI: a two-step thread jump. post() only queues the event onto the
// GUI thread; send() waits until the GUI thread has handled it. Listeners run on the GUI
// thread, in the order they were added.

#include <QObject>
#include <functional>
#include <vector>

#include "client/base/notifier.h"

namespace vantrel::ui {

class QtNotifier final : public QObject, public Notifier {
    Q_OBJECT
  public:
    using Listener = std::function<void(const NotifierEvent&)>;

    // Create on the GUI thread; it lives there.
    explicit QtNotifier(QObject* parent = nullptr);

    // GUI thread only. The listener must outlive the notifier or be removed with
    // removeListeners(owner) before it goes.
    void addListener(const QObject* owner, Listener listener);
    void removeListeners(const QObject* owner);

    // Any thread; never blocks.
    void post(const NotifierEvent& event) override;
    // Any thread; blocks until every listener has run. Must not be called while holding a
    // lock the GUI thread may take.
    void send(const NotifierEvent& event) override;

  private:
    void dispatch(const NotifierEvent& event);
    std::vector<std::pair<const QObject*, Listener>> listeners_;
};

}  // namespace vantrel::ui
