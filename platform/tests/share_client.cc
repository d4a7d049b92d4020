// A process on one host of the tests' real network, working on a profile
// file through the platform's calls:
//
//   share_client write FILE SECTION KEY VALUE
//   share_client read FILE SECTION KEY          prints the value, or "<missing>"
//   share_client append FILE SECTION COUNT TAG [PAUSE_US]
//                                               records TAG-1..TAG-COUNT = TAG
//   share_client size FILE                      prints the size
//   share_client rotate FILE TO MAX             ProfileRotate; prints whether it did
//   share_client poll FILE COUNT MS             COUNT looks at the file's size, MS
//                                               apart, in one process: the code of each
//   share_client hold FILE MS                   holds the file's lock MS ms, once
//                                               another holder let go (prints "held")
//   share_client time FILE N                    N writes and N reads of a key:
//                                               p50 and p99 of each, in µs
//   share_client copy FROM TO [new]             CopyFile (new: fail if TO exists)
//   share_client move FROM TO FLAGS             MoveFileEx
//   share_client mkdir|rmdir FOLDER             CreateDirectory, RemoveDirectory
//   share_client list PATTERN                   FindFiles: the names, sorted
//   share_client costs FOLDER N RECORDS        what each shared write of a server
//                                               costs in FOLDER: N of each on files
//                                               it makes (200 accounts, a day log
//                                               of RECORDS records): p50 and p99 in µs
//
// A failure prints "error N" (the Win32 code) and exits 1.
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/smb_client.h"

namespace {

int Fail(plat::DWORD err) {
  std::printf("error %lu\n", static_cast<unsigned long>(err));
  return 1;
}

// Microseconds of `call` at the 50th and 99th percentile of `n` runs.
template <typename Call>
std::pair<long, long> Percentiles(int n, Call call) {
  std::vector<long> us;
  for (int i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    call(i);
    us.push_back(static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count()));
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[1] : "";
  const std::string file = argc > 2 ? argv[2] : "";
  if (command == "write" && argc == 6) {
    const plat::DWORD err = plat::ProfileWriteString(file, argv[3], argv[4], argv[5]);
    return err == plat::ERROR_SUCCESS ? 0 : Fail(err);
  }
  if (command == "read" && argc == 5) {
    std::printf("%s\n", plat::ProfileGetString(file, argv[3], argv[4], "<missing>").c_str());
    return 0;
  }
  if (command == "append" && (argc == 6 || argc == 7)) {
    const int count = std::atoi(argv[4]);
    const auto pause = std::chrono::microseconds(argc == 7 ? std::atoi(argv[6]) : 0);
    for (int i = 0; i < count; ++i) {
      std::this_thread::sleep_for(pause);
      const std::string key = std::string(argv[5]) + "-" + std::to_string(i + 1);
      const plat::DWORD err = plat::ProfileAppendRecord(file, argv[3], key, argv[5]);
      if (err != plat::ERROR_SUCCESS) return Fail(err);
    }
    return 0;
  }
  if (command == "records" && argc == 3) {  // each record streamed, "section|key=value" a line
    std::string section;
    const plat::DWORD err = plat::ProfileForEachRecord(
        file,
        [&](std::string_view name) {
          section = name;
          return true;
        },
        [&](std::string_view key, std::string_view value) {
          std::printf("%s|%.*s=%.*s\n", section.c_str(), static_cast<int>(key.size()), key.data(),
                      static_cast<int>(value.size()), value.data());
        });
    return err == plat::ERROR_SUCCESS ? 0 : Fail(err);
  }
  if (command == "size" && argc == 3) {
    std::uint64_t size = 0;
    const plat::DWORD err = plat::GetFileSize(file, &size);
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    std::printf("%llu\n", static_cast<unsigned long long>(size));
    return 0;
  }
  if (command == "rotate" && argc == 5) {
    bool rotated = false;
    const plat::DWORD err = plat::ProfileRotate(file, argv[3], std::strtoull(argv[4], nullptr, 10), &rotated);
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    std::printf("%s\n", rotated ? "rotated" : "kept");
    return 0;
  }
  if (command == "poll" && argc == 5) {
    for (int i = 0, n = std::atoi(argv[3]); i < n; ++i) {
      std::uint64_t size = 0;
      std::printf("%lu\n", static_cast<unsigned long>(plat::GetFileSize(file, &size)));
      std::fflush(stdout);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[4])));
    }
    return 0;
  }
  if (command == "hold" && argc == 4) {
    plat::FileLocation where;
    if (plat::DWORD err = plat::ResolveLocation(file, &where); err != plat::ERROR_SUCCESS) return Fail(err);
    plat::smb::RemoteFile held;
    if (plat::DWORD err = held.OpenWaiting(where.path, O_RDWR | O_CREAT, plat::smb::Share::None, plat::smb::kLockWaitMs);
        err != plat::ERROR_SUCCESS) {
      return Fail(err);
    }
    std::printf("held\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
    return 0;
  }
  if (command == "time" && argc == 4) {
    const int n = std::atoi(argv[3]);
    plat::DWORD err = plat::ERROR_SUCCESS;
    const auto write = Percentiles(n, [&](int i) {
      if (err == plat::ERROR_SUCCESS) err = plat::ProfileWriteString(file, "Timing", "Key", std::to_string(i));
    });
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    const auto read = Percentiles(n, [&](int) { plat::ProfileGetString(file, "Timing", "Key", ""); });
    std::printf("write p50 %ld p99 %ld; read p50 %ld p99 %ld\n", write.first, write.second, read.first, read.second);
    return 0;
  }
  auto done = [](plat::DWORD err) {
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    std::printf("ok\n");
    return 0;
  };
  if (command == "copy" && (argc == 4 || argc == 5)) {
    return done(plat::CopyFile(file, argv[3], argc == 5 && std::string(argv[4]) == "new"));
  }
  if (command == "move" && argc == 5) {
    return done(plat::MoveFileEx(file, argv[3], static_cast<plat::DWORD>(std::strtoul(argv[4], nullptr, 0))));
  }
  if (command == "mkdir") return done(plat::CreateDirectory(file));
  if (command == "rmdir") return done(plat::RemoveDirectory(file));
  if (command == "list") {
    std::vector<plat::FindData> found;
    if (plat::DWORD err = plat::FindFiles(file, &found); err != plat::ERROR_SUCCESS) return Fail(err);
    std::vector<std::string> names;
    for (const auto& f : found) names.push_back(f.name);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) std::printf("%s\n", n.c_str());
    return 0;
  }
  if (command == "costs" && argc == 5) {
    const int n = std::atoi(argv[3]);
    const int records = std::atoi(argv[4]);
    const std::string users = file + "\\costs.usr", day = file + "\\costs.log";
    const std::string loggedIn = file + "\\costs.tmp", status = file + "\\costs.dat";
    std::string text;
    for (int a = 0; a < 200; ++a) {
      text += "[DOM\\u" + std::to_string(a) + "]\nMaxSessionTime=3600\nTotalConnects=0          \n"
              "LastConnection=0          \nTotalTime=0          \n";
    }
    plat::DWORD err = plat::WriteWholeFile(users, text);
    text = "[SRV1\\COM1]\n";
    for (int r = 0; r < records; ++r) text += std::to_string(1796800000 + r) + "=H1_DOM\\u1?167772171?0::*:0:0\n";
    if (err == plat::ERROR_SUCCESS) err = plat::WriteWholeFile(day, text);
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    const auto plusOne = [](const char* section, const char* key) {
      return [=](const plat::ProfileValueOf& valueOf) {
        const long v = std::atol(valueOf(section, key).value_or("0").c_str());
        return std::vector<plat::ProfileChange>{{section, key, std::to_string(v + 1)}};
      };
    };
    const auto usage = Percentiles(n, [&](int i) {
      const std::string account = "DOM\\u" + std::to_string(i % 200);
      if (err != plat::ERROR_SUCCESS) return;
      err = plat::ProfileApplyDecided(users, [&](const plat::ProfileValueOf& valueOf) {
        const long v = std::atol(valueOf(account, "TotalConnects").value_or("0").c_str());
        return std::vector<plat::ProfileChange>{{account, "TotalConnects", std::to_string(v + 1)},
                                                {account, "LastConnection", std::to_string(1796800000 + i)}};
      });
    });
    const auto append = Percentiles(n, [&](int i) {
      if (err == plat::ERROR_SUCCESS) {
        err = plat::ProfileAppendRecord(day, "SRV1\\COM1", std::to_string(1796900000 + i), "C_DOM\\u1");
      }
    });
    const auto roster = Percentiles(n, [&](int i) {
      if (err == plat::ERROR_SUCCESS) err = plat::ProfileWriteString(loggedIn, "SRV2", "DOM\\u1", std::to_string(i % 2));
    });
    const auto counts = Percentiles(n, [&](int) {
      if (err == plat::ERROR_SUCCESS) err = plat::ProfileApplyDecided(status, plusOne("General", "Sessions"));
    });
    for (const auto& name : {users, day, loggedIn, status}) plat::DeleteFile(name);
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    std::printf("usage write p50 %ld p99 %ld\nday-log append p50 %ld p99 %ld\n"
                "logged-in users p50 %ld p99 %ld\nsvc_status.dat p50 %ld p99 %ld\n",
                usage.first, usage.second, append.first, append.second, roster.first, roster.second,
                counts.first, counts.second);
    return 0;
  }
  std::fprintf(stderr, "usage: share_client write|read|append|size FILE ...\n");
  return 2;
}
