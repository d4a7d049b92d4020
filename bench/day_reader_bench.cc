// The readers of a large day log, each in a process of its own: a day of N
// records written as the service writes it (sessions on 48 ports of two
// servers, one after another in time, so that each port's section comes in
// many parts down the file; keys that share a second spilled to
// "<second>.<n>"), then read by
//   - plreport log (its table into a file: size and widest line reported),
//   - plexport export (into a fresh SQLite database through ODBC),
//   - the console's reader (the document's load and the log view's filter,
//     run by this program in a child of its own),
// each timed from start to exit with its peak resident memory (the child's
// getrusage), and the CPU time it used, which other work sharing the
// machine barely moves. --long-value MB adds one hang-up whose computer name
// is that many megabytes long, as a damaged or hostile log might hold.
//
//   day_reader_bench [--records 1000000] [--runs 2] [--long-value MB] [--bin DIR] [--keep]
//
// --bin names the folder of plreport and plexport (default: this build's).
// The network goes to $TMPDIR (or /tmp) and is removed unless --keep.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/product_keys.h"
#include "common/service_values.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"

namespace {

constexpr const char* kDataFolder = "C:\\PLData";
constexpr const char* kDay = "2024-Mar-12";
constexpr const char* kIsoDay = "2024-03-12";
constexpr std::int64_t kDayStart = 1710201600;  // 2024-03-12 00:00 UTC
constexpr int kPorts = 48;

std::string PortSection(int p) {
  return "SRV" + std::to_string(p % 2 + 1) + "\\COM" + std::to_string(p / 2 + 1);
}

// The day as the service appends it: a header whenever the port differs from
// the last record's.
std::string DayText(int records, int longValueMb) {
  std::string text;
  text.reserve(static_cast<size_t>(records) * 60 + static_cast<size_t>(longValueMb) * 1000000);
  std::vector<std::int64_t> lastSecond(kPorts, -1);
  std::vector<int> sequence(kPorts, 0);
  std::vector<int> step(kPorts, 0);
  int lastPort = -1;
  bool placedLong = false;
  std::uint32_t mix = 12345;
  for (int i = 0; i < records; ++i) {
    mix = mix * 1103515245u + 12345u;
    const int p = static_cast<int>((mix >> 8) % kPorts);
    const std::int64_t second = kDayStart + static_cast<std::int64_t>(i) * 86400 / records;
    sequence[p] = second == lastSecond[p] ? sequence[p] + 1 : 0;
    lastSecond[p] = second;
    std::string key = std::to_string(second);
    if (sequence[p]) key += "." + std::to_string(sequence[p]);
    const std::string account = "DOM\\user" + std::to_string((mix >> 4) % 20000);
    std::string value;
    const int s = step[p]++;
    if (s % 7 == 6) {
      value = common::FormatRefusalRecord(account, s % 6 + 1);
    } else if (s % 2 == 0) {
      value = common::FormatConnectionRecord(account);
    } else {
      // The long value, when asked for, is a computer name: a column that
      // other columns follow, so a table padded to it pads every row.
      const bool longOne = longValueMb > 0 && !placedLong && i >= records / 2;
      placedLong = placedLong || longOne;
      value = common::FormatHangUpRecord(
          s % 7200, account, 167772160 + s, s % 10 == 1 ? 9 : 0, "",
          longOne ? std::string(static_cast<size_t>(longValueMb) << 20, 'W') : "PC" + std::to_string(s % 1000),
          1000LL * s, 2000LL * s);
    }
    if (p != lastPort) text += "[" + PortSection(p) + "]\n";
    lastPort = p;
    text += key + "=" + value + "\n";
  }
  return text;
}

// The console's reader: the document's load and the view's filter of all
// records, as opening the log view on that day does.
int ReadAsConsole(const char* file) {
  pladmin::CLogRecords day;
  day.LoadLogRecords(file, 0, {{"SRV2", -60}});
  pladmin::LogFilter all;
  const std::vector<int> rows = pladmin::FilterRows(day.records(), all, nullptr);
  std::printf("%zu\n", rows.size());
  return 0;
}

struct Run {
  double seconds = 0;
  double cpu = 0;  // user + system: what other work on the machine barely moves
  double peakMb = 0;
  int status = -1;
};

// Runs argv with stdout into `out` (a host path), timed, with its peak RSS.
Run RunChild(const std::vector<std::string>& args, const std::string& out) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::dup2(fd, 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Run run;
  int status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Size of a file and the length of its longest line.
void Measure(const std::string& path, std::uint64_t* bytes, std::uint64_t* widest) {
  std::ifstream in(path, std::ios::binary);
  *bytes = 0;
  *widest = 0;
  std::uint64_t line = 0;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      if (buffer[i] == '\n') {
        *widest = std::max(*widest, line);
        line = 0;
      } else {
        ++line;
      }
    }
    *bytes += static_cast<std::uint64_t>(in.gcount());
  }
  *widest = std::max(*widest, line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && !std::strcmp(argv[1], "--read-console")) return ReadAsConsole(argv[2]);
  int records = 1000000, runs = 2, longValueMb = 0;
  bool keep = false;
  std::string bin = PORTULON_BUILD_BIN_DIR;
  for (int i = 1; i < argc; ++i) {
    const bool more = i + 1 < argc;
    if (!std::strcmp(argv[i], "--records") && more) {
      records = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--runs") && more) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--long-value") && more) {
      longValueMb = std::max(0, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--bin") && more) {
      bin = argv[++i];
    } else if (!std::strcmp(argv[i], "--keep")) {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: day_reader_bench [--records N] [--runs N] [--long-value MB] [--bin DIR] [--keep]\n");
      return 2;
    }
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string network = std::string(tmp && *tmp ? tmp : "/tmp") + "/day-reader-bench-XXXXXX";
  if (!::mkdtemp(network.data())) return 1;
  const std::string root = network + "/SRV1";
  ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  ::setenv("PORTULON_MACHINE", root.c_str(), 1);
  plat::MachineConfig config;
  config.name = "SRV1";
  if (plat::ProvisionMachine(root, config) != plat::ERROR_SUCCESS) return 1;
  plat::SetCurrentMachineRoot(root);
  plat::CreateDirectory(kDataFolder);
  plat::CreateDirectory(std::string(kDataFolder) + "\\" + common::kDayLogFolder);
  const std::string file = common::DayLogPath(kDataFolder, kDay);
  const std::string text = DayText(records, longValueMb);
  if (plat::WriteWholeFile(file, text) != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return 1;
  }

  // plexport's settings: the data folder and an SQLite data source of the network's own.
  std::ofstream(network + "/odbcinst.ini") << "[SQLite3]\nDriver=" << PORTULON_SQLITE_ODBC_DRIVER << "\n";
  std::ofstream(network + "/odbc.ini") << "[Bench]\nDriver=SQLite3\nDatabase=" << network << "/bench.db\n";
  ::setenv("ODBCSYSINI", network.c_str(), 1);
  ::setenv("ODBCINI", (network + "/odbc.ini").c_str(), 1);
  plat::RegWriteString(plat::kSharesKey, "PL_NT_DB", std::string("Path=") + kDataFolder);
  plat::RegWriteString(common::kServiceKey, common::kMasterShareValue, "\\\\SRV1\\PL_NT_DB");
  plat::RegWriteString(common::kServiceKey, common::kOdbcDsnValue, "Bench");
  plat::RegWriteDword(common::kServiceKey, common::kExportHistoryValue, 1);

  std::string self(4096, '\0');
  self.resize(static_cast<size_t>(std::max<ssize_t>(0, ::readlink("/proc/self/exe", self.data(), self.size()))));
  const std::string out = network + "/out.txt";
  struct Reader {
    const char* name;
    std::vector<std::string> args;
  };
  const std::vector<Reader> readers = {
      {"plreport log", {bin + "/plreport", "log", "--day", kIsoDay, "--data", kDataFolder}},
      {"plexport export", {bin + "/plexport", "export"}},
      {"console reader", {self, "--read-console", file}},
  };
  std::printf("a day of %d records (%.1f MB, %d ports in sections of many parts)%s, best/worst of %d runs\n",
              records, static_cast<double>(text.size()) / 1e6, kPorts,
              longValueMb ? (" with one " + std::to_string(longValueMb) + " MB value").c_str() : "", runs);
  int rc = 0;
  for (const Reader& reader : readers) {
    Run best{1e9, 1e9, 1e9, 0}, worst;
    std::uint64_t bytes = 0, widest = 0;
    for (int r = 0; r < runs; ++r) {
      std::filesystem::remove(network + "/bench.db");
      const Run run = RunChild(reader.args, out);
      if (run.status != 0) {
        std::printf("  %-16s exit status %d\n", reader.name, run.status);
        rc = 1;
        break;
      }
      best = {std::min(best.seconds, run.seconds), std::min(best.cpu, run.cpu), std::min(best.peakMb, run.peakMb), 0};
      worst = {std::max(worst.seconds, run.seconds), std::max(worst.cpu, run.cpu), std::max(worst.peakMb, run.peakMb), 0};
      Measure(out, &bytes, &widest);
    }
    if (best.seconds >= 1e9) continue;
    std::printf("  %-16s %7.2f / %7.2f s (CPU %6.2f / %6.2f s)   peak RSS %7.1f / %7.1f MB   "
                "output %9.1f MB, widest line %llu\n",
                reader.name, best.seconds, worst.seconds, best.cpu, worst.cpu, best.peakMb, worst.peakMb,
                static_cast<double>(bytes) / 1e6, static_cast<unsigned long long>(widest));
  }
  if (!keep) std::filesystem::remove_all(network);
  return rc;
}
