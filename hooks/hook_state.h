// What a hook module keeps for the life of the process that loaded it: its
// trace writer, its event source "Portulon" and how it speaks of its calls to
// the service. The process is one machine's remote-access service; a test
// process may switch machines, and trace and source then follow it. Safe
// from several threads.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/call_service.h"
#include "common/trace.h"
#include "platform/eventlog.h"
#include "platform/wide.h"

namespace hooks {

// A name the remote-access service passes without a size, read no further
// than a message could carry.
std::string BoundedName(const plat::WCHAR* name);

// The body of an export. The remote-access service is no C++ caller: nothing
// escapes, and a failure inside (memory exhausted) ends as a call the service
// did not answer would, the caller admitted and the address kept.
template <typename Call>
plat::BOOL Admitting(Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return plat::TRUE;
  }
}
template <typename Call>
void Guarded(Call&& call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

class HookState {
 public:
  // `options`: the module's trace settings; their version module is replaced
  // by the module file itself, wherever it was installed (`selfAddress`: any
  // address inside the module). The rest: its voice in common::AskService.
  HookState(common::TraceOptions options, const void* selfAddress, std::string callLabel,
            common::CallTrace lines, bool errorInReport);

  void Trace(std::string_view label, std::string_view text, long number);
  // Error event 1 with the two insertion strings; nothing when the source
  // cannot be registered.
  void ReportFailure(const std::string& what, const std::string& detail);
  // One question to the service, traced and reported in this module's words.
  common::ServiceReply Ask(common::Question question, const std::optional<std::string>& message);
  // Which address `user` gets on `port` (names as the remote-access service
  // passes them), proposing `address` in its byte order; traced "RevertDWORD".
  common::ServiceReply AskAddress(const plat::WCHAR* user, const plat::WCHAR* port,
                                  plat::DWORD address);

 private:
  common::TraceWriter& Writer();

  common::TraceOptions options_;
  const std::string callLabel_;
  const common::CallerVoice voice_;
  // Guards every member below. Writers are never dropped: a line in flight
  // on another thread may still use the one it took.
  std::mutex mutex_;
  std::vector<std::unique_ptr<common::TraceWriter>> writers_;
  std::string writerRoot_;
  plat::EventSource source_;
  std::string sourceRoot_;
};

}  // namespace hooks
