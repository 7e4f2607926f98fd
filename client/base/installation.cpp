#include "client/base/installation.h"

#include <cstdio>
#include <system_error>

#include "client/base/day_text.h"
#include "platform/named_lock.h"

namespace vantrel {

Installation::Installation(std::filesystem::path root, std::filesystem::path runtimeDirectory)
    : root_(std::move(root)), runtimeDirectory_(std::move(runtimeDirectory)) {}

Installation Installation::fromExecutable(const std::filesystem::path& executable) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(executable, ec);
    if (ec) full = std::filesystem::absolute(executable, ec);
    if (ec) full = executable;
    // <root>/bin/<program>: two levels up.
    return Installation(full.parent_path().parent_path(), platform::defaultRuntimeDirectory());
}

std::filesystem::path Installation::tmpForDay(const platform::LocalTime& day) const {
    return root_ / "tmp" / base::FormatDate(day);
}

}  // namespace vantrel
