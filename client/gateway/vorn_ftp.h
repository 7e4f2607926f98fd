#pragma once
// CVornFtp: the gateway handle of the mailbox file services. The services themselves
// (lists, downloads, uploads, MD5 queries) are added beside this class by the transfer
// layer.

#include "client/gateway/communicate_handle.h"

namespace vantrel {

class CVornFtp : public CCommunicateHandle {
  public:
    using CCommunicateHandle::CCommunicateHandle;
    ~CVornFtp() override;
};

}  // namespace vantrel
