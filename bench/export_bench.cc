// The database export of one busy day into SQLite through its ODBC driver:
// 10,000 sessions (a connection and a hang-up record each, 20,000 rows) in
// one transaction, and 10,000 profiles; each exported `iterations` times
// (a re-export replaces the same rows), median and slowest reported. Then
// the near-live export: its first pass over that day, and a pass that finds
// 1,000 records added to it.
//
//   export_bench [iterations]      (machine and database go to $TMPDIR or /tmp)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "service/reporting/db_export.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/live_export.h"
#include "service/service_context.h"

namespace {

constexpr int kSessions = 10000;
constexpr int kProfiles = 10000;
constexpr int kPorts = 32;
constexpr std::time_t kStart = 1710237600;  // 2024-03-12 10:00 UTC

std::string Account(int i) { return "DOM\\user" + std::to_string(i); }

std::string DayLogFile() {
  std::vector<std::string> sections(kPorts);
  for (int s = 0; s < kSessions; ++s) {
    std::string& out = sections[static_cast<size_t>(s % kPorts)];
    const std::int64_t start = kStart - 36000 + s * 3;
    out += std::to_string(start) + "=C_" + Account(s) + "\n";
    out += std::to_string(start + 1) + "=H300_" + Account(s) + "?167772170?" +
           std::to_string(s % 4 == 0 ? 9 : 0) + "::PC" + std::to_string(s) + ":1000:2000\n";
  }
  std::string text;
  for (int p = 0; p < kPorts; ++p) {
    text += "[SRV1\\COM" + std::to_string(p + 1) + "]\n" + sections[static_cast<size_t>(p)];
  }
  return text;
}

std::string UserFile() {
  std::string text;
  for (int i = 0; i < kProfiles; ++i) {
    text += "[" + Account(i) + "]\nMaxSessionTime=3600\nTotalConnects=" + std::to_string(i) +
            "\nTotalTime=" + std::to_string(i * 60) + "\nLastConnection=" + std::to_string(kStart) +
            "\nLasted=300\n";
  }
  return text;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string dir = (std::filesystem::temp_directory_path() / "export-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) return 1;
  const std::string root = dir + "/SRV1";
  plat::MachineConfig config;
  config.name = "SRV1";
  if (plat::ProvisionMachine(root, config) != plat::ERROR_SUCCESS) return 1;
  plat::SetCurrentMachineRoot(root);

  std::ofstream(dir + "/odbcinst.ini") << "[SQLite3]\nDriver=" << PORTULON_SQLITE_ODBC_DRIVER << "\n";
  std::ofstream(dir + "/odbc.ini") << "[Bench]\nDriver=SQLite3\nDatabase=" << dir << "/bench.db\n";
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);

  svc::ServiceContext ctx;
  ctx.serverName = "SRV1";
  ctx.paths = svc::MakeDataPaths("C:\\PLData", plat::GetCurrentDirectory());
  plat::CreateDirectory("C:\\PLData");
  plat::CreateDirectory("C:\\PLData\\LogData");
  plat::WriteWholeFile(common::DayLogPath(ctx.paths.folder, "2024-Mar-12"), DayLogFile());
  plat::WriteWholeFile(ctx.paths.users, UserFile());

  svc::OdbcConnection db;
  if (!db.Connect("Bench", "", "") || !svc::CreateExportTables(db)) {
    std::fprintf(stderr, "%s\n", db.error().c_str());
    return 1;
  }
  std::vector<double> day, profiles;
  long rows = 0, profileRows = 0;
  for (int i = 0; i < iterations; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    if (!svc::ExportSessionDay(ctx, db, "2024-Mar-12", kStart, &rows)) {
      std::fprintf(stderr, "day export: %s\n", db.error().c_str());
      return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    if (!svc::ExportProfiles(ctx, db, kStart, &profileRows)) {
      std::fprintf(stderr, "profile export: %s\n", db.error().c_str());
      return 1;
    }
    auto t2 = std::chrono::steady_clock::now();
    day.push_back(std::chrono::duration<double>(t1 - t0).count());
    profiles.push_back(std::chrono::duration<double>(t2 - t1).count());
  }
  std::printf("day of %d sessions: %ld rows in one transaction: median %.3f s, slowest %.3f s\n",
              kSessions, rows, Median(day), *std::max_element(day.begin(), day.end()));
  std::printf("%ld profiles: median %.3f s, slowest %.3f s  (%d runs)\n", profileRows,
              Median(profiles), *std::max_element(profiles.begin(), profiles.end()), iterations);

  // The near-live export: a first pass over the whole day (a fresh start of
  // the service), then passes that each find 1,000 records added.
  ctx.settings.odbcDsn = "Bench";
  ctx.settings.exportHistory = 1;
  ctx.settings.exportHours = 0xFFFFFF;
  ctx.clock = [] { return kStart; };
  std::vector<double> first, next;
  long firstRows = 0;
  std::int64_t second = kStart;
  for (int i = 0; i < iterations; ++i) {
    svc::LiveExport live;
    auto t0 = std::chrono::steady_clock::now();
    const svc::LiveExportOutcome out = live.Pass(ctx, kStart);
    first.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    firstRows = out.records;
    if (!out.ok) {
      std::fprintf(stderr, "near-live export: %s\n", out.error.c_str());
      return 1;
    }
    std::string added = "[SRV1\\COM1]\n";
    for (int r = 0; r < 1000; ++r) added += std::to_string(++second) + "=N_" + Account(r) + "?1\n";
    plat::AppendToFile(common::DayLogPath(ctx.paths.folder, "2024-Mar-12"), added);
    t0 = std::chrono::steady_clock::now();
    if (live.Pass(ctx, kStart).records != 1000) {
      std::fprintf(stderr, "near-live export: the added records were not taken\n");
      return 1;
    }
    next.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::printf("near-live export, first pass over the day (%ld records): median %.3f s; "
              "a pass of 1,000 added records: median %.3f s, slowest %.3f s\n",
              firstRows, Median(first), Median(next), *std::max_element(next.begin(), next.end()));
  std::filesystem::remove_all(dir);
  return 0;
}
