// A writer's layout (ProfileApply with a ProfileLayout): a large file written
// by hand costs one replacement, after which every section's writes go where
// they stand, and nothing the file meant is lost on the way.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/profile_text.h"
#include "platform/testing/host_tools.h"

namespace plat {
namespace {

using testing::ReadHostFile;
using testing::WriteHostFile;

// The file a name leads to, held open so that its inode number cannot go to
// a file that replaces it.
class Held {
 public:
  explicit Held(const std::string& host) : host_(host), fd_(::open(host.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Held() { ::close(fd_); }
  bool StillNamed() const {
    struct stat named {}, held {};
    return ::stat(host_.c_str(), &named) == 0 && ::fstat(fd_, &held) == 0 && named.st_ino == held.st_ino;
  }

 private:
  std::string host_;
  int fd_;
};

const ProfileLayout& Layout() {
  static const ProfileLayout layout{
      {"Count", "Used"}, 6, "0", [](std::string_view s) { return s.empty() || s.front() != '+'; }};
  return layout;
}

class ProfileLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-layout-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Host() const { return dir_ + "/users.ini"; }
  std::string Win() const {
    std::string w = "Z:" + Host();
    for (auto& c : w) c = c == '/' ? '\\' : c;
    return w;
  }
  // Sections of many shapes, then enough plain ones to pass ini::kPadFileSize.
  void WriteHandWritten(const std::string& eol = "\n", const std::string& last = "Count=3") {
    std::string text = "; kept by hand" + eol + "[+Group]" + eol + "Count=1" + eol +
                       "[a]" + eol + "; a comment" + eol + "Count=7" + eol + "Site=Ber lin" + eol +
                       "used = \"'5'\"" + eol + "Count=99" + eol + eol + "; about b" + eol +
                       "[b]" + eol + "Other=x" + eol;
    for (int i = 0; text.size() < ini::kPadFileSize + 100; ++i) {
      text += "[u" + std::to_string(i) + "]" + eol + "Count=" + std::to_string(i % 10) + eol;
    }
    text += "[last]" + eol + last;  // no line break at the end
    WriteHostFile(Host(), text);
  }

  std::string dir_;
};

TEST_F(ProfileLayoutTest, TheFirstReplacementLaysOutEverySectionKeepingWhatItMeant) {
  WriteHandWritten();
  const auto before = ProfileReadAll(Win());
  ASSERT_TRUE(before);
  const Held handWritten(Host());

  // A longer value cannot be written where it stands: the file is replaced once.
  ASSERT_EQ(ProfileApply(Win(), {{"u3", "Count", "12345"}}, Layout()), ERROR_SUCCESS);
  EXPECT_FALSE(handWritten.StillNamed());
  const std::string text = ReadHostFile(Host());
  EXPECT_EQ(text.substr(0, 45), "; kept by hand\n[+Group]\nCount=1\n[a]\n; a comme");
  EXPECT_NE(text.find("[a]\n; a comment\nCount=7     \nSite=Ber lin\nused=\"'5'\" \nCount=99\n\n; about b\n"
                      "[b]\nOther=x\nCount=0     \nUsed=0     \n[u0]\n"),
            std::string::npos);
  EXPECT_NE(text.find("[u3]\nCount=12345 \nUsed=0     \n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 32), "[last]\nCount=3     \nUsed=0     \n");

  // Every value reads as it did; only the missing keys are new, reading "0".
  const auto after = ProfileReadAll(Win());
  ASSERT_TRUE(after);
  ASSERT_EQ(after->size(), before->size());
  for (size_t i = 0; i < before->size(); ++i) {
    const auto& was = (*before)[i];
    const auto& now = (*after)[i];
    ASSERT_EQ(now.name, was.name);
    size_t added = 0;
    for (const auto& [key, value] : now.values) {
      const auto old = std::find_if(was.values.begin(), was.values.end(),
                                    [&](const auto& kv) { return kv.first == key; });
      if (old == was.values.end()) {
        EXPECT_EQ(value, "0") << now.name << " " << key;
        ++added;
      } else if (!(now.name == "u3" && key == "Count")) {
        EXPECT_EQ(value, old->second) << now.name << " " << key;
      }
    }
    EXPECT_EQ(now.values.size(), was.values.size() + added);
    EXPECT_EQ(added, now.name == "+Group" ? 0u : now.name == "a" ? 0u : now.name == "b" ? 2u : 1u)
        << now.name;
  }
  EXPECT_EQ(ProfileGetString(Win(), "a", "Used", ""), "'5'");

  // From now on every section is written where it stands.
  const Held laidOut(Host());
  ASSERT_EQ(ProfileApply(Win(), {{"u7", "Count", "999999"}, {"b", "Used", "42"}}, Layout()), ERROR_SUCCESS);
  ASSERT_EQ(ProfileApply(Win(), {{"last", "Used", "1"}}, Layout()), ERROR_SUCCESS);
  EXPECT_TRUE(laidOut.StillNamed());
  EXPECT_EQ(ProfileGetString(Win(), "u7", "Count", ""), "999999");
  EXPECT_EQ(ProfileGetString(Win(), "b", "Used", ""), "42");
}

TEST_F(ProfileLayoutTest, KeysMissingFromTheLastSectionAreAppendedWhereTheFileEnds) {
  // As a new profile comes: no usage keys yet.
  WriteHandWritten("\r\n", "Other=3");
  const Held before(Host());
  ASSERT_EQ(ProfileApply(Win(), {{"last", "Count", "123456"}}, Layout()), ERROR_SUCCESS);
  EXPECT_TRUE(before.StillNamed());
  const std::string text = ReadHostFile(Host());
  const std::string end = "[last]\r\nOther=3\r\nCount=123456\r\nUsed=0     \r\n";
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  // The other sections wait for a write that replaces the file.
  EXPECT_NE(text.find("[u1]\r\nCount=1\r\n[u2]"), std::string::npos);
}

TEST_F(ProfileLayoutTest, SmallFilesAndWritesWithoutALayoutStayAsWritten) {
  WriteHostFile(Host(), "[a]\nCount=1\n[b]\nOther=1\n");
  ASSERT_EQ(ProfileApply(Win(), {{"a", "Count", "22"}}, Layout()), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(Host()), "[a]\nCount=22\n[b]\nOther=1\n");

  WriteHandWritten();
  const std::string text = ReadHostFile(Host());
  ASSERT_EQ(ProfileApply(Win(), {{"u3", "Count", "12345"}}), ERROR_SUCCESS);
  std::string expected = text;
  expected.replace(expected.find("[u3]\nCount=3\n"), 13, "[u3]\nCount=12345\n");
  EXPECT_EQ(ReadHostFile(Host()), expected);

  const ProfileLayout bad{{"Bad=Key"}, 6, "0", nullptr};
  EXPECT_EQ(ProfileApply(Win(), {{"u3", "Count", "1"}}, bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ProfileGetString(Win(), "u3", "Count", ""), "12345");
}

}  // namespace
}  // namespace plat
