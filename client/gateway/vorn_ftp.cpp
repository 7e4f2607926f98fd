#include "client/gateway/vorn_ftp.h"

namespace vantrel {

CVornFtp::~CVornFtp() = default;

void CVornFtp::DropIfLoggedIn() {
    CCommunicateHandle::DropIfLoggedIn();
    EmptySerials();
}

}  // namespace vantrel
