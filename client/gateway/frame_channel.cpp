#include "client/gateway/frame_channel.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kStrictWaits = 90;
}  // namespace

FrameChannel::FrameChannel(CSocketConnect& link, const platform::Clock* clock,
                           std::function<int()> answerTimeOut, std::function<void()> drop)
    : link_(link),
      clock_(clock),
      answerTimeOut_(std::move(answerTimeOut)),
      drop_(std::move(drop)) {}

const platform::Clock& FrameChannel::clock() const {
    return clock_ != nullptr ? *clock_ : platform::RealClock::instance();
}

int FrameChannel::send(const char* data, int length, bool encrypt) {
    std::lock_guard lock(exchangeLock_);
    if (data == nullptr || length <= 0) {
        drop_();
        return -1;
    }
    std::string work;
    try {
        work.reserve(frame::kHeaderSize + frame::encryptedSize(static_cast<std::size_t>(length)) +
                     128);
        work.assign(data, static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        link_.SetLastError("加密前申请临时缓冲区失败！");
        drop_();
        return -1;
    }
    if (encrypt) {
        if (Status s = frame::encryptBody(work, sessionKey_); !s) {
            link_.SetLastError("文件加密出错,出错原因：" + s.text());
            drop_();
            return -1;
        }
    }
    for (std::size_t at = 0; at < work.size();) {
        int piece = static_cast<int>(std::min(frame::kPiece, work.size() - at));
        if (link_.SendData(work.data() + at, piece) != piece) {
            lostByPeer_ = true;
            drop_();
            return -1;
        }
        at += static_cast<std::size_t>(piece);
    }
    return 0;
}

int FrameChannel::receive(int waits, char* buffer, int length, bool strict) {
    platform::Tick deadline;
    return receiveFirst(waits, buffer, length, strict, deadline);
}

int FrameChannel::receiveFirst(int waits, char* buffer, int length, bool strict,
                               platform::Tick& deadline) {
    int rc = link_.WaitForData(waits, strict);
    if (rc != 1) return rc;
    // The answer has begun: all of it must arrive within the answer time-out, so a gateway
    // that declares more than it sends cannot hold the connection for ever.
    deadline = clock().tick() + std::chrono::seconds(answerTimeOut_());
    return link_.RecvDataUntil(buffer, length, deadline, clock());
}

int FrameChannel::readPacket(std::string& buffer) {
    std::lock_guard lock(exchangeLock_);
    const int timeOut = answerTimeOut_();
    // A shutdown must not wait for a silent gateway either.
    const int ready = link_.WaitForData(timeOut, true);
    if (ready != 1) {
        if (outcomeOf(ready) == GatewayOutcome::TimedOut) {
            link_.SetLastError(formatText("交易超时[Time:%d]！", timeOut));
        } else if (ready != kShuttingDown) {
            link_.SetLastError(formatText("select异常，错误代码:%d", link_.LastWaitErrno()));
        }
        drop_();
        buffer.clear();
        return ready == kShuttingDown ? ready : -1;
    }
    return readFrame(buffer, kStrictWaits, true, Wording::Packet);
}

int FrameChannel::readAnswer(std::string& buffer, int waits, bool strict) {
    std::lock_guard lock(exchangeLock_);
    return readFrame(buffer, waits, strict, Wording::Answer);
}

int FrameChannel::failed(std::string& buffer, int rc) {
    if (outcomeOf(rc) == GatewayOutcome::PeerClosed) lostByPeer_ = true;
    drop_();
    buffer.clear();
    return rc;
}

int FrameChannel::readFrame(std::string& buffer, int waits, bool strict, Wording wording) {
    const bool answer = wording == Wording::Answer;
    char header[frame::kHeaderSize];
    platform::Tick deadline;
    const int rc =
        receiveFirst(waits, header, static_cast<int>(frame::kHeaderSize), strict, deadline);
    if (outcomeOf(rc) == GatewayOutcome::NothingYet) return rc;
    if (rc != static_cast<int>(frame::kHeaderSize)) {
        if (answer) link_.SetLastError("接收交易应答包头失败[" + link_.LastError() + "]");
        return failed(buffer, rc < 0 ? rc : -1);
    }
    if (int body = readBody(buffer, frame::readBodyLength(header), deadline, answer); body != 0) {
        return failed(buffer, body);
    }
    buffer.replace(0, frame::kHeaderSize, header, frame::kHeaderSize);
    if (Status s = frame::decryptBody(buffer, sessionKey_); !s) {
        link_.SetLastError("解密数据失败,KLAV_Decrypt() failed!");
        return failed(buffer, -1);
    }
    if (answer && buffer.size() < frame::kPayloadOffset) {
        link_.SetLastError(formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size()));
        return failed(buffer, -1);
    }
    return 0;
}

// The header's room and the body behind it, in pieces against the answer's deadline.
int FrameChannel::readBody(std::string& buffer, std::uint32_t bodyLength, platform::Tick deadline,
                           bool answer) {
    const auto noMemory = [&] {
        return answer
                   ? formatText("申请内存失败[%u]", bodyLength + 17u)
                   : formatText(
                         "接收数据：申请内存失败[%d]！",
                         static_cast<int>(std::min<std::uint32_t>(bodyLength, INT_MAX - 17)) + 17);
    };
    // A length beyond any message of the protocol is a corrupt header, not a reason to
    // reserve gigabytes; the buffer grows with the bytes that really arrive.
    if (bodyLength > frame::kMaxBodyLength) {
        link_.SetLastError(noMemory());
        return -1;
    }
    char piece[frame::kPiece];
    try {
        buffer.assign(frame::kHeaderSize, '\0');
        buffer.reserve(frame::kHeaderSize + std::min<std::size_t>(bodyLength, 1u << 20));
        for (std::size_t left = bodyLength; left > 0;) {
            const int want = static_cast<int>(std::min(frame::kPiece, left));
            const int rc = link_.RecvDataUntil(piece, want, deadline, clock());
            if (rc != want) {
                if (outcomeOf(rc) == GatewayOutcome::PeerClosed) lostByPeer_ = true;
                if (answer) {
                    link_.SetLastError("接收交易应答数据失败[" + link_.LastError() + "]");
                    return rc < 0 ? rc : -1;
                }
                link_.SetLastError(formatText("接收交易报文失败[%d!=%d]！,失败原因:%s", rc, want,
                                              link_.LastError().c_str()));
                return rc == kShuttingDown ? rc : -1;
            }
            buffer.append(piece, static_cast<std::size_t>(want));
            left -= static_cast<std::size_t>(want);
        }
    } catch (const std::bad_alloc&) {
        link_.SetLastError(noMemory());
        return -1;
    }
    return 0;
}

}  // namespace vantrel
