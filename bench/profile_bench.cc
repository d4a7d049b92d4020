// Profile reads and writes against files shaped like the user profile file:
// N sections of ten numeric keys each.
//
//   profile_bench [--benchmark_filter=...]     (files go to $TMPDIR or /tmp)

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/profile.h"

namespace {

const char* const kKeys[] = {"MaxSessionTime", "MaxTotalTime",   "ExpiryTime",     "PeriodType",
                             "PeriodMax",      "NoDuplicate",    "TotalTime",      "FirstConnection",
                             "LastConnection", "PeriodUsed"};

std::string SectionName(int i) { return "DOMAIN\\user" + std::to_string(i); }

// Creates (once per size) the host file and returns its Windows name.
class Files {
 public:
  ~Files() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  const std::string& Get(int sections) {
    auto it = names_.find(sections);
    if (it != names_.end()) return it->second;
    if (dir_.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-bench-XXXXXX";
      if (::mkdtemp(pattern.data())) dir_ = pattern;
    }
    const std::string host = dir_ + "/p" + std::to_string(sections) + ".usr";
    std::ofstream out(host, std::ios::binary);
    for (int i = 0; i < sections; ++i) {
      out << '[' << SectionName(i) << "]\n";
      for (int k = 0; k < 10; ++k) out << kKeys[k] << '=' << (i * 37 + k * 1009) % 100000 << '\n';
    }
    out.close();
    return names_[sections] = "Z:" + host;
  }
  std::string Host(int sections) const { return names_.at(sections).substr(2); }

 private:
  std::string dir_;
  std::map<int, std::string> names_;
};

Files& TheFiles() {
  static Files files;
  return files;
}

void SetFileCounters(benchmark::State& state, int sections) {
  struct stat st;
  if (::stat(TheFiles().Host(sections).c_str(), &st) == 0) {
    state.counters["file_MB"] = static_cast<double>(st.st_size) / (1 << 20);
  }
}

// A read from an unchanged file: the parse is cached.
void BM_ReadKey(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string& file = TheFiles().Get(n);
  plat::ProfileGetString(file, "x", "x", "");  // parse outside the timing
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(plat::ProfileGetString(file, SectionName(i), "TotalTime", "0"));
    i = (i + 7919) % n;
  }
  SetFileCounters(state, n);
}

// The same through the Windows call with a fixed buffer.
void BM_GetPrivateProfileString(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string& file = TheFiles().Get(n);
  char buffer[1000];
  plat::GetPrivateProfileString("x", "x", "", buffer, sizeof buffer, file.c_str());
  int i = 0;
  for (auto _ : state) {
    const std::string section = SectionName(i);
    benchmark::DoNotOptimize(plat::GetPrivateProfileString(section.c_str(), "TotalTime", "0",
                                                           buffer, sizeof buffer, file.c_str()));
    i = (i + 7919) % n;
  }
}

// A read after another writer changed the file: read and parse it all.
void BM_ReadAfterForeignChange(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string& file = TheFiles().Get(n);
  const std::string host = TheFiles().Host(n);
  for (auto _ : state) {
    state.PauseTiming();
    ::utimensat(AT_FDCWD, host.c_str(), nullptr, 0);  // a new modification time
    state.ResumeTiming();
    benchmark::DoNotOptimize(plat::ProfileGetString(file, SectionName(n / 2), "TotalTime", "0"));
  }
  SetFileCounters(state, n);
}

// One write: lock, change one section, rewrite the file, rename.
void BM_WriteKey(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string& file = TheFiles().Get(n);
  plat::ProfileGetString(file, "x", "x", "");
  int i = 0;
  for (auto _ : state) {
    plat::ProfileWriteString(file, SectionName(i % n), "TotalTime", std::to_string(i));
    i += 7919;
  }
  SetFileCounters(state, n);
}

// What the service does at a hang-up: several keys of one user in one rewrite.
void BM_ApplyFourChanges(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string& file = TheFiles().Get(n);
  plat::ProfileGetString(file, "x", "x", "");
  int i = 0;
  for (auto _ : state) {
    const std::string section = SectionName(i % n), v = std::to_string(i);
    plat::ProfileApply(file, {{section, "TotalTime", v},
                              {section, "LastConnection", v},
                              {section, "PeriodUsed", v},
                              {section, "Connections", v}});
    i += 7919;
  }
  SetFileCounters(state, n);
}

BENCHMARK(BM_ReadKey)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_GetPrivateProfileString)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_ReadAfterForeignChange)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteKey)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyFourChanges)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
