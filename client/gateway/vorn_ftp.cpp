#include "client/gateway/vorn_ftp.h"

namespace vantrel {

CVornFtp::~CVornFtp() = default;

}  // namespace vantrel
