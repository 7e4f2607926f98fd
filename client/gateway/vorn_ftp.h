#pragma once
// CVornFtp: the gateway handle of the mailbox file services. The services themselves
// (lists, downloads, uploads, MD5 queries) are added beside this class by the transfer
// layer; here it differs from its base only in what a dropped session forgets.

#include "client/gateway/communicate_handle.h"

namespace vantrel {

class CVornFtp : public CCommunicateHandle {
  public:
    using CCommunicateHandle::CCommunicateHandle;
    ~CVornFtp() override;

    // Disconnects when logged in and, either way, empties the serial pool: numbers drawn
    // for a lost session are not used on the next.
    void DropIfLoggedIn() override;
};

}  // namespace vantrel
