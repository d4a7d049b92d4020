#include "platform/module.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/process.h"

namespace plat {

Module::~Module() { Free(); }

Module::Module(Module&& other) noexcept
    : handle_(other.handle_),
      hostPath_(std::move(other.hostPath_)),
      loaderError_(std::move(other.loaderError_)),
      inUse_(std::move(other.inUse_)) {
  other.handle_ = nullptr;
}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = other.handle_;
    hostPath_ = std::move(other.hostPath_);
    loaderError_ = std::move(other.loaderError_);
    inUse_ = std::move(other.inUse_);
    other.handle_ = nullptr;
  }
  return *this;
}

DWORD Module::Load(std::string_view name) {
  Free();
  std::string host;
  const bool hasPath = name.find_first_of("\\/:") != std::string_view::npos;
  if (hasPath) {
    if (ResolvePath(name, &host) != ERROR_SUCCESS) return ERROR_MOD_NOT_FOUND;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return ERROR_MOD_NOT_FOUND;
  } else if (ResolveProgram(name, &host) != ERROR_SUCCESS) {
    return ERROR_MOD_NOT_FOUND;
  }
  handle_ = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    loaderError_ = why ? why : "";
    return ERROR_BAD_EXE_FORMAT;
  }
  hostPath_ = host;
  inUse_.Hold(HostToWindowsPath(host));
  return ERROR_SUCCESS;
}

void* Module::GetProcAddress(const char* exportName) const {
  if (!handle_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* p = ::dlsym(handle_, exportName);
  if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
  return p;
}

void Module::Free() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
  inUse_.Release();
  hostPath_.clear();
}

}  // namespace plat
