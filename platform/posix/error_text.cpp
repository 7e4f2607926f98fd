#include "platform/error_text.h"

#include <cerrno>

namespace vantrel::platform {

std::string systemErrorText(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
            return "磁盘空间不足";
        case EFBIG:
            return "文件过大";
        case EROFS:
            return "文件系统只读";
        case EACCES:
        case EPERM:
            return "没有访问权限";
        case ENOENT:
            return "文件或目录不存在";
        case ENOTDIR:
            return "路径中有一级不是目录";
        case EISDIR:
            return "是一个目录";
        case EEXIST:
            return "文件已存在";
        case ENOTEMPTY:
            return "目录不为空";
        case ENAMETOOLONG:
            return "文件名过长";
        case EXDEV:
            return "不能跨文件系统移动";
        case EBUSY:
        case ETXTBSY:
            return "文件或设备正忙";
        case EMFILE:
        case ENFILE:
            return "打开的文件过多";
        case EIO:
            return "读写设备出错";
        case ENOMEM:
            return "内存不足";
        case EINVAL:
            return "参数无效";
        case ENOEXEC:
            return "不是可执行的程序";
        case ECONNREFUSED:
            return "连接被拒绝";
        case ECONNRESET:
            return "连接被对方重置";
        case ECONNABORTED:
        case EPIPE:
        case ENOTCONN:
        case ESHUTDOWN:
            return "连接已断开";
        case ETIMEDOUT:
            return "连接超时";
        case EAGAIN:
            return "操作超时";
        case EHOSTUNREACH:
            return "主机不可达";
        case ENETUNREACH:
        case ENETDOWN:
            return "网络不可达";
        case EADDRINUSE:
            return "地址已被占用";
        case ECANCELED:
            return "操作已取消";
        default:
            return "系统错误(错误码:" + std::to_string(err) + ")";
    }
}

}  // namespace vantrel::platform
