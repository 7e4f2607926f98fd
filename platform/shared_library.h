#pragma once
// Loading a shared library by path and finding a function in it by its exported name (the
// crypto library's decryption entry, bound at run time by the fast-transfer client).
// One object owns one handle; the library is released when the object goes.

#include <filesystem>
#include <string>

#include "platform/status.h"

namespace vantrel::platform {

class SharedLibrary {
  public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library at `path` (never searched for by a bare name).
    static Result<SharedLibrary> open(const std::filesystem::path& path);
    // The address of the exported symbol `name`; NotFound when it is absent.
    Result<void*> symbol(const std::string& name) const;
    bool isOpen() const { return handle_ != nullptr; }

  private:
    void* handle_ = nullptr;
};

}  // namespace vantrel::platform
