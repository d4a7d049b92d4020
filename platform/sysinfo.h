// The small things a Windows program asks its system: names and folders,
// versions, ticks, beeps, local time and locale-aware date formats, and the
// version information embedded in our own binaries.
//
// Thread safety: all calls. Out parameters on failure: GetVersionEx and
// GetFileVersionInfo leave theirs as they were.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

// GetComputerName: the current machine's name from its registry ("" when none).
std::string GetComputerName();
std::string GetWindowsDirectory();  // "C:\WINNT"
std::string GetSystemDirectory();   // "C:\WINNT\system32"
std::string GetTempPath();          // "C:\TEMP\" (created on demand), with the trailing backslash

inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
struct OsVersionInfo {
  DWORD majorVersion = 0;
  DWORD minorVersion = 0;
  DWORD buildNumber = 0;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  std::string csdVersion;
};
// GetVersionEx of the current machine (its CurrentVersion in the registry).
DWORD GetVersionEx(OsVersionInfo* info);

// Milliseconds since the process's machine started counting; wraps like GetTickCount.
DWORD GetTickCount();

// Beep is silent; every call is recorded so that tests can observe it.
struct BeepRecord {
  DWORD frequency;
  DWORD duration;
};
void Beep(DWORD frequency, DWORD durationMs);
// The beeps of this process so far, oldest first; clears the record.
std::vector<BeepRecord> TakeBeeps();

// Seconds since 1970 (time()).
std::time_t Now();

// Local time of the current machine: UTC minus its time-zone bias (registry
// TimeZoneInformation\Bias, minutes). The fields are those of struct tm.
std::tm LocalTime(std::time_t t);
// A broken-down time with only these fields set (month from 1 to 12); the
// weekday and the day of the year are left at zero.
std::tm CalendarTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Inverse of LocalTime.
std::time_t FromLocalTime(const std::tm& local);

inline constexpr LCID LOCALE_US_ENGLISH = 1033;
inline constexpr LCID LOCALE_GERMAN = 1031;
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

// GetDateFormat with a picture (d, dd, ddd, dddd, M, MM, MMM, MMMM, y, yy, yyyy,
// 'quoted text'); an empty picture means the locale's short date.
std::string GetDateFormat(LCID locale, const std::tm& date, std::string_view picture = {});
// GetTimeFormat with a picture (h, hh, H, HH, m, mm, s, ss, t, tt); an empty
// picture means the locale's time format.
std::string GetTimeFormat(LCID locale, const std::tm& time, std::string_view picture = {});

inline constexpr DWORD LOCALE_SSHORTDATE = 0x1F;
inline constexpr DWORD LOCALE_STIMEFORMAT = 0x1003;
inline constexpr DWORD LOCALE_SABBREVMONTHNAME1 = 0x44;  // ... 12 follow
inline constexpr DWORD LOCALE_SMONTHNAME1 = 0x38;
inline constexpr DWORD LOCALE_SENGLANGUAGE = 0x1001;
// GetLocaleInfo for the locales we know (1033 US English, 1031 German, others
// fall back to US English). "" for an unknown item.
std::string GetLocaleInfo(LCID locale, DWORD item);

// Version information embedded in our binaries (the VERSIONINFO resource).
struct FileVersionInfo {
  WORD fileVersion[4] = {0, 0, 0, 0};     // major.minor.build.revision
  WORD productVersion[4] = {0, 0, 0, 0};
  std::string productVersionText;         // \StringFileInfo\040904E4\ProductVersion
  std::string fileDescription;
  std::string originalFilename;
  std::string companyName;
};
// Reads the version information of a binary, named by a Windows path; a bare
// file name is looked up beside the running program first. Errors:
// ERROR_FILE_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND (1813) when the file
// carries none.
DWORD GetFileVersionInfo(std::string_view fileName, FileVersionInfo* info);
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

}  // namespace plat
