// A request scope: files other processes change are seen by the next request,
// what this process changes is seen at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/request_scope.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "platform/text.h"

namespace plat {
namespace {

using testing::WriteHostFile;

constexpr const char* kShareFile = "\\\\SRV1\\DATA\\users.ini";

class RequestScopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateDirectory("C:\\Data"), ERROR_SUCCESS);
    ASSERT_EQ(RegWriteString(kSharesKey, "DATA", "Path=C:\\Data"), ERROR_SUCCESS);
    ASSERT_EQ(ProfileWriteString(kShareFile, "DOM\\ann", "TotalTime", "10"), ERROR_SUCCESS);
  }
  // Another process's write: new content, a new inode, a later time.
  void WriteAsAnotherProcess(const std::string& text) {
    const std::string host = net_.DriveC("Data/users.ini");
    WriteHostFile(host + ".new", text);
    ASSERT_EQ(::rename((host + ".new").c_str(), host.c_str()), 0);
  }
  static std::string TotalTime() {
    return ProfileGetString(kShareFile, "DOM\\ann", "TotalTime", "missing");
  }

  testing::TempNetwork net_;
};

TEST_F(RequestScopeTest, AnotherProcessesChangeIsSeenByTheNextRequestOnly) {
  {
    const RequestScope scope;
    EXPECT_EQ(TotalTime(), "10");
    WriteAsAnotherProcess("[DOM\\ann]\nTotalTime=20\n");
    EXPECT_EQ(TotalTime(), "10") << "one request sees the file as at its first look";
  }
  EXPECT_EQ(TotalTime(), "20");
  const RequestScope next;
  EXPECT_EQ(TotalTime(), "20");
}

TEST_F(RequestScopeTest, OwnChangesAreSeenAtOnce) {
  const RequestScope scope;
  EXPECT_EQ(TotalTime(), "10");
  ASSERT_EQ(ProfileWriteString(kShareFile, "DOM\\ann", "TotalTime", "11"), ERROR_SUCCESS);
  EXPECT_EQ(TotalTime(), "11");
  ASSERT_EQ(ProfileWriteString(kShareFile, "DOM\\ann", "TotalTime", "123456"), ERROR_SUCCESS);
  EXPECT_EQ(TotalTime(), "123456");
  ASSERT_EQ(DeleteFile(kShareFile), ERROR_SUCCESS);
  EXPECT_EQ(TotalTime(), "missing");
  ASSERT_EQ(WriteWholeFile(kShareFile, "[DOM\\ann]\nTotalTime=7\n"), ERROR_SUCCESS);
  EXPECT_EQ(TotalTime(), "7");
}

TEST_F(RequestScopeTest, AWriteInsideAScopeMergesWithWhatAnotherProcessWroteMeanwhile) {
  const RequestScope scope;
  EXPECT_EQ(TotalTime(), "10");
  WriteAsAnotherProcess("[DOM\\ann]\nTotalTime=10\nLasted=5\n");
  ASSERT_EQ(ProfileWriteString(kShareFile, "DOM\\ann", "TotalTime", "15"), ERROR_SUCCESS);
  EXPECT_EQ(ProfileGetString(kShareFile, "DOM\\ann", "Lasted", ""), "5");
  EXPECT_EQ(TotalTime(), "15");
}

TEST_F(RequestScopeTest, RegistryReadsFollowTheSameRule) {
  constexpr const char* kKey = "Software\\Test";
  ASSERT_EQ(RegWriteDword(kKey, "Value", 1), ERROR_SUCCESS);
  const RequestScope scope;
  DWORD value = 0;
  ASSERT_EQ(RegReadDword(kKey, "Value", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(RegWriteDword(kKey, "Value", 2), ERROR_SUCCESS);  // this process: seen at once
  ASSERT_EQ(RegReadDword(kKey, "Value", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
}

TEST_F(RequestScopeTest, WithoutAScopeEveryReadLooksAgain) {
  EXPECT_EQ(TotalTime(), "10");
  WriteAsAnotherProcess("[DOM\\ann]\nTotalTime=30\n");
  EXPECT_EQ(TotalTime(), "30");
  EXPECT_FALSE(scope::Active());
}

}  // namespace
}  // namespace plat
