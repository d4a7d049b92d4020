#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/testing/calendar.h"
#include "platform/testing/temp_network.h"
#include "platform/version_record.h"

namespace plat {
namespace {

std::tm Date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t = testing::CalendarTime(year, month, day, hour, minute, second);
  ::timegm(&t);  // fills in the weekday
  return t;
}

TEST(SysInfoTest, NamesFoldersAndVersionComeFromTheMachine) {
  MachineConfig config = testing::TempNetwork::DefaultConfig("SRV1");
  testing::TempNetwork net(config);
  EXPECT_EQ(GetComputerName(), "SRV1");
  EXPECT_EQ(GetWindowsDirectory(), "C:\\WINNT");
  EXPECT_EQ(GetSystemDirectory(), "C:\\WINNT\\system32");
  OsVersionInfo v;
  ASSERT_EQ(GetVersionEx(&v), ERROR_SUCCESS);
  EXPECT_EQ(v.majorVersion, 4u);
  EXPECT_EQ(v.minorVersion, 0u);
  EXPECT_EQ(v.buildNumber, 1381u);
  EXPECT_EQ(v.platformId, VER_PLATFORM_WIN32_NT);

  MachineConfig w2k = testing::TempNetwork::DefaultConfig("SRV2");
  w2k.osVersion = "5.0";
  SetCurrentMachineRoot(net.AddMachine(w2k));
  ASSERT_EQ(GetVersionEx(&v), ERROR_SUCCESS);
  EXPECT_EQ(v.majorVersion, 5u);
  EXPECT_EQ(v.buildNumber, 2195u);
  EXPECT_EQ(GetComputerName(), "SRV2");

  // The temporary folder comes back when it is gone.
  std::filesystem::remove_all(DriveCDir(net.network() + "/SRV2") + "/TEMP");
  EXPECT_EQ(GetTempPath(), "C:\\TEMP\\");
  EXPECT_TRUE(DirectoryExists("C:\\TEMP"));
}

TEST(SysInfoTest, LocalTimeAppliesTheMachinesBias) {
  MachineConfig config = testing::TempNetwork::DefaultConfig("SRV1");
  config.timeZoneBiasMinutes = 300;  // UTC-5
  testing::TempNetwork net(config);
  const std::time_t t = 974817785;  // 2000-11-21 14:43:05 UTC
  std::tm local = LocalTime(t);
  EXPECT_EQ(local.tm_hour, 9);
  EXPECT_EQ(local.tm_min, 43);
  EXPECT_EQ(FromLocalTime(local), t);

  ASSERT_EQ(RegWriteDword(kTimeZoneKey, "Bias", static_cast<DWORD>(-90)), ERROR_SUCCESS);
  local = LocalTime(t);
  EXPECT_EQ(local.tm_hour, 16);
  EXPECT_EQ(local.tm_min, 13);
  EXPECT_EQ(FromLocalTime(local), t);

  RegKey key;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, kTimeZoneKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(key.DeleteValue("Bias"), ERROR_SUCCESS);
  EXPECT_EQ(LocalTime(t).tm_hour, 14);
}

TEST(SysInfoTest, DatePicturesInEnglishAndGerman) {
  const std::tm nov = Date(2000, 11, 21, 14, 3, 5);
  EXPECT_EQ(GetDateFormat(LOCALE_US_ENGLISH, nov, "yyyy-MMM-dd"), "2000-Nov-21");
  EXPECT_EQ(GetDateFormat(LOCALE_GERMAN, nov, "yyyy-MMM-dd"), "2000-Nov-21");
  const struct {
    int month;
    const char* german;
    const char* english;
  } differing[] = {{3, "Mär", "Mar"}, {5, "Mai", "May"}, {10, "Okt", "Oct"}, {12, "Dez", "Dec"}};
  for (const auto& m : differing) {
    const std::tm d = Date(2000, m.month, 1);
    EXPECT_EQ(GetDateFormat(LOCALE_GERMAN, d, "yyyy-MMM-dd"),
              std::string("2000-") + m.german + "-01");
    EXPECT_EQ(GetDateFormat(LOCALE_US_ENGLISH, d, "MMM"), m.english);
    EXPECT_EQ(GetLocaleInfo(LOCALE_GERMAN, LOCALE_SABBREVMONTHNAME1 + m.month - 1), m.german);
  }
  EXPECT_EQ(GetLocaleInfo(LOCALE_GERMAN, LOCALE_SMONTHNAME1 + 2), "März");

  EXPECT_EQ(GetDateFormat(LOCALE_US_ENGLISH, nov), "11/21/2000");
  EXPECT_EQ(GetDateFormat(LOCALE_GERMAN, nov), "21.11.2000");
  EXPECT_EQ(GetDateFormat(2057, nov), "11/21/2000") << "unknown locales speak US English";
  EXPECT_EQ(GetDateFormat(LOCALE_US_ENGLISH, Date(2005, 1, 2), "d/M/y yy ddd dddd MMMM"),
            "2/1/5 05 Sun Sunday January");
  EXPECT_EQ(GetDateFormat(LOCALE_GERMAN, nov, "dddd, d. MMMM"), "Dienstag, 21. November");
  EXPECT_EQ(GetDateFormat(LOCALE_US_ENGLISH, nov, "'day' d 'o''clock' ''"), "day 21 o'clock '");
}

TEST(SysInfoTest, TimePictures) {
  EXPECT_EQ(GetTimeFormat(LOCALE_US_ENGLISH, Date(2000, 1, 1, 14, 3, 5)), "2:03:05 PM");
  EXPECT_EQ(GetTimeFormat(LOCALE_US_ENGLISH, Date(2000, 1, 1, 0, 7, 9)), "12:07:09 AM");
  EXPECT_EQ(GetTimeFormat(LOCALE_US_ENGLISH, Date(2000, 1, 1, 12, 0, 0), "hh:mm t"), "12:00 P");
  EXPECT_EQ(GetTimeFormat(LOCALE_GERMAN, Date(2000, 1, 1, 9, 3, 5)), "09:03:05");
  EXPECT_EQ(GetTimeFormat(LOCALE_GERMAN, Date(2000, 1, 1, 9, 3, 5), "H 'Uhr' m"), "9 Uhr 3");
}

TEST(SysInfoTest, DefaultLocaleComesFromTheMachine) {
  MachineConfig config = testing::TempNetwork::DefaultConfig("SRV1");
  config.locale = LOCALE_GERMAN;
  testing::TempNetwork net(config);
  EXPECT_EQ(GetUserDefaultLCID(), LOCALE_GERMAN);
  EXPECT_EQ(GetSystemDefaultLCID(), LOCALE_GERMAN);
  EXPECT_EQ(GetDateFormat(0x0400, Date(2000, 11, 21)), "21.11.2000");  // LOCALE_USER_DEFAULT
}

TEST(SysInfoTest, BeepsAreRecordedFromManyThreads) {
  TakeBeeps();
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (DWORD i = 0; i < 1000; ++i) Beep(440 + t, i);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(TakeBeeps().size(), 4000u);
  EXPECT_TRUE(TakeBeeps().empty());
}

TEST(SysInfoTest, TickCountAdvancesWithTime) {
  const DWORD before = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const DWORD elapsed = GetTickCount() - before;
  EXPECT_GE(elapsed, 60u);
  EXPECT_LT(elapsed, 5000u);
}

// ---- version information -------------------------------------------------------

std::string SelfPath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Built from halves: a literal would itself be a (bogus) record in this binary.
std::string Magic() {
  static const volatile char kFirst[] = "PLVERSION";
  std::string magic;
  for (char c : kFirst) magic.push_back(c);
  magic.pop_back();
  return magic + "INFO01" + '\0';
}

TEST(SysInfoTest, OurBinariesCarryTheirVersion) {
  testing::TempNetwork net;
  const std::string self = HostToWindowsPath(SelfPath());
  ASSERT_EQ(self.rfind("Z:\\", 0), 0u) << self;
  for (const std::string& name : {self, std::string("SYSINFO_TEST.EXE")}) {
    FileVersionInfo info;
    ASSERT_EQ(GetFileVersionInfo(name, &info), ERROR_SUCCESS) << name;
    EXPECT_EQ(std::vector<WORD>(info.fileVersion, info.fileVersion + 4),
              (std::vector<WORD>{2, 1, 0, 2}));
    EXPECT_EQ(std::vector<WORD>(info.productVersion, info.productVersion + 4),
              (std::vector<WORD>{2, 1, 0, 2}));
    EXPECT_EQ(info.productVersionText, "2.1b");
    EXPECT_EQ(info.originalFilename, "sysinfo_test.exe");
    EXPECT_FALSE(info.companyName.empty());
  }
}

TEST(SysInfoTest, FilesWithoutAValidRecordHaveNoVersion) {
  testing::TempNetwork net;
  FileVersionInfo info;
  EXPECT_EQ(GetFileVersionInfo("C:\\WINNT\\nothing.exe", &info), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileVersionInfo("nothing-here.exe", &info), ERROR_FILE_NOT_FOUND);

  VersionRecord record{};
  std::memcpy(record.magic, Magic().data(), sizeof record.magic);
  std::strcpy(record.productVersionText, "9.9");
  std::string bytes(reinterpret_cast<const char*>(&record), sizeof record);
  const std::string padding(1000, 'p');

  ASSERT_EQ(WriteWholeFile("C:\\plain.dll", padding), ERROR_SUCCESS);
  EXPECT_EQ(GetFileVersionInfo("C:\\plain.dll", &info), ERROR_RESOURCE_TYPE_NOT_FOUND);
  // The record cut off by the end of the file.
  ASSERT_EQ(WriteWholeFile("C:\\cut.dll", padding + bytes.substr(0, 100)), ERROR_SUCCESS);
  EXPECT_EQ(GetFileVersionInfo("C:\\cut.dll", &info), ERROR_RESOURCE_TYPE_NOT_FOUND);
  // A text field without its NUL; a valid record after it is still found.
  VersionRecord unterminated = record;
  std::memset(unterminated.companyName, 'c', sizeof unterminated.companyName);
  const std::string bad(reinterpret_cast<const char*>(&unterminated), sizeof unterminated);
  ASSERT_EQ(WriteWholeFile("C:\\bad.dll", padding + bad), ERROR_SUCCESS);
  EXPECT_EQ(GetFileVersionInfo("C:\\bad.dll", &info), ERROR_RESOURCE_TYPE_NOT_FOUND);
  ASSERT_EQ(WriteWholeFile("C:\\later.dll", padding + bad + bytes), ERROR_SUCCESS);
  ASSERT_EQ(GetFileVersionInfo("c:\\LATER.DLL", &info), ERROR_SUCCESS);
  EXPECT_EQ(info.productVersionText, "9.9");
}

}  // namespace
}  // namespace plat
