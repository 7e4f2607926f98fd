#pragma once
// The 7-character client version that the login request carries, derived from the
// configured `version` (e.g. "01.30.00_20200828" gives "1.30.00").

#include <string>
#include <string_view>

namespace vantrel {

// "_" at index 7: the first 7 characters; at index 8: the 7 characters after the first;
// anywhere else or absent: "1.00.00".
std::string clientVersionString(std::string_view configuredVersion);

}  // namespace vantrel
