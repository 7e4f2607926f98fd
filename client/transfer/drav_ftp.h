#pragma once
// CDRAVFtp: the transfer client of the real-time report area ("FTP_SSHB"). Unlike the
// windowed services it moves a file with one request and one answer per packet, on a
// gateway session of its own, and sizes its packets from "DataSize.ini": after every packet
// that had the current size the size doubles when the answer came within the fast threshold
// and halves when it took longer than the slow one, within the file's limits. Its serial
// numbers come from the session's pools (one per route, emptied with every connection),
// filled FileSvrTransIdNum at a time.
//
// Operations return Ok (a packet's transfer: the count of bytes moved) or what failed (a
// packet's transfer: -1), with the Chinese text in errorText(). Thread: the owner of the session
// (the real-time download thread, or the manual receive on the caller's thread); one exchange at a
// time.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/config/data_size.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/file_service_body.h"
#include "client/transfer/mem_data_buf.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace vantrel {

inline constexpr const char* kRealtimeMailbox = "FTP_SSHB";
// The status of a report the gateway has published completely: only these carry a ".flag"
// and an MD5 check.
inline constexpr std::string_view kRealtimeComplete = "10";

// One report of the real-time list. The gateway writes the report's status in the first two
// characters of the entry's type field.
struct RealtimeEntry {
    std::string name;    // the report's file name, UTF-8, without the day's folder
    std::string status;  // "10" published completely; anything else still being published
    std::int64_t size = 0;
    std::string date;  // "YYYYMMDD"
    std::string time;  // "HH:MM:SS"
    bool complete() const { return status == kRealtimeComplete; }
    bool operator==(const RealtimeEntry&) const = default;
};

class CDRAVFtp {
  public:
    static constexpr int kUpload = 1;
    static constexpr int kDownload = 2;

    // `session`, `clock` and `files` must outlive the client. The packet limits are fixed here.
    CDRAVFtp(CVornFtp& session, const DataSizeSettings& settings, const platform::Clock& clock,
             platform::FileSystem& files = platform::FileSystem::real());

    // One packet of `remoteName` in `mailbox`: the download of up to the current packet size
    // at `offset` into `localPath` (created if needed, never truncated), or the upload of the
    // local bytes there. `fileSize` is the whole file's. The count of bytes moved, or -1.
    int transfer(int direction, const std::string& mailbox, const std::string& remoteName,
                 const std::filesystem::path& localPath, std::int64_t fileSize,
                 std::int64_t offset);
    // The whole file, packet by packet, resuming from the local file's length (a local
    // file longer than `fileSize` starts again). `stop` is asked between packets.
    GatewayOutcome download(const std::string& mailbox, const std::string& remoteName,
                            const std::filesystem::path& localPath, std::int64_t fileSize,
                            const std::function<bool()>& stop = {});

    // The report list of one day ("YYYYMMDD"). The answer stays in the message buffer for
    // entries.
    GatewayOutcome list(const std::string& day);
    // The reports of the last list answer, walked until its C bytes are consumed.
    std::vector<RealtimeEntry> entries();

    // The MD5 query on "FTP_SSHB" for a downloaded report → Ok when the gateway's digest
    // equals the local file's (the text says whether it differed otherwise).
    GatewayOutcome md5Check(const std::filesystem::path& localPath, const std::string& remoteName,
                            std::int64_t fileSize);

    int packetSize(int direction) const { return direction == kUpload ? sendSize_ : receiveSize_; }
    const std::string& errorText() const { return error_; }
    CVornFtp& session() { return session_; }

  private:
    // Keeps `text` as the failure's explanation → `outcome`.
    GatewayOutcome fail(const std::string& text, GatewayOutcome outcome = GatewayOutcome::Failed);
    // A packet's transfer that failed with `text` → -1.
    int failPacket(const std::string& text);
    // Logs in when the session is down → true when it is up.
    bool connected();
    // A serial number of the current route.
    GatewayOutcome takeSerial(std::string& serial, char& flag);
    // Sends one request on route (mailbox, ftpType) and receives its answer into the
    // message buffer. `elapsed` is how long the exchange took. Repeated once on a new
    // connection when the gateway closed the one it began on.
    GatewayOutcome exchange(const std::string& mailbox, const std::string& ftpType,
                            std::string_view name1, std::string_view name2, std::int32_t a,
                            std::int32_t b, std::int32_t c, std::string_view payload,
                            std::chrono::milliseconds& elapsed);
    GatewayOutcome exchangeOnce(const std::string& mailbox, const std::string& ftpType,
                                std::string_view name1, std::string_view name2, std::int32_t a,
                                std::int32_t b, std::int32_t c, std::string_view payload,
                                std::chrono::milliseconds& elapsed);
    void adapt(int direction, int sentSize, std::chrono::milliseconds elapsed);

    CVornFtp& session_;
    const platform::Clock& clock_;
    platform::FileSystem& files_;
    PacketSizeLimits receive_;
    PacketSizeLimits send_;
    int receiveSize_ = 0;
    int sendSize_ = 0;
    int batch_ = DataSizeSettings::kDefaultTransIdBatch;
    bool settingsLoaded_ = false;
    std::string error_;
    CMemDataBuf message_;
};

}  // namespace vantrel
