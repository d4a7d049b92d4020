// What a hook module keeps for the life of the process that loaded it: its
// trace writer and its event source "Portulon". The process is one machine's
// remote-access service; a test process may switch machines, and both then
// follow it. Safe from several threads.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/event_ids.h"
#include "common/trace.h"
#include "platform/eventlog.h"

namespace hooks {

class HookState {
 public:
  // `options`: the module's trace settings; their version module is replaced
  // by the module file itself, wherever it was installed (`selfAddress`: any
  // address inside the module).
  HookState(common::TraceOptions options, const void* selfAddress);

  void Trace(std::string_view label, std::string_view text, long number);
  // Error event 1 with the two insertion strings; nothing when the source
  // cannot be registered.
  void ReportFailure(const std::string& what, const std::string& detail);

 private:
  common::TraceWriter& Writer();

  common::TraceOptions options_;
  // Guards every member below. Writers are never dropped: a line in flight
  // on another thread may still use the one it took.
  std::mutex mutex_;
  std::vector<std::unique_ptr<common::TraceWriter>> writers_;
  std::string writerRoot_;
  plat::EventSource source_;
  std::string sourceRoot_;
};

}  // namespace hooks
