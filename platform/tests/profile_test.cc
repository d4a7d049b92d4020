#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/errors.h"
#include "platform/fault_seam.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

using testing::ReadHostFile;
using testing::InChild;
using testing::WriteHostFile;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Host(const std::string& name = "test.ini") const { return dir_ + "/" + name; }
  // The same file by its Windows name.
  std::string Win(const std::string& name = "test.ini") const {
    std::string w = "Z:" + Host(name);
    for (auto& c : w) c = c == '/' ? '\\' : c;
    return w;
  }
  std::string Get(const std::string& section, const std::string& key) const {
    return ProfileGetString(Win(), section, key, "<default>");
  }

  std::string dir_;
};

// The test-only seam fails the writes of one file by name, whatever its
// folder and case, and leaves its reads and every other file alone.
TEST_F(ProfileTest, AnInjectedWriteFaultFailsOneFilesWritesOnly) {
  ASSERT_EQ(ProfileWriteString(Win(), "S", "k", "1"), ERROR_SUCCESS);
  SetFaultForTesting(FaultCall::Write, "TEST.INI", ENOSPC);
  EXPECT_EQ(ProfileWriteString(Win(), "S", "k", "2"), ERROR_DISK_FULL);
  EXPECT_EQ(ProfileApply(Win(), {{"S", "j", std::string("3")}}), ERROR_DISK_FULL);
  EXPECT_EQ(ProfileAppendRecord(Win(), "S", "r", "4"), ERROR_DISK_FULL);
  EXPECT_EQ(Get("S", "k"), "1");
  EXPECT_EQ(ProfileWriteString(Win("other.ini"), "S", "k", "5"), ERROR_SUCCESS);
  ClearFaultsForTesting();
  EXPECT_EQ(ProfileWriteString(Win(), "S", "k", "6"), ERROR_SUCCESS);
  EXPECT_EQ(Get("S", "k"), "6");
}

TEST_F(ProfileTest, ReadsIgnoreCaseTrimBlanksAndStripMatchingQuotes) {
  WriteHostFile(Host(),
                "[Users]\n  Name =  \"quoted value\"  \nPlain= x y \t\nSingle='y'\nMixed=\"z'\n"
                "Lone=\"\nEmpty=\n; Hidden=1\n[ Spaced ]\nk=v\n");
  EXPECT_EQ(Get("USERS", "name"), "quoted value");
  EXPECT_EQ(Get("users", "PLAIN"), "x y");
  EXPECT_EQ(Get("Users", "Single"), "y");
  EXPECT_EQ(Get("Users", "Mixed"), "\"z'");
  EXPECT_EQ(Get("Users", "Lone"), "\"");
  EXPECT_EQ(Get("Users", "Empty"), "");
  EXPECT_EQ(Get("Users", "Hidden"), "<default>");
  EXPECT_EQ(Get("Users", "; Hidden"), "<default>");
  EXPECT_EQ(Get("spaced", "K"), "v");
  EXPECT_EQ(Get("Users", "Missing"), "<default>");
  EXPECT_EQ(Get("Nobody", "Name"), "<default>");
  EXPECT_EQ(ProfileGetString(Win("none.ini"), "Users", "Name", "d"), "d");
}

TEST_F(ProfileTest, EmptySectionListsEmptyWhileMissingSectionListsTheDefault) {
  WriteHostFile(Host(), "[Empty]\n; only a comment\n[Full]\nA=1\nB=2\n");
  char buf[200];
  EXPECT_EQ(GetPrivateProfileString("empty", nullptr, "*", buf, sizeof buf, Win().c_str()), 0u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(GetPrivateProfileString("Missing", nullptr, "*", buf, sizeof buf, Win().c_str()), 1u);
  EXPECT_STREQ(buf, "*");
  EXPECT_EQ(GetPrivateProfileString("FULL", nullptr, "*", buf, sizeof buf, Win().c_str()), 4u);
  EXPECT_EQ(std::string(buf, 5), std::string("A\0B\0\0", 5));

  EXPECT_EQ(ProfileListKeys(Win(), "Empty"), std::vector<std::string>{});
  EXPECT_EQ(ProfileListKeys(Win(), "Missing"), std::nullopt);
  EXPECT_EQ(ProfileListKeys(Win("none.ini"), "Full"), std::nullopt);
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(ProfileReadSection(Win(), "full"), (Pairs{{"A", "1"}, {"B", "2"}}));

  // Section names: a file without sections lists nothing, a missing file the default.
  WriteHostFile(Host("nosections.ini"), "; nothing here\n");
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "*", buf, sizeof buf,
                                    Win("nosections.ini").c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "*", buf, sizeof buf,
                                    Win("none.ini").c_str()), 1u);
  EXPECT_STREQ(buf, "*");
  EXPECT_EQ(ProfileListSections(Win("nosections.ini")), std::vector<std::string>{});
  EXPECT_EQ(ProfileListSections(Win("none.ini")), std::nullopt);
  EXPECT_EQ(ProfileListSections(Win()), (std::vector<std::string>{"Empty", "Full"}));
}

// Writes and deletes touch only their own lines; everything else, including
// lines the parser does not understand, stays byte for byte.
TEST_F(ProfileTest, WritesAndDeletesKeepEveryOtherLine) {
  WriteHostFile(Host(),
                "; preamble\nstray line\n[First]\nA=1\n; between\nB = old value\nmalformed\n\n"
                "; about second\n[Second]\nC=3\n[Third]\nD=4");
  ASSERT_EQ(ProfileWriteString(Win(), "first", "b", "new"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "FIRST", "E", "5"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "Third", "F", "6"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "Fourth", "G", "7"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()),
            "; preamble\nstray line\n[First]\nA=1\n; between\nB=new\nE=5\nmalformed\n\n"
            "; about second\n[Second]\nC=3\n[Third]\nD=4\nF=6\n[Fourth]\nG=7\n");
  EXPECT_EQ(Get("First", "B"), "new");

  ASSERT_EQ(ProfileDeleteKey(Win(), "first", "A"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileDeleteSection(Win(), "second"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileDeleteKey(Win(), "Fourth", "G"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()),
            "; preamble\nstray line\n[First]\n; between\nB=new\nE=5\nmalformed\n\n"
            "; about second\n[Third]\nD=4\nF=6\n[Fourth]\n");
  EXPECT_EQ(ProfileListKeys(Win(), "Fourth"), std::vector<std::string>{});
  EXPECT_EQ(ProfileListSections(Win()), (std::vector<std::string>{"First", "Third", "Fourth"}));

  // The C interface: no value deletes the key, no key the section.
  ASSERT_TRUE(WritePrivateProfileString("Third", "D", nullptr, Win().c_str()));
  ASSERT_TRUE(WritePrivateProfileString("First", nullptr, nullptr, Win().c_str()));
  // A section ends with its last key line; what follows introduces the next one.
  EXPECT_EQ(ReadHostFile(Host()),
            "; preamble\nstray line\nmalformed\n\n; about second\n[Third]\nF=6\n[Fourth]\n");
}

TEST_F(ProfileTest, FirstOfDuplicatesWinsAndDeletionRemovesThemAll) {
  WriteHostFile(Host(), "[S]\nK=first\nk=second\n[T]\nX=1\n[s]\nK=third\nOnly=here\n");
  EXPECT_EQ(Get("S", "K"), "first");
  EXPECT_EQ(Get("S", "Only"), "<default>");
  EXPECT_EQ(ProfileListSections(Win()), (std::vector<std::string>{"S", "T"}));
  EXPECT_EQ(ProfileListKeys(Win(), "S"), std::vector<std::string>{"K"});

  ASSERT_EQ(ProfileWriteString(Win(), "S", "K", "changed"), ERROR_SUCCESS);
  EXPECT_EQ(Get("S", "K"), "changed");
  ASSERT_EQ(ProfileDeleteKey(Win(), "S", "K"), ERROR_SUCCESS);
  EXPECT_EQ(Get("S", "K"), "<default>");
  ASSERT_EQ(ProfileDeleteSection(Win(), "S"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()), "[T]\nX=1\n");
}

TEST_F(ProfileTest, ReadAllGivesEverySectionAsTheSingleReadsSeeIt) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_FALSE(ProfileReadAll(Win()));
  WriteHostFile(Host(), "stray=1\n[S]\nK=first\nk=second\n[Empty]\n[T]\nX= \"q\" \n[s]\nK=third\n");
  const auto all = ProfileReadAll(Win());
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[0].name, "S");
  EXPECT_EQ((*all)[0].values, (Pairs{{"K", "first"}}));
  EXPECT_EQ((*all)[1].name, "Empty");
  EXPECT_TRUE((*all)[1].values.empty());
  EXPECT_EQ((*all)[2].values, (Pairs{{"X", "q"}}));
  for (const auto& section : *all) EXPECT_EQ(ProfileReadSection(Win(), section.name), section.values);
}

TEST_F(ProfileTest, CrlfFilesReadCleanlyAndKeepTheirLineEndings) {
  WriteHostFile(Host(), "[A]\r\nK = v \r\nQ=\"q\"\r\n");
  EXPECT_EQ(Get("A", "K"), "v");
  EXPECT_EQ(Get("A", "Q"), "q");
  ASSERT_EQ(ProfileWriteString(Win(), "A", "K", "w"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "A", "N", "n"), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "B", "M", "m"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()), "[A]\r\nK=w\r\nQ=\"q\"\r\nN=n\r\n[B]\r\nM=m\r\n");
}

// A last line ending in a bare CR: writing elsewhere must not change its value.
TEST_F(ProfileTest, AWriteElsewhereNeverChangesTheLastLinesValue) {
  for (const std::string text : {"[P]\r\nAllowedGroups=DOM\\Staff\r", "[P]\nAllowedGroups=DOM\\Staff\r",
                                 "[P]\r\nAllowedGroups=DOM\\Staff", "[P]\nAllowedGroups=DOM\\Staff"}) {
    WriteHostFile(Host(), text);
    ASSERT_EQ(ProfileWriteString(Win(), "Q", "X", "1"), ERROR_SUCCESS);
    ASSERT_EQ(ProfileWriteString(Win(), "P", "Other", "2"), ERROR_SUCCESS);
    EXPECT_EQ(Get("P", "AllowedGroups"), "DOM\\Staff") << text;
    EXPECT_EQ(Get("Q", "X"), "1");
    EXPECT_EQ(Get("P", "Other"), "2");
  }
}

TEST_F(ProfileTest, SectionNamesWithBracketsRoundTrip) {
  for (const std::string name : {"a]b", "[x]", "DOM\\user]", "x[y"}) {
    ASSERT_EQ(ProfileWriteString(Win(), name, "Key", name), ERROR_SUCCESS) << name;
  }
  for (const std::string name : {"a]b", "[x]", "DOM\\user]", "x[y"}) {
    EXPECT_EQ(Get(name, "Key"), name);
  }
  EXPECT_EQ(ProfileListSections(Win()),
            (std::vector<std::string>{"a]b", "[x]", "DOM\\user]", "x[y"}));
  WriteHostFile(Host("c.ini"), "[Sec] ; note\nk=v\n[open\nj=w\n");
  EXPECT_EQ(ProfileGetString(Win("c.ini"), "Sec", "j", ""), "w");  // "[open" is no header
}

TEST_F(ProfileTest, BufferRulesOfTheWindowsCalls) {
  WriteHostFile(Host(), "[S]\nKey=abcdef\nLonger=1\n[T]\n");
  const std::string f = Win();
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString("S", "Key", "", buf, 7, f.c_str()), 6u);
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(GetPrivateProfileString("S", "Key", "", buf, 4, f.c_str()), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(GetPrivateProfileString("S", "Key", "", buf, 0, f.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileString("S", "None", "dflt", buf, 3, f.c_str()), 2u);
  EXPECT_STREQ(buf, "df");

  // "Key\0Longer\0\0" needs 12 characters.
  EXPECT_EQ(GetPrivateProfileString("S", nullptr, "", buf, 12, f.c_str()), 11u);
  EXPECT_EQ(std::string(buf, 12), std::string("Key\0Longer\0\0", 12));
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString("S", nullptr, "", buf, 8, f.c_str()), 6u);
  EXPECT_EQ(std::string(buf, 8), std::string("Key\0Lo\0\0", 8));
  EXPECT_EQ(GetPrivateProfileSectionNames(buf, sizeof buf, f.c_str()), 4u);
  EXPECT_EQ(std::string(buf, 5), std::string("S\0T\0\0", 5));
  EXPECT_EQ(GetPrivateProfileSectionNames(buf, 4, f.c_str()), 2u);
  EXPECT_EQ(std::string(buf, 4), std::string("S\0\0\0", 4));
  EXPECT_EQ(GetPrivateProfileSectionNames(buf, sizeof buf, Win("none.ini").c_str()), 0u);
  EXPECT_EQ(std::string(buf, 2), std::string("\0\0", 2));
}

TEST_F(ProfileTest, IntegersReadLeadingDigits) {
  WriteHostFile(Host(), "[N]\nA=42abc\nB=abc\nC=\nD=-5\nE=99999999999\nF= 7 \n");
  const std::string f = Win();
  EXPECT_EQ(GetPrivateProfileInt("N", "A", 9, f.c_str()), 42u);
  EXPECT_EQ(GetPrivateProfileInt("N", "B", 9, f.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("N", "C", 9, f.c_str()), 9u);
  EXPECT_EQ(GetPrivateProfileInt("N", "D", 9, f.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("N", "E", 9, f.c_str()), static_cast<unsigned>(INT_MAX));
  EXPECT_EQ(GetPrivateProfileInt("N", "F", 9, f.c_str()), 7u);
  EXPECT_EQ(GetPrivateProfileInt("N", "Missing", 9, f.c_str()), 9u);
}

TEST_F(ProfileTest, RefusedNamesAndValuesChangeNothing) {
  WriteHostFile(Host(), "[S]\nK=v\n");
  const std::string before = ReadHostFile(Host());
  const std::vector<ProfileChange> bad = {
      {"S", "K", "two\nlines"}, {"S", "K", "cr\r"}, {"S\n", "K", "v"}, {"S", "a=b", "v"},
      {"", "K", "v"},           {"  ", "K", "v"},   {"S", " ", "v"},   {"S", "K\n", "v"},
      {"S", ";K", "v"},         {"S", "[K]", "v"}};
  for (const auto& c : bad) {
    EXPECT_EQ(ProfileApply(Win(), {{"S", "Good", "1"}, c}), ERROR_INVALID_PARAMETER)
        << c.section << "/" << c.key;
  }
  EXPECT_EQ(ProfileWriteString(Win(), "S", "", "v"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ProfileDeleteKey(Win(), "S", ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WritePrivateProfileString("S", "a=b", "v", Win().c_str()), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadHostFile(Host()), before);

  // Deleting from a missing file succeeds without creating it.
  EXPECT_EQ(ProfileDeleteKey(Win("none.ini"), "S", "K"), ERROR_SUCCESS);
  EXPECT_EQ(ProfileDeleteSection(Win("none.ini"), "S"), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(Host("none.ini")));
}

TEST_F(ProfileTest, ApplyRunsChangesInOrderInOneRewrite) {
  WriteHostFile(Host(), "[User]\nTotal=1\nOld=x\n[Gone]\nA=1\n");
  ASSERT_EQ(ProfileApply(Win(), {{"User", "Total", "2"},
                                 {"User", "Last", "99"},
                                 {"User", "Old", std::nullopt},
                                 {"Gone", "", std::nullopt},
                                 {"Gone", "B", "2"},
                                 {"User", "Total", "3"}}),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()), "[User]\nTotal=3\nLast=99\n[Gone]\nB=2\n");
}

// A section with many keys is looked up through an index, and a file that
// loses most of its sections is compacted in memory; both must keep reading
// and writing exactly what the plain text says.
TEST_F(ProfileTest, LargeSectionsAndManyDeletionsStayConsistent) {
  std::vector<ProfileChange> changes;
  for (int i = 0; i < 200; ++i) changes.push_back({"Log", "K" + std::to_string(i), std::to_string(i)});
  for (int i = 0; i < 200; ++i) changes.push_back({"S" + std::to_string(i), "V", std::to_string(i)});
  changes.push_back({"Log", "k7", "seven"});
  ASSERT_EQ(ProfileApply(Win(), changes), ERROR_SUCCESS);
  EXPECT_EQ(Get("log", "K7"), "seven");
  EXPECT_EQ(Get("log", "K199"), "199");

  std::vector<ProfileChange> deletions;
  for (int i = 0; i < 200; ++i) {
    if (i % 10) deletions.push_back({"S" + std::to_string(i), "", std::nullopt});
  }
  deletions.push_back({"Log", "K5", std::nullopt});
  ASSERT_EQ(ProfileApply(Win(), deletions), ERROR_SUCCESS);
  ASSERT_EQ(ProfileWriteString(Win(), "S190", "W", "w"), ERROR_SUCCESS);
  const auto sections = ProfileListSections(Win());
  ASSERT_TRUE(sections);
  EXPECT_EQ(sections->size(), 21u);
  EXPECT_EQ(Get("S190", "W"), "w");
  EXPECT_EQ(Get("S191", "V"), "<default>");
  EXPECT_EQ(Get("Log", "K5"), "<default>");
  EXPECT_EQ(ProfileListKeys(Win(), "Log")->size(), 199u);
  // What a fresh parse of the file sees matches the cached state.
  const std::string text = ReadHostFile(Host());
  EXPECT_NE(text.find("[S190]\nV=190\nW=w\n"), std::string::npos);
  EXPECT_EQ(text.find("[S191]"), std::string::npos);
}

// Another process replaces the file with one of the same size and the same
// modification time: the cache must still notice.
TEST_F(ProfileTest, CacheNoticesReplacementWithSameSizeAndTime) {
  WriteHostFile(Host(), "[S]\nK=1\n");
  EXPECT_EQ(Get("S", "K"), "1");
  struct stat old;
  ASSERT_EQ(::stat(Host().c_str(), &old), 0);
  WriteHostFile(Host("new.ini"), "[S]\nK=2\n");
  const struct timespec times[2] = {old.st_atim, old.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, Host("new.ini").c_str(), times, 0), 0);
  ASSERT_EQ(::rename(Host("new.ini").c_str(), Host().c_str()), 0);
  EXPECT_EQ(Get("S", "K"), "2");
}

TEST_F(ProfileTest, FailedWritesLeaveTheFileIntact) {
  WriteHostFile(Host(), "[S]\nK=v\n");
  const std::string before = ReadHostFile(Host());
  // A write that runs out of room (the file size limit stands in for a full disk).
  EXPECT_EQ(InChild([&] {
              ::signal(SIGXFSZ, SIG_IGN);
              const struct rlimit limit = {64, 64};
              ::setrlimit(RLIMIT_FSIZE, &limit);
              const bool ok = WritePrivateProfileString("S", "Big", std::string(200, 'x').c_str(),
                                                        Win().c_str());
              return !ok && GetLastError() != ERROR_SUCCESS ? 0 : 1;
            }),
            0);
  // Each call a write makes, failing: the small file (rewritten where it
  // stands) and a large one (replaced by a new file) stay as they were, the
  // error is the call's, and nothing is left beside them.
  WriteHostFile(Host("large.ini"), "[S]\nK=v\n;" + std::string(5000, '-') + "\n");
  const std::string largeBefore = ReadHostFile(Host("large.ini"));
  const struct {
    FaultCall call;
    int error;
    DWORD expected;
    bool small;  // a call the in-place write makes too
  } faults[] = {{FaultCall::Open, EACCES, ERROR_ACCESS_DENIED, true},
                {FaultCall::Lock, EIO, ERROR_WRITE_FAULT, true},
                {FaultCall::Write, ENOSPC, ERROR_DISK_FULL, true},
                {FaultCall::Rename, EACCES, ERROR_ACCESS_DENIED, false}};
  for (const auto& f : faults) {
    ScopedFault fault(f.call, "", f.error);
    if (f.small) {
      EXPECT_EQ(ProfileWriteString(Win(), "S", "K", "new"), f.expected) << static_cast<int>(f.call);
    }
    EXPECT_EQ(ProfileWriteString(Win("large.ini"), "S", "K", "longer value"), f.expected)
        << static_cast<int>(f.call);
  }
  EXPECT_EQ(Get("S", "K"), "v");
  EXPECT_EQ(ReadHostFile(Host()), before);
  EXPECT_EQ(ReadHostFile(Host("large.ini")), largeBefore);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);  // no leftovers
  EXPECT_EQ(ProfileWriteString(Win("missing\\x.ini"), "S", "K", "v"), ERROR_PATH_NOT_FOUND);
}

TEST(ProfileShareTest, WritesThroughAShareReachTheSharedFolder) {
  testing::TempNetwork net;
  ASSERT_EQ(CreateDirectory("C:\\Data"), ERROR_SUCCESS);
  RegKey shares;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine,
                           "System\\CurrentControlSet\\Services\\LanmanServer\\Shares", &shares),
            ERROR_SUCCESS);
  ASSERT_EQ(shares.SetMultiString("SHARE", {"Path=C:\\Data", "Remark=test"}), ERROR_SUCCESS);
  ASSERT_TRUE(WritePrivateProfileString("DOM\\user", "Total", "5", "\\\\SRV1\\SHARE\\x.ini"));
  EXPECT_EQ(ProfileGetString("C:\\DATA\\X.INI", "dom\\USER", "total", ""), "5");
  EXPECT_EQ(ReadHostFile(net.DriveC("Data/x.ini")), "[DOM\\user]\nTotal=5\n");
}

// Threads of one process share the parse cache; readers running beside a
// writer must never see a half-applied change.
TEST_F(ProfileTest, ThreadsWritingAndReadingOneFile) {
  ASSERT_EQ(ProfileWriteString(Win(), "Pair", "A", "0"), ERROR_SUCCESS);
  std::vector<std::thread> threads;
  std::atomic<int> torn{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        const std::string v = std::to_string(t * 1000 + i);
        ProfileApply(Win(), {{"Pair", "A", v}, {"Pair", "B", v}, {"T" + std::to_string(t), v, v}});
        const auto pair = ProfileReadSection(Win(), "Pair");
        if (!pair || pair->size() != 2 || (*pair)[0].second != (*pair)[1].second) ++torn;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(torn, 0);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(ProfileListKeys(Win(), "T" + std::to_string(t))->size(), 100u);
}

// Eight processes write 500 keys each into one file while this process keeps
// reading it: no key may be lost and no reader may see a partial file.
TEST_F(ProfileTest, ConcurrentProcessesLoseNoKeys) {
  constexpr int kProcesses = 8, kKeys = 500;
  ASSERT_EQ(ProfileWriteString(Win(), "Sentinel", "Present", "yes"), ERROR_SUCCESS);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "P" + std::to_string(p) + "K" + std::to_string(k);
        failures += ProfileWriteString(Win(), "Keys", key, std::to_string(k)) != ERROR_SUCCESS;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  size_t lastCount = 0;
  int bad = 0, failedChildren = 0;
  for (size_t running = children.size(); running > 0;) {
    for (auto& pid : children) {
      int status = 0;
      if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
        failedChildren += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        pid = 0;
        --running;
      }
    }
    if (Get("Sentinel", "Present") != "yes") ++bad;
    const size_t count = ProfileListKeys(Win(), "Keys").value_or(std::vector<std::string>{}).size();
    if (count < lastCount) ++bad;
    lastCount = count;
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(failedChildren, 0);
  const auto keys = ProfileReadSection(Win(), "Keys");
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->size(), static_cast<size_t>(kProcesses * kKeys));
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < kKeys; k += 97) {
      EXPECT_EQ(Get("Keys", "P" + std::to_string(p) + "K" + std::to_string(k)), std::to_string(k));
    }
  }
  const std::string text = ReadHostFile(Host());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kProcesses * kKeys + 3);
}

// Four processes add to one number at once, each addition worked out under
// the write lock: none is lost (a read then a write would lose some). A
// decision to change nothing makes no file.
TEST_F(ProfileTest, AdditionsDecidedUnderTheWriteLockAreNeverLost) {
  auto nothing = [](const ProfileValueOf&) { return std::vector<ProfileChange>{}; };
  EXPECT_EQ(ProfileApplyDecided(Win(), nothing), ERROR_SUCCESS);
  EXPECT_FALSE(ProfileListSections(Win()));
  constexpr int kProcesses = 4, kAdds = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kAdds; ++i) {
        failures += ProfileApplyDecided(Win(), [](const ProfileValueOf& valueOf) {
          const int n = std::stoi(valueOf("Counts", "N").value_or("0"));
          return std::vector<ProfileChange>{{"Counts", "N", std::to_string(n + 1)}};
        }) != ERROR_SUCCESS;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Get("Counts", "N"), std::to_string(kProcesses * kAdds));
}

}  // namespace
}  // namespace plat
