#include "client/ui/progress_popup.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "client/base/user_prompt.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

ProgressPopup::ProgressPopup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint),
      label_(new QLabel(this)) {
    setWindowTitle(qs(kAppCaption));
    setModal(false);
    label_->setMinimumWidth(320);
    label_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
}

void ProgressPopup::showText(const QString& text) {
    if (text.isEmpty()) {
        hide();
        return;
    }
    label_->setText(text);
    adjustSize();
    const QWidget* anchor = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect area = anchor && anchor->isVisible() ? anchor->frameGeometry()
                       : screen()                    ? screen()->availableGeometry()
                                                     : QRect();
    if (area.isValid()) move(area.center() - rect().center());
    show();
    raise();
    repaint();
}

QString ProgressPopup::text() const {
    return isVisible() ? label_->text() : QString();
}

}  // namespace vantrel::ui
