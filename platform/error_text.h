#pragma once
// The operator's text of a system error number: Chinese texts of our own for the common
// ones, the number for the rest, whatever the machine's locale. Every errno that reaches a
// task result, a log the operator reads or a message box is put into words here.

#include <string>

namespace vantrel::platform {

// "磁盘空间不足" for ENOSPC, ...; "系统错误(错误码:N)" for a number without a text here.
std::string systemErrorText(int err);

}  // namespace vantrel::platform
