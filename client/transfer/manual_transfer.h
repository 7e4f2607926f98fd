#pragma once
// A whole file moved by hand on one handle: every block in turn, a few retries on a lost
// session, the MD5 check, and the received file put in place. The block state files are
// the same as the task runs use, so a transfer interrupted in any way resumes when it is
// run again. A digest mismatch discards the transfer, so the next run starts from zero; a
// digest query without a usable answer keeps it, so the next run only verifies.
//
// Thread: the caller owns `handle` for the whole call.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "client/transfer/block_transfer.h"

namespace vantrel {

struct ManualTransferRequest {
    std::string mailbox;                   // FTP_A_QS, ...
    std::string remoteName;                // with its mailbox directory prefix ("Bullet\\a.txt")
    std::filesystem::path localDirectory;  // download: receive directory; upload: unused
    std::filesystem::path localFile;       // upload: the source file
    std::int64_t fileSize = 0;             // download: from the listing
    std::string taskId = "manual";
};

struct ManualTransferEnvironment {
    BlockTransferOptions options;
    std::function<void(std::string_view)> systemLog;
    TransferObserver* observer = nullptr;  // with `prompt`: the interactive variants
    UserPrompt* prompt = nullptr;
    int attempts = 3;  // per block and for the digest query, for a lost session or time-out
    platform::FileSystem* files = nullptr;  // the transfer's file I/O; null is the machine's
};

// Ok done; else what failed, with the text in `error`: Cancelled by the operator,
// NotVerified when the digest query of the finished file got no usable answer in any
// attempt (the data and its block state are kept, so the next run only verifies),
// BadArguments for a name or size refused before anything moved, PeerClosed when no login
// succeeded, Failed for a digest mismatch or a local failure, or a block's outcome.
GatewayOutcome downloadFile(CVornFtp& handle, const ManualTransferRequest& request,
                            const ManualTransferEnvironment& env, std::string& error);
GatewayOutcome uploadFile(CVornFtp& handle, const ManualTransferRequest& request,
                          const ManualTransferEnvironment& env, std::string& error);

}  // namespace vantrel
