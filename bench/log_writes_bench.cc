// The rare slow writes of a busy service, one call at a time: reports to the
// Application event log (one per admission) across the trims at its bound,
// and trace lines (about 25 per admission and hang-up) across the restarts of
// the trace file at its limit. Prints p50/p99/p99.9/max of each, the calls
// that crossed a trim or restart apart, and the load average around the run.
//
//   log_writes_bench [--reports 20000]
//
// A machine of its own goes to $TMPDIR (or /tmp) and is removed afterwards.
// Both logs keep their default bounds (512 KB each).

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "common/product_keys.h"
#include "common/trace.h"
#include "platform/background.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/machine.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTraceLinesPerReport = 25;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

using bench::LoadAverage;

void Show(const char* what, std::vector<double> v) {
  if (v.empty()) {
    std::printf("  %-36s none\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  const auto at = [&v](double p) { return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))]; };
  double over = 0;
  size_t overCount = 0;
  for (const double x : v) {
    if (x > 1.0) {
      over += x;
      ++overCount;
    }
  }
  std::printf("  %-36s %7zu calls | p50 %7.4f p99 %7.4f p99.9 %7.3f max %7.3f ms | over 1 ms: %zu calls, %.1f ms\n",
              what, v.size(), at(0.5), at(0.99), at(0.999), v.back(), overCount, over);
}

ino_t InodeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int reports = 20000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reports" && i + 1 < argc) {
      reports = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: log_writes_bench [--reports N]\n");
      return 2;
    }
  }
  if (!std::getenv("PORTULON_BIN_DIR")) ::setenv("PORTULON_BIN_DIR", PORTULON_BUILD_BIN_DIR, 1);
  const std::string network = bench::MakeNetwork("log-writes-bench");
  if (network.empty()) return 1;
  std::string root;
  int rc = 0;
  plat::EventSource source;
  if (!bench::ProvisionSrv1(network, &root)) {
    rc = 1;
  } else {
    rc = bench::Check(plat::EventSource::Register("", common::kServiceName, &source), "EventSource::Register") ? 0 : 1;
  }
  if (rc == 0) {
    std::printf("%d event-log reports and %d trace lines, one at a time; load %s\n", reports,
                reports * kTraceLinesPerReport, LoadAverage().c_str());
    const std::string logFile = plat::EventLogFilePath(root, "Application");
    std::vector<double> plain, replaced;
    for (int i = 0; i < reports && rc == 0; ++i) {
      const ino_t before = InodeOf(logFile);
      const auto t0 = Clock::now();
      if (source.Report(plat::EVENTLOG_INFORMATION_TYPE, 0, 3,
                        {"SRV1\\COM" + std::to_string(i % 16 + 1), "DOM\\u" + std::to_string(i % 10000)}) !=
          plat::ERROR_SUCCESS) {
        std::fprintf(stderr, "log_writes_bench: a report failed\n");
        rc = 1;
      }
      const auto t1 = Clock::now();
      (InodeOf(logFile) == before ? plain : replaced).push_back(Ms(t0, t1));
    }
    std::vector<double> all = plain;
    all.insert(all.end(), replaced.begin(), replaced.end());
    std::printf(" event log\n");
    Show("every report", all);
    Show("reports during which it was trimmed", replaced);

    common::TraceWriter trace(common::ServiceTraceOptions());
    std::vector<double> lines, restarts;
    const std::string text = "DOM\\u1234 on SRV1\\COM7";
    for (int i = 0; i < reports * kTraceLinesPerReport; ++i) {
      const long before = trace.linesWritten();
      const auto t0 = Clock::now();
      trace.Write("ProcessIncomingProtocol - User", text, i);
      const auto t1 = Clock::now();
      (trace.linesWritten() - before > 1 ? restarts : lines).push_back(Ms(t0, t1));
    }
    all = lines;
    all.insert(all.end(), restarts.begin(), restarts.end());
    std::printf(" trace file\n");
    Show("every line", all);
    Show("lines that restarted the file", restarts);
    plat::WaitForBackground();
    std::printf("load after the run %s\n", LoadAverage().c_str());
  }
  std::error_code ec;
  std::filesystem::remove_all(network, ec);
  return rc;
}
