#pragma once
// CFastFtp: the fast-transfer client of the update server. One plain (unencrypted)
// connection, logged in by the fast-transfer login, over which files are downloaded as a
// stream of packets the server sends on its own, resumed from the local file's length less
// 100 bytes, and checked at the end against an MD5 digest that arrives encrypted.
// Formats: doc/formats/fast-transfer.md.
//
// Return codes of download(): 0 success, -1 failure, -3 cancelled by the user, -4 digest
// mismatch. Every step and failure is appended to status().
// Thread: one thread uses an object; the cancel event may be set from any thread.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/gateway/fast_login_codec.h"
#include "client/gateway/socket_connect.h"
#include "platform/event.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// One update server: an address and its port as the settings hold them.
struct FastServer {
    std::string address;
    std::string port;
};

inline constexpr const char* kFastMailbox = "FASTER_FTP";
inline constexpr const char* kFastFtpType = "02";
inline constexpr int kFastPacketField = 8192;

// The fast download request ("40", not encrypted) for `remotePath` (UTF-8) from `offset`;
// fails with "UNICODE出错" when the path cannot travel as UTF-16.
Result<std::string> fastDownloadRequest(std::string_view remotePath, std::int32_t offset);
// The 145-byte packet-size message ("83") announcing `packetSize`.
std::string packetSizeMessage(int packetSize);
// The MD5 digest as the verification answer carries it: for byte i, its first hex digit at
// position i and its second at 16 + i (lower case).
std::string splitDigestText(const unsigned char* md5);
// The split digest text of a file, read in 32768-byte pieces.
Result<std::string> fileSplitDigestText(const std::filesystem::path& path);
// The fixed verification key, assembled from its two 8-character pieces: 16 bytes for
// code 0x10000, 24 bytes (the first piece again) for code 0x1.
std::array<unsigned char, 16> fastDigestKey16();
std::array<unsigned char, 24> fastDigestKey24();

// The download packet size: doubled after a packet that came within 4 s, halved after
// one that took longer than 8 s, kept between 2048 and 2097152 bytes.
class FastPacketSize {
  public:
    static constexpr int kInitial = 16384;
    static constexpr int kLargest = 2097152;
    static constexpr int kSmallest = 2048;
    void adapt(double elapsedSeconds);
    int size() const { return size_; }

  private:
    int size_ = kInitial;
};

class CFastFtp {
  public:
    // Download progress: bytes the local file holds and the remote size.
    using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

    CFastFtp() = default;
    CFastFtp(const CFastFtp&) = delete;
    CFastFtp& operator=(const CFastFtp&) = delete;

    // Keeps the servers whose port text is a number 1..65535, in order; `selectTimeOut`
    // outside 3..60 becomes 5 (the receive time-out in seconds).
    void init(const std::vector<FastServer>& servers, std::filesystem::path libraryPath,
              int selectTimeOut);
    // Tried before every packet; null = never cancelled. Must outlive the downloads.
    void setCancelEvent(const platform::Event* cancel) { cancel_ = cancel; }
    void setStopQuery(StopQuery stop) { socket_.SetStopQuery(std::move(stop)); }
    void setProgress(Progress progress) { progress_ = std::move(progress); }

    // Connects to each server in turn and logs in with the fast-transfer login, asking for
    // `names` → the number of answer records, or -1 with the status text set.
    int login(const std::vector<std::string>& names, const std::string& productId,
              const std::string& version, std::vector<FastLoginValue>& values);
    // Downloads `remotePath` into `localPath` (see the return codes above). A digest
    // mismatch empties the local file, so the next attempt fetches it whole.
    int download(const std::string& remotePath, const std::filesystem::path& localPath);
    // Closes the connection.
    void close();

    bool loggedIn() const { return loggedIn_; }
    const FastServer& currentServer() const { return current_; }
    int timeOut() const { return timeOut_; }
    const std::string& status() const { return status_; }

  private:
    struct Answer {
        std::string packet;
        std::string returnCode;
        std::string message;
    };
    // What a data packet of a download did.
    enum class PacketStep { More, Last, HeldAlready, Failed };
    PacketStep takePacket(platform::File& file, const Answer& answer, std::int64_t& total);
    bool restartFromZero(platform::File& file, const std::string& remotePath);
    int sendAll(const std::string& packet);
    // One answer: the 17-byte header, then its body → 0 or -1 (status text appended).
    int receiveAnswer(Answer& answer);
    // Exactly `length` bytes, each piece within the time-out → Ok or what the link's
    // receive came to.
    GatewayOutcome receiveWithin(char* buffer, int length);
    int verify(const std::filesystem::path& localPath);
    bool decryptDigest(std::string_view cipher, std::string& digestText);

    CSocketConnect socket_{kFastLinkWording};
    std::vector<FastServer> servers_;
    FastServer current_;
    std::filesystem::path libraryPath_;
    int timeOut_ = 5;
    bool loggedIn_ = false;
    const platform::Event* cancel_ = nullptr;
    Progress progress_;
    FastPacketSize packetSize_;
    std::string status_;
};

}  // namespace vantrel
