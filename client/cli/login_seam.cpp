#include "client/cli/login_seam.h"

namespace vantrel::cli {

// No gateway login is linked into this build yet.
InteractiveLogin makeInteractiveLogin(Environment&) { return {}; }

}  // namespace vantrel::cli
