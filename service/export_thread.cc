#include "service/export_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/trace.h"
#include "service/reporting/live_export.h"
#include "service/reporting/scheduled_jobs.h"
#include "service/service_context.h"

namespace svc {

namespace {

constexpr std::chrono::seconds kJobsInterval(60);

void ExportThread(std::stop_token stop, ServiceContext* context) {
  ScheduleState state;
  LiveExport live;
  std::mutex mutex;  // guards nothing; the wait needs one
  std::condition_variable_any wake;
  auto jobsDue = std::chrono::steady_clock::now();
  while (!stop.stop_requested()) {
    if (std::chrono::steady_clock::now() >= jobsDue) {
      RunScheduledJobs(*context, state, context->Now());
      jobsDue = std::chrono::steady_clock::now() + kJobsInterval;
    }
    if (stop.stop_requested()) break;
    live.Pass(*context, context->Now());
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, stop, std::chrono::seconds(kLiveExportSeconds), [] { return false; });
  }
}

}  // namespace

void StartExportThread(ServiceContext& context) {
  if (context.settings.master != 1) {
    common::Trace("StartExportThread", "Not starting because this is not the Master", 0);
    return;
  }
  context.exportThread = std::jthread(ExportThread, &context);
  common::Trace("StartExportThread", "Export thread started", 0);
}

}  // namespace svc
