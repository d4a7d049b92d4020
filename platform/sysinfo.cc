#include "platform/sysinfo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/version_record.h"

namespace plat {

namespace {

constexpr const char* kDefaultWindowsDirectory = "C:\\WINNT";

// Beeps of this process not yet taken.
std::mutex beepMutex;
std::vector<BeepRecord> beeps;

// ---- locales ----------------------------------------------------------------

// Items beyond those the header names, numbered as Windows numbers them.
constexpr DWORD kLocaleILanguage = 0x01;
constexpr DWORD kLocaleSNativeLangName = 0x04;
constexpr DWORD kLocaleSDate = 0x1D;
constexpr DWORD kLocaleSTime = 0x1E;
constexpr DWORD kLocaleSLongDate = 0x20;
constexpr DWORD kLocaleS1159 = 0x28;
constexpr DWORD kLocaleS2359 = 0x29;
constexpr DWORD kLocaleSDayName1 = 0x2A;        // Monday; Sunday is 7th
constexpr DWORD kLocaleSAbbrevDayName1 = 0x31;
constexpr DWORD kLocaleSEngCountry = 0x1002;
// Callers pass these instead of a locale number.
constexpr LCID kLocaleUserDefault = 0x0400;
constexpr LCID kLocaleSystemDefault = 0x0800;

struct LocaleData {
  LCID id;
  const char* languageId;
  const char* englishLanguage;
  const char* nativeLanguage;
  const char* englishCountry;
  const char* shortDate;
  const char* longDate;
  const char* timeFormat;
  const char* dateSeparator;
  const char* timeSeparator;
  const char* am;
  const char* pm;
  std::array<const char*, 12> months;
  std::array<const char*, 12> abbrevMonths;
  std::array<const char*, 7> days;  // Monday first, as the LOCALE_SDAYNAME items
  std::array<const char*, 7> abbrevDays;
};

const LocaleData kUsEnglish = {
    LOCALE_US_ENGLISH, "0409", "English", "English", "United States",
    "M/d/yyyy", "dddd, MMMM dd, yyyy", "h:mm:ss tt", "/", ":", "AM", "PM",
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"},
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"},
    {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"},
};

const LocaleData kGerman = {
    LOCALE_GERMAN, "0407", "German", "Deutsch", "Germany",
    "dd.MM.yyyy", "dddd, d. MMMM yyyy", "HH:mm:ss", ".", ":", "", "",
    {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September",
     "Oktober", "November", "Dezember"},
    {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag", "Sonntag"},
    {"Mo", "Di", "Mi", "Do", "Fr", "Sa", "So"},
};

const LocaleData& LocaleFor(LCID locale) {
  if (locale == kLocaleUserDefault) locale = GetUserDefaultLCID();
  if (locale == kLocaleSystemDefault) locale = GetSystemDefaultLCID();
  return locale == LOCALE_GERMAN ? kGerman : kUsEnglish;
}

// tm_mon and tm_wday of a caller's struct may be out of range.
size_t MonthIndex(const std::tm& t) { return static_cast<size_t>(((t.tm_mon % 12) + 12) % 12); }
size_t DayIndex(const std::tm& t) {
  const int sundayFirst = ((t.tm_wday % 7) + 7) % 7;
  return static_cast<size_t>((sundayFirst + 6) % 7);
}

std::string Number(int value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

// Expands a date or time picture: runs of the letters in `letters` go to
// `expand(letter, count)`, 'quoted text' is copied without its quotes ('' is a
// quote), anything else is copied as it stands.
template <typename Expand>
std::string ExpandPicture(std::string_view picture, std::string_view letters, Expand expand) {
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'' && i + 1 < picture.size() && picture[i + 1] == '\'') {
      out.push_back('\'');
      i += 2;
      continue;
    }
    if (c == '\'') {
      for (++i; i < picture.size(); ++i) {
        if (picture[i] == '\'') {
          if (i + 1 < picture.size() && picture[i + 1] == '\'') {
            out.push_back('\'');
            ++i;
            continue;
          }
          ++i;
          break;
        }
        out.push_back(picture[i]);
      }
      continue;
    }
    if (letters.find(c) == std::string_view::npos) {
      out.push_back(c);
      ++i;
      continue;
    }
    size_t count = 1;
    while (i + count < picture.size() && picture[i + count] == c) ++count;
    out += expand(c, count);
    i += count;
  }
  return out;
}

// ---- version records ----------------------------------------------------------

struct UnmapOnExit {
  void* address;
  size_t size;
  ~UnmapOnExit() {
    if (address != MAP_FAILED) ::munmap(address, size);
  }
};

struct CloseOnExit {
  int fd;
  ~CloseOnExit() {
    if (fd >= 0) ::close(fd);
  }
};

// Assembled at run time from volatile halves, so that neither this code nor a
// constant the compiler folds holds the magic as one piece for the search to
// find.
std::array<char, sizeof(VersionRecord::magic)> VersionMagic() {
  static const volatile char kFirst[] = "PLVERSION";
  static const volatile char kSecond[] = "INFO01";
  std::array<char, sizeof(VersionRecord::magic)> magic{};
  size_t n = 0;
  for (size_t i = 0; i + 1 < sizeof kFirst; ++i) magic[n++] = kFirst[i];
  for (size_t i = 0; i + 1 < sizeof kSecond; ++i) magic[n++] = kSecond[i];
  return magic;  // the rest, the terminating NUL included, stays zero
}

template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

bool IsValidRecord(const VersionRecord& r) {
  return Terminated(r.productVersionText) && Terminated(r.fileDescription) &&
         Terminated(r.originalFilename) && Terminated(r.companyName);
}

DWORD ReadVersionRecord(const std::string& host, FileVersionInfo* info) {
  CloseOnExit file{::open(host.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return ErrorFromErrno(errno);
  struct stat st;
  if (::fstat(file.fd, &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  const size_t size = static_cast<size_t>(st.st_size);
  if (size < sizeof(VersionRecord)) return ERROR_RESOURCE_TYPE_NOT_FOUND;
  UnmapOnExit map{::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd, 0), size};
  if (map.address == MAP_FAILED) return ErrorFromErrno(errno);
  const auto magic = VersionMagic();
  const char* const begin = static_cast<const char*>(map.address);
  const char* const last = begin + size - sizeof(VersionRecord);  // last possible start
  for (const char* p = begin; p <= last;) {
    const void* hit = ::memmem(p, static_cast<size_t>(last - p) + magic.size(), magic.data(),
                               magic.size());
    if (!hit) break;
    VersionRecord record;
    std::memcpy(&record, hit, sizeof record);
    if (IsValidRecord(record)) {
      FileVersionInfo out;
      std::copy(std::begin(record.fileVersion), std::end(record.fileVersion), out.fileVersion);
      std::copy(std::begin(record.productVersion), std::end(record.productVersion),
                out.productVersion);
      out.productVersionText = record.productVersionText;
      out.fileDescription = record.fileDescription;
      out.originalFilename = record.originalFilename;
      out.companyName = record.companyName;
      *info = std::move(out);
      return ERROR_SUCCESS;
    }
    p = static_cast<const char*>(hit) + 1;
  }
  return ERROR_RESOURCE_TYPE_NOT_FOUND;
}

bool IsRegularFile(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool EndsWithExe(std::string_view name) {
  return name.size() > 4 && EqualsIgnoringCase(name.substr(name.size() - 4), ".exe");
}

// A file in host folder `dir` under the Windows name `name`; our programs
// carry no ".exe" on the host, so that name is tried without it too.
bool FindInFolder(const std::string& dir, std::string_view name, std::string* host) {
  for (std::string_view candidate : {name, EndsWithExe(name) ? name.substr(0, name.size() - 4)
                                                             : std::string_view()}) {
    if (candidate.empty()) continue;
    const std::string path = dir + "/" + posix::FindEntryIgnoringCase(dir, candidate);
    if (IsRegularFile(path)) {
      *host = path;
      return true;
    }
  }
  return false;
}

std::string ProgramFolder() {
  const std::string exe = GetProgramHostPath();
  if (exe.empty()) return {};
  return exe.substr(0, exe.rfind('/'));
}

// Host folder of a Windows folder path, "" when it does not resolve.
std::string HostFolder(std::string_view windowsFolder) {
  std::string host;
  return ResolvePath(windowsFolder, &host) == ERROR_SUCCESS ? host : std::string();
}

// Where a binary named by `fileName` lies: a bare name beside the running
// program, then in the system and Windows folders, then in the current folder
// (the order in which Windows looks for a module); a path as it resolves.
DWORD LocateBinary(std::string_view fileName, std::string* host) {
  const bool bare = fileName.find_first_of("\\/:") == std::string_view::npos;
  if (!bare) {
    DWORD err = ResolvePath(fileName, host);
    if (err == ERROR_SUCCESS && IsRegularFile(*host)) return ERROR_SUCCESS;
    if (EndsWithExe(fileName) &&
        ResolvePath(fileName.substr(0, fileName.size() - 4), host) == ERROR_SUCCESS &&
        IsRegularFile(*host)) {
      return ERROR_SUCCESS;
    }
    return err == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : err;
  }
  for (const std::string& dir : {ProgramFolder(), HostFolder(GetSystemDirectory()),
                                 HostFolder(GetWindowsDirectory()), HostFolder(".")}) {
    if (!dir.empty() && FindInFolder(dir, fileName, host)) return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG TimeZoneBiasMinutes() {
  DWORD bias = 0;
  if (RegReadDword(kTimeZoneKey, "Bias", &bias) != ERROR_SUCCESS) return 0;
  return static_cast<LONG>(bias);  // stored as the DWORD of a signed number
}

}  // namespace

std::string GetComputerName() {
  std::string name;
  return RegReadString(kComputerNameKey, "ComputerName", &name) == ERROR_SUCCESS ? name
                                                                                  : std::string();
}

std::string GetWindowsDirectory() {
  std::string dir;
  if (RegReadString(kWindowsVersionKey, "SystemRoot", &dir) != ERROR_SUCCESS || dir.empty()) {
    return kDefaultWindowsDirectory;
  }
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

std::string GetSystemDirectory() { return GetWindowsDirectory() + "\\system32"; }

std::string GetTempPath() {
  constexpr const char* kTemp = "C:\\TEMP";
  if (!DirectoryExists(kTemp)) CreateDirectory(kTemp);
  return std::string(kTemp) + "\\";
}

DWORD GetVersionEx(OsVersionInfo* info) {
  if (!info) return ERROR_INVALID_PARAMETER;
  std::string version;
  if (DWORD err = RegReadString(kWindowsVersionKey, "CurrentVersion", &version);
      err != ERROR_SUCCESS) {
    return err;
  }
  OsVersionInfo out;
  const char* const end = version.data() + version.size();
  auto [p, ec] = std::from_chars(version.data(), end, out.majorVersion);
  if (ec != std::errc()) return ERROR_INVALID_DATA;
  if (p != end && *p == '.') std::from_chars(p + 1, end, out.minorVersion);
  std::string build;
  if (RegReadString(kWindowsVersionKey, "CurrentBuildNumber", &build) == ERROR_SUCCESS) {
    std::from_chars(build.data(), build.data() + build.size(), out.buildNumber);
  }
  RegReadString(kWindowsVersionKey, "CSDVersion", &out.csdVersion);
  *info = std::move(out);
  return ERROR_SUCCESS;
}

DWORD GetTickCount() {
  const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}

void Beep(DWORD frequency, DWORD durationMs) {
  std::lock_guard<std::mutex> lock(beepMutex);
  beeps.push_back({frequency, durationMs});
}

std::vector<BeepRecord> TakeBeeps() {
  std::lock_guard<std::mutex> lock(beepMutex);
  std::vector<BeepRecord> taken;
  taken.swap(beeps);
  return taken;
}

std::time_t Now() { return std::time(nullptr); }

std::tm LocalTime(std::time_t t) {
  const std::time_t local = t - static_cast<std::time_t>(TimeZoneBiasMinutes()) * 60;
  std::tm tm{};
  ::gmtime_r(&local, &tm);
  return tm;
}

std::time_t FromLocalTime(const std::tm& local) {
  std::tm copy = local;
  return ::timegm(&copy) + static_cast<std::time_t>(TimeZoneBiasMinutes()) * 60;
}

LCID GetUserDefaultLCID() {
  RegKey key;
  std::string text;
  if (RegKey::Open(Hive::Users, std::string(".DEFAULT\\") + kInternationalKey, &key) !=
          ERROR_SUCCESS ||
      key.QueryString("Locale", &text) != ERROR_SUCCESS) {
    return LOCALE_US_ENGLISH;
  }
  LCID locale = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), locale, 16);
  if (ec != std::errc() || end != text.data() + text.size() || locale == 0) {
    return LOCALE_US_ENGLISH;
  }
  return locale;
}

// A machine is provisioned with one locale for its users and its system.
LCID GetSystemDefaultLCID() { return GetUserDefaultLCID(); }

std::string GetDateFormat(LCID locale, const std::tm& date, std::string_view picture) {
  const LocaleData& l = LocaleFor(locale);
  if (picture.empty()) picture = l.shortDate;
  return ExpandPicture(picture, "dMy", [&](char c, size_t count) -> std::string {
    switch (c) {
      case 'd':
        if (count == 1) return std::to_string(date.tm_mday);
        if (count == 2) return Number(date.tm_mday, 2);
        return count == 3 ? l.abbrevDays[DayIndex(date)] : l.days[DayIndex(date)];
      case 'M':
        if (count == 1) return std::to_string(MonthIndex(date) + 1);
        if (count == 2) return Number(static_cast<int>(MonthIndex(date)) + 1, 2);
        return count == 3 ? l.abbrevMonths[MonthIndex(date)] : l.months[MonthIndex(date)];
      default: {
        const int year = date.tm_year + 1900;
        if (count == 1) return std::to_string(year % 100);
        if (count == 2) return Number(year % 100, 2);
        return std::to_string(year);
      }
    }
  });
}

std::string GetTimeFormat(LCID locale, const std::tm& time, std::string_view picture) {
  const LocaleData& l = LocaleFor(locale);
  if (picture.empty()) picture = l.timeFormat;
  return ExpandPicture(picture, "hHmst", [&](char c, size_t count) -> std::string {
    const int width = count >= 2 ? 2 : 1;
    switch (c) {
      case 'h': {
        const int hour12 = time.tm_hour % 12 == 0 ? 12 : time.tm_hour % 12;
        return Number(hour12, width);
      }
      case 'H': return Number(time.tm_hour, width);
      case 'm': return Number(time.tm_min, width);
      case 's': return Number(time.tm_sec, width);
      default: {
        const std::string marker = time.tm_hour < 12 ? l.am : l.pm;
        return count == 1 ? marker.substr(0, 1) : marker;
      }
    }
  });
}

std::string GetLocaleInfo(LCID locale, DWORD item) {
  const LocaleData& l = LocaleFor(locale);
  if (item >= LOCALE_SMONTHNAME1 && item < LOCALE_SMONTHNAME1 + 12) {
    return l.months[item - LOCALE_SMONTHNAME1];
  }
  if (item >= LOCALE_SABBREVMONTHNAME1 && item < LOCALE_SABBREVMONTHNAME1 + 12) {
    return l.abbrevMonths[item - LOCALE_SABBREVMONTHNAME1];
  }
  if (item >= kLocaleSDayName1 && item < kLocaleSDayName1 + 7) return l.days[item - kLocaleSDayName1];
  if (item >= kLocaleSAbbrevDayName1 && item < kLocaleSAbbrevDayName1 + 7) {
    return l.abbrevDays[item - kLocaleSAbbrevDayName1];
  }
  switch (item) {
    case kLocaleILanguage: return l.languageId;
    case kLocaleSNativeLangName: return l.nativeLanguage;
    case LOCALE_SENGLANGUAGE: return l.englishLanguage;
    case kLocaleSEngCountry: return l.englishCountry;
    case LOCALE_SSHORTDATE: return l.shortDate;
    case kLocaleSLongDate: return l.longDate;
    case LOCALE_STIMEFORMAT: return l.timeFormat;
    case kLocaleSDate: return l.dateSeparator;
    case kLocaleSTime: return l.timeSeparator;
    case kLocaleS1159: return l.am;
    case kLocaleS2359: return l.pm;
    default: return {};
  }
}

DWORD GetFileVersionInfo(std::string_view fileName, FileVersionInfo* info) {
  if (!info || fileName.empty()) return ERROR_INVALID_PARAMETER;
  std::string host;
  if (DWORD err = LocateBinary(fileName, &host); err != ERROR_SUCCESS) return err;
  return ReadVersionRecord(host, info);
}

std::tm CalendarTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace plat
