#pragma once
// The flag-file side the download lists report delivered files to (CFlagManager).

#include <string>

namespace vantrel::catalogue {

class FlagRecorder {
  public:
    virtual ~FlagRecorder() = default;
    // 1 when `fileName` is one of today's flag files, else 0.
    virtual int IsFlagFile(const std::string& fileName) = 0;
    // Records the arrival of flag file `fileName` at `arrivalTime` ("YYYY-MM-DD HH:MM:SS").
    virtual void RecordFlagFile(const std::string& fileName, const std::string& arrivalTime) = 0;
};

}  // namespace vantrel::catalogue
