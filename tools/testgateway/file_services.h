#pragma once
// The test gateway's mailbox file services (message "40") over a mailbox tree on disk:
// one folder per mailbox code under the root ("FTP_A_QS/", with "Bullet/" and dated
// history folders "YYYYMMDD/" inside), remote '\\' separators mapped to folders. Lists with
// the "T" (today's files) and empty selectors, the "MT" version query (any other selector
// is refused and recorded as a protocol violation), history lists ("09"; a day without a
// folder lists empty),
// delete, rename, download and upload packets at any offset in any order, and the MD5
// query of both directions. Fault switches corrupt a download packet, lie about sizes in
// lists or about a packet's offset, refuse a data packet with a return code, or spoil how
// the next answer of a kind is delivered.
//
// The real-time area "FTP_SSHB" keeps a folder per day ("FTP_SSHB/20261208/"); a list asks
// for the day and each report's type field starts with its status: "10" published, "00"
// while a file "<report>.publishing" stands beside it (such marks are not listed).
//
// Thread-safe: connections call handle() concurrently.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/transfer/file_service_body.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::testgateway {

inline constexpr const char* kRealtimeMailbox = "FTP_SSHB";
inline constexpr std::string_view kPublishingMark = ".publishing";

struct FileServiceFaults {
    // Flip one byte in the data of the next download packet.
    std::atomic<bool> corruptNextDownload{false};
    // Added to every file size reported in lists.
    std::atomic<int> sizeLie{0};
    // Answer the data packet that comes after this many more data packets (0 = the next)
    // with `packetFailureCode`; -1 = never.
    std::atomic<int> failPacketAfter{-1};
    void failPacket(int after, const std::string& code) {
        std::lock_guard lock(mutex);
        packetFailureCode = code;
        failPacketAfter = after;
    }
    std::mutex mutex;
    std::string packetFailureCode = "0015";
    // How the next answer of each kind leaves the gateway (one shot each).
    std::atomic<Delivery> nextListDelivery{Delivery::kWhole};
    std::atomic<Delivery> nextDownloadDelivery{Delivery::kWhole};
    std::atomic<Delivery> nextMd5Delivery{Delivery::kWhole};
    // Added to the offset (B) that the next download answer reports (one shot; 0 = none).
    std::atomic<int> nextOffsetLie{0};
};

struct FileServiceCounters {
    std::atomic<int> downloadPackets{0};
    std::atomic<int> uploadPackets{0};
    std::atomic<long long> downloadBytes{0};
    std::atomic<long long> uploadBytes{0};
    std::atomic<int> md5Queries{0};
};

class MailboxFileService final : public TransactionService {
  public:
    // `root` holds one folder per mailbox. `businessDate` (YYYYMMDD) decides what "today's
    // files" are; `version` is the day list's first version (14 digits): the "MT" query of a
    // directory answers the newer of it and the stamp of the directory's newest file of the
    // day.
    MailboxFileService(std::filesystem::path root, std::string businessDate,
                       std::string version = "20261208093015");

    std::optional<TransactionAnswer> handle(const TransactionRequest& request) override;

    FileServiceFaults& faults() { return faults_; }
    FileServiceCounters& counters() { return counters_; }
    const std::filesystem::path& root() const { return root_; }
    // What clients sent that the protocol does not have, one line each, in arrival order;
    // taking them clears the record.
    std::vector<std::string> takeViolations();

  private:
    // The answer to a decoded "40" request, before any delivery fault.
    TransactionAnswer answerFor(const std::string& type, const std::string& mailbox,
                                const filesvc::Body& body, const std::string& n1,
                                const std::string& n2);
    TransactionAnswer list(const std::string& mailbox, const std::string& pattern,
                           const std::string& selector);
    std::string dayVersion(const std::string& mailbox, const std::string& pattern);
    TransactionAnswer remove(const std::string& mailbox, const std::string& name);
    TransactionAnswer rename(const std::string& mailbox, const std::string& from,
                             const std::string& to);
    // `wireName` is the request's name as it travelled; the answer echoes it.
    TransactionAnswer download(const std::string& mailbox, const std::string& name,
                               const std::string& wireName, std::int32_t offset,
                               std::int32_t length);
    TransactionAnswer upload(const std::string& mailbox, const std::string& name,
                             const std::string& wireName, std::int32_t size, std::int32_t offset,
                             std::string_view data);
    TransactionAnswer md5(const std::string& mailbox, const std::string& name,
                          const std::string& n1, const std::string& n2);
    // Null when the name would leave the mailbox.
    std::optional<std::filesystem::path> pathOf(const std::string& mailbox,
                                                const std::string& name) const;
    std::optional<TransactionAnswer> packetFault();
    void recordViolation(std::string what);

    std::filesystem::path root_;
    std::string businessDate_;
    std::string version_;
    FileServiceFaults faults_;
    FileServiceCounters counters_;
    std::mutex filesMutex_;
    std::mutex violationsMutex_;
    std::vector<std::string> violations_;
};

}  // namespace vantrel::testgateway
