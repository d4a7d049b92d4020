// The console's core on one host of the tests' real network, run by
// console_hosts_test on ADMINPC:
//
//   console_host_probe watch FOLDER YYYY MM DD COUNT MS
//       COUNT loads of the day's log of data folder FOLDER, MS apart, by one
//       CLogRecords as the log view's timer does: "changed N" and one line
//       "SERVER|PORT|KIND|USER" per record when the file was read,
//       "unchanged" when it was not; "ready" after the first load
//   console_host_probe days FOLDER YYYY MM      the month's days with a log
//   console_host_probe fetch SERVER             a server's registry fetch: its state text
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/data_folder.h"
#include "console/core/calendar_days.h"
#include "console/core/log_records.h"
#include "console/core/server.h"
#include "console/core/server_fetch.h"

namespace {

std::tm Day(char** argv) {
  std::tm day{};
  day.tm_year = std::atoi(argv[0]) - 1900;
  day.tm_mon = std::atoi(argv[1]) - 1;
  day.tm_mday = std::atoi(argv[2]);
  return day;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "watch" && argc == 8) {
    const std::string path = pladmin::DayLogPath(argv[2], Day(argv + 3));
    pladmin::CLogRecords log;
    for (int i = 0, n = std::atoi(argv[6]); i < n; ++i) {
      if (log.LoadLogRecords(path, 0, {})) {
        std::printf("changed %zu\n", log.records().size());
        for (std::size_t k = 0; k < log.records().size(); ++k) {
          const common::LogRecordView r = log.records()[k];
          std::printf("%.*s|%.*s|%d|%.*s\n", static_cast<int>(r.server.size()), r.server.data(),
                      static_cast<int>(r.port.size()), r.port.data(), r.kind, static_cast<int>(r.user.size()),
                      r.user.data());
        }
      } else {
        std::printf("unchanged\n");
      }
      if (i == 0) std::printf("ready\n");
      std::fflush(stdout);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[7])));
    }
    return 0;
  }
  if (command == "days" && argc == 5) {
    for (const auto& d : pladmin::DaysWithLogs(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), 1)) {
      std::printf("%d ", d.day);
    }
    std::printf("\n");
    return 0;
  }
  if (command == "fetch" && argc == 3) {
    pladmin::CServer record;
    record.name = argv[2];
    pladmin::FetchRegistryData(&record);
    std::printf("%s\n", record.StateText().c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: console_host_probe watch|days|fetch ...\n");
  return 2;
}
