#include "client/app/client_version.h"

namespace vantrel {

std::string clientVersionString(std::string_view configuredVersion) {
    const std::size_t underscore = configuredVersion.find('_');
    if (underscore == 7) return std::string(configuredVersion.substr(0, 7));
    if (underscore == 8) return std::string(configuredVersion.substr(1, 7));
    return "1.00.00";
}

}  // namespace vantrel
