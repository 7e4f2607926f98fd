#include "client/transfer/block_transfer.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <utility>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/file_service_body.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "client/transfer/mem_data_buf.h"

namespace vantrel {

namespace {

// Error answers free the slot of the request they answer, so that packet is sent again;
// the request may be one of the lookahead's block.
class BlockWindow final : public InFlightWindow {
  public:
    BlockWindow(BlockTask& block, const BlockLookahead* ahead) : block_(block), ahead_(ahead) {}
    void releaseSlot(std::string_view serial) override {
        if (block_.releaseSerial(serial)) return;
        if (ahead_ && ahead_->block && ahead_->block->releaseSerial(serial)) aheadRefused_ = true;
    }
    // True once after an error answer to a request of the lookahead's block.
    bool takeAheadRefused() { return std::exchange(aheadRefused_, false); }

  private:
    BlockTask& block_;
    const BlockLookahead* ahead_;
    bool aheadRefused_ = false;
};

// What one try to send a request came to: one went out, nothing was ready to go, or a
// failure (the outcome, with the handle's text set).
struct SendStep {
    GatewayOutcome outcome = GatewayOutcome::Ok;
    bool sent = false;
    bool failed() const { return outcome != GatewayOutcome::Ok; }
};

// One call of the download or upload service. The two directions differ only where the
// comments say so.
class BlockMover {
  public:
    BlockMover(bool download, BlockTask& block, CVornFtp& handle,
               const BlockTransferOptions& options, TransferObserver* observer, UserPrompt* prompt)
        : download_(download),
          block_(block),
          file_(block.file()),
          handle_(handle),
          service_(handle),
          options_(options),
          observer_(observer),
          prompt_(prompt),
          ahead_(download ? options.lookahead : nullptr),
          window_(block, ahead_),
          timeOut_(handle.AnswerTimeOut()),
          fileName_(std::string(remoteBaseName(file_.remoteName()))),
          title_(download ? "下载文件[" + fileName_ + "]-" : "上传文件服务-") {}

    GatewayOutcome run();

  private:
    GatewayOutcome fail(GatewayOutcome outcome, const std::string& text) {
        handle_.SetLastError(text);
        return outcome;
    }
    TransferSession& session() { return options_.session ? *options_.session : ownSession_; }
    double elapsedSeconds() {
        return std::chrono::duration<double>(options_.clock->tick() - session().started).count();
    }
    GatewayOutcome moveBlock();
    // Sends the next ready packet of `block` (this call's or the lookahead's).
    SendStep sendNext(BlockTask& block);
    // Handles a "0000" answer to a packet. Ok go on, else the failure.
    GatewayOutcome takeAnswer(const std::string& packet);
    // Takes over the lookahead's requests or makes the block's in-flight packets ready again.
    void startWindow();
    // The lookahead's block when it may be sent for now: this block has nothing left to
    // ask for and the connection has room for another request. Takes the block first.
    BlockTask* aheadToSend();
    // Sends the lookahead's next request when there is room for it.
    SendStep sendAhead();
    // The lookahead's requests are not kept past this call: its next call sends them again.
    void haltAhead() {
        aheadHalted_ = true;
        if (ahead_) ahead_->carried = false;
    }
    // Every packet in flight on the connection is sent again with a fresh serial number.
    void resetAllInFlight() {
        block_.resetInFlight();
        if (ahead_ && ahead_->block) ahead_->block->resetInFlight();
    }
    void reportProgress();
    // Asks the cancel question when the operator pressed Stop.
    void checkCancel();
    // Keeps an error to return once nothing is in flight; its text survives later waits.
    void remember(GatewayOutcome outcome, const std::string& text) {
        remembered_ = outcome;
        rememberedText_ = text;
    }
    bool hasRemembered() const { return remembered_ != GatewayOutcome::Ok; }
    GatewayOutcome rememberedFailure() { return fail(remembered_, rememberedText_); }
    // The handle's text with the title in front, as every failure text of a download has.
    GatewayOutcome failWithTitle(GatewayOutcome outcome) {
        return fail(outcome, download_ ? title_ + handle_.LastError() : handle_.LastError());
    }

    const bool download_;
    BlockTask& block_;
    FileBlockInfo& file_;
    CVornFtp& handle_;
    VornFileService service_;
    const BlockTransferOptions& options_;
    TransferObserver* observer_;
    UserPrompt* prompt_;
    BlockLookahead* const ahead_;
    BlockWindow window_;
    const int timeOut_;
    const std::string fileName_;
    const std::string title_;

    TransferSession ownSession_;
    bool batchPending_ = false;
    platform::Tick batchRequested_{};
    GatewayOutcome remembered_ = GatewayOutcome::Ok;
    std::string rememberedText_;
    bool cancelled_ = false;
    bool aheadClaimTried_ = false;
    bool aheadHalted_ = false;
    std::unique_ptr<CMemDataBuf> uploadBuffer_;
};

SendStep BlockMover::sendNext(BlockTask& block) {
    const Route& route = handle_.CurrentRoute();
    std::string serial;
    char flag = '0';
    if (TakeSerial(handle_.Serials(), route, serial, flag) != 0) {
        if (batchPending_) return {};
        if (const GatewayOutcome asked = handle_.RequestTransSerialsAsync();
            asked != GatewayOutcome::Ok)
            return {asked};
        batchPending_ = true;
        batchRequested_ = options_.clock->tick();
        return {};
    }
    // Ask for the next block of numbers before this one runs out.
    if (!batchPending_ && NeedsSerials(handle_.Serials(), route) &&
        handle_.RequestTransSerialsAsync() == GatewayOutcome::Ok) {
        batchPending_ = true;
        batchRequested_ = options_.clock->tick();
    }
    bool unsaved = false;
    auto packet = file_.nextPacket(block, !download_, &unsaved);
    // A window that cannot be saved (a full disk) fails the block instead of waiting for it.
    if (unsaved) return {fail(GatewayOutcome::Failed, title_ + file_.errorText())};
    if (!packet) return {};
    const auto offset = static_cast<std::int32_t>(packet->offset);
    const auto length = static_cast<std::int32_t>(packet->length);
    GatewayOutcome sent = GatewayOutcome::Ok;
    if (download_) {
        if (!file_.markSent(block, *packet, serial))
            return {fail(GatewayOutcome::Failed, title_ + file_.errorText())};
        sent =
            service_.sendRequest(serial, flag, file_.remoteName(), "", length, offset, length, {});
    } else {
        // One buffer for the whole call: its inline area is large, and a packet that grows
        // past it keeps its heap area for the next one.
        if (!uploadBuffer_) uploadBuffer_ = std::make_unique<CMemDataBuf>();
        CMemDataBuf* buffer = uploadBuffer_.get();
        if (!buffer->resize(static_cast<std::size_t>(length))) {
            file_.giveBack(block, *packet);
            return {fail(GatewayOutcome::Failed,
                         title_ + "申请内存[" + std::to_string(length) + "]失败!")};
        }
        if (file_.readData(packet->offset, buffer->data(), buffer->length()) != buffer->length()) {
            // A short read would send bytes that are not the file's; the packet stays
            // ready for the next attempt.
            file_.giveBack(block, *packet);
            return {fail(GatewayOutcome::Failed, title_ + "读文件失败!")};
        }
        if (!file_.markSent(block, *packet, serial))
            return {fail(GatewayOutcome::Failed, title_ + file_.errorText())};
        sent = service_.sendRequest(serial, flag, "", file_.remoteName(),
                                    static_cast<std::int32_t>(block.end()), offset, length,
                                    std::string_view(buffer->data(), buffer->length()));
    }
    if (sent != GatewayOutcome::Ok)
        return {fail(sent, title_ + "失败(交易序列号:" + serial + ")," + handle_.LastError())};
    return {GatewayOutcome::Ok, true};
}

GatewayOutcome BlockMover::takeAnswer(const std::string& packet) {
    Result<filesvc::Body> body = filesvc::decodeBody(packet);
    if (!body) return fail(GatewayOutcome::Failed, title_ + body.status().text());
    const std::int64_t offset = body->b;
    const std::int64_t length = body->c;
    // A range outside the file fails the block at once, whichever request it claims to
    // answer: waiting would only end in the packet time-out.
    const std::int64_t size = file_.fileSize();
    if (download_ && (offset < 0 || length < 0 || (size >= 0 && offset + length > size))) {
        return fail(GatewayOutcome::PastFileEnd, title_ + "下载数据偏移量超过文件大小！");
    }
    const std::string serial = trimmed(responseRecordOf(packet).serial);
    BlockTask* block = &block_;
    auto awaited = file_.awaitingSerial(block_, serial);
    if (!awaited && ahead_ && ahead_->block) {
        block = ahead_->block;
        awaited = file_.awaitingSerial(*block, serial);
    }
    if (!awaited) {
        // No request of this window waits for that answer: the answer to a request sent
        // again after a reset, or to an earlier call's. Dropped; its bytes arrive with the
        // answer that is awaited.
        return GatewayOutcome::Ok;
    }
    // Each failure below frees the request's slot, so the packet is asked for again.
    auto refuse = [&](const char* why) {
        block->releaseSerial(serial);
        if (block != &block_) {
            // The lookahead's block asks again in its own call, which judges the answer.
            haltAhead();
            return GatewayOutcome::Ok;
        }
        if (block_.inFlight() == 0) return fail(GatewayOutcome::Failed, title_ + why);
        remember(GatewayOutcome::Failed, title_ + why);
        return GatewayOutcome::Ok;
    };
    // Data is taken only at the offset its request asked for: bytes written elsewhere
    // would be marked done for a packet they do not belong to.
    if (offset != awaited->offset)
        return refuse(download_ ? "下载数据偏移量与请求不符！" : "上传应答偏移量与请求不符！");
    if (download_) {
        // A short or long packet would leave a hole or spill into the next packet.
        if (length != awaited->length || static_cast<std::int64_t>(body->data.size()) < length) {
            return refuse("下载数据长度与请求不符！");
        }
        if (!file_.writeData(offset, body->data.data(), static_cast<std::size_t>(length))) {
            return fail(GatewayOutcome::Failed, title_ + file_.errorText());
        }
    }
    if (!file_.packetDone(*block, offset,
                          download_ ? CPkgSize::kDownloadSlots : CPkgSize::kUploadSlots)) {
        return fail(GatewayOutcome::Failed, title_ + file_.errorText());
    }
    session().bytesMoved += awaited->length;
    reportProgress();
    return GatewayOutcome::Ok;
}

void BlockMover::reportProgress() {
    if (!observer_) return;
    observer_->progress(makeProgressRecord(download_, fileName_, file_.bytesDone(),
                                           file_.fileSize(), session().bytesMoved,
                                           elapsedSeconds()));
}

void BlockMover::checkCancel() {
    if (!observer_ || !prompt_ || cancelled_ || !observer_->stopPressed()) return;
    const bool yes = prompt_->askYesNo(download_ ? "停止下载文件" : "停止上传文件",
                                       download_ ? "是否要取消下载?" : "是否要取消上传?",
                                       UserPrompt::Icon::Question);
    if (yes) {
        cancelled_ = true;
    } else {
        observer_->resumed();
    }
}

void BlockMover::startWindow() {
    if (ahead_ && ahead_->block == &block_) {
        const bool carried = ahead_->carried;
        ahead_->block = nullptr;
        ahead_->carried = false;
        // The requests the previous call sent for this block are answered on this
        // connection: sending them again would only double the gateway's work.
        if (carried) return;
    } else if (ahead_ && ahead_->block && !ahead_->carried) {
        ahead_->block->resetInFlight();
    }
    block_.resetInFlight();
}

BlockTask* BlockMover::aheadToSend() {
    if (!ahead_ || aheadHalted_ || !ahead_->claim) return nullptr;
    if (block_.hasReadySlot() || block_.nextOffset() < block_.end()) return nullptr;
    if (!ahead_->block) {
        // One try per call: the only thing that could change the answer is another
        // connection finishing a block, and then that connection takes the next one.
        if (aheadClaimTried_) return nullptr;
        aheadClaimTried_ = true;
        BlockTask* next = ahead_->claim(block_);
        if (!next) return nullptr;
        next->setState(kBlockTaken);
        // Whatever an earlier call left in flight for it is sent again, in packets of the
        // size this connection has reached: small first packets would leave the gateway
        // idle again.
        next->resetInFlight();
        next->adoptPacketSize(block_.packetSize());
        ahead_->block = next;
        ahead_->carried = false;
    }
    BlockTask& next = *ahead_->block;
    // Never more on the connection than one block's window.
    if (block_.inFlight() + next.inFlight() >= blockstate::kWindowSlots) return nullptr;
    return next.hasReadySlot() ? &next : nullptr;
}

SendStep BlockMover::sendAhead() {
    BlockTask* next = aheadToSend();
    if (!next) return {};
    const SendStep step = sendNext(*next);
    if (step.sent) ahead_->carried = true;
    return step;
}

GatewayOutcome BlockMover::run() {
    const GatewayOutcome outcome = moveBlock();
    // After a failure the connection is dropped or no longer read: what the lookahead's
    // block has in flight is sent again by its own call.
    if (outcome != GatewayOutcome::Ok && ahead_) ahead_->carried = false;
    return outcome;
}

GatewayOutcome BlockMover::moveBlock() {
    if (!block_.hasController()) {
        return download_ ? fail(GatewayOutcome::Failed, title_ + "出错,滑动窗口信息加载失败！")
                         : fail(GatewayOutcome::Refused, "加载滑动窗口断点临时文件出错");
    }
    startWindow();
    if (!download_ && block_.start() >= block_.end()) return GatewayOutcome::Ok;
    ownSession_.started = options_.clock->tick();
    if (observer_) observer_->begins(fileName_);

    std::string packet;
    for (;;) {
        if (options_.shouldStop && options_.shouldStop()) {
            return fail(GatewayOutcome::ShuttingDown, download_ ? "收到系统退出信号" : "系统退出");
        }
        const bool stopRequested = file_.stopRequested();
        checkCancel();
        if ((stopRequested || cancelled_) && block_.inFlight() == 0) {
            return cancelled_ ? fail(GatewayOutcome::Cancelled, title_ + "用户取消")
                              : fail(GatewayOutcome::TaskStopped, "用户停止任务！");
        }

        const GatewayOutcome got = handle_.PollResponse(packet, &window_);
        if (got != GatewayOutcome::Ok && got != GatewayOutcome::SerialBlockFiled) {
            if (batchPending_ &&
                options_.clock->tick() - batchRequested_ >= std::chrono::seconds(timeOut_)) {
                return fail(GatewayOutcome::TimedOut, title_ + "批量申请TransId超时!");
            }
            std::string text;
            if (block_.timedOut(timeOut_, text)) {
                handle_.DropIfLoggedIn();
                block_.resetInFlight();
                return fail(GatewayOutcome::TimedOut, "交易超时," + title_ + text);
            }
        }
        if (got == GatewayOutcome::NothingYet) {
            if (block_.allDone()) return GatewayOutcome::Ok;
            if (hasRemembered()) {
                if (block_.inFlight() == 0) return rememberedFailure();
            } else if (!stopRequested && !cancelled_ && block_.hasReadySlot()) {
                const SendStep step = sendNext(block_);
                if (step.failed()) return step.outcome;
                if (step.sent) {
                    // After the block's last request the next block's first one goes out at
                    // once: the last answer may be waiting already, and taking it first would
                    // leave the gateway idle again.
                    if (!block_.hasReadySlot()) {
                        if (const SendStep ahead = sendAhead(); ahead.failed())
                            return ahead.outcome;
                    }
                    continue;
                }
            } else if (!stopRequested && !cancelled_) {
                const SendStep step = sendAhead();
                if (step.failed()) return step.outcome;
                if (step.sent) continue;
            }
            // Nothing to send now: wait up to a second for an answer.
            (void)handle_.WaitForData(1, true);
            continue;
        }
        const bool aheadRefused = window_.takeAheadRefused();
        switch (got) {
            case GatewayOutcome::SerialBlockFiled:
                batchPending_ = false;
                continue;
            case GatewayOutcome::Ok:
                if (const GatewayOutcome taken = takeAnswer(packet); taken != GatewayOutcome::Ok)
                    return taken;
                if (hasRemembered() && block_.inFlight() == 0) return rememberedFailure();
                // Done at once, though the lookahead's answers may be waiting: its block's call
                // comes next on this connection, takes them (and a batch of serial numbers on
                // its way) and asks for the block after, which this call cannot.
                if (!hasRemembered() && ahead_ && ahead_->block && block_.allDone())
                    return GatewayOutcome::Ok;
                // The next block's request goes out before the next answer is taken, so the
                // gateway has it before this block's last answer.
                if (!hasRemembered() && !stopRequested && !cancelled_) {
                    if (const SendStep step = sendAhead(); step.failed()) return step.outcome;
                }
                continue;
            case GatewayOutcome::SerialsVoided:
                // The gateway voided the session's serial numbers: everything in flight is sent
                // again with fresh numbers; late answers to the old requests are dropped.
                batchPending_ = false;
                resetAllInFlight();
                continue;
            case GatewayOutcome::NewSession:
                if (!download_) {
                    batchPending_ = false;
                    return fail(got, title_ + "交易返回错误");
                }
                batchPending_ = false;
                resetAllInFlight();
                continue;
            case GatewayOutcome::SessionEnded:
                handle_.Serials().clear();
                block_.resetInFlight();
                batchPending_ = false;
                if (!download_) return fail(got, title_ + "交易返回错误");
                return failWithTitle(got);
            case GatewayOutcome::Refused:
                if (aheadRefused) {
                    // Judged by the lookahead block's own call, which asks again.
                    haltAhead();
                    continue;
                }
                if (!download_) handle_.SetLastError(title_ + "交易返回错误");
                if (block_.inFlight() == 0) return failWithTitle(got);
                remember(got, download_ ? title_ + handle_.LastError() : handle_.LastError());
                continue;
            default:
                if (!download_) return fail(got, title_ + "交易返回错误");
                return failWithTitle(got);
        }
    }
}

}  // namespace

TransferProgressRecord makeProgressRecord(bool download, const std::string& fileName,
                                          std::int64_t bytesDone, std::int64_t fileSize,
                                          std::int64_t movedThisSession, double elapsedSeconds) {
    TransferProgressRecord r;
    r.fileName = fileName;
    r.bytesDone = bytesDone;
    r.fileSize = fileSize;
    r.elapsedSeconds = elapsedSeconds;
    const double speed =
        elapsedSeconds > 0 ? static_cast<double>(movedThisSession) / elapsedSeconds / 1024.0 : 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "%9.2fK", speed);
    r.speed = text;
    double left = speed > 0 ? static_cast<double>(fileSize - bytesDone) / (speed * 1024.0) : 0.0;
    if (left < 0) left = 0;
    const long seconds = static_cast<long>(left);
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    r.remaining = text;
    std::snprintf(text, sizeof text, "(%" PRId64 "B / %" PRIu64 "B ), 请稍候...", bytesDone,
                  static_cast<std::uint64_t>(fileSize < 0 ? 0 : fileSize));
    r.statusLine = (download ? "正在接收文件[" : "正在发送文件[") + fileName + "]" + text;
    return r;
}

GatewayOutcome downloadBlock(BlockTask& block, CVornFtp& handle,
                             const BlockTransferOptions& options) {
    return BlockMover(true, block, handle, options, nullptr, nullptr).run();
}

GatewayOutcome downloadBlockInteractive(BlockTask& block, CVornFtp& handle,
                                        const BlockTransferOptions& options,
                                        TransferObserver& observer, UserPrompt& prompt) {
    return BlockMover(true, block, handle, options, &observer, &prompt).run();
}

GatewayOutcome uploadBlock(CVornFtp& handle, BlockTask* block,
                           const BlockTransferOptions& options) {
    if (!block) {
        handle.SetLastError("文件块句柄为NULL");
        return GatewayOutcome::Refused;
    }
    return BlockMover(false, *block, handle, options, nullptr, nullptr).run();
}

GatewayOutcome uploadBlockInteractive(CVornFtp& handle, BlockTask* block,
                                      const BlockTransferOptions& options,
                                      TransferObserver& observer, UserPrompt& prompt) {
    if (!block) {
        handle.SetLastError("文件块句柄为NULL");
        return GatewayOutcome::Refused;
    }
    return BlockMover(false, *block, handle, options, &observer, &prompt).run();
}

}  // namespace vantrel
