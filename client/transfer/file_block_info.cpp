#include "client/transfer/file_block_info.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <system_error>
#include <thread>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/local_path.h"
#include "platform/disk_space.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace bs = blockstate;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kWireLimit = std::int64_t{1} << 31;

std::string pathText(const fs::path& p) {
    return p.string();
}

int blocksForDownload(std::int64_t size) {
    return static_cast<int>((size + bs::kBlockSize - 1) / bs::kBlockSize);
}

// Text fields hold the system code page; names that do not convert keep '?' in their place.
std::string narrow(std::string_view utf8) {
    return platform::utf8ToGbkLossy(utf8);
}

}  // namespace

fs::path receiveDirectory(const TransferItem& item) {
    return item.kind == 2 ? item.localDirectory / "Bullet" : item.localDirectory;
}

// ---------------------------------------------------------------- BlockTask

template <class T>
T BlockTask::loadField(std::size_t field, T missing) const {
    std::lock_guard lock(file_.stateMutex_);
    const auto* r = file_.record(index_);
    return r ? bs::load<T>(r + field) : missing;
}

template <class T>
void BlockTask::storeField(std::size_t field, T value) {
    std::lock_guard lock(file_.stateMutex_);
    auto* r = file_.record(index_);
    if (!r) return;
    bs::store<T>(r + field, value);
    file_.flushRecord(index_);
}

std::int64_t BlockTask::start() const {
    return loadField<std::int64_t>(bs::task::kStart, 0);
}
std::int64_t BlockTask::end() const {
    return loadField<std::int64_t>(bs::task::kEnd, 0);
}
std::int64_t BlockTask::nextOffset() const {
    return loadField<std::int64_t>(bs::task::kNextOffset, 0);
}
int BlockTask::inFlight() const {
    return loadField<std::int32_t>(bs::task::kInFlight, 0);
}

std::string BlockTask::kind() const {
    std::lock_guard lock(file_.stateMutex_);
    const auto* r = file_.record(index_);
    return r ? std::string(reinterpret_cast<const char*>(r + bs::task::kKind), 2) : std::string();
}

bool BlockTask::isLast() const {
    const std::string k = kind();
    return k == "02" || k == "03";
}

int BlockTask::repeatCount() const {
    return loadField<std::int32_t>(bs::task::kRepeat, 0);
}
int BlockTask::state() const {
    return loadField<std::int32_t>(bs::task::kState, kBlockIdle);
}

bool BlockTask::hasController() const {
    std::lock_guard lock(file_.stateMutex_);
    return hasControllerLocked();
}

int BlockTask::packetSize() const {
    std::lock_guard lock(file_.stateMutex_);
    if (!hasControllerLocked()) return 0;
    return file_.controllers_[index_]->packetSize();
}

bool BlockTask::hasControllerLocked() const {
    return file_.controllers_.size() > static_cast<std::size_t>(index_) &&
           file_.controllers_[index_] != nullptr;
}

void BlockTask::setState(int state) {
    storeField<std::int32_t>(bs::task::kState, state);
}

void BlockTask::incrementRepeat() {
    std::lock_guard lock(file_.stateMutex_);
    auto* r = file_.record(index_);
    if (!r) return;
    bs::store<std::int32_t>(r + bs::task::kRepeat,
                            bs::load<std::int32_t>(r + bs::task::kRepeat) + 1);
    file_.flushRecord(index_);
}

void BlockTask::setWorkerThread(std::uint32_t tid) {
    storeField<std::uint32_t>(bs::task::kWorkerThread, tid);
}

int BlockTask::resetInFlight() {
    std::lock_guard lock(file_.stateMutex_);
    if (!hasControllerLocked()) return 0;
    const int n = file_.controllers_[index_]->resetInFlight();
    file_.flushRecord(index_);
    return n;
}

void BlockTask::adoptPacketSize(int size) {
    std::lock_guard lock(file_.stateMutex_);
    if (!hasControllerLocked()) return;
    file_.controllers_[index_]->adoptPacketSize(size);
    file_.flushRecord(index_);
}

bool BlockTask::timedOut(int limitSeconds, std::string& text) {
    std::lock_guard lock(file_.stateMutex_);
    if (!hasControllerLocked()) return false;
    CPkgSize& c = *file_.controllers_[index_];
    if (!c.timedOut(limitSeconds)) return false;
    text = c.lastError();
    return true;
}

bool BlockTask::allDone() const {
    std::lock_guard lock(file_.stateMutex_);
    return hasControllerLocked() && file_.controllers_[index_]->allDone();
}

bool BlockTask::hasReadySlot() const {
    std::lock_guard lock(file_.stateMutex_);
    return hasControllerLocked() && file_.controllers_[index_]->hasSlotInState(CPkgSize::kReady);
}

bool BlockTask::releaseSerial(std::string_view serial) {
    std::lock_guard lock(file_.stateMutex_);
    if (!hasControllerLocked()) return false;
    const bool released =
        file_.controllers_[index_]->setSlotStateBySerial(serial, CPkgSize::kReady);
    if (released) file_.flushRecord(index_);
    return released;
}

// ---------------------------------------------------------------- FileBlockInfo

FileBlockInfo::FileBlockInfo(Options options) : options_(std::move(options)) {}

FileBlockInfo::~FileBlockInfo() {
    std::lock_guard lock(stateMutex_);
    controllers_.clear();
    state_.close();
}

std::string FileBlockInfo::sizeRefusal(std::int64_t size, std::string_view name) {
    if (size < kWireLimit) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%" PRId64, size);
    return "文件[" + std::string(name) + "]大小为" + text + "字节，达到或超过2GB，无法传送该文件！";
}

bool FileBlockInfo::recordsFinishedFile(const fs::path& statePath) {
    Result<std::string> read = platform::readFile(statePath);
    if (!read) return false;
    const std::string& bytes = read.value();
    if (bytes.size() < bs::kHeaderSize) return false;
    const auto* h = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const int blockCount = bs::load<std::int32_t>(h + bs::header::kBlockCount);
    if (blockCount < 1 || bytes.size() != bs::fileSizeFor(blockCount)) return false;
    return bs::load<std::int32_t>(h + bs::recordOffset(blockCount - 1) + bs::task::kState) ==
           kBlockDone;
}

void FileBlockInfo::log(std::string_view line) const {
    if (options_.systemLog) options_.systemLog(line);
}

std::uint8_t* FileBlockInfo::record(int block) {
    if (!state_.isOpen() || block < 0 || bs::recordOffset(block + 1) > state_.size())
        return nullptr;
    return state_.data() + bs::recordOffset(block);
}

const std::uint8_t* FileBlockInfo::record(int block) const {
    if (!state_.isOpen() || block < 0 || bs::recordOffset(block + 1) > state_.size())
        return nullptr;
    return state_.data() + bs::recordOffset(block);
}

bool FileBlockInfo::flush(std::size_t offset, std::size_t length) {
    if (!state_.isOpen()) return false;
    if (Status flushed = files().flushMapped(state_, offset, length); !flushed) {
        errorText_ = "写入内存映射文件[" + pathText(statePath_) + "]失败！" + flushed.text();
        return false;
    }
    return true;
}

bool FileBlockInfo::flushRecord(int block) {
    return flush(bs::recordOffset(block), bs::kRecordSize);
}

bool FileBlockInfo::deleteFile(const fs::path& path, const std::string& failureText) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::error_code ec;
        if (!fs::exists(path, ec)) return true;
        if (platform::removeIfPresent(files(), path) || !fs::exists(path, ec)) return true;
        if (attempt < 2) std::this_thread::sleep_for(options_.retryPause);
    }
    errorText_ = failureText;
    return false;
}

bool FileBlockInfo::open(const TransferItem& item, bool isUpload, std::string_view orgCode,
                         std::string_view mailbox, std::string_view ftpType) {
    if (orgCode.empty() || mailbox.empty() || ftpType.empty() || item.fileSize < 0 ||
        !options_.clock) {
        errorText_ = "函数参数传递不正确！";
        return false;
    }
    if (state_.isOpen()) {
        errorText_ = "太多的文件句柄";
        return false;
    }
    if (std::string refusal = sizeRefusal(item.fileSize, item.remoteName); !refusal.empty()) {
        errorText_ = refusal;
        return false;
    }
    isUpload_ = isUpload;
    remoteName_ = item.remoteName;
    taskId_ = item.taskId;
    expectedSize_ = item.fileSize;
    resumed_ = false;
    if (!(isUpload ? openUpload(item) : openDownload(item))) return false;

    const int blockCount = isUpload ? 1 : blocksForDownload(item.fileSize);
    if (resumed_) {
        if (!mapStateFile(blockCount, true)) {
            log("块状态文件[" + pathText(statePath_) + "]无法打开(" + errorText_ +
                ")，从头重新传送");
            resumed_ = false;
        } else if (std::string why = validateState(blockCount); !why.empty()) {
            log("块状态文件[" + pathText(statePath_) + "]已损坏(" + why + ")，从头重新传送");
            state_.close();
            resumed_ = false;
        }
        if (!resumed_) {
            if (isUpload) {
                if (!deleteFile(statePath_, "删除[" + pathText(statePath_) +
                                                "]对应临时文件失败，请手动处理该文件！")) {
                    return false;
                }
            } else if (!startDownloadFromZero(item)) {
                return false;
            }
        }
    }
    if (resumed_) {
        reloadState();
    } else {
        if (!mapStateFile(blockCount, false)) {
            // No state file, no data file: a fresh ".tmp" without one would only be left behind.
            if (!isUpload) (void)deleteFile(dataPath_, "");
            return false;
        }
        initialiseState(item, blockCount, orgCode, mailbox, ftpType);
        if (!flush(0, state_.size())) {
            state_.close();
            return false;
        }
    }
    return attachControllers(resumed_);
}

bool FileBlockInfo::openDownload(const TransferItem& item) {
    Result<fs::path> target = localPathInside(receiveDirectory(item), item.localName);
    if (!target) {
        errorText_ = target.status().text();
        return false;
    }
    dataPath_ = partialPathFor(*target);
    statePath_ = dataPath_.string() + ".~block";

    std::error_code ec;
    const bool dataExists = fs::exists(dataPath_, ec);
    const bool stateExists = fs::exists(statePath_, ec);
    if (item.allowResume && dataExists && stateExists) {
        const auto length = fs::file_size(dataPath_, ec);
        if (ec) {
            errorText_ = "文件[" + pathText(dataPath_) + "]打开数据文件失败,文件重新传送";
        } else if (static_cast<std::int64_t>(length) != item.fileSize) {
            errorText_ =
                "文件[" + pathText(dataPath_) + "],对应数据文件大小不正确，将会重新下载该文件！";
        } else {
            resumed_ = true;
            return true;
        }
        log(errorText_);
    }
    return startDownloadFromZero(item);
}

bool FileBlockInfo::startDownloadFromZero(const TransferItem& item) {
    resumed_ = false;
    if (!deleteFile(dataPath_, "删除[" + pathText(dataPath_) + "]文件失败，请手动处理该文件！"))
        return false;
    if (!deleteFile(statePath_,
                    "删除[" + pathText(statePath_) + "]对应临时文件失败，请手动处理该文件！"))
        return false;
    const fs::path directory = dataPath_.parent_path();
    if (!platform::createDirectories(directory)) {
        errorText_ = "创建目录: " + pathText(directory) + " 失败";
        return false;
    }
    const std::int64_t needed = item.kind == 1 ? item.fileSize * 10 : item.fileSize;
    if (auto free = platform::freeBytes(directory);
        free && static_cast<std::int64_t>(*free / kMiB) < needed / kMiB) {
        errorText_ = "您的下载文件磁盘[" + pathText(directory) +
                     "]空间不足，为了能够正常的进行业务操作，请您先进行磁盘清理!";
        return false;
    }
    Result<std::unique_ptr<platform::File>> created =
        files().open(dataPath_, platform::OpenMode::kCreate);
    if (!created) {
        errorText_ = "打开[" + pathText(dataPath_) + "]文件失败，请手动处理该文件！";
        return false;
    }
    if (Status sized = created.value()->resize(item.fileSize); !sized) {
        errorText_ = "创建文件[" + pathText(dataPath_) +
                     "]在设置文件大小时出现错误,错误代码:" + sized.text();
        return false;
    }
    return true;
}

bool FileBlockInfo::openUpload(const TransferItem& item) {
    Result<fs::path> source = localPathInside(item.localDirectory, item.localName);
    if (!source) {
        errorText_ = source.status().text();
        return false;
    }
    dataPath_ = *source;
    statePath_ = dataPath_.string() + ".~block";
    std::error_code ec;
    if (!fs::exists(dataPath_, ec)) {
        deleteFile(statePath_,
                   "删除[" + pathText(statePath_) + "]对应临时文件失败，请手动处理该文件！");
        errorText_ = "数据文件[" + pathText(dataPath_) + "]不存在！";
        return false;
    }
    const auto length = fs::file_size(dataPath_, ec);
    if (ec) {
        errorText_ = "文件[" + pathText(dataPath_) + "]打开失败,文件无法传送";
        return false;
    }
    if (static_cast<std::int64_t>(length) != item.fileSize) {
        errorText_ = "文件[" + pathText(dataPath_) + "],对应数据文件大小不正确";
        return false;
    }
    if (!item.allowResume && !deleteFile(statePath_, "删除[" + pathText(statePath_) +
                                                         "]对应临时文件失败，请手动处理该文件！")) {
        return false;
    }
    if (!files().open(dataPath_, platform::OpenMode::kRead)) {
        errorText_ = "打开[" + pathText(dataPath_) + "]文件失败，请手动处理该文件！";
        return false;
    }
    resumed_ = fs::exists(statePath_, ec);
    return true;
}

bool FileBlockInfo::mapStateFile(int blockCount, bool existing) {
    const std::size_t size = existing ? 0 : bs::fileSizeFor(blockCount);
    if (!existing) {
        const fs::path directory = statePath_.parent_path();
        if (auto free = platform::freeBytes(directory); free && *free < size) {
            errorText_ = "空间[" + std::to_string(size) + " Byte]不够，磁盘[" +
                         pathText(directory) + "]空间太小，请进行磁盘清理!";
            return false;
        }
    }
    Result<platform::MappedFile> mapped = files().map(statePath_, size, !existing);
    if (!mapped) {
        errorText_ = "创建内存映射文件[" + pathText(statePath_) + "]失败," + mapped.status().text();
        return false;
    }
    state_ = std::move(mapped.value());
    return true;
}

std::string FileBlockInfo::validateState(int expectedBlocks) const {
    if (state_.size() < bs::kHeaderSize) return "文件长度不足";
    const std::uint8_t* h = state_.data();
    const int blockCount = bs::load<std::int32_t>(h + bs::header::kBlockCount);
    if (blockCount != expectedBlocks) return "块数不符";
    if (bs::load<std::int32_t>(h + bs::header::kWindowSize) != bs::kWindowSlots)
        return "窗口大小不符";
    if (state_.size() != bs::fileSizeFor(blockCount)) return "文件长度与块数不符";
    if (bs::load<std::int64_t>(h + bs::header::kFileSize) != expectedSize_) return "文件大小不符";
    if (bs::loadText(h + bs::header::kDirection, 4) != (isUpload_ ? "00" : "01"))
        return "传送方向不符";
    if (bs::loadText(h + bs::header::kRemoteName, 260) != narrow(remoteName_).substr(0, 259))
        return "远程文件名不符";
    const std::int64_t done = bs::load<std::int64_t>(h + bs::header::kBytesDone);
    if (done < 0 || done > expectedSize_) return "已传送字节数不正确";

    for (int i = 0; i < blockCount; ++i) {
        const std::uint8_t* r = h + bs::recordOffset(i);
        const bool last = i == blockCount - 1;
        const std::int64_t start = bs::load<std::int64_t>(r + bs::task::kStart);
        const std::int64_t end = bs::load<std::int64_t>(r + bs::task::kEnd);
        const std::int64_t next = bs::load<std::int64_t>(r + bs::task::kNextOffset);
        const std::int64_t wantStart = isUpload_ ? 0 : i * bs::kBlockSize;
        const std::int64_t wantEnd =
            (isUpload_ || last) ? expectedSize_ : wantStart + bs::kBlockSize;
        if (start != wantStart || end != wantEnd || next < start || next > end)
            return "块边界不正确";
        const std::string kind(reinterpret_cast<const char*>(r + bs::task::kKind), 2);
        const char* wantKind = isUpload_ ? "02" : (last ? "03" : "01");
        if (kind != wantKind) return "块类型不正确";
        const int state = bs::load<std::int32_t>(r + bs::task::kState);
        if (state < kBlockIdle || state > kBlockFailedFinishing) return "块状态不正确";
        for (int s = 0; s < bs::kWindowSlots; ++s) {
            const std::uint8_t* slot = r + bs::slotOffset(s);
            const int slotState = bs::load<std::int32_t>(slot + bs::slot::kState);
            if (slotState < CPkgSize::kReady || slotState > CPkgSize::kFinished)
                return "窗口状态不正确";
            if (slotState == CPkgSize::kFinished) continue;
            const std::int64_t offset = bs::load<std::int64_t>(slot + bs::slot::kOffset);
            const std::int64_t length = bs::load<std::int64_t>(slot + bs::slot::kLength);
            if (length == 0 && offset == 0) continue;  // never laid out; start() gives it a packet
            if (length <= 0 || offset < start || offset > next - length)
                return "窗口数据包范围不正确";
        }
    }
    return {};
}

void FileBlockInfo::initialiseState(const TransferItem& item, int blockCount,
                                    std::string_view orgCode, std::string_view mailbox,
                                    std::string_view ftpType) {
    std::uint8_t* h = state_.data();
    std::memset(h, 0, state_.size());
    bs::storeText(h + bs::header::kRemoteName, 260, narrow(item.remoteName));
    bs::storeText(h + bs::header::kLocalDir, 260, narrow(dataPath_.parent_path().string()));
    bs::storeText(h + bs::header::kOrgCode, 9, orgCode);
    bs::storeText(h + bs::header::kMailbox, 17, mailbox);
    bs::storeText(h + bs::header::kFtpType, 3, ftpType);
    bs::storeText(h + bs::header::kTaskId, 23, item.taskId);
    bs::store<std::int32_t>(h + bs::header::kItemKind, item.kind);
    bs::storeText(h + bs::header::kDirection, 4, isUpload_ ? "00" : "01");
    bs::store<std::int64_t>(h + bs::header::kFileSize, item.fileSize);
    bs::store<std::int32_t>(h + bs::header::kBlockCount, blockCount);
    bs::store<std::int32_t>(h + bs::header::kWindowSize, bs::kWindowSlots);
    for (int i = 0; i < blockCount; ++i) {
        std::uint8_t* r = h + bs::recordOffset(i);
        const bool last = i == blockCount - 1;
        const std::int64_t start = isUpload_ ? 0 : i * bs::kBlockSize;
        const std::int64_t end = (isUpload_ || last) ? item.fileSize : start + bs::kBlockSize;
        bs::store<std::int64_t>(r + bs::task::kStart, start);
        bs::store<std::int64_t>(r + bs::task::kEnd, end);
        bs::store<std::int64_t>(r + bs::task::kNextOffset, start);
        std::memcpy(r + bs::task::kKind, isUpload_ ? "02" : (last ? "03" : "01"), 2);
    }
}

void FileBlockInfo::reloadState() {
    std::lock_guard lock(stateMutex_);
    const int n = bs::load<std::int32_t>(state_.data() + bs::header::kBlockCount);
    for (int i = 0; i < n; ++i) {
        std::uint8_t* r = record(i);
        const int s = bs::load<std::int32_t>(r + bs::task::kState);
        if (s == kBlockQueued || s == kBlockTaken || s == kBlockFailed ||
            s == kBlockFailedFinishing) {
            bs::store<std::int32_t>(r + bs::task::kState, kBlockIdle);
            bs::store<std::int32_t>(r + bs::task::kRepeat, 0);
        }
    }
    computeFileState();
}

bool FileBlockInfo::attachControllers(bool resumed) {
    std::lock_guard lock(stateMutex_);
    const int n = bs::load<std::int32_t>(state_.data() + bs::header::kBlockCount);
    state_.data()[bs::header::kStopRequest] = 0;
    blocks_.clear();
    controllers_.clear();
    for (int i = 0; i < n; ++i) {
        std::uint8_t* r = record(i);
        if (bs::load<std::int32_t>(r + bs::task::kState) != kBlockDone) {
            bs::store<std::int32_t>(r + bs::task::kState, kBlockIdle);
        }
        bs::store<std::int32_t>(r + bs::task::kFileLink, i + 1);
        bs::store<std::int32_t>(r + bs::task::kWindowLink, i + 1);
        bs::store<std::int32_t>(r + bs::task::kInFlight, 0);
        blocks_.push_back(std::make_unique<BlockTask>(*this, i));
        controllers_.push_back(std::make_unique<CPkgSize>(r, bs::kWindowSlots, *options_.clock));
        controllers_.back()->start(resumed);
    }
    if (!flush(0, state_.size())) {
        errorText_ = "初始化文件[" + pathText(statePath_) + "]对应滑动窗口信息失败！";
        return false;
    }
    return true;
}

std::optional<CPkgSize::Packet> FileBlockInfo::nextPacket(BlockTask& block, bool lowestOffset,
                                                          bool* unsaved) {
    std::lock_guard lock(stateMutex_);
    if (unsaved) *unsaved = false;
    if (!block.hasControllerLocked()) {
        errorText_ = "文件块对应的滑动窗口信息指针为空！";
        return std::nullopt;
    }
    CPkgSize& c = *controllers_[block.index()];
    auto packet = lowestOffset ? c.nextSlotLowest() : c.nextSlot();
    if (!packet) return std::nullopt;
    if (!flushRecord(block.index())) {
        c.giveBack(packet->slot);
        if (unsaved) *unsaved = true;
        return std::nullopt;
    }
    return packet;
}

void FileBlockInfo::giveBack(BlockTask& block, const CPkgSize::Packet& packet) {
    std::lock_guard lock(stateMutex_);
    if (!block.hasControllerLocked()) return;
    controllers_[block.index()]->giveBack(packet.slot);
    flushRecord(block.index());
}

bool FileBlockInfo::markSent(BlockTask& block, const CPkgSize::Packet& packet,
                             std::string_view serial) {
    std::lock_guard lock(stateMutex_);
    if (!block.hasControllerLocked()) {
        errorText_ = "文件块对应的滑动窗口信息指针为空！";
        return false;
    }
    controllers_[block.index()]->markSent(packet.slot, serial);
    return flushRecord(block.index());
}

std::optional<CPkgSize::Packet> FileBlockInfo::awaiting(BlockTask& block, std::int64_t offset) {
    std::lock_guard lock(stateMutex_);
    if (!block.hasControllerLocked()) return std::nullopt;
    return controllers_[block.index()]->awaiting(offset);
}

std::optional<CPkgSize::Packet> FileBlockInfo::awaitingSerial(BlockTask& block,
                                                              std::string_view serial) {
    std::lock_guard lock(stateMutex_);
    if (!block.hasControllerLocked()) return std::nullopt;
    return controllers_[block.index()]->awaitingSerial(serial);
}

bool FileBlockInfo::packetDone(BlockTask& block, std::int64_t packetOffset, int slotKind) {
    std::lock_guard lock(stateMutex_);
    if (!block.hasControllerLocked()) {
        errorText_ = "文件块对应的滑动窗口信息指针为空！";
        return false;
    }
    CPkgSize& c = *controllers_[block.index()];
    const auto length = c.answered(packetOffset, slotKind);
    if (!length) {
        errorText_ = c.lastError();
        return false;
    }
    std::uint8_t* h = state_.data();
    bs::store<std::int64_t>(h + bs::header::kBytesDone,
                            bs::load<std::int64_t>(h + bs::header::kBytesDone) + *length);
    return flush(0, bs::kHeaderSize) && flushRecord(block.index());
}

bool FileBlockInfo::openDataFile() {
    if (data_) return true;
    Result<std::unique_ptr<platform::File>> opened = files().open(
        dataPath_, isUpload_ ? platform::OpenMode::kRead : platform::OpenMode::kReadWrite);
    if (!opened) {
        errorText_ = "打开[" + pathText(dataPath_) + "]文件失败，请手动处理该文件！";
        return false;
    }
    data_ = std::move(opened.value());
    return true;
}

void FileBlockInfo::closeDataFile() {
    std::lock_guard lock(dataMutex_);
    if (data_) (void)data_->close();
    data_.reset();
}

bool FileBlockInfo::writeData(std::int64_t offset, const void* bytes, std::size_t length) {
    std::lock_guard lock(dataMutex_);
    if (!openDataFile()) return false;
    // Into the kernel before the state file says the packet is in: a killed process
    // loses nothing that the state file claims.
    if (Status written = data_->writeAt(offset, bytes, length); !written) {
        errorText_ = "写文件[" + pathText(dataPath_) + "]出现错误，错误原因：" + written.text();
        return false;
    }
    return true;
}

std::size_t FileBlockInfo::readData(std::int64_t offset, void* buffer, std::size_t length) {
    std::lock_guard lock(dataMutex_);
    if (!openDataFile()) return 0;
    Result<std::size_t> n = data_->readAt(offset, buffer, length);
    return n ? n.value() : 0;
}

BlockTask* FileBlockInfo::findNextBlock(const BlockTask* finishing) {
    const int n = static_cast<int>(blocks_.size());
    if (!state_.isOpen() || n == 0) return nullptr;
    const int fileState = computeFileState();
    bool earlierAllDone = true;
    for (int i = 0; i < n; ++i) {
        const std::uint8_t* r = record(i);
        const int s = bs::load<std::int32_t>(r + bs::task::kState);
        if (fileState == kFileLastBlockFailed && bs::load<std::int32_t>(r + bs::task::kRepeat) > 3)
            return nullptr;
        const std::string kind(reinterpret_cast<const char*>(r + bs::task::kKind), 2);
        const bool last = kind == "02" || kind == "03";
        if (s == kBlockIdle && (!last || earlierAllDone)) return blocks_[i].get();
        if (s != kBlockDone && blocks_[i].get() != finishing) earlierAllDone = false;
    }
    return nullptr;
}

BlockTask* FileBlockInfo::nextBlock() {
    std::lock_guard lock(stateMutex_);
    return findNextBlock();
}

BlockTask* FileBlockInfo::claimNextBlock(const BlockTask* finishing) {
    std::lock_guard lock(stateMutex_);
    BlockTask* block = findNextBlock(finishing);
    if (block) {
        bs::store<std::int32_t>(record(block->index()) + bs::task::kState, kBlockQueued);
        flushRecord(block->index());
    }
    return block;
}

bool FileBlockInfo::isTaken() const {
    std::lock_guard lock(stateMutex_);
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const std::uint8_t* r = record(static_cast<int>(i));
        if (r && bs::load<std::int32_t>(r + bs::task::kState) == kBlockTaken) return true;
    }
    return false;
}

int FileBlockInfo::computeFileState() {
    if (!state_.isOpen()) return kFileIdle;
    const int n = bs::load<std::int32_t>(state_.data() + bs::header::kBlockCount);
    int result = kFileIdle;
    bool running = false;
    for (int i = 0; i < n && result == kFileIdle; ++i) {
        const int s = bs::load<std::int32_t>(record(i) + bs::task::kState);
        if (s == kBlockFailed) {
            result = kFileFailed;
        } else if (i == n - 1 && s == kBlockDone) {
            result = kFileComplete;
        } else if (i == n - 1 && s == kBlockFailedFinishing) {
            result = kFileLastBlockFailed;
        } else if (s == kBlockQueued || s == kBlockTaken) {
            running = true;
        }
    }
    if (result == kFileIdle && running) result = kFileRunning;
    // Asked on every dispatcher pass: the header is written (and flushed) only on a change.
    if (bs::load<std::int32_t>(state_.data() + bs::header::kFileState) != result) {
        bs::store<std::int32_t>(state_.data() + bs::header::kFileState, result);
        flush(0, bs::kHeaderSize);
    }
    return result;
}

int FileBlockInfo::fileState() {
    std::lock_guard lock(stateMutex_);
    return computeFileState();
}

std::int64_t FileBlockInfo::bytesDone() const {
    std::lock_guard lock(stateMutex_);
    return state_.isOpen() ? bs::load<std::int64_t>(state_.data() + bs::header::kBytesDone) : 0;
}

std::int64_t FileBlockInfo::fileSize() const {
    std::lock_guard lock(stateMutex_);
    return state_.isOpen() ? bs::load<std::int64_t>(state_.data() + bs::header::kFileSize) : -1;
}

bool FileBlockInfo::stopRequested() const {
    std::lock_guard lock(stateMutex_);
    return state_.isOpen() && state_.data()[bs::header::kStopRequest] != 0;
}

void FileBlockInfo::setStopRequest(bool stop) {
    std::lock_guard lock(stateMutex_);
    if (!state_.isOpen()) return;
    state_.data()[bs::header::kStopRequest] = stop ? 1 : 0;
    flush(0, bs::kHeaderSize);
}

void FileBlockInfo::close() {
    closeAndMaybeDiscard(false);
}

void FileBlockInfo::closeKeepingData() {
    closeAndMaybeDiscard(true);
}

void FileBlockInfo::closeAndMaybeDiscard(bool keepData) {
    setStopRequest(true);
    for (int i = 0; i < 120 && isTaken(); ++i) std::this_thread::sleep_for(options_.retryPause);

    int finalState = kFileIdle;
    {
        std::lock_guard lock(stateMutex_);
        if (!state_.isOpen()) return;
        finalState = computeFileState();
        controllers_.clear();
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            std::uint8_t* r = record(static_cast<int>(i));
            bs::store<std::int32_t>(r + bs::task::kFileLink, 0);
            bs::store<std::int32_t>(r + bs::task::kWindowLink, 0);
        }
        flush(0, state_.size());
        state_.close();
    }
    closeDataFile();
    if (keepData || (finalState != kFileComplete && finalState != kFileFailed)) return;
    if (!isUpload_ && !deleteFile(dataPath_, "")) {
        log("删除文件[" + pathText(dataPath_) + "]失败，请手工处理该文件！");
    }
    if (!deleteFile(statePath_, ""))
        log("删除文件[" + pathText(statePath_) + "]失败，请手工处理该文件！");
}

}  // namespace vantrel
