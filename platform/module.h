// LoadLibrary / GetProcAddress / FreeLibrary: loading a shared library by its
// Windows name. While loaded, the module file counts as in use (deleting it
// fails with access denied, as on Windows).
//
// Thread safety: all calls; a Module is one owner's at a time. No out
// parameters: a failed look-up returns null, with the reason in GetLastError.
#pragma once

#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/win_types.h"

namespace plat {

class Module {
 public:
  Module() = default;
  ~Module();
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // A bare name is searched as a program is (process.h ResolveProgram: the
  // program's folder, current directory, system directory, Windows directory);
  // a path is resolved directly. ERROR_MOD_NOT_FOUND when no file is found,
  // ERROR_BAD_EXE_FORMAT when the file is no loadable module.
  DWORD Load(std::string_view name);
  // nullptr when the module has no such export (SetLastError(ERROR_PROC_NOT_FOUND)).
  void* GetProcAddress(const char* exportName) const;
  // GetProcAddress into a function pointer of the export's type; true when found.
  template <typename Function>
  bool Export(const char* exportName, Function** function) const {
    *function = reinterpret_cast<Function*>(GetProcAddress(exportName));
    return *function != nullptr;
  }
  void Free();

  bool loaded() const { return handle_ != nullptr; }
  // The host path it was loaded from.
  const std::string& hostPath() const { return hostPath_; }
  // The text of the last loader failure, for diagnostics.
  const std::string& loaderError() const { return loaderError_; }

 private:
  void* handle_ = nullptr;
  std::string hostPath_;
  std::string loaderError_;
  FileInUse inUse_;
};

}  // namespace plat
