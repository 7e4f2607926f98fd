#include "platform/status.h"

#include <cerrno>

#include "platform/error_text.h"

namespace vantrel {

namespace {

ErrorKind kindFromErrno(int err) {
    switch (err) {
        case 0:
            return ErrorKind::Ok;
        case ENOENT:
        case ENOTDIR:
        case ESRCH:
            return ErrorKind::NotFound;
        case EEXIST:
        case ENOTEMPTY:
            return ErrorKind::AlreadyExists;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ErrorKind::NoSpace;
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ESHUTDOWN:
            return ErrorKind::PeerClosed;
        case ETIMEDOUT:
        case EAGAIN:  // a blocking socket with a receive or send time-out
            return ErrorKind::TimedOut;
        case ECANCELED:
            return ErrorKind::Stopped;
        case EINVAL:
        case ENAMETOOLONG:
        case EBADF:
        case ERANGE:
        case EILSEQ:
            return ErrorKind::InvalidArgument;
        case ENOSYS:
        case EOPNOTSUPP:
        case EAFNOSUPPORT:
        case EPROTONOSUPPORT:
            return ErrorKind::Unsupported;
        default:
            return ErrorKind::IoError;
    }
}

}  // namespace

Status statusFromErrno(int err, const std::string& context) {
    const ErrorKind kind = kindFromErrno(err);
    if (kind == ErrorKind::Ok) return Status::ok();
    std::string text = platform::systemErrorText(err);
    if (!context.empty()) text = context + "失败：" + text;
    return Status::systemError(kind, std::move(text), err);
}

}  // namespace vantrel
