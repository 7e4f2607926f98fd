#pragma once
// The download and upload services: one block of one file moved with up to five packet
// requests in flight on one gateway connection, all progress kept in the block state file,
// so a call that fails leaves the block resumable by the next call (same or another
// worker, or after a restart).
//
// Results: Ok the block is complete; ShuttingDown; TaskStopped (the owning task was
// stopped); TimedOut (serial batch or packet; the connection is closed); PastFileEnd
// (download: an answer passes the file's end); Refused (the gateway refused a packet);
// SessionEnded ("E998"); NewSession (upload: "0014"); Cancelled (interactive variants);
// Failed for any other failure; failures of the request builder and of the serial request
// are passed on. The handle's LastError() holds the text.
//
// Thread: the calling worker owns `handle` for the whole call. Several workers may move
// different blocks of one file at once, each on its own handle.

#include <cstdint>
#include <functional>
#include <string>

#include "client/base/user_prompt.h"
#include "client/gateway/gateway_outcome.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/file_block_info.h"
#include "platform/clock.h"

namespace vantrel {

// The bytes one interactive transfer of a file moved since it began, over all its blocks:
// its speed and remaining time come from these alone, since a resumed file's earlier bytes
// were not moved in this transfer's time. Written on the transfer's thread only.
struct TransferSession {
    platform::Tick started{};
    std::int64_t bytesMoved = 0;
};

// One connection's next download block, taken while the current block's last answers are
// still on their way: once every remaining packet of the current block is in flight, the
// call sends the next block's first requests on the same connection, so the gateway is not
// left idle at the boundary. Answers go to whichever of the two blocks awaits their serial.
// The caller runs `block` next with the same lookahead, or gives it back when it stops.
//
// Thread: owned by one worker, used with one handle.
struct BlockLookahead {
    // Takes the next block of the connection (queued, so no other worker takes it); null
    // when none. `current` is the block being finished, which counts as done when the
    // last block of its file is considered: its own requests are all out by then.
    std::function<BlockTask*(const BlockTask& current)> claim;
    // The block taken early (state taken), or null.
    BlockTask* block = nullptr;
    // True while `block`'s in-flight requests went out on the handle of a call that ended
    // with Ok, so its answers are still to come there. The next call of `block` then keeps
    // them instead of sending them again; any failing call clears it, and `block` resends
    // whatever it had in flight.
    bool carried = false;
};

struct BlockTransferOptions {
    const platform::Clock* clock = nullptr;  // required
    // The process-wide stop (thread manager shutting down); may be empty.
    std::function<bool()> shouldStop;
    // The file's transfer, for the progress records; null: the block's call on its own.
    TransferSession* session = nullptr;
    // Downloads only: lets the call start the connection's next block; null: none.
    BlockLookahead* lookahead = nullptr;
};

// One progress record of an interactive transfer, for the transfer dialog.
struct TransferProgressRecord {
    std::string fileName;
    std::int64_t bytesDone = 0;
    std::int64_t fileSize = 0;
    double elapsedSeconds = 0;
    std::string speed;       // "%9.2fK", KiB/s
    std::string remaining;   // "%02d:%02d:%02d"
    std::string statusLine;  // "正在接收文件[...](...B / ...B ), 请稍候..."
};

// What an interactive transfer reports to its dialog. Called on the transfer's thread;
// implementations only store or post (a progress record is a snapshot the dialog polls).
class TransferObserver {
  public:
    virtual ~TransferObserver() = default;
    // The transfer of `fileName` begins.
    virtual void begins(const std::string& fileName) = 0;
    virtual void progress(const TransferProgressRecord& record) = 0;
    // True once per press of the dialog's Stop button.
    virtual bool stopPressed() = 0;
    // The operator declined to cancel; the dialog shows the transfer running again.
    virtual void resumed() = 0;
};

GatewayOutcome downloadBlock(BlockTask& block, CVornFtp& handle,
                             const BlockTransferOptions& options);
GatewayOutcome downloadBlockInteractive(BlockTask& block, CVornFtp& handle,
                                        const BlockTransferOptions& options,
                                        TransferObserver& observer, UserPrompt& prompt);
// A null block fails with "文件块句柄为NULL" (Refused).
GatewayOutcome uploadBlock(CVornFtp& handle, BlockTask* block, const BlockTransferOptions& options);
GatewayOutcome uploadBlockInteractive(CVornFtp& handle, BlockTask* block,
                                      const BlockTransferOptions& options,
                                      TransferObserver& observer, UserPrompt& prompt);

// The progress record for `bytesDone` of `fileSize`, of which `movedThisSession` were moved
// in the `elapsedSeconds` since the transfer began; the speed and remaining time come from those.
TransferProgressRecord makeProgressRecord(bool download, const std::string& fileName,
                                          std::int64_t bytesDone, std::int64_t fileSize,
                                          std::int64_t movedThisSession, double elapsedSeconds);

}  // namespace vantrel
