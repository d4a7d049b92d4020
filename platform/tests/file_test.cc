#include "platform/file.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

class FileTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
};

TEST_F(FileTest, WriteAppendReadDelete) {
  ASSERT_EQ(CreateDirectory("C:\\Data"), ERROR_SUCCESS);
  EXPECT_EQ(CreateDirectory("C:\\Data"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectory("C:\\No\\Such\\Parent"), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(WriteWholeFile("C:\\Data\\a.txt", "one\n"), ERROR_SUCCESS);
  ASSERT_EQ(AppendToFile("C:\\DATA\\A.TXT", "two\n"), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(ReadWholeFile("c:\\data\\a.txt", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "one\ntwo\n");
  std::uint64_t size = 0;
  EXPECT_EQ(GetFileSize("C:\\Data\\a.txt", &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(RemoveDirectory("C:\\Data"), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(DeleteFile("C:\\Data\\a.txt"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile("C:\\Data\\a.txt"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RemoveDirectory("C:\\Data"), ERROR_SUCCESS);
}

TEST_F(FileTest, MoveAndCopyRespectExistingTargets) {
  ASSERT_EQ(WriteWholeFile("C:\\a", "A"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile("C:\\b", "B"), ERROR_SUCCESS);
  EXPECT_EQ(MoveFileEx("C:\\a", "C:\\b", 0), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CopyFile("C:\\a", "C:\\b", true), ERROR_FILE_EXISTS);
  ASSERT_EQ(CopyFile("C:\\a", "C:\\c", true), ERROR_SUCCESS);
  ASSERT_EQ(MoveFileEx("C:\\a", "C:\\b", MOVEFILE_REPLACE_EXISTING), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(ReadWholeFile("C:\\b", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "A");
  EXPECT_FALSE(FileExists("C:\\a"));
  EXPECT_TRUE(FileExists("C:\\c"));
}

TEST_F(FileTest, AFileInUseCannotBeDeletedOrReplaced) {
  ASSERT_EQ(WriteWholeFile("C:\\PL_RAS.dll", "module"), ERROR_SUCCESS);
  {
    FileInUse loaded;
    ASSERT_EQ(loaded.Hold("C:\\PL_RAS.dll"), ERROR_SUCCESS);
    EXPECT_EQ(DeleteFile("C:\\PL_RAS.dll"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(WriteWholeFile("C:\\new.dll", "new"), ERROR_SUCCESS);
    EXPECT_EQ(MoveFileEx("C:\\new.dll", "C:\\PL_RAS.dll", MOVEFILE_REPLACE_EXISTING),
              ERROR_ACCESS_DENIED);
    // Renamed out of the way, the module is still in use under its new name.
    ASSERT_EQ(MoveFileEx("C:\\PL_RAS.dll", "C:\\PL_RAS.dll.old", 0), ERROR_SUCCESS);
    EXPECT_EQ(DeleteFile("C:\\PL_RAS.dll.old"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(MoveFileEx("C:\\new.dll", "C:\\PL_RAS.dll", 0), ERROR_SUCCESS);
  }
  EXPECT_EQ(DeleteFile("C:\\PL_RAS.dll.old"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile("C:\\PL_RAS.dll"), ERROR_SUCCESS);
}

TEST_F(FileTest, FindFilesMatchesWildcardsIgnoringCase) {
  ASSERT_EQ(CreateDirectory("C:\\LogData"), ERROR_SUCCESS);
  for (const char* name : {"2000-Nov-21.log", "2000-NOV-22.LOG", "notes.txt"}) {
    ASSERT_EQ(WriteWholeFile(std::string("C:\\LogData\\") + name, "x"), ERROR_SUCCESS);
  }
  std::vector<FindData> found;
  ASSERT_EQ(FindFiles("C:\\LogData\\*.log", &found), ERROR_SUCCESS);
  EXPECT_EQ(found.size(), 2u);
  ASSERT_EQ(FindFiles("C:\\LogData\\*.*", &found), ERROR_SUCCESS);
  EXPECT_EQ(found.size(), 5u) << "three files plus . and ..";
  EXPECT_EQ(FindFiles("C:\\Missing\\*.*", &found), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(WildcardMatch("2000-N?v-2?.log", "2000-Nov-21.LOG"));
  EXPECT_FALSE(WildcardMatch("*.log", "x.txt"));
}

}  // namespace
}  // namespace plat
