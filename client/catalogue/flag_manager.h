#pragma once
// CFlagManager: which of the day's expected flag files have arrived, and when. The day
// list "data/YYYYMMDD-FLAG.flg" is a copy of localconfig/flagmodel.conf; the map holds
// flag name -> arrival time ("" while not arrived). One per process, owned by the
// application. Every operation holds the manager's lock from start to end, which also
// covers the day list; flag-view notices are posted (never sent) so no thread waits for
// the window while holding it.

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "client/base/context.h"
#include "client/catalogue/flag_recorder.h"

namespace vantrel::catalogue {

class CFlagManager final : public FlagRecorder {
  public:
    explicit CFlagManager(const Context& context);

    // The day list's path for today; whether it exists.
    bool TodayFlagListPath(std::filesystem::path& path) const;
    // Fills the map from the day list, or from the template while there is none.
    void LoadFlags();
    // A new day (or the first of this run): the views clear, today's list is made from the
    // template unless it exists, and the map is filled from it.
    void StartDay();
    // 1 when the extension is today's "%x%02d" (month in hex, day) and the base name is a
    // known flag name (both exact), else 0.
    int IsFlagFile(const std::string& fileName) override;
    void RecordFlagFile(const std::string& fileName, const std::string& arrivalTime) override;
    // Rebuilds the day list from a new template, keeping the arrival times already known.
    // The list is rebuilt beside the old one and replaces it only when complete.
    void RefreshFlags();

    std::map<std::string, std::string> Flags() const;

  private:
    std::filesystem::path dayListPath() const;
    std::filesystem::path templatePath() const;
    void post(const NotifierEvent& event);
    void sysLog(const std::string& message);

    const Context& context_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> flags_;
};

}  // namespace vantrel::catalogue
