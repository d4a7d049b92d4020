#include "service/event_report.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/machine.h"

namespace svc {

namespace {
// Guards the registered source and the machine it was registered on.
std::mutex sourceMutex;
plat::EventSource source;
std::string sourceMachine;
}  // namespace

void ReportToEventLog(int error, plat::DWORD eventId, const char* first, const char* second,
                      int count, const char* third) {
  std::vector<std::string> strings;
  if (count >= 1 && first) strings.emplace_back(first);
  if (count >= 2 && second) strings.emplace_back(second);
  if (count >= 3 && third) strings.emplace_back(third);
  std::lock_guard<std::mutex> lock(sourceMutex);
  const std::string machine = plat::CurrentMachineRoot();
  if (!source.valid() || sourceMachine != machine) {
    source = plat::EventSource();
    if (plat::EventSource::Register("", "Portulon", &source) != plat::ERROR_SUCCESS) return;
    sourceMachine = machine;
  }
  source.Report(error ? plat::EVENTLOG_ERROR_TYPE : plat::EVENTLOG_INFORMATION_TYPE, 0, eventId,
                strings);
}

}  // namespace svc
