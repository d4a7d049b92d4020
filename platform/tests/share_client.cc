// A process on one host of the tests' real network, working on a profile
// file through the platform's calls:
//
//   share_client write FILE SECTION KEY VALUE
//   share_client read FILE SECTION KEY          prints the value, or "<missing>"
//   share_client append FILE SECTION COUNT TAG  records TAG-1..TAG-COUNT = TAG
//   share_client size FILE                      prints the size
//
// A failure prints "error N" (the Win32 code) and exits 1.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace {

int Fail(plat::DWORD err) {
  std::printf("error %lu\n", static_cast<unsigned long>(err));
  return 1;
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
  if (command == "append" && argc == 6) {
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      const std::string key = std::string(argv[5]) + "-" + std::to_string(i + 1);
      const plat::DWORD err = plat::ProfileAppendRecord(file, argv[3], key, argv[5]);
      if (err != plat::ERROR_SUCCESS) return Fail(err);
    }
    return 0;
  }
  if (command == "size" && argc == 3) {
    std::uint64_t size = 0;
    const plat::DWORD err = plat::GetFileSize(file, &size);
    if (err != plat::ERROR_SUCCESS) return Fail(err);
    std::printf("%llu\n", static_cast<unsigned long long>(size));
    return 0;
  }
  std::fprintf(stderr, "usage: share_client write|read|append|size FILE ...\n");
  return 2;
}
