#pragma once
// The settings the test gateway runs with when given no file: one operator allowed every
// mailbox and bulletin, and the update server's version values.

#include "tools/testgateway/settings.h"

namespace vantrel::testgateway {

inline constexpr const char* kDemoOperator = "DEMO0001";
inline constexpr const char* kDemoPassword = "demo1234";

TestGatewaySettings demoSettings();

}  // namespace vantrel::testgateway
