#pragma once
// FileBlockInfo: one file being downloaded or uploaded, cut into blocks of 10 MiB whose
// packets travel in a window of 5 requests. All progress lives in the block state file
// ("<data file>.~block"), mapped shared and flushed by range after every change, so a
// transfer resumes after a crash, a lost connection or a stopped task.
//
// Thread safety: workers call into one FileBlockInfo from several threads, each on its own
// block. The state lock guards the mapped header, the block records, the window slots and
// the controllers; the data lock guards the data file. No operation holds both.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/transfer/pkg_size.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/mapped_file.h"

namespace vantrel {

class FileBlockInfo;

// One file to transfer, as the task runs and the manual commands describe it.
struct TransferItem {
    // The name sent in the requests: mailbox directory prefix and file name ("Bullet\\x.txt").
    std::string remoteName;
    // Download: the file's name inside the receive directory (a relative name; escaping
    // names are refused). Upload: the source file's name inside `localDirectory`.
    std::string localName;
    // Download: the receive directory. Upload: the source file's directory.
    std::filesystem::path localDirectory;
    std::int64_t fileSize = 0;
    // 2 bulletin (received under "Bullet/"), 1 archive (needs ten times its size free).
    int kind = 0;
    std::string taskId;
    // The owning task's resume setting; a task that cannot be found allows resuming.
    bool allowResume = true;
};

// The folder a download of `item` is received in: bulletins go to "Bullet/" inside the
// receive directory.
std::filesystem::path receiveDirectory(const TransferItem& item);

// The block states shared with the transfer workers.
enum BlockState : int {
    kBlockIdle = 0,
    kBlockQueued = 1,
    kBlockTaken = 2,
    kBlockDone = 3,
    kBlockFailed = 4,
    kBlockFailedFinishing = 5,
};

// File states, derived from the block states.
enum FileState : int {
    kFileIdle = 0,
    kFileRunning = 1,
    kFileComplete = 2,
    kFileFailed = 3,
    kFileLastBlockFailed = 6,
};

// One block of one file: a handle to its record in the mapped block state file. Owned by
// its FileBlockInfo and valid while that object lives; the transfer queue holds pointers
// to it. Every accessor takes the owner's state lock.
class BlockTask {
  public:
    BlockTask(FileBlockInfo& file, int index) : file_(file), index_(index) {}
    FileBlockInfo& file() const { return file_; }
    int index() const { return index_; }

    std::int64_t start() const;
    std::int64_t end() const;
    std::int64_t nextOffset() const;
    int inFlight() const;
    // "00"/"02" upload blocks, "01"/"03" download blocks; "02" and "03" end the file.
    std::string kind() const;
    bool isLast() const;
    int repeatCount() const;
    int state() const;
    // False after close() or when the window could not be laid out.
    bool hasController() const;
    int packetSize() const;

    // Each persists the change at once.
    void setState(int state);
    void incrementRepeat();
    void setWorkerThread(std::uint32_t tid);

    // Window operations, each under the state lock and persisted.
    int resetInFlight();
    // Takes the packet size the connection's previous block arrived at, so a block taken
    // on the same connection starts at the link's pace (see CPkgSize::adoptPacketSize).
    void adoptPacketSize(int size);
    bool timedOut(int limitSeconds, std::string& text);
    bool allDone() const;
    bool hasReadySlot() const;
    // The gateway refused the request that carried `serial`: its slot becomes ready again.
    bool releaseSerial(std::string_view serial);

  private:
    friend class FileBlockInfo;
    // Requires: the owner's state lock held.
    bool hasControllerLocked() const;
    // One field of the block's record, under the state lock; `missing` when no record is
    // mapped. The store persists the record.
    template <class T>
    T loadField(std::size_t field, T missing) const;
    template <class T>
    void storeField(std::size_t field, T value);

    FileBlockInfo& file_;
    const int index_;
};

class FileBlockInfo {
  public:
    struct Options {
        const platform::Clock* clock = nullptr;  // required
        // Receives lines for the system log (a corrupt state file, a failed deletion).
        std::function<void(std::string_view)> systemLog;
        // Between deletion attempts and stop polls; tests shorten it.
        std::chrono::milliseconds retryPause{500};
        // Carries the data and state file I/O; null is the machine's. Must outlive the object.
        platform::FileSystem* files = nullptr;
    };

    explicit FileBlockInfo(Options options);
    ~FileBlockInfo();
    FileBlockInfo(const FileBlockInfo&) = delete;
    FileBlockInfo& operator=(const FileBlockInfo&) = delete;

    // Prepares the data file and the block state file: resumes from an intact state file
    // whose data file still has the full size, else starts from zero. False with
    // errorText() set on failure.
    bool open(const TransferItem& item, bool isUpload, std::string_view orgCode,
              std::string_view mailbox, std::string_view ftpType);

    // The next packet to send of `block` (round robin, or the lowest offset for uploads); its
    // slot is in flight and persisted. Empty when the window is full or nothing is ready, or
    // when the slot could not be persisted: then `*unsaved` (if given) is true and
    // errorText() says why.
    std::optional<CPkgSize::Packet> nextPacket(BlockTask& block, bool lowestOffset = false,
                                               bool* unsaved = nullptr);
    // Puts a packet taken by nextPacket back to ready (it could not be sent).
    void giveBack(BlockTask& block, const CPkgSize::Packet& packet);
    // Records the request sent for the packet: serial number and send time, persisted.
    bool markSent(BlockTask& block, const CPkgSize::Packet& packet, std::string_view serial);
    // The in-flight packet of `block` at `offset`, if any.
    std::optional<CPkgSize::Packet> awaiting(BlockTask& block, std::int64_t offset);
    // The in-flight packet of `block` whose request carried `serial`, if any.
    std::optional<CPkgSize::Packet> awaitingSerial(BlockTask& block, std::string_view serial);
    // The answer for the packet at `packetOffset` arrived: the slot is refilled, the bytes
    // transferred grow, header and record are persisted. `slotKind`: CPkgSize::kDownloadSlots
    // or kUploadSlots. False with errorText() set on failure.
    bool packetDone(BlockTask& block, std::int64_t packetOffset, int slotKind);

    // Data file I/O at any offset, under the data lock. False with errorText() set.
    bool writeData(std::int64_t offset, const void* bytes, std::size_t length);
    // Returns the bytes read (0 at the end or on failure).
    std::size_t readData(std::int64_t offset, void* buffer, std::size_t length);

    // The first block that may be dispatched: in state 0, and the last block only once every
    // block before it is done. Null when none.
    BlockTask* nextBlock();
    // The same, and the block becomes queued before the state lock is released, so two
    // dispatchers never take the same block. `finishing`, a block of this file whose
    // requests are all out, counts as done for the last block's rule.
    BlockTask* claimNextBlock(const BlockTask* finishing = nullptr);
    bool isTaken() const;
    int fileState();
    std::int64_t bytesDone() const;
    std::int64_t fileSize() const;  // -1 when no header is mapped
    int blockCount() const { return static_cast<int>(blocks_.size()); }
    BlockTask& block(int i) { return *blocks_[static_cast<std::size_t>(i)]; }
    bool resumed() const { return resumed_; }
    bool stopRequested() const;
    void setStopRequest(bool stop);

    // Ends the transfer: waits for workers to let go of their blocks, unmaps and closes
    // everything; a complete or failed file loses its ".tmp" (downloads) and its state file.
    void close();
    // close() that keeps the data file and the state file whatever the file state: a
    // finished download whose digest could not be checked yet, which a later run only
    // verifies.
    void closeKeepingData();

    const std::string& errorText() const { return errorText_; }
    const std::filesystem::path& dataPath() const { return dataPath_; }
    const std::filesystem::path& statePath() const { return statePath_; }
    const std::string& remoteName() const { return remoteName_; }
    const std::string& taskId() const { return taskId_; }
    bool isUpload() const { return isUpload_; }

    // The refusal text for files the 32-bit wire offsets cannot carry (2 GiB and more);
    // empty when `size` fits.
    static std::string sizeRefusal(std::int64_t size, std::string_view name);
    // Whether the state file at `statePath`, read without opening a transfer, records a
    // finished file: well formed and its last block done. False when absent or unreadable.
    static bool recordsFinishedFile(const std::filesystem::path& statePath);

  private:
    friend class BlockTask;

    void closeAndMaybeDiscard(bool keepData);
    bool openDownload(const TransferItem& item);
    bool openUpload(const TransferItem& item);
    // Deletes any earlier state, creates the data file at full size.
    bool startDownloadFromZero(const TransferItem& item);
    bool deleteFile(const std::filesystem::path& path, const std::string& failureText);
    bool mapStateFile(int blockCount, bool existing);
    // Why an existing state file cannot be trusted; empty when it can.
    std::string validateState(int expectedBlocks) const;
    void initialiseState(const TransferItem& item, int blockCount, std::string_view orgCode,
                         std::string_view mailbox, std::string_view ftpType);
    void reloadState();
    bool attachControllers(bool resumed);
    int computeFileState();
    bool flush(std::size_t offset, std::size_t length);
    bool flushRecord(int block);
    bool openDataFile();
    void closeDataFile();
    void log(std::string_view line) const;
    std::uint8_t* record(int block);
    const std::uint8_t* record(int block) const;
    BlockTask* findNextBlock(const BlockTask* finishing = nullptr);

    Options options_;
    bool isUpload_ = false;
    bool resumed_ = false;
    std::string remoteName_;
    std::string taskId_;
    std::filesystem::path dataPath_;
    std::filesystem::path statePath_;
    std::int64_t expectedSize_ = 0;
    std::string errorText_;

    mutable std::mutex stateMutex_;
    platform::MappedFile state_;
    std::vector<std::unique_ptr<BlockTask>> blocks_;
    std::vector<std::unique_ptr<CPkgSize>> controllers_;

    platform::FileSystem& files() const {
        return options_.files ? *options_.files : platform::FileSystem::real();
    }

    std::mutex dataMutex_;
    std::unique_ptr<platform::File> data_;
};

}  // namespace vantrel
