// Named mutexes of a machine (CreateMutex with a name and initial ownership),
// as a program uses them to make sure only one copy of it runs.
//
// The first process to create a name owns it until it closes the object or
// ends (even by a crash); names compare case-insensitively and belong to the
// current machine. Another process asking for the same name meanwhile gets
// ERROR_ALREADY_EXISTS and owns nothing. Objects of one process are not
// shared between its threads: each is owned by the object that created it.
//
// Thread safety: CreateOwned from any thread. Out parameters on failure:
// `out` holds nothing (closed); `ownerPid` is the owner's id when the name is
// taken (0 when it cannot be read) and 0 on any other failure.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace plat {

class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex();
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates and owns `name` ("Global\" and "Local\" prefixes are accepted
  // and mean the same machine-wide name). ERROR_ALREADY_EXISTS when another
  // process owns it: *ownerPid (when given) then receives that process's id,
  // 0 when unknown, and *out is left closed. ERROR_INVALID_NAME for an empty
  // name or one with a backslash after the prefix; ERROR_PATH_NOT_FOUND
  // without a current machine.
  static DWORD CreateOwned(std::string_view name, NamedMutex* out, DWORD* ownerPid = nullptr);

  // Gives up ownership; the name is free for others.
  void Close();
  bool owned() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace plat
