// libFuzzer target: whatever a gateway may send. The bytes go through the record
// decoders, the body decryption, and a handle's receive paths over a socket pair whose
// far end has sent them and closed. Nothing may crash, hang or allocate what a header
// merely claims.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "client/gateway/gateway_records.h"
#include "client/gateway/packet_frame.h"
#include "client/gateway/vorn_ftp.h"

namespace {

using namespace vantrel;

void decodeRecords(std::string_view bytes) {
    LoginAnswerRecord login;
    TransactionResponseRecord response;
    SerialAnswerRecord serial;
    PermissionRecord permission;
    (void)decode(bytes, login);
    (void)decode(bytes, response);
    (void)decode(bytes, serial);
    (void)decode(bytes, permission);
    SerialPool pool;
    (void)AddSerialBlock(pool, Route{"VRELKA", "FTP_A_QS", "04"}, serial);
    std::string number;
    char flag;
    (void)TakeSerial(pool, Route{"VRELKA", "FTP_A_QS", "04"}, number, flag);
}

frame::SessionKey fuzzKey() {
    frame::SessionKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 17 + 3);
    return key;
}

// Feeds `bytes` to one receive path of a fresh handle.
template <class Receive>
void receiveFrom(std::string_view bytes, Receive receive) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    // The pair's buffer holds the fuzzer's inputs (a few kilobytes) without blocking.
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
    }
    close(fds[1]);
    GatewayProcessState process;
    Context context;
    CVornFtp handle(context, process);
    handle.Adopt(platform::TcpSocket(fds[0]));
    handle.SetRoute("VRELKA", "FTP_A_QS", "04");
    std::string buffer;
    receive(handle, buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    decodeRecords(bytes);
    if (bytes.size() > frame::kRecordOffset) decodeRecords(bytes.substr(frame::kRecordOffset));

    std::string packet(bytes);
    if (packet.size() >= frame::kHeaderSize) (void)frame::decryptBody(packet, fuzzKey());

    // Make the fuzzer's header honest about the body it carries half of the time, so the
    // decryption behind it is reached.
    std::string framed(bytes);
    if (framed.size() >= frame::kHeaderSize && (framed[4] & 1)) {
        frame::writeHeader(framed.data(),
                           static_cast<std::uint32_t>(framed.size() - frame::kHeaderSize),
                           frame::readPlainLength(framed.data()));
    }
    receiveFrom(framed, [](CVornFtp& h, std::string& b) { (void)h.ReceivePacket(b); });
    receiveFrom(framed, [](CVornFtp& h, std::string& b) { (void)h.ReceiveResponse(b); });
    receiveFrom(framed, [](CVornFtp& h, std::string& b) { (void)h.PollResponse(b, nullptr); });
    return 0;
}
