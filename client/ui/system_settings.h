#pragma once
// The system settings "系统设置": what the dialog edits in Client.ini and its checks, as
// toolkit-free functions so the rules are tested without a window.

#include <cstdint>
#include <string>

#include "client/config/config.h"

namespace vantrel::ui {

inline constexpr int kHistoryDaysMin = 7;
inline constexpr int kHistoryDaysMax = 60;
inline constexpr std::int64_t kDiskSpaceMinMb = 100;
inline constexpr std::int64_t kDiskSpaceMaxMb = 100000000;

// CloseFlag: what closing the main window does.
enum class CloseAction { Exit = 0, MinimizeToTray = 1 };

struct SystemSettings {
    int historyDays = 30;
    std::string flagFileExtend = ".ok";
    CloseAction closeAction = CloseAction::Exit;
    RealtimeReportSettings realtime;
};

// The OK checks in the dialog's order: the flag suffix, the real-time save path, then the
// retention. The refusal shown to the operator, empty when accepted.
std::string checkSystemSettings(const SystemSettings& settings);
// The retention alone: 7 to 60 days (a text that is no number is passed as -1).
std::string checkHistoryDays(int days);
// The flag-file suffix alone: "." and 1 to 9 letters.
std::string checkFlagFileExtend(const std::string& suffix);
// The disk-space "应用" check; empty when `megabytes` is in range.
std::string checkDiskSpace(std::int64_t megabytes);

}  // namespace vantrel::ui
