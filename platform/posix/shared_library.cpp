#include "platform/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace vantrel::platform {

SharedLibrary::~SharedLibrary() {
    if (handle_) dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_) dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Result<SharedLibrary> SharedLibrary::open(const std::filesystem::path& path) {
    // A path without a separator would make the loader search the system's directories.
    const std::filesystem::path absolute = std::filesystem::absolute(path);
    void* handle = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return Status::error(ErrorKind::NotFound, why ? why : absolute.string());
    }
    SharedLibrary library;
    library.handle_ = handle;
    return library;
}

Result<void*> SharedLibrary::symbol(const std::string& name) const {
    if (!handle_) return Status::error(ErrorKind::InvalidArgument, "library not loaded");
    dlerror();
    void* address = dlsym(handle_, name.c_str());
    if (!address) return Status::error(ErrorKind::NotFound, name);
    return address;
}

}  // namespace vantrel::platform
