#include "client/catalogue/catalogue_text.h"

#include <system_error>

namespace vantrel::catalogue {

std::filesystem::path DailyTaskFile(const std::filesystem::path& directory,
                                    const std::string& taskId, const platform::LocalTime& day,
                                    const char* extension) {
    return directory / (taskId + "-" + FormatDate(day) + extension);
}

bool CopyTemplate(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::skip_existing, ec);
    return std::filesystem::exists(to, ec);
}

}  // namespace vantrel::catalogue
