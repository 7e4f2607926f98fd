#pragma once
// RealtimeService: fetches the reports of the real-time area ("FTP_SSHB") as the gateway
// publishes them. Two threads of the thread manager run it: the traversal asks for the
// day's report list every 30 seconds (5 minutes once six passes in a row found nothing new)
// and compares it with the local files; the download thread fetches what the traversal
// queued, one report at a time. Each thread has its own gateway session. After midnight
// the previous day's list is passed over as well until nothing of it is left to fetch, so
// reports published in the last interval of a day are not lost.
//
// A report with status "10" is kept when its data file and its ".flag" agree with the list;
// a report still being published has no ".flag" and is kept while its size and time agree.
// Anything else is moved into "sshbrev_back" and fetched again, so the receive directory
// converges on the gateway's list.
//
// Thread: the two thread bodies on their threads; the switch, snapshot and exit from any
// thread. Events are posted, never sent, and never under the service's lock.

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/execution/housekeeping/day_clock.h"
#include "client/transfer/drav_ftp.h"
#include "client/transfer/file_mem_list.h"
#include "platform/event.h"

namespace vantrel {

// What the real-time view and the status bar show, copied out.
struct RealtimeSnapshot {
    bool running = false;
    std::string statusText;
    std::string listTitle;  // "实时回报文件列表[%d]"
    std::vector<RealtimeReportRecord> records;
    std::vector<std::string> pending;  // queued names; the first is the one being fetched
};

class RealtimeService {
  public:
    // The traversal never lets the pending queue hold more than this.
    static constexpr std::size_t kQueueLimit = 5;
    // Six quiet passes in a row slow the traversal down.
    static constexpr int kQuietPasses = 6;
    // The previous day is passed over for at most this long after midnight: a report that
    // cannot be fetched must not keep it forever (the manual receive still can).
    static constexpr std::chrono::minutes kLateDayWindow{60};

    struct Options {
        // A new session of the operator, not logged in (required).
        std::function<std::unique_ptr<CVornFtp>()> makeSession;
        // Where fetched reports are recorded ("filememlist.data"); may be null.
        FileMemList* localList = nullptr;
        std::chrono::milliseconds shortInterval{30000};
        std::chrono::milliseconds longInterval{300000};
        // Pauses of the loops; every wait ends early when the stop is signalled.
        std::chrono::milliseconds waitStep{500};
        std::chrono::milliseconds idlePause{800};
        std::chrono::milliseconds emptyPause{500};
        // The download thread's login retries back off from idlePause up to this.
        std::chrono::milliseconds loginBackoffLimit{30000};
    };

    // `context` (installation, clock, logs, notifier) and `days` must outlive the service.
    RealtimeService(const Context& context, const DayClock& days, Options options);

    // The user's switch: saved as the start-up state, logged and announced.
    void setRunning(bool on);
    // The start-up state from Client.ini, without logging a user's action.
    void startAsConfigured();
    bool running() const { return running_; }
    static std::string statusText(bool running);
    // At exit: a running service is switched off (not saved) and says so in its log.
    void prepareExit();

    // The thread bodies; each returns once `stop` is set.
    void traversalThread(platform::Event& stop);
    int passOverDays(CDRAVFtp& ftp, CVornFtp& session, platform::Event& stop);
    void downloadThread(platform::Event& stop);

    RealtimeSnapshot snapshot() const;
    std::size_t pendingCount() const;
    // The receive directory of `day` (revpath, with the day appended when adddate is on).
    std::filesystem::path receiveDirectory(const std::string& day) const;
    // Today's day "YYYYMMDD", the one the window and the day's jobs share.
    std::string today() const { return days_.today(); }

  private:
    struct Pending {
        std::string day;
        RealtimeEntry entry;
        std::filesystem::path directory;
    };

    void announce(bool on);
    void log(const std::string& line, int level) const;
    // The comparison of one day's list with the local files; queues what must be fetched
    // and returns the number of quiet passes of that day in a row.
    int compareDay(const std::string& day, const std::vector<RealtimeEntry>& entries);
    bool isQueued(const std::string& day, const std::string& name) const;
    // Whether the report's local data (and ".flag") are the gateway's; when not, the reason
    // is logged and the files are to be moved aside and fetched again.
    bool localCopyCurrent(const RealtimeEntry& entry, const std::filesystem::path& data,
                          bool haveData, bool haveFlag) const;
    // The line of a report whose local copy is current.
    RealtimeReportRecord keptRecord(const RealtimeEntry& entry,
                                    const std::filesystem::path& data) const;
    // The days this pass lists: today, after midnight the previous day first. Traversal
    // thread only.
    std::vector<std::string> passDays();
    // Moves the report's data and ".flag" (those that exist) into "sshbrev_back".
    void moveAside(const std::filesystem::path& directory, const std::filesystem::path& data);
    // Queues unless queued already or the queue is full; true when it is (now) queued.
    bool enqueue(const std::string& day, const RealtimeEntry& entry,
                 const std::filesystem::path& directory);
    // Updates the report's line and tells the view; false when the line was already so.
    bool show(const RealtimeReportRecord& record);
    // The report's line as shown, else as the local list kept it from an earlier run.
    std::optional<RealtimeReportRecord> shownOrStored(const std::string& name) const;
    // Keeps the fetched report's line in the local list. Download thread only.
    void recordFetched(const RealtimeReportRecord& record);

    const Context context_;
    const DayClock& days_;
    Options options_;
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;  // pending_, records_, quiet_, recordsDay_
    std::deque<Pending> pending_;
    std::vector<RealtimeReportRecord> records_;
    std::map<std::string, int> quiet_;
    std::string recordsDay_;
    bool localListRefused_ = false;  // download thread only
    // Traversal thread only: the day of the last pass, and the previous day while it is
    // still passed over after midnight, since when.
    std::string passDay_;
    std::string lateDay_;
    platform::Tick lateSince_{};
};

}  // namespace vantrel
