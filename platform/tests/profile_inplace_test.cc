// Writes made where they stand (same-length lines, additions at the end) and
// record files whose sections continue further down: what other processes
// see of them, and what stays readable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/testing/host_tools.h"

namespace plat {
namespace {

using testing::ReadHostFile;
using testing::InChild;
using testing::WriteHostFile;
using testing::AppendHostFile;

ino_t InodeOf(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ProfileInPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-inplace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Host() const { return dir_ + "/test.ini"; }
  std::string Win() const {
    std::string w = "Z:" + Host();
    for (auto& c : w) c = c == '/' ? '\\' : c;
    return w;
  }
  // A file large enough for shorter values to be padded in place.
  void WriteLargeFile() {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
      text += "[DOM\\u" + std::to_string(i) + "]\nTotalTime=300\nLasted=12345\n";
    }
    WriteHostFile(Host(), text);
  }

  std::string dir_;
};

TEST_F(ProfileInPlaceTest, SameLengthAndShorterValuesKeepTheFileAndReadBackTrimmed) {
  WriteLargeFile();
  const ino_t inode = InodeOf(Host());
  const auto size = std::filesystem::file_size(Host());
  ASSERT_EQ(ProfileGetString(Win(), "DOM\\u7", "TotalTime", ""), "300");

  ASSERT_EQ(ProfileWriteString(Win(), "DOM\\u7", "TotalTime", "400"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "DOM\\u7", "Lasted", "0"), ERROR_SUCCESS);
  EXPECT_EQ(InodeOf(Host()), inode) << "written where it stands, not replaced";
  EXPECT_EQ(std::filesystem::file_size(Host()), size);
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u7", "TotalTime", ""), "400");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u7", "Lasted", ""), "0");
  EXPECT_NE(ReadHostFile(Host()).find("[DOM\\u7]\nTotalTime=400\nLasted=0    \n"), std::string::npos);
  // Its neighbours are untouched.
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u6", "Lasted", ""), "12345");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u8", "TotalTime", ""), "300");

  // The padding is room: a longer value that fits is written in place too.
  ASSERT_EQ(ProfileWriteString(Win(), "DOM\\u7", "Lasted", "99999"), ERROR_SUCCESS);
  EXPECT_EQ(InodeOf(Host()), inode);
  // One that does not fit replaces the file.
  ASSERT_EQ(ProfileWriteString(Win(), "DOM\\u7", "Lasted", "1234567"), ERROR_SUCCESS);
  EXPECT_NE(InodeOf(Host()), inode);
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u7", "Lasted", ""), "1234567");
  EXPECT_EQ(ProfileListSections(Win())->size(), 3000u);
}

// Another process's in-place change keeps inode and size, often within one
// tick of the coarse clock that stamps writes: the cache must see every one.
TEST_F(ProfileInPlaceTest, EveryInPlaceChangeOfAnotherProcessIsSeenAtOnce) {
  WriteLargeFile();
  for (int i = 0; i < 200; ++i) {
    const std::string value = std::to_string(100 + i % 900);
    ASSERT_EQ(ProfileGetString(Win(), "DOM\\u5", "TotalTime", ""), i == 0 ? "300" : std::to_string(100 + (i - 1) % 900));
    ASSERT_EQ(InChild([&] { return ProfileWriteString(Win(), "DOM\\u5", "TotalTime", value) == ERROR_SUCCESS ? 0 : 1; }), 0);
    ASSERT_EQ(ProfileGetString(Win(), "DOM\\u5", "TotalTime", ""), value) << "change " << i;
  }
}

// Readers take a shared lock: a value rewritten in place is seen whole, old or new.
TEST_F(ProfileInPlaceTest, ReadersInOtherProcessesNeverSeeHalfAValue) {
  WriteLargeFile();
  const std::string a(20000, 'a'), b(20000, 'b');  // across several pages
  ASSERT_EQ(ProfileWriteString(Win(), "Big", "Value", a), ERROR_SUCCESS);
  const pid_t writer = ::fork();
  if (writer == 0) {
    for (int i = 0; i < 4000; ++i) {
      if (ProfileWriteString(Win(), "Big", "Value", i % 2 ? a : b) != ERROR_SUCCESS) ::_exit(1);
    }
    ::_exit(0);
  }
  int torn = 0, reads = 0;
  for (int status = 0; ::waitpid(writer, &status, WNOHANG) == 0; ++reads) {
    const std::string v = ProfileGetString(Win(), "Big", "Value", "");
    if (v != a && v != b) ++torn;
  }
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_GT(reads, 0);
}

TEST_F(ProfileInPlaceTest, RecordsAreAppendedAndSectionsContinueFurtherDown) {
  WriteHostFile(Host(), "[SRV1\\COM1]\n100=C_DOM\\ann\n[SRV1\\COM2]\n101=C_DOM\\bob");  // no final line break
  const ino_t inode = InodeOf(Host());
  ASSERT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM1", "160", "H60_DOM\\ann"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM1", "160.1", "N_DOM\\cy?1"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM2", "170", "H69_DOM\\bob"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM3", "171", "C_DOM\\dee"), ERROR_SUCCESS);
  EXPECT_EQ(InodeOf(Host()), inode) << "appended, never rewritten";
  EXPECT_EQ(ReadHostFile(Host()),
            "[SRV1\\COM1]\n100=C_DOM\\ann\n[SRV1\\COM2]\n101=C_DOM\\bob\n"
            "[SRV1\\COM1]\n160=H60_DOM\\ann\n160.1=N_DOM\\cy?1\n"
            "[SRV1\\COM2]\n170=H69_DOM\\bob\n[SRV1\\COM3]\n171=C_DOM\\dee\n");

  // The record calls see every part, in file order; the ordinary ones the first.
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(*ProfileReadRecords(Win(), "srv1\\com1"),
            (Pairs{{"100", "C_DOM\\ann"}, {"160", "H60_DOM\\ann"}, {"160.1", "N_DOM\\cy?1"}}));
  EXPECT_EQ(*ProfileReadSection(Win(), "SRV1\\COM1"), (Pairs{{"100", "C_DOM\\ann"}}));
  EXPECT_EQ(ProfileListSections(Win())->size(), 3u);
  EXPECT_TRUE(ProfileRecordExists(Win(), "SRV1\\COM1", "160.1"));
  EXPECT_FALSE(ProfileRecordExists(Win(), "SRV1\\COM2", "160"));

  // A key any part holds is never added twice.
  EXPECT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM1", "100", "again"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM1", "160", "again"), ERROR_ALREADY_EXISTS);

  // A record is replaced in whichever part holds it.
  ASSERT_EQ(ProfileReplaceRecord(Win(), "SRV1\\COM1", "160", "H60_DOM\\ann*555"), ERROR_SUCCESS);
  EXPECT_EQ(ProfileReadRecords(Win(), "SRV1\\COM1")->at(1).second, "H60_DOM\\ann*555");
  EXPECT_EQ(ProfileReplaceRecord(Win(), "SRV1\\COM1", "999", "x"), ERROR_FILE_NOT_FOUND);

  // Another process sees the parts as this one does.
  EXPECT_EQ(InChild([&] {
              const auto r = ProfileReadRecords(Win(), "SRV1\\COM1");
              return r && r->size() == 3 && (*r)[1].second == "H60_DOM\\ann*555" ? 0 : 1;
            }),
            0);
  // The first free one of several keys, looked for in every part in one write.
  auto spill = [](int n) { return n == 0 ? std::string("160") : "160." + std::to_string(n); };
  std::string used;
  ASSERT_EQ(ProfileAppendRecordAtFreeKey(Win(), "SRV1\\COM1", spill, 0, 4, "N_DOM\\eve?2", &used),
            ERROR_SUCCESS);
  EXPECT_EQ(used, "160.2") << "160 and 160.1 are taken in the part further down";
  EXPECT_EQ(ProfileAppendRecordAtFreeKey(Win(), "SRV1\\COM1", spill, 0, 3, "none free", &used),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ProfileReadRecords(Win(), "SRV1\\COM1")->size(), 4u);

  // A section deleted goes with all of its parts.
  ASSERT_EQ(ProfileDeleteSection(Win(), "SRV1\\COM1"), ERROR_SUCCESS);
  EXPECT_FALSE(ProfileReadRecords(Win(), "SRV1\\COM1"));
  EXPECT_EQ(ProfileReadRecords(Win(), "SRV1\\COM2")->size(), 2u);
}

// A writer killed at any point leaves a file every reader can read, holding
// every record whose append had returned.
TEST_F(ProfileInPlaceTest, AWriterKilledAnywhereLeavesAReadableFile) {
  WriteLargeFile();
  for (int round = 0; round < 12; ++round) {
    int done[2];
    ASSERT_EQ(::pipe(done), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
      ::close(done[0]);
      for (int i = 0;; ++i) {
        const std::string key = std::to_string(round * 100000 + i);
        ProfileWriteString(Win(), "DOM\\u" + std::to_string(i % 3000), "TotalTime", std::to_string(i % 1000));
        if (ProfileAppendRecord(Win(), "SRV1\\COM" + std::to_string(i % 4), key, "C_DOM\\x") ==
            ERROR_SUCCESS) {
          if (::write(done[1], &i, sizeof i) != sizeof i) ::_exit(1);
        }
      }
    }
    ::close(done[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + round * 7));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    int last = -1, i = 0;
    while (::read(done[0], &i, sizeof i) == sizeof i) last = i;
    ::close(done[0]);

    const auto sections = ProfileListSections(Win());
    ASSERT_TRUE(sections);
    EXPECT_EQ(ProfileReadSection(Win(), "DOM\\u2999")->size(), 2u);
    if (last >= 0) {
      EXPECT_TRUE(ProfileRecordExists(Win(), "SRV1\\COM" + std::to_string(last % 4),
                                      std::to_string(round * 100000 + last)))
          << "round " << round << ", record " << last;
    }
  }
  // No line was left half written.
  const std::string text = ReadHostFile(Host());
  EXPECT_EQ(text.back(), '\n');
}

// Writes of another process that keep the file: records added to the last
// section, to a section further up (a new part) and to a new one, and values
// changed where they stand. A cached reader and a cached writer of this
// process then see exactly what a fresh reader sees.
TEST_F(ProfileInPlaceTest, ACachedReaderFollowsAnotherProcessesAppendsAndChanges) {
  WriteLargeFile();
  AppendHostFile(Host(), "[SRV1\\COM1]\n100=C_DOM\\ann\n");
  ASSERT_EQ(ProfileReadRecords(Win(), "SRV1\\COM1")->size(), 1u);  // cached here
  const ino_t inode = InodeOf(Host());
  for (int round = 0; round < 20; ++round) {
    const std::string n = std::to_string(round);
    ASSERT_EQ(InChild([&] {
                bool ok = ProfileAppendRecord(Win(), "SRV1\\COM1", "2" + n, "H_DOM\\ann") == ERROR_SUCCESS;
                ok = ok && ProfileAppendRecord(Win(), "DOM\\u1", "Extra" + n, n) == ERROR_SUCCESS;
                ok = ok && ProfileAppendRecord(Win(), "SRV1\\VPN" + n, "3" + n, "C_DOM\\bob") == ERROR_SUCCESS;
                ok = ok && ProfileWriteString(Win(), "DOM\\u9", "TotalTime", n) == ERROR_SUCCESS;
                ok = ok && ProfileReplaceRecord(Win(), "SRV1\\COM1", "100", "C_DOM\\a" + n) == ERROR_SUCCESS;
                return ok ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ProfileReadRecords(Win(), "SRV1\\COM1")->size(), static_cast<size_t>(round + 2));
    EXPECT_EQ(ProfileReadRecords(Win(), "SRV1\\COM1")->front().second, "C_DOM\\a" + n);
    EXPECT_TRUE(ProfileRecordExists(Win(), "DOM\\u1", "Extra" + n));
    EXPECT_FALSE(ProfileReadSection(Win(), "DOM\\u1")->size() > 2) << "later parts are not the first";
    EXPECT_TRUE(ProfileRecordExists(Win(), "SRV1\\VPN" + n, "3" + n));
    EXPECT_EQ(ProfileGetString(Win(), "DOM\\u9", "TotalTime", ""), n);
    // This process's own next write starts from the other's, not its cache.
    ASSERT_EQ(ProfileAppendRecord(Win(), "SRV1\\COM1", "2" + n, "again"), ERROR_ALREADY_EXISTS);
    ASSERT_EQ(ProfileWriteString(Win(), "DOM\\u8", "Lasted", n), ERROR_SUCCESS);
  }
  EXPECT_EQ(InodeOf(Host()), inode) << "every write was made where it stands";
  const std::string text = ReadHostFile(Host());
  EXPECT_EQ(InChild([&] {
              const auto all = ProfileListSections(Win());
              return all && *all == *ProfileListSections(Win()) ? 0 : 1;
            }),
            0);
  EXPECT_NE(text.find("Lasted=19   "), std::string::npos);
}

// Changes that no writer of the profile calls noted: made in place by another
// program, a file cut shorter, a file replaced. Each is seen whole.
TEST_F(ProfileInPlaceTest, ChangesTheWritersDidNotNoteAreReadWhole) {
  WriteLargeFile();
  auto rawWrite = [&](const std::string& from, const std::string& to) {
    std::string text = ReadHostFile(Host());
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(Host().c_str(), &st), 0);
    const int fd = ::open(Host().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, to.data(), to.size(), static_cast<off_t>(at)), static_cast<ssize_t>(to.size()));
    // Within the same tick of the clock as the noted write before it.
    const timespec times[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec, st.st_mtim.tv_nsec + 1 < 1000000000 ? st.st_mtim.tv_nsec + 1 : 0}};
    ::futimens(fd, times);
    ::close(fd);
  };
  ASSERT_EQ(ProfileGetString(Win(), "DOM\\u3", "TotalTime", ""), "300");
  // A noted write, then one in the middle that nothing noted.
  ASSERT_EQ(InChild([&] { return ProfileWriteString(Win(), "DOM\\u4", "TotalTime", "444") == ERROR_SUCCESS ? 0 : 1; }), 0);
  rawWrite("[DOM\\u3]\nTotalTime=300", "[DOM\\u3]\nTotalTime=777");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u3", "TotalTime", ""), "777");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u4", "TotalTime", ""), "444");
  // A key renamed and a section renamed in place.
  rawWrite("[DOM\\u5]\nTotalTime", "[DOM\\u5]\nTotalTame");
  rawWrite("[DOM\\u6]", "[DOM\\x6]");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u5", "TotalTime", "none"), "none");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u5", "TotalTame", ""), "300");
  EXPECT_FALSE(ProfileListKeys(Win(), "DOM\\u6"));
  EXPECT_TRUE(ProfileListKeys(Win(), "DOM\\x6"));
  // Cut shorter, then replaced by another file.
  ASSERT_EQ(::truncate(Host().c_str(), 100), 0);
  EXPECT_FALSE(ProfileListKeys(Win(), "DOM\\u7"));
  WriteHostFile(Host(), "[DOM\\u7]\nTotalTime=5\n");
  EXPECT_EQ(ProfileGetString(Win(), "DOM\\u7", "TotalTime", ""), "5");
  EXPECT_EQ(ProfileListSections(Win())->size(), 1u);
}

}  // namespace
}  // namespace plat

namespace plat {
namespace {

TEST(ProfileRotateTest, AFileGrownPastItsLimitMovesAsideAndWritingGoesOnInAFreshOne) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-rotate-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  std::string win = "Z:" + dir;
  for (auto& c : win) c = c == '/' ? '\\' : c;
  const std::string log = win + "\\portulon.log", old = log + ".old";
  bool rotated = true;
  ASSERT_EQ(ProfileRotate(log, old, 100, &rotated), ERROR_SUCCESS) << "a missing file is nothing to do";
  EXPECT_FALSE(rotated);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(ProfileAppendRecord(log, "SRV1\\COM1", std::to_string(100 + i), "C_DOM\\ann"), ERROR_SUCCESS);
  }
  ASSERT_EQ(ProfileRotate(log, old, 10000, &rotated), ERROR_SUCCESS);
  EXPECT_FALSE(rotated) << "still below its limit";
  ASSERT_EQ(ProfileRotate(log, old, 100, &rotated), ERROR_SUCCESS);
  EXPECT_TRUE(rotated);
  EXPECT_EQ(ProfileReadRecords(old, "SRV1\\COM1")->size(), 10u);
  EXPECT_FALSE(ProfileReadRecords(log, "SRV1\\COM1"));
  // Another process, which had the file cached, writes into the fresh one.
  ASSERT_EQ(InChild([&] { return ProfileAppendRecord(log, "SRV1\\COM1", "200", "C_DOM\\bob") == ERROR_SUCCESS ? 0 : 1; }), 0);
  EXPECT_EQ(ProfileReadRecords(log, "SRV1\\COM1")->size(), 1u);
  EXPECT_EQ(ProfileReadRecords(old, "SRV1\\COM1")->size(), 10u);
  std::filesystem::remove_all(dir);
}

TEST(ProfileTemporariesTest, OnlyTheLeftoversOfDeadWritersAreRemoved) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-temps-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  // A writer that is gone: a child that has ended and been reaped.
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string deadTemp = "portulon.usr.~" + std::to_string(dead) + "-" + std::to_string(dead);
  const std::string liveTemp = "portulon.usr.~" + std::to_string(::getpid()) + "-1";
  for (const std::string& name : {deadTemp, liveTemp, std::string("portulon.usr"),
                                  std::string("notes.~txt"), std::string("x.~12-")}) {
    WriteHostFile(dir + "/" + name, "[S]\nK=v\n");
  }
  std::string win = "Z:" + dir;
  for (auto& c : win) c = c == '/' ? '\\' : c;
  int failed = -1;
  EXPECT_EQ(ProfileRemoveStaleTemporaries(win, &failed), 1);
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(std::filesystem::exists(dir + "/" + deadTemp));
  for (const std::string& kept : {liveTemp, std::string("portulon.usr"), std::string("notes.~txt"),
                                  std::string("x.~12-")}) {
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + kept)) << kept;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace plat
