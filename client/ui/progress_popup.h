#pragma once
// The modeless progress window of long operations (login, listing, deleting): one line of
// text, top-most, centred on its parent.

#include <QDialog>

class QLabel;

namespace vantrel::ui {

class ProgressPopup final : public QDialog {
    Q_OBJECT
  public:
    explicit ProgressPopup(QWidget* parent = nullptr);
    // A non-empty text shows the window with it (centred, painted at once); an empty text
    // hides it. GUI thread.
    void showText(const QString& text);
    QString text() const;

  private:
    QLabel* label_;
};

}  // namespace vantrel::ui
