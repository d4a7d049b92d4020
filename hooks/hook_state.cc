#include "hooks/hook_state.h"

#include <dlfcn.h>

#include "common/event_ids.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"

namespace hooks {

namespace {

// The Windows path of the module holding `address`; "" when unknown.
std::string ModulePathOf(const void* address) {
  Dl_info info;
  if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
  return plat::HostToWindowsPath(info.dli_fname);
}

}  // namespace

std::string BoundedName(const plat::WCHAR* name) {
  return plat::FromWide(name, common::kMessageBufferSize);
}

HookState::HookState(common::TraceOptions options, const void* selfAddress, std::string callLabel,
                     common::CallTrace lines, bool errorInReport)
    : options_(std::move(options)),
      callLabel_(std::move(callLabel)),
      voice_{[this](std::string_view label, std::string_view text,
                    long number) { Trace(label, text, number); },
             [this](const std::string& what, const std::string& detail) {
               ReportFailure(what, detail);
             },
             lines, errorInReport} {
  if (const std::string self = ModulePathOf(selfAddress); !self.empty()) {
    options_.versionModule = self;
  }
}

common::TraceWriter& HookState::Writer() {
  std::lock_guard lock(mutex_);
  const std::string root = plat::CurrentMachineRoot();
  if (writers_.empty() || root != writerRoot_) {
    writers_.push_back(std::make_unique<common::TraceWriter>(options_));
    writerRoot_ = root;
  }
  return *writers_.back();
}

void HookState::Trace(std::string_view label, std::string_view text, long number) {
  Writer().Write(label, text, number);
}

void HookState::ReportFailure(const std::string& what, const std::string& detail) {
  std::lock_guard lock(mutex_);
  const std::string root = plat::CurrentMachineRoot();
  if (!source_.valid() || root != sourceRoot_) {
    source_ = plat::EventSource();
    if (plat::EventSource::Register("", "Portulon", &source_) != plat::ERROR_SUCCESS) return;
    sourceRoot_ = root;
  }
  source_.Report(plat::EVENTLOG_ERROR_TYPE, 0, common::kEventTransactionFailed, {what, detail});
}

common::ServiceReply HookState::Ask(common::Question question,
                                    const std::optional<std::string>& message) {
  return common::AskService(voice_, question, callLabel_, message);
}

common::ServiceReply HookState::AskAddress(const plat::WCHAR* user, const plat::WCHAR* port,
                                           plat::DWORD address) {
  const std::int32_t proposed = common::RevertDWORD(static_cast<std::int32_t>(address));
  Trace("RevertDWORD", std::to_string(static_cast<std::int32_t>(address)), proposed);
  const std::string portName = BoundedName(port), userName = BoundedName(user);
  return Ask(common::Question::GetIP,
             common::AddressRequestMessage(portName.empty() ? "??" : portName, userName, proposed));
}

}  // namespace hooks
