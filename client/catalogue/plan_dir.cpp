#include "client/catalogue/plan_dir.h"

#include "client/catalogue/catalogue_text.h"

namespace vantrel::catalogue {
namespace {

std::string withoutTrailingSeparator(const std::string& path) {
    if (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        return path.substr(0, path.size() - 1);
    return path;
}

bool same(const std::string& directory, const std::string& candidate) {
    return !directory.empty() && EqualsIgnoreCase(withoutTrailingSeparator(directory), candidate);
}

}  // namespace

void CPlanDir::Register(const std::string& taskId, const PlanDirectories& directories) {
    std::lock_guard lock(mutex_);
    entries_[taskId] = directories;
}

void CPlanDir::Unregister(const std::string& taskId) {
    std::lock_guard lock(mutex_);
    entries_.erase(taskId);
}

void CPlanDir::Replace(const std::string& taskId, const PlanDirectories& directories) {
    std::lock_guard lock(mutex_);
    entries_[taskId] = directories;
}

std::map<std::string, PlanDirectories> CPlanDir::Snapshot() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

bool CPlanDir::IsDirectoryInUse(Kind kind, const std::string& candidate,
                                const std::string& editedTaskId) const {
    const std::string wanted = withoutTrailingSeparator(candidate);
    const auto entries = Snapshot();
    for (const auto& [id, dirs] : entries) {
        if (kind == Kind::Sent) {
            if (same(dirs.send, wanted) || same(dirs.receive, wanted)) return true;
            continue;
        }
        if (same(dirs.send, wanted) || same(dirs.sent, wanted) || same(dirs.receive, wanted)) {
            return editedTaskId.empty() || id != editedTaskId;
        }
    }
    return false;
}

}  // namespace vantrel::catalogue
