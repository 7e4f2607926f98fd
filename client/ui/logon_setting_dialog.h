#pragma once
// CLogonSetting: the current gateway settings, read from Client.ini, shown read-only.

#include <QDialog>

#include "client/ui/ports.h"

namespace vantrel::ui {

class CLogonSetting final : public QDialog {
    Q_OBJECT
  public:
    CLogonSetting(SettingsStore& settings, QWidget* parent = nullptr);
};

}  // namespace vantrel::ui
