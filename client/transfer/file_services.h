#pragma once
// The mailbox file services over a gateway handle: lists, history lists, the version
// query, the MD5 query of both directions, delete and rename, and the request builder the
// block transfers use. Every operation returns Ok or what failed, with the Chinese text in
// the handle's LastError(); a list's entries are what it found.
//
// Thread: the handle's owner. A handle carries one exchange at a time.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "client/gateway/gateway_records.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/file_service_body.h"

namespace vantrel {

// The organisation code of every mailbox request.
inline constexpr const char* kMailboxOrganisation = "VRELKA";

// What the MD5 query found out about a finished file. Only kMismatch says the data is bad;
// kNotVerified says nothing about it: keep the data and ask again later (after re-login).
struct DigestVerdict {
    enum Outcome {
        kMatch,        // the gateway's digest equals the local one
        kMismatch,     // the gateway answered with another digest: discard the transfer
        kNotVerified,  // no usable answer: not logged in, local file unreadable, answer lost,
                       // timed out, undecryptable, malformed or refused
    };
    Outcome outcome = kNotVerified;
    int result = -1;  // the answer's result number (C) on a match
};

class VornFileService {
  public:
    explicit VornFileService(CVornFtp& handle) : handle_(handle) {}

    // The files of `directory` ("*.*", "Bullet\\*.*") in `mailbox`; "VER" entries left out.
    GatewayOutcome listFiles(const std::string& mailbox, const std::string& directory,
                             std::vector<filesvc::ListEntry>& out);
    // Today's files only (selector "T").
    GatewayOutcome listToday(const std::string& mailbox, const std::string& directory,
                             std::vector<filesvc::ListEntry>& out);
    // The files of an earlier day; `path` is the day's directory and pattern (FTP type "09").
    GatewayOutcome listHistory(const std::string& mailbox, const std::string& path,
                               std::vector<filesvc::ListEntry>& out);
    // The version record (selector "MT"): 14 digits, or empty when the first entry is not
    // a version record.
    GatewayOutcome queryVersion(const std::string& mailbox, const std::string& text,
                                std::string& version);

    // Builds, encrypts and sends one request on the handle's current route; does not wait.
    // Names are UTF-8. An upload packet ("03", c != -1) that passes the file size `a` is cut
    // to it. Ok, Failed (not logged in, send failed) or BadArguments (bad names or offsets).
    GatewayOutcome sendRequest(const std::string& serial, char serialFlag, std::string_view name1,
                               std::string_view name2, std::int32_t a, std::int32_t b,
                               std::int32_t c, std::string_view payload);

    // Compares the local file's MD5 digest with the gateway's for `remoteName` on the
    // current route (FTP type "04" download, "03" upload). The handle's text explains any
    // outcome but kMatch.
    DigestVerdict verifyDigest(const std::filesystem::path& localPath,
                               const std::string& remoteName, std::int64_t fileSize);
    // verifyDigest as one number: the answer's result number (>= 0) on a match; -1 otherwise.
    int md5Check(const std::filesystem::path& localPath, const std::string& remoteName,
                 std::int64_t fileSize);

    // One request without payload and its answer: delete ("01": `name1` the file) and
    // rename ("02": `name1` the old name, `name2` the new). Logs in first when needed.
    GatewayOutcome mailboxRequest(std::string_view ftpType, const std::string& name2,
                                  const std::string& mailbox, const std::string& name1);

    // A serial number for the current route from the handle's pool, asking the gateway for
    // 20 when the pool is empty. Ok, or what failed (text set).
    GatewayOutcome takeSerial(std::string& serial, char& flag);

    CVornFtp& handle() { return handle_; }

  private:
    // One list exchange, repeated once on a new connection when the gateway had closed the
    // one it began on.
    GatewayOutcome list(const std::string& title, const std::string& mailbox,
                        std::string_view ftpType, const std::string& name1,
                        const std::string& name2, std::vector<filesvc::ListEntry>& out);
    GatewayOutcome listOnce(const std::string& title, const std::string& mailbox,
                            std::string_view ftpType, const std::string& name1,
                            const std::string& name2, std::vector<filesvc::ListEntry>& out);
    GatewayOutcome fail(GatewayOutcome outcome, const std::string& text);

    CVornFtp& handle_;
};

// The response record of an answer packet; all fields empty when the packet is too short
// to hold one.
TransactionResponseRecord responseRecordOf(std::string_view packet);

// The MD5 digest of a file, read in pieces of 32768 bytes; empty when it cannot be read.
std::string fileMd5(const std::filesystem::path& path);

}  // namespace vantrel
