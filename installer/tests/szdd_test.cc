// Our compressor against libmspack's expander, and the package's guard
// against missing, truncated and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "common/package_list.h"
#include "installer/core/package.h"
#include "installer/core/szdd_expand.h"
#include "installer/tests/package_builder.h"
#include "packaging/szdd/szdd_compress.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace {

using plat::ERROR_SUCCESS;

std::string RoundTrip(const std::string& data) {
  std::string plain;
  EXPECT_EQ(setup::ExpandSzdd(szdd::Compress(data, 'e'), &plain), ERROR_SUCCESS);
  return plain;
}

TEST(SzddTest, WhatWeCompressLibmspackExpandsByteForByte) {
  std::mt19937 random(7);
  std::string noise(70000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < 100000) text += "[DOM\\user" + std::to_string(text.size() % 97) + "]\nMaxSessionTime=3600\n";
  std::string blanks(9000, ' ');  // the window starts as blanks
  std::string run(5000, 'x');
  // A repeat exactly one window back, and one that overlaps itself.
  std::string window = noise.substr(0, 4096) + noise.substr(0, 4096) + "abcabcabcabcabcabcabcabc";
  for (const std::string& data : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
                                  noise, text, blanks, run, window}) {
    const std::string plain = RoundTrip(data);
    ASSERT_EQ(plain.size(), data.size());
    EXPECT_TRUE(plain == data) << "first of " << data.size() << " bytes: " << data.substr(0, 20);
  }
  EXPECT_LT(szdd::Compress(text, 'x').size(), text.size() / 4) << "text compresses well";
}

TEST(SzddTest, CompressedNamesReplaceOrAppendTheLastCharacter) {
  EXPECT_EQ(szdd::CompressedName("pladmin.exe"), "pladmin.ex_");
  EXPECT_EQ(szdd::CompressedName("Portulon.hw"), "Portulon.hw_");
  EXPECT_EQ(szdd::CompressedName("PL_FLUSH.EXE"), "PL_FLUSH.EX_");
  EXPECT_EQ(szdd::CompressedName("readme.htm"), "readme.ht_");
  EXPECT_EQ(szdd::CompressedName("setup"), "setup._");
}

TEST(SzddTest, ForeignOrShortenedDataIsRefused) {
  const std::string data(20000, 'q');
  std::string compressed = szdd::Compress(data + "tail of something else", 'e');
  std::string plain;
  EXPECT_EQ(setup::ExpandSzdd("MZ\x90\x00 not compressed at all", &plain), plat::ERROR_INVALID_DATA);
  EXPECT_EQ(setup::ExpandSzdd(compressed.substr(0, 10), &plain), plat::ERROR_INVALID_DATA) << "header cut";
  EXPECT_EQ(setup::ExpandSzdd(compressed.substr(0, compressed.size() - 8), &plain), plat::ERROR_INVALID_DATA);
  EXPECT_TRUE(plain.empty());
}

class PackageTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_;
  std::string folder_ = net_.network() + "/package";
  std::string windowsFolder_ = plat::HostToWindowsPath(folder_);
};

TEST_F(PackageTest, MissingTruncatedAndDamagedFilesAreToldApart) {
  setup::testing::BuildPackage(folder_);
  setup::Package package;
  ASSERT_EQ(setup::Package::Open(windowsFolder_, &package), ERROR_SUCCESS);
  std::string contents, message;
  ASSERT_EQ(package.Expand("PL_RAS.dll", &contents, &message), ERROR_SUCCESS);
  EXPECT_EQ(contents, setup::testing::StandInContents("PL_RAS.dll"));

  // One byte changed inside the data: still expands, but not to what was packed.
  std::string compressed = plat::testing::ReadHostFile(folder_ + "/pladmin.ex_");
  compressed[compressed.size() - 3] ^= 0x55;
  plat::testing::WriteHostFile(folder_ + "/pladmin.ex_", compressed);
  EXPECT_EQ(package.Expand("pladmin.exe", &contents, &message), plat::ERROR_INVALID_DATA);
  EXPECT_NE(message.find("pladmin.ex_ is damaged"), std::string::npos) << message;
  EXPECT_TRUE(contents.empty());

  const std::string hook = plat::testing::ReadHostFile(folder_ + "/PL_RRAS.dl_");
  plat::testing::WriteHostFile(folder_ + "/PL_RRAS.dl_", hook.substr(0, hook.size() / 2));
  EXPECT_EQ(package.Expand("PL_RRAS.dll", &contents, &message), plat::ERROR_INVALID_DATA);

  std::filesystem::remove(folder_ + "/plsvc.ex_");
  EXPECT_EQ(package.Expand("plsvc.exe", &contents, &message), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_NE(message.find("plsvc.ex_ is missing"), std::string::npos) << message;
  EXPECT_EQ(package.Expand("mfc42.dll", &contents, &message), plat::ERROR_FILE_NOT_FOUND);
  // The list's checksum is the common CRC-32, so any tool can check a file.
  EXPECT_EQ(common::Crc32("123456789"), 0xCBF43926u);
}

TEST_F(PackageTest, AFolderWithoutAGoodListIsNoPackage) {
  std::filesystem::create_directories(folder_);
  setup::Package package;
  EXPECT_EQ(setup::Package::Open(windowsFolder_, &package), plat::ERROR_FILE_NOT_FOUND);
  plat::testing::WriteHostFile(folder_ + "/setup.ini", "[Files]\nplsvc.exe=plsvc.ex_,12\n");
  EXPECT_EQ(setup::Package::Open(windowsFolder_, &package), plat::ERROR_INVALID_DATA);
  plat::testing::WriteHostFile(folder_ + "/setup.ini", "[Files]\nplsvc.exe=..\\..\\x,12,0\n");
  EXPECT_EQ(setup::Package::Open(windowsFolder_, &package), plat::ERROR_INVALID_DATA)
      << "a compressed name never leaves the folder";
}

}  // namespace
