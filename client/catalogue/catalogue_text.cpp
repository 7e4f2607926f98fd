#include "client/catalogue/catalogue_text.h"

#include <system_error>

#include "platform/file_system.h"

namespace vantrel::catalogue {

std::filesystem::path DailyTaskFile(const std::filesystem::path& directory,
                                    const std::string& taskId, const platform::LocalTime& day,
                                    const char* extension) {
    return directory / (taskId + "-" + FormatDate(day) + extension);
}

bool CopyTemplate(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) return true;
    platform::FileSystem& files = platform::FileSystem::real();
    if (platform::copyFile(files, from, to)) return true;
    (void)files.remove(to);  // a half copy would pass for the template next time
    return false;
}

}  // namespace vantrel::catalogue
