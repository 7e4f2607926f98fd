#pragma once
// The manual receive of real-time reports: the operator queries the reports of a range of
// days and fetches the chosen ones into a directory of their own (Client.ini's handrevpath),
// apart from the service's receive directory. The GUI's dialog and `vantrel-cli realtime
// receive` call it.
//
// Thread: the caller's, which owns `session`; one operation at a time.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/transfer/drav_ftp.h"
#include "platform/status.h"

namespace vantrel {

// One report of a query, with the day it was listed under.
struct ManualReport {
    std::string day;  // "YYYYMMDD"
    RealtimeEntry entry;
};

// One chosen report's outcome: "下载成功", "下载失败" (with `error`) or "找不到文件信息".
struct ManualFetchResult {
    std::size_t position = 0;  // of the report in the listed ones
    std::string name;
    std::string result;
    std::string error;
    std::filesystem::path file;  // where the report is kept, after "下载成功"
};

// Where the listed report at `position` is kept below `directory`: `directory`/name, as a
// query of one day always gives; a name listed on more than one day goes into a folder
// per day, `directory`/YYYYMMDD/name, so that no day's report replaces another's.
std::filesystem::path manualTargetDirectory(const std::vector<ManualReport>& listed,
                                            std::size_t position,
                                            const std::filesystem::path& directory);

class RealtimeManualReceive {
  public:
    // A query covers at most this many days.
    static constexpr int kMaxDays = 366;

    // `context` and `session` (logged in on demand) must outlive this object.
    RealtimeManualReceive(const Context& context, CVornFtp& session);

    // The reports of the days `from` to `to` ("YYYYMMDD", inclusive) → their number, or -1
    // with errorText(): "开始时间不能大于结束时间！", "查询文件列表失败，..." or
    // "文件列表为空！".
    int query(const std::string& from, const std::string& to, std::vector<ManualReport>& out);

    // Checks and creates the target directory and saves it as handrevpath. Refused when it is
    // the service's receive directory, 256 bytes or longer, or cannot be created.
    Status prepareDirectory(const std::filesystem::path& directory);

    // Fetches the reports at the positions `chosen` of those `listed` into `directory`
    // (see manualTargetDirectory), one by one, in the order chosen ("请选择需要下载的文件！"
    // when none is chosen). A name alone would not do: one name may be listed on two days.
    Result<std::vector<ManualFetchResult>> fetch(const std::vector<std::size_t>& chosen,
                                                 const std::vector<ManualReport>& listed,
                                                 const std::filesystem::path& directory,
                                                 const std::function<bool()>& stop = {});

    const std::string& errorText() const { return error_; }

  private:
    const Context context_;
    CDRAVFtp ftp_;
    std::string error_;
};

}  // namespace vantrel
