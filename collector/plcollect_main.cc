// plcollect: started once a minute by the Portulon service on a router. It
// reads every port of the local router and replaces rrasdata.dat with what
// it found. The reading runs on a worker thread; a router that does not
// answer within 20 s ends the program with one event-log error.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "collector/port_snapshot.h"
#include "common/event_ids.h"
#include "common/product_keys.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kHelp = R"(plcollect - write the router's port data for the Portulon service

Usage:
  plcollect [--machine ROOT]
  plcollect --help | --version

Reads every port of the machine's router (Routing and Remote Access) and
replaces C:\WINNT\rrasdata.dat with what it found: one section per port with
its state, byte and frame counts and, for a connected port, the user, the
remote computer and the address. The Portulon service runs it once a minute on
a router and judges idle sessions from the file. A router that does not
answer within 20 seconds ends the run with one error event; the last complete
file stays in place.

Options:
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  the file was replaced
  1  the router could not be read, or did not answer in time
  2  the command line is wrong

Files:
  C:\WINNT\rrasdata.dat         the port data
  C:\qcl_trace_plcollect.txt    its trace

Examples:
  plcollect
  cat demo-network/SRV2/drive_c/WINNT/rrasdata.dat

See also:
  plsvc(1), rasctl(1)
)";

constexpr const char* kTraceFile = "c:\\qcl_trace_plcollect.txt";
constexpr auto kWorkerLimit = std::chrono::milliseconds(20000);

// "%d%d%d  %.02d:%.02d:%.02d  %s\r\n": year, month and day run together, then
// the local time, then the text.
void Trace(const std::string& text) {
  const std::tm t = plat::LocalTime(plat::Now());
  const std::string stamp =
      plat::FormatText("%d%d%d  %.02d:%.02d:%.02d  ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                       t.tm_hour, t.tm_min, t.tm_sec);
  plat::AppendToFile(kTraceFile, stamp + text + "\r\n");
}

// What the worker tells the main thread; shared, since a worker that never
// ends outlives the wait.
struct Outcome {
  std::mutex mutex;  // guards done and replaced
  std::condition_variable changed;
  bool done = false;
  bool replaced = false;
};

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plcollect", kHelp);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (!tool.RequireMachine()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  Trace("Start application");
  auto outcome = std::make_shared<Outcome>();
  std::thread worker([outcome] {
    const bool replaced = collector::CollectPortData(Trace);
    std::lock_guard lock(outcome->mutex);
    outcome->done = true;
    outcome->replaced = replaced;
    outcome->changed.notify_all();
  });
  std::unique_lock lock(outcome->mutex);
  if (!outcome->changed.wait_for(lock, kWorkerLimit, [&] { return outcome->done; })) {
    plat::Beep(2000, 100);
    plat::EventSource source;
    if (plat::EventSource::Register("", common::kServiceName, &source) == plat::ERROR_SUCCESS) {
      source.Report(plat::EVENTLOG_ERROR_TYPE, 0, common::kEventEnumerationFailed,
                    {"An error occured while enumerating RRAS ports"});
    }
    Trace("Router did not answer in time, worker ended");
    // Ends the worker with the process; the snapshot it was building was
    // never moved into place.
    std::_Exit(1);
  }
  const bool replaced = outcome->replaced;
  lock.unlock();
  worker.join();
  return replaced ? 0 : 1;
}
