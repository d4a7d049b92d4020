// The event log as text files.
//
// One record a line, fields separated by tabs:
//   number  generated  written  type  category  eventId  source  computer  string...
// e.g.
//   17	2000-11-21T14:03:05Z	2000-11-21T14:03:05Z	Information	0	3	Portulon	SRV1	alice	COM1
// Times are UTC. The type is a word for the types we name, a number otherwise.
// Inside a field, '\\', control bytes and bytes that do not form valid UTF-8
// are escaped (\\ \t \n \r \xHH): any string round-trips, and text a person
// wrote stays readable. A record without strings ends after the computer field;
// one whose only string is empty ends with a tab.
#include "platform/eventlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>
#include <cstdio>

#include "platform/background.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace plat {

namespace {

// Lines are searched backwards in blocks of this size.
constexpr size_t kBlockSize = 64 * 1024;


DWORD ReadAt(int fd, char* buf, size_t size, std::uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buf + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) return ERROR_HANDLE_EOF;  // truncated under us
    done += static_cast<size_t>(n);
  }
  return ERROR_SUCCESS;
}


// Hands out the lines of a file from a given end towards its start, reading
// only as many blocks as the lines asked for need.
class BackwardLines {
 public:
  BackwardLines(int fd, std::uint64_t end) : fd_(fd), bufStart_(end) {}

  // The line before position() without its newline; *found is false at the
  // start of the file.
  DWORD Previous(std::string* line, bool* found) {
    *found = false;
    for (;;) {
      if (bufStart_ == 0 && buf_.empty()) return ERROR_SUCCESS;
      // The line's own terminator is the last byte, unless the file ends in a
      // torn line.
      const size_t end = !buf_.empty() && buf_.back() == '\n' ? buf_.size() - 1 : buf_.size();
      const size_t newline = end == 0 ? std::string::npos : buf_.rfind('\n', end - 1);
      if (newline != std::string::npos || bufStart_ == 0) {
        const size_t begin = newline == std::string::npos ? 0 : newline + 1;
        line->assign(buf_, begin, end - begin);
        buf_.resize(begin);
        *found = true;
        return ERROR_SUCCESS;
      }
      const size_t n = static_cast<size_t>(std::min<std::uint64_t>(blockSize_, bufStart_));
      std::string block(n, '\0');
      if (DWORD err = ReadAt(fd_, block.data(), n, bufStart_ - n); err != ERROR_SUCCESS) return err;
      bufStart_ -= n;
      buf_.insert(0, block);
      blockSize_ = std::min(blockSize_ * 2, kBlockSize);
    }
  }

  // Start of the line returned last.
  std::uint64_t position() const { return bufStart_ + buf_.size(); }

 private:
  int fd_;
  std::uint64_t bufStart_;  // file offset of buf_[0]
  std::string buf_;         // the bytes not yet handed out that have been read
  // Starts small: numbering a new record needs only the last line.
  size_t blockSize_ = 4096;
};

// Length of the valid UTF-8 sequence of two or more bytes at s[i], 0 if there is none.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto byte = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

void AppendEscaped(std::string* out, std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      if (const size_t n = Utf8SequenceLength(s, i); n > 0) {
        out->append(s.substr(i, n));
        i += n;
        continue;
      }
    }
    switch (c) {
      case '\\': out->append("\\\\"); break;
      case '\t': out->append("\\t"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out->append("\\x");
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 0xF]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
}

bool Unescape(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out->push_back(s[i]);
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\': out->push_back('\\'); break;
      case 't': out->push_back('\t'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 'x':
        if (i + 2 >= s.size() || HexDigitValue(s[i + 1]) < 0 || HexDigitValue(s[i + 2]) < 0) {
          return false;
        }
        out->push_back(static_cast<char>(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2])));
        i += 2;
        break;
      default: return false;
    }
  }
  return true;
}

std::string FormatTime(DWORD t) {
  const std::time_t tt = t;
  std::tm tm{};
  ::gmtime_r(&tt, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

bool ParseTime(std::string_view s, DWORD* t) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
      s[16] != ':' || s[19] != 'Z') {
    return false;
  }
  int year, month, day, hour, minute, second;
  if (!ParseWhole(s.substr(0, 4), &year) || !ParseWhole(s.substr(5, 2), &month) ||
      !ParseWhole(s.substr(8, 2), &day) || !ParseWhole(s.substr(11, 2), &hour) ||
      !ParseWhole(s.substr(14, 2), &minute) || !ParseWhole(s.substr(17, 2), &second)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  std::tm tm = CalendarTime(year, month, day, hour, minute, second);
  const std::time_t value = ::timegm(&tm);
  if (value < 0 || value > static_cast<std::time_t>(0xFFFFFFFFu)) return false;
  *t = static_cast<DWORD>(value);
  return true;
}

struct TypeName {
  WORD type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {EVENTLOG_SUCCESS, "Success"},
    {EVENTLOG_ERROR_TYPE, "Error"},
    {EVENTLOG_WARNING_TYPE, "Warning"},
    {EVENTLOG_INFORMATION_TYPE, "Information"},
    {EVENTLOG_AUDIT_SUCCESS, "AuditSuccess"},
    {EVENTLOG_AUDIT_FAILURE, "AuditFailure"},
};

std::string FormatType(WORD type) {
  for (const auto& t : kTypeNames) {
    if (t.type == type) return t.name;
  }
  return std::to_string(type);
}

bool ParseType(std::string_view s, WORD* type) {
  for (const auto& t : kTypeNames) {
    if (s == t.name) {
      *type = t.type;
      return true;
    }
  }
  return ParseWhole(s, type);
}

bool IsValidLogName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The machine a server argument names: "" is this machine (reachable even when
// marked down: the mark concerns others), "\\NAME" or "NAME" another one.
DWORD MachineOfServer(std::string_view server, std::string* root) {
  if (server.empty()) return FindMachine("", root, false);
  while (!server.empty() && (server.front() == '\\' || server.front() == '/')) {
    server.remove_prefix(1);
  }
  if (server.empty()) return ERROR_BAD_NETPATH;
  return FindMachine(server, root, true);
}

// The log whose key lists `source` as a subkey, in the key's own spelling;
// Application when no log does.
std::string LogOfSource(const std::string& root, std::string_view source) {
  RegKey hklm, logs;
  std::vector<std::string> logNames;
  if (RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) != ERROR_SUCCESS ||
      hklm.OpenSubKey(kEventLogServicesKey, &logs) != ERROR_SUCCESS ||
      logs.ListSubKeys(&logNames) != ERROR_SUCCESS) {
    return "Application";
  }
  for (const std::string& logName : logNames) {
    RegKey log;
    std::vector<std::string> sources;
    if (logs.OpenSubKey(logName, &log) != ERROR_SUCCESS ||
        log.ListSubKeys(&sources) != ERROR_SUCCESS) {
      continue;
    }
    for (const std::string& s : sources) {
      if (EqualsIgnoringCase(s, source) && IsValidLogName(logName)) return logName;
    }
  }
  return "Application";
}

// Where the complete lines of the file end: a writer that died mid-line
// leaves a fragment without a newline, which is no record.
DWORD EndOfCompleteLines(int fd, std::uint64_t size, std::uint64_t* end) {
  *end = size;
  if (size == 0) return ERROR_SUCCESS;
  char last = '\n';
  if (DWORD err = ReadAt(fd, &last, 1, size - 1); err != ERROR_SUCCESS) return err;
  if (last == '\n') return ERROR_SUCCESS;
  BackwardLines lines(fd, size);
  std::string fragment;
  bool found = false;
  if (DWORD err = lines.Previous(&fragment, &found); err != ERROR_SUCCESS) return err;
  *end = lines.position();
  return ERROR_SUCCESS;
}

// Number of the newest well-formed record before `end`; 0 when there is none.
DWORD LastRecordNumber(int fd, std::uint64_t end, DWORD* number) {
  *number = 0;
  BackwardLines lines(fd, end);
  std::string line;
  EventRecord record;
  for (;;) {
    bool found = false;
    if (DWORD err = lines.Previous(&line, &found); err != ERROR_SUCCESS) return err;
    if (!found) return ERROR_SUCCESS;
    if (ParseEventRecordLine(line, &record)) {
      *number = record.recordNumber;
      return ERROR_SUCCESS;
    }
  }
}

// A trim keeps the newest records that fit in three quarters of the bound,
// so that it comes once per quarter of it, not on every record.
std::uint64_t TrimTarget(std::uint64_t maxSize) { return maxSize / 4 * 3; }
// Past this mark a trim is started off the reporter's path, early enough that
// the bound is seldom reached before it is done.
std::uint64_t TrimMark(std::uint64_t maxSize) { return maxSize / 8 * 7; }

// The newest whole records before `end` that fit in `budget` bytes.
DWORD ReadNewest(int fd, std::uint64_t end, std::uint64_t budget, std::string* text) {
  const std::uint64_t from = end > budget ? end - budget : 0;
  text->assign(static_cast<size_t>(end - from), '\0');
  if (!text->empty()) {
    if (DWORD err = ReadAt(fd, text->data(), text->size(), from); err != ERROR_SUCCESS) return err;
  }
  if (from > 0) {
    // Whole records only: the first one may have begun before `from`.
    const size_t newline = text->find('\n');
    text->erase(0, newline == std::string::npos ? text->size() : newline + 1);
  }
  return ERROR_SUCCESS;
}

// Replaces the log by its newest records and `line` after them, reading only
// that much of its end. The caller holds the lock on `fd`: this is the trim of
// a report that found the log at its bound.
DWORD ReplaceWithNewest(int fd, const std::string& logFile, std::uint64_t end,
                        const std::string& line, std::uint64_t maxSize) {
  const std::uint64_t target = TrimTarget(maxSize);
  std::string text;
  if (DWORD err = ReadNewest(fd, end, target > line.size() ? target - line.size() : 0, &text);
      err != ERROR_SUCCESS) {
    return err;
  }
  text += line;
  // One name: only the holder of the lock trims, and what a trimmer killed
  // halfway left is simply written over by the next.
  posix::ReplaceOptions options;
  options.durable = true;
  options.temporary = logFile + ".~trim";
  return posix::ReplaceAtomically(logFile, text, options);
}

// The trim started at the mark, on the background thread. The newest records
// are copied and synced without holding the log, so appenders go on
// meanwhile; under the log's lock only the records added since are copied
// and the copy renamed over the log. As durable as the trim at the bound:
// the copy is on disk before it takes the name, and the folder is synced
// once it has. Gives up, leaving the log to a later trim, when another
// trimmer is at work or has replaced the log meanwhile.
DWORD TrimOffPath(const std::string& logFile, std::uint64_t maxSize) {
  // The copy's name is fixed and locked by its writer: a second trimmer gives
  // way, and what a killed one left is written over.
  const std::string copyName = logFile + ".~next";
  posix::LockedFile copy;
  if (DWORD err = copy.Open(copyName, O_RDWR | O_CREAT, LOCK_EX | LOCK_NB); err != ERROR_SUCCESS) {
    return errno == EWOULDBLOCK ? ERROR_SUCCESS : err;
  }
  const auto giveUp = [&copyName](DWORD err) {
    ::unlink(copyName.c_str());
    return err;
  };

  std::string text;
  std::uint64_t end = 0;
  struct stat copied {};
  {
    posix::LockedFile log;
    if (DWORD err = log.Open(logFile, O_RDONLY, LOCK_SH); err != ERROR_SUCCESS) {
      return giveUp(err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err);
    }
    copied = log.status();
    if (DWORD err = EndOfCompleteLines(log.fd(), static_cast<std::uint64_t>(copied.st_size), &end);
        err != ERROR_SUCCESS) {
      return giveUp(err);
    }
    if (end <= TrimMark(maxSize)) return giveUp(ERROR_SUCCESS);  // trimmed already
    if (DWORD err = ReadNewest(log.fd(), end, TrimTarget(maxSize), &text); err != ERROR_SUCCESS) {
      return giveUp(err);
    }
  }
  if (::ftruncate(copy.fd(), 0) != 0) return giveUp(ErrorFromErrno(errno));
  if (DWORD err = posix::Write(copy.fd(), text, logFile); err != ERROR_SUCCESS) return giveUp(err);
  if (posix::Fsync(copy.fd(), logFile) != 0) return giveUp(ErrorFromErrno(errno));

  posix::LockedFile log;
  if (DWORD err = log.Open(logFile, O_RDONLY, LOCK_EX); err != ERROR_SUCCESS) return giveUp(err);
  const struct stat& now = log.status();
  std::uint64_t newEnd = 0;
  if (DWORD err = EndOfCompleteLines(log.fd(), static_cast<std::uint64_t>(now.st_size), &newEnd);
      err != ERROR_SUCCESS) {
    return giveUp(err);
  }
  if (now.st_dev != copied.st_dev || now.st_ino != copied.st_ino || newEnd < end) {
    return giveUp(ERROR_SUCCESS);  // replaced or cleared meanwhile
  }
  std::string added(static_cast<size_t>(newEnd - end), '\0');
  if (!added.empty()) {
    if (DWORD err = ReadAt(log.fd(), added.data(), added.size(), end); err != ERROR_SUCCESS) {
      return giveUp(err);
    }
    if (DWORD err = posix::Write(copy.fd(), added, logFile); err != ERROR_SUCCESS) return giveUp(err);
  }
  if (posix::Rename(copyName, logFile) != 0) return giveUp(ErrorFromErrno(errno));
  // The new log's lock first: appenders waiting for it go on while the old
  // file's blocks are let go.
  copy.Unlock();
  log.Unlock();
  return posix::SyncFolderOf(logFile) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

// The process that has a trim handed to the background and not yet done, 0
// when none has: one at a time is enough. A forked child finds its parent's
// number here, not its own.
std::atomic<pid_t> g_trimmer{0};

void StartTrim(const std::string& logFile, std::uint64_t maxSize) {
  const pid_t self = ::getpid();
  pid_t current = g_trimmer.load();
  if (current == self || !g_trimmer.compare_exchange_strong(current, self)) return;
  RunInBackground([logFile, maxSize] {
    // A failure here loses nothing: the log stays as it is, a later report
    // starts another trim, and the report that reaches the bound trims on
    // its own path and gets the error.
    TrimOffPath(logFile, maxSize);
    g_trimmer.store(0);
  });
}

DWORD AppendRecord(const std::string& logFile, std::uint64_t maxSize, EventRecord record) {
  const std::string dir = logFile.substr(0, logFile.rfind('/'));
  if (DWORD err = posix::MakePrivateFolder(dir); err != ERROR_SUCCESS) return err;
  // Held until fd closes: numbering and the write of the line are one step for
  // every process of every machine that appends to this log.
  posix::LockedFile file;
  if (DWORD err = file.Open(logFile, O_RDWR | O_APPEND | O_CREAT, LOCK_EX); err != ERROR_SUCCESS) return err;
  const int fd = file.fd();
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  std::uint64_t end = 0;
  if (DWORD err = EndOfCompleteLines(fd, static_cast<std::uint64_t>(st.st_size), &end);
      err != ERROR_SUCCESS) {
    return err;
  }
  // Nobody else writes while we hold the lock, so a fragment is a dead
  // writer's: drop it rather than let our line continue it.
  if (end < static_cast<std::uint64_t>(st.st_size) &&
      ::ftruncate(fd, static_cast<off_t>(end)) != 0) {
    return ErrorFromErrno(errno);
  }
  DWORD last = 0;
  if (DWORD err = LastRecordNumber(fd, end, &last); err != ERROR_SUCCESS) return err;
  record.recordNumber = last + 1;
  std::string line = FormatEventRecordLine(record);
  line.push_back('\n');
  if (end + line.size() > maxSize) return ReplaceWithNewest(fd, logFile, end, line, maxSize);
  if (DWORD err = posix::Write(fd, line, logFile); err != ERROR_SUCCESS) {
    if (::ftruncate(fd, static_cast<off_t>(end)) != 0) {
      // The fragment stays; the next writer drops it.
    }
    return err;
  }
  if (end + line.size() > TrimMark(maxSize)) StartTrim(logFile, maxSize);
  return ERROR_SUCCESS;
}

}  // namespace

std::uint64_t EventLogMaxSize(const std::string& machineRoot, std::string_view logName) {
  RegKey hklm, log;
  DWORD size = 0;
  if (RegKey::ConnectRoot(machineRoot, Hive::LocalMachine, &hklm) != ERROR_SUCCESS ||
      hklm.OpenSubKey(std::string(kEventLogServicesKey) + "\\" + std::string(logName), &log) !=
          ERROR_SUCCESS ||
      log.QueryDword("MaxSize", &size) != ERROR_SUCCESS) {
    return kDefaultEventLogMaxSize;
  }
  return std::max(size, kMinEventLogMaxSize);
}

std::string EventLogFilePath(const std::string& machineRoot, std::string_view logName) {
  const std::string dir = EventLogDir(machineRoot);
  return dir + "/" + posix::FindEntryIgnoringCase(dir, std::string(logName) + ".log");
}

std::string FormatEventRecordLine(const EventRecord& record) {
  std::string line = std::to_string(record.recordNumber);
  line += '\t';
  line += FormatTime(record.timeGenerated);
  line += '\t';
  line += FormatTime(record.timeWritten);
  line += '\t';
  line += FormatType(record.eventType);
  line += '\t';
  line += std::to_string(record.category);
  line += '\t';
  line += std::to_string(record.eventId);
  line += '\t';
  AppendEscaped(&line, record.source);
  line += '\t';
  AppendEscaped(&line, record.computer);
  for (const std::string& s : record.strings) {
    line += '\t';
    AppendEscaped(&line, s);
  }
  return line;
}

bool ParseEventRecordLine(std::string_view line, EventRecord* record) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (fields.size() < 8) return false;
  EventRecord r;
  if (!ParseWhole(fields[0], &r.recordNumber) || r.recordNumber == 0 ||
      !ParseTime(fields[1], &r.timeGenerated) || !ParseTime(fields[2], &r.timeWritten) ||
      !ParseType(fields[3], &r.eventType) || !ParseWhole(fields[4], &r.category) ||
      !ParseWhole(fields[5], &r.eventId) || !Unescape(fields[6], &r.source) ||
      !Unescape(fields[7], &r.computer)) {
    return false;
  }
  r.strings.resize(fields.size() - 8);
  for (size_t i = 8; i < fields.size(); ++i) {
    if (!Unescape(fields[i], &r.strings[i - 8])) return false;
  }
  *record = std::move(r);
  return true;
}

DWORD EventSource::Register(std::string_view server, std::string_view sourceName,
                            EventSource* out) {
  if (!out || sourceName.empty()) return ERROR_INVALID_PARAMETER;
  std::string root;
  if (DWORD err = MachineOfServer(server, &root); err != ERROR_SUCCESS) return err;
  EventSource source;
  source.logName_ = LogOfSource(root, sourceName);
  source.logFile_ = EventLogFilePath(root, source.logName_);
  source.maxSize_ = EventLogMaxSize(root, source.logName_);
  source.source_ = std::string(sourceName);
  source.computer_ = GetComputerName();
  *out = std::move(source);
  return ERROR_SUCCESS;
}

DWORD EventSource::Report(WORD eventType, WORD category, DWORD eventId,
                          const std::vector<std::string>& strings) const {
  return ReportAt(Now(), eventType, category, eventId, strings);
}

DWORD EventSource::ReportAt(std::time_t timeGenerated, WORD eventType, WORD category,
                            DWORD eventId, const std::vector<std::string>& strings) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  if (timeGenerated < 0 || timeGenerated > static_cast<std::time_t>(0xFFFFFFFFu)) {
    return ERROR_INVALID_PARAMETER;
  }
  EventRecord record;
  record.timeGenerated = static_cast<DWORD>(timeGenerated);
  record.timeWritten = static_cast<DWORD>(Now());
  record.eventId = eventId;
  record.eventType = eventType;
  record.category = category;
  record.source = source_;
  record.computer = computer_;
  record.strings = strings;
  return AppendRecord(logFile_, maxSize_, std::move(record));
}

DWORD EventLogReader::Open(std::string_view server, std::string_view logName,
                           EventLogReader* out) {
  if (!out || !IsValidLogName(logName)) return ERROR_INVALID_PARAMETER;
  std::string root;
  if (DWORD err = MachineOfServer(server, &root); err != ERROR_SUCCESS) return err;
  EventLogReader reader;
  reader.logFile_ = EventLogFilePath(root, logName);
  *out = std::move(reader);
  return ERROR_SUCCESS;
}

DWORD EventLogReader::ReadBackward(std::vector<EventRecord>* records, size_t maxRecords) {
  if (!records || maxRecords == 0) return ERROR_INVALID_PARAMETER;
  if (logFile_.empty()) return ERROR_INVALID_HANDLE;
  records->clear();
  posix::UniqueFd fd(::open(logFile_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno != ENOENT) return ErrorFromErrno(errno);
    started_ = true;
    position_ = 0;
    return ERROR_HANDLE_EOF;
  }
  struct stat st;
  if (started_ && ::fstat(fd.get(), &st) == 0 && static_cast<std::uint64_t>(st.st_ino) != fileId_) {
    // Trimmed (or cleared) since the last call: start again from the end of
    // the new file, below the oldest record already returned.
    started_ = false;
  }
  if (!started_) {
    // Taken briefly so that the starting point is the end of a whole record.
    if (posix::Lock(fd.get(), LOCK_SH, logFile_) != 0) return ErrorFromErrno(errno);
    const int statResult = ::fstat(fd.get(), &st);
    ::flock(fd.get(), LOCK_UN);
    if (statResult != 0) return ErrorFromErrno(errno);
    started_ = true;
    fileId_ = static_cast<std::uint64_t>(st.st_ino);
    if (DWORD err = EndOfCompleteLines(fd.get(), static_cast<std::uint64_t>(st.st_size), &position_);
        err != ERROR_SUCCESS) {
      return err;
    }
  } else if (::fstat(fd.get(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) < position_) {
    position_ = static_cast<std::uint64_t>(st.st_size);  // the log was cleared meanwhile
  }
  BackwardLines lines(fd.get(), position_);
  std::string line;
  EventRecord record;
  while (records->size() < maxRecords) {
    bool found = false;
    if (DWORD err = lines.Previous(&line, &found); err != ERROR_SUCCESS) return err;
    if (!found) break;
    position_ = lines.position();
    if (!ParseEventRecordLine(line, &record)) continue;
    if (oldestReturned_ != 0 && record.recordNumber >= oldestReturned_) continue;
    oldestReturned_ = record.recordNumber;
    records->push_back(std::move(record));
  }
  return records->empty() ? ERROR_HANDLE_EOF : ERROR_SUCCESS;
}

DWORD EventLogReader::ReadAll(std::vector<EventRecord>* records) const {
  if (!records) return ERROR_INVALID_PARAMETER;
  if (logFile_.empty()) return ERROR_INVALID_HANDLE;
  records->clear();
  posix::UniqueFd fd(::open(logFile_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno == ENOENT ? ERROR_SUCCESS : ErrorFromErrno(errno);
  std::string pending;  // the start of a line whose end is in the next block
  std::string block(kBlockSize, '\0');
  EventRecord record;
  for (;;) {
    const ssize_t n = ::read(fd.get(), block.data(), block.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) break;
    std::string_view data(block.data(), static_cast<size_t>(n));
    for (size_t newline; (newline = data.find('\n')) != std::string_view::npos;) {
      pending.append(data.substr(0, newline));
      if (ParseEventRecordLine(pending, &record)) records->push_back(std::move(record));
      pending.clear();
      data.remove_prefix(newline + 1);
    }
    pending.append(data);
  }
  // What is left in `pending` is a fragment without its newline: no record.
  return ERROR_SUCCESS;
}

}  // namespace plat
