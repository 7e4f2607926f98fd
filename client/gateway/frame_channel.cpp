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

GatewayOutcome FrameChannel::send(const char* data, int length, bool encrypt) {
    std::lock_guard lock(exchangeLock_);
    if (data == nullptr || length <= 0) {
        drop_();
        return GatewayOutcome::Failed;
    }
    std::string work;
    try {
        work.reserve(frame::kHeaderSize + frame::encryptedSize(static_cast<std::size_t>(length)) +
                     128);
        work.assign(data, static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        link_.SetLastError("加密前申请临时缓冲区失败！");
        drop_();
        return GatewayOutcome::Failed;
    }
    if (encrypt) {
        if (Status s = frame::encryptBody(work, sessionKey_); !s) {
            link_.SetLastError("文件加密出错,出错原因：" + s.text());
            drop_();
            return GatewayOutcome::Failed;
        }
    }
    for (std::size_t at = 0; at < work.size();) {
        int piece = static_cast<int>(std::min(frame::kPiece, work.size() - at));
        if (link_.SendData(work.data() + at, piece) != GatewayOutcome::Ok) {
            lostByPeer_ = true;
            drop_();
            return GatewayOutcome::Failed;
        }
        at += static_cast<std::size_t>(piece);
    }
    return GatewayOutcome::Ok;
}

GatewayOutcome FrameChannel::receive(int waits, char* buffer, int length, bool strict) {
    platform::Tick deadline;
    return receiveFirst(waits, buffer, length, strict, deadline);
}

GatewayOutcome FrameChannel::receiveFirst(int waits, char* buffer, int length, bool strict,
                                          platform::Tick& deadline) {
    if (const GatewayOutcome ready = link_.WaitForData(waits, strict);
        ready != GatewayOutcome::Ok) {
        return ready;
    }
    // The answer has begun: all of it must arrive within the answer time-out, so a gateway
    // that declares more than it sends cannot hold the connection for ever.
    deadline = clock().tick() + std::chrono::seconds(answerTimeOut_());
    return link_.RecvDataUntil(buffer, length, deadline, clock());
}

GatewayOutcome FrameChannel::readPacket(std::string& buffer) {
    std::lock_guard lock(exchangeLock_);
    const int timeOut = answerTimeOut_();
    // A shutdown must not wait for a silent gateway either.
    const GatewayOutcome ready = link_.WaitForData(timeOut, true);
    if (ready != GatewayOutcome::Ok) {
        if (ready == GatewayOutcome::TimedOut) {
            link_.SetLastError(formatText("交易超时[Time:%d]！", timeOut));
        } else if (ready != GatewayOutcome::ShuttingDown) {
            link_.SetLastError(formatText("select异常，错误代码:%d", link_.LastWaitErrno()));
        }
        drop_();
        buffer.clear();
        return ready == GatewayOutcome::ShuttingDown ? ready : GatewayOutcome::Failed;
    }
    return readFrame(buffer, kStrictWaits, true, Wording::Packet);
}

GatewayOutcome FrameChannel::readAnswer(std::string& buffer, int waits, bool strict) {
    std::lock_guard lock(exchangeLock_);
    return readFrame(buffer, waits, strict, Wording::Answer);
}

GatewayOutcome FrameChannel::failed(std::string& buffer, GatewayOutcome outcome) {
    if (outcome == GatewayOutcome::PeerClosed) lostByPeer_ = true;
    drop_();
    buffer.clear();
    return outcome;
}

GatewayOutcome FrameChannel::readFrame(std::string& buffer, int waits, bool strict,
                                       Wording wording) {
    const bool answer = wording == Wording::Answer;
    char header[frame::kHeaderSize];
    platform::Tick deadline;
    const GatewayOutcome got =
        receiveFirst(waits, header, static_cast<int>(frame::kHeaderSize), strict, deadline);
    if (got == GatewayOutcome::NothingYet) return got;
    if (got != GatewayOutcome::Ok) {
        if (answer) link_.SetLastError("接收交易应答包头失败[" + link_.LastError() + "]");
        return failed(buffer, got);
    }
    if (const GatewayOutcome body =
            readBody(buffer, frame::readBodyLength(header), deadline, answer);
        body != GatewayOutcome::Ok) {
        return failed(buffer, body);
    }
    buffer.replace(0, frame::kHeaderSize, header, frame::kHeaderSize);
    if (Status s = frame::decryptBody(buffer, sessionKey_); !s) {
        link_.SetLastError("解密数据失败,KLAV_Decrypt() failed!");
        return failed(buffer, GatewayOutcome::Failed);
    }
    if (answer && buffer.size() < frame::kPayloadOffset) {
        link_.SetLastError(formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size()));
        return failed(buffer, GatewayOutcome::Failed);
    }
    return GatewayOutcome::Ok;
}

// The header's room and the body behind it, in pieces against the answer's deadline.
GatewayOutcome FrameChannel::readBody(std::string& buffer, std::uint32_t bodyLength,
                                      platform::Tick deadline, bool answer) {
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
        return GatewayOutcome::Failed;
    }
    char piece[frame::kPiece];
    try {
        buffer.assign(frame::kHeaderSize, '\0');
        buffer.reserve(frame::kHeaderSize + std::min<std::size_t>(bodyLength, 1u << 20));
        for (std::size_t left = bodyLength; left > 0;) {
            const int want = static_cast<int>(std::min(frame::kPiece, left));
            const GatewayOutcome got = link_.RecvDataUntil(piece, want, deadline, clock());
            if (got != GatewayOutcome::Ok) {
                if (got == GatewayOutcome::PeerClosed) lostByPeer_ = true;
                if (answer) {
                    link_.SetLastError("接收交易应答数据失败[" + link_.LastError() + "]");
                    return got;
                }
                // The text has always shown the receive's old code where the length would be.
                link_.SetLastError(formatText("接收交易报文失败[%d!=%d]！,失败原因:%s",
                                              resultCode(got), want, link_.LastError().c_str()));
                return got == GatewayOutcome::ShuttingDown ? got : GatewayOutcome::Failed;
            }
            buffer.append(piece, static_cast<std::size_t>(want));
            left -= static_cast<std::size_t>(want);
        }
    } catch (const std::bad_alloc&) {
        link_.SetLastError(noMemory());
        return GatewayOutcome::Failed;
    }
    return GatewayOutcome::Ok;
}

}  // namespace vantrel
