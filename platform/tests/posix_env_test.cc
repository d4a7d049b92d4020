// The back end's file mechanics on their own: the lock that follows a
// replaced file, the replace that never leaves half a file, socket addresses
// past sun_path, and the look-up that ignores case.
#include "platform/posix_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/errors.h"
#include "platform/testing/host_tools.h"

namespace plat::posix {
namespace {

class PosixEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/posix_env_test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ClearFaultsForTesting();
    std::filesystem::remove_all(dir_);
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
  }
  std::string dir_;
};

// A locker that opened the file before a writer replaced it must end up
// holding the new file, not the one nobody names any more.
TEST_F(PosixEnvTest, ALockFollowsTheFileThatReplacedTheOneItOpened) {
  const std::string path = dir_ + "/f";
  testing::WriteHostFile(path, "old");
  LockedFile held;
  ASSERT_EQ(held.Open(path, O_RDWR, LOCK_EX), ERROR_SUCCESS);
  ino_t got = 0;
  std::thread waiter([&] {
    LockedFile later;
    if (later.Open(path, O_RDWR, LOCK_EX) == ERROR_SUCCESS) got = later.status().st_ino;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the waiter blocks on the old file
  struct stat fresh;
  ASSERT_EQ(ReplaceAtomically(path, "new", {}, &fresh), ERROR_SUCCESS);
  held = LockedFile();
  waiter.join();
  EXPECT_EQ(got, fresh.st_ino);

  bool created = true;
  EXPECT_EQ(held.Open(dir_ + "/missing/f", O_RDWR | O_CREAT, LOCK_EX, &created), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(created);
  EXPECT_EQ(held.Open(dir_ + "/g", O_RDWR, LOCK_SH, &created), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(held.Open(dir_ + "/g", O_RDWR | O_CREAT, LOCK_SH, &created), ERROR_SUCCESS);
  EXPECT_TRUE(created);
}

// Whichever step of a replace fails, the old file stays whole and the
// temporary goes; the fault names the replaced file, not its temporary.
TEST_F(PosixEnvTest, AFailedReplaceLeavesTheOldFileAndNoTemporary) {
  const std::string path = dir_ + "/Data.ini";
  testing::WriteHostFile(path, "old");
  ReplaceOptions durable;
  durable.durable = true;
  const struct {
    FaultCall call;
    int error;
    DWORD expected;
  } faults[] = {{FaultCall::Open, EMFILE, ERROR_TOO_MANY_OPEN_FILES},
                {FaultCall::Write, ENOSPC, ERROR_DISK_FULL},
                {FaultCall::Fsync, EIO, ERROR_WRITE_FAULT},
                {FaultCall::Rename, EACCES, ERROR_ACCESS_DENIED}};
  for (const auto& f : faults) {
    ScopedFault fault(f.call, "DATA.INI", f.error);
    EXPECT_EQ(ReplaceAtomically(path, "new", durable), f.expected) << static_cast<int>(f.call);
    EXPECT_EQ(ReplaceAtomically(dir_ + "/other", "x", durable), ERROR_SUCCESS);
    EXPECT_EQ(testing::ReadHostFile(path), "old");
    EXPECT_EQ(Entries(), 2u);
  }
  EXPECT_EQ(ReplaceAtomically(path, "new", durable), ERROR_SUCCESS);
  EXPECT_EQ(testing::ReadHostFile(path), "new");
  // A fixed temporary that a killed writer left is written over.
  ReplaceOptions fixed;
  fixed.temporary = path + ".~trim";
  testing::WriteHostFile(fixed.temporary, "leftover of a killed writer");
  EXPECT_EQ(ReplaceAtomically(path, "newer", fixed), ERROR_SUCCESS);
  EXPECT_EQ(testing::ReadHostFile(path), "newer");
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(PosixEnvTest, AnAddressPastSunPathGoesThroughTheFolder) {
  std::string deep = dir_;
  while (deep.size() < 120) deep += "/a-rather-long-folder-name";
  std::filesystem::create_directories(deep);
  UnixAddress addr;
  ASSERT_EQ(addr.Set(deep, "socket"), ERROR_SUCCESS);
  UniqueFd server(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::bind(server.get(), addr.get(), addr.size()), 0) << std::strerror(errno);
  ASSERT_EQ(::listen(server.get(), 1), 0);
  EXPECT_TRUE(std::filesystem::exists(deep + "/socket"));
  UnixAddress again;
  ASSERT_EQ(again.Set(deep, "socket"), ERROR_SUCCESS);
  UniqueFd client(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  EXPECT_EQ(::connect(client.get(), again.get(), again.size()), 0) << std::strerror(errno);
  EXPECT_EQ(again.Set(deep, std::string(120, 'n')), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(again.Set(dir_ + "/missing" + std::string(120, 'm'), "s"), ERROR_FILE_NOT_FOUND);
}

TEST_F(PosixEnvTest, LookupIgnoresCaseButPrefersTheExactName) {
  testing::WriteHostFile(dir_ + "/System.LOG", "");
  EXPECT_EQ(FindEntryIgnoringCase(dir_, "system.log"), "System.LOG");
  EXPECT_EQ(FindEntryIgnoringCase(dir_, "New.log"), "New.log");  // to be created as asked
  testing::WriteHostFile(dir_ + "/system.log", "");
  EXPECT_EQ(FindEntryIgnoringCase(dir_, "system.log"), "system.log");
  std::string stored = "untouched";
  EXPECT_FALSE(FindEntryIgnoringCase(dir_, "none", &stored));
  EXPECT_EQ(stored, "untouched");
}

}  // namespace
}  // namespace plat::posix
