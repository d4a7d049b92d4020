#include "platform/eventlog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>

#include "platform/background.h"
#include "platform/errors.h"
#include "platform/fault_seam.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

using testing::AppendHostFile;
using testing::ReadHostFile;

class EventLogTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;

  EventSource Source(const std::string& name, const std::string& server = "") {
    EventSource source;
    EXPECT_EQ(EventSource::Register(server, name, &source), ERROR_SUCCESS);
    return source;
  }
  // What a product's installer does: its source's texts are in a message file.
  void RegisterMessageFile(const std::string& source) {
    const std::string file = HostToWindowsPath(testing::TestProgramDir() + "/sample_msg.dll");
    ASSERT_EQ(RegWriteString(std::string(kEventLogServicesKey) + "\\Application\\" + source,
                             "EventMessageFile", file),
              ERROR_SUCCESS);
  }
  // `processes` children of this test each report `each` records with the
  // strings `strings(process, i)`; returns once all have ended well.
  void ReportFromProcesses(const EventSource& source, int processes, int each,
                           const std::function<std::vector<std::string>(int, int)>& strings) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        for (int i = 0; i < each; ++i) {
          if (source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, strings(p, i)) != ERROR_SUCCESS) ::_exit(1);
        }
        ::_exit(0);
      }
      children.push_back(pid);
    }
    for (const pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  std::vector<EventRecord> All(const std::string& log, const std::string& server = "") {
    EventLogReader reader;
    std::vector<EventRecord> records;
    EXPECT_EQ(EventLogReader::Open(server, log, &reader), ERROR_SUCCESS);
    EXPECT_EQ(reader.ReadAll(&records), ERROR_SUCCESS);
    return records;
  }
};

TEST_F(EventLogTest, AwkwardStringsRoundTripThroughTheLog) {
  const std::vector<std::string> strings = {
      "",       "tab\there",         "lines\nand\r\nreturns", "back\\slash\\", "\\x41 \\n as text",
      "Grüße",  "\xff\xfe\x80 bad", std::string("nul\0byte", 8), "\x01\x7f",   "trailing\\"};
  const EventSource source = Source("Portulon");
  ASSERT_EQ(source.ReportAt(974815385, EVENTLOG_WARNING_TYPE, 7, 0xC0000003u, strings),
            ERROR_SUCCESS);
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 10, {}), ERROR_SUCCESS);
  ASSERT_EQ(source.Report(0x20, 0, 11, {""}), ERROR_SUCCESS);

  const std::string file = ReadHostFile(EventLogFilePath(net.root(), "Application"));
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3);
  EXPECT_NE(file.find("Grüße"), std::string::npos) << "valid UTF-8 stays readable";
  EXPECT_NE(file.find("2000-11-21T14:03:05Z"), std::string::npos);

  const auto records = All("application");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].recordNumber, 1u);
  EXPECT_EQ(records[0].strings, strings);
  EXPECT_EQ(records[0].timeGenerated, 974815385u);
  EXPECT_EQ(records[0].eventType, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(records[0].category, 7);
  EXPECT_EQ(records[0].eventId, 0xC0000003u);
  EXPECT_EQ(records[0].source, "Portulon");
  EXPECT_EQ(records[0].computer, "SRV1");
  EXPECT_TRUE(records[1].strings.empty());
  EXPECT_EQ(records[2].strings, std::vector<std::string>{""});
  EXPECT_EQ(records[2].eventType, 0x20);
}

TEST_F(EventLogTest, MalformedLinesAreSkippedAndATornTailIsDropped) {
  const std::string file = EventLogFilePath(net.root(), "Application");
  const EventSource source = Source("Portulon");
  ASSERT_EQ(source.Report(EVENTLOG_ERROR_TYPE, 0, 1, {"a"}), ERROR_SUCCESS);
  EventRecord valid;
  ASSERT_TRUE(ParseEventRecordLine(ReadHostFile(file), &valid));
  valid.recordNumber = 7;
  std::string bad = FormatEventRecordLine(valid);
  bad.replace(bad.find("\ta"), 2, "\t\\q");  // an unknown escape
  AppendHostFile(file, "\n\ngarbage\n7\tnot a time\n" + bad + "\n" + FormatEventRecordLine(valid) +
                           "\n8\t2000-01-01T00:00:00Z\t2000");  // a writer died mid-line

  EventLogReader reader;
  ASSERT_EQ(EventLogReader::Open("", "Application", &reader), ERROR_SUCCESS);
  std::vector<EventRecord> newest;
  ASSERT_EQ(reader.ReadBackward(&newest, 10), ERROR_SUCCESS);
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0].recordNumber, 7u);
  EXPECT_EQ(All("Application").size(), 2u);

  // The next record follows the last good one, and the fragment is gone.
  ASSERT_EQ(source.Report(EVENTLOG_ERROR_TYPE, 0, 1, {"b"}), ERROR_SUCCESS);
  const auto records = All("Application");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].recordNumber, 8u);
  EXPECT_EQ(records[2].strings[0], "b");
  EXPECT_EQ(ReadHostFile(file).find("\t2000\n"), std::string::npos);
}

TEST_F(EventLogTest, ConcurrentProcessesNumberWithoutGapsOrDuplicates) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 150;
  // Room for all of them: nothing is dropped here.
  ASSERT_EQ(RegWriteDword(std::string(kEventLogServicesKey) + "\\Application", "MaxSize", 4 << 20),
            ERROR_SUCCESS);
  const EventSource source = Source("Portulon");
  ASSERT_NO_FATAL_FAILURE(ReportFromProcesses(source, kProcesses, kEach, [](int p, int i) {
    const std::string filler(static_cast<size_t>(i % 7) * 300, 'x');
    return std::vector<std::string>{std::to_string(p), std::to_string(i), filler};
  }));
  const std::string file = ReadHostFile(EventLogFilePath(net.root(), "Application"));
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kProcesses * kEach) << "no torn lines";
  const auto records = All("Application");
  ASSERT_EQ(records.size(), static_cast<size_t>(kProcesses * kEach));
  std::set<std::pair<std::string, std::string>> seen;
  std::vector<int> lastOf(kProcesses, -1);
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    EXPECT_EQ(r.recordNumber, i + 1);
    ASSERT_EQ(r.strings.size(), 3u);
    EXPECT_TRUE(seen.insert({r.strings[0], r.strings[1]}).second);
    // Each process's records appear in the order it wrote them.
    const int p = std::stoi(r.strings[0]), n = std::stoi(r.strings[1]);
    EXPECT_GT(n, lastOf[p]);
    lastOf[p] = n;
  }
}

TEST_F(EventLogTest, AFullLogDropsItsOldestRecordsWhileProcessesAppendAndReadersGoOn) {
  // Below the smallest bound: counts as 64 KB.
  ASSERT_EQ(RegWriteDword(std::string(kEventLogServicesKey) + "\\Application", "MaxSize", 1000),
            ERROR_SUCCESS);
  EXPECT_EQ(EventLogMaxSize(net.root(), "Application"), kMinEventLogMaxSize);
  EXPECT_EQ(EventLogMaxSize(net.root(), "System"), kDefaultEventLogMaxSize);
  const EventSource source = Source("Portulon");
  const std::string filler(200, 'x');
  for (int i = 0; i < 40; ++i) ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {filler}), 0u);
  EventLogReader reader;
  ASSERT_EQ(EventLogReader::Open("", "Application", &reader), ERROR_SUCCESS);
  std::vector<EventRecord> batch;
  ASSERT_EQ(reader.ReadBackward(&batch, 5), ERROR_SUCCESS);
  ASSERT_EQ(batch.back().recordNumber, 36u);

  // Three processes write about five times the bound; the log is trimmed
  // many times under them.
  constexpr int kProcesses = 3, kEach = 400;
  ASSERT_NO_FATAL_FAILURE(ReportFromProcesses(source, kProcesses, kEach, [&filler](int p, int) {
    return std::vector<std::string>{std::to_string(p), filler};
  }));
  const std::string file = ReadHostFile(EventLogFilePath(net.root(), "Application"));
  EXPECT_LE(file.size(), kMinEventLogMaxSize);
  EXPECT_GT(file.size(), kMinEventLogMaxSize / 2) << "only the oldest records go";
  const auto records = All("Application");
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(static_cast<size_t>(std::count(file.begin(), file.end(), '\n')), records.size());
  // The newest ones, numbered on without a gap.
  EXPECT_EQ(records.back().recordNumber, 40u + kProcesses * kEach);
  for (size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i].recordNumber, records[i - 1].recordNumber + 1);
  }
  // The reader that began before goes on below where it was, never back up.
  DWORD previous = 36;
  for (int calls = 0; reader.ReadBackward(&batch, 8) == ERROR_SUCCESS; ++calls) {
    for (const auto& r : batch) {
      EXPECT_LT(r.recordNumber, previous);
      previous = r.recordNumber;
    }
    ASSERT_LT(calls, 10);
  }
}

// Whether every record numbered `first` to `last` is in `records`, once and
// in order, and nothing else.
::testing::AssertionResult NumberedWithoutGaps(const std::vector<EventRecord>& records, DWORD first,
                                             DWORD last) {
  if (records.size() != last - first + 1) {
    return ::testing::AssertionFailure() << records.size() << " records, not " << last - first + 1;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].recordNumber != first + i) {
      return ::testing::AssertionFailure() << "record " << first + i << " is numbered "
                                         << records[i].recordNumber;
    }
  }
  return ::testing::AssertionSuccess();
}

// The files in the log folder other than the logs: what a trim left behind.
std::vector<std::string> Leftovers(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(EventLogDir(root))) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".log")) names.push_back(name);
  }
  return names;
}

TEST_F(EventLogTest, ALogPastItsMarkIsTrimmedToItsNewestRecordsWithoutTheReporterWaiting) {
  ASSERT_EQ(RegWriteDword(std::string(kEventLogServicesKey) + "\\Application", "MaxSize", 0),
            ERROR_SUCCESS);  // the smallest bound
  const std::string file = EventLogFilePath(net.root(), "Application");
  const EventSource source = Source("Portulon");
  const std::string filler(150, 'f');
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {filler}), ERROR_SUCCESS);
  DWORD reported = 1;
  struct stat first, now;
  ASSERT_EQ(::stat(file.c_str(), &first), 0);
  // Until the log passes its mark, or its trim has already replaced it.
  do {
    ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {filler}), ERROR_SUCCESS);
    ++reported;
    ASSERT_EQ(::stat(file.c_str(), &now), 0);
  } while (now.st_ino == first.st_ino && static_cast<std::uint64_t>(now.st_size) <= kMinEventLogMaxSize / 8 * 7);
  EventLogReader reader;
  ASSERT_EQ(EventLogReader::Open("", "Application", &reader), ERROR_SUCCESS);
  std::vector<EventRecord> batch;
  ASSERT_EQ(reader.ReadBackward(&batch, 3), ERROR_SUCCESS);

  // The report that passed the mark left the trim to the background: down to
  // three quarters of the bound, the newest records kept.
  WaitForBackground();
  std::string text = ReadHostFile(file);
  EXPECT_LE(text.size(), kMinEventLogMaxSize / 4 * 3);
  EXPECT_GT(text.size(), kMinEventLogMaxSize / 4 * 3 - 300);
  auto records = All("Application");
  ASSERT_FALSE(records.empty());
  EXPECT_TRUE(NumberedWithoutGaps(records, records.front().recordNumber, reported));
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), records.size());
  EXPECT_TRUE(Leftovers(net.root()).empty());
  // A reader that began before goes on below where it was.
  ASSERT_EQ(reader.ReadBackward(&batch, 1), ERROR_SUCCESS);
  EXPECT_EQ(batch[0].recordNumber, reported - 3);

  // A trim that cannot be made durable loses nothing: the background one gives
  // up quietly, and the report that finds the log at its bound fails, loudly.
  {
    ScopedFault fault(FaultCall::Fsync, "Application.log", EIO);
    DWORD err = ERROR_SUCCESS;
    for (int i = 0; i < 1000 && err == ERROR_SUCCESS; ++i) {
      err = source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {filler});
      if (err == ERROR_SUCCESS) ++reported;
      WaitForBackground();
    }
    EXPECT_NE(err, ERROR_SUCCESS);
  }
  text = ReadHostFile(file);
  EXPECT_LE(text.size(), kMinEventLogMaxSize);
  records = All("Application");
  EXPECT_TRUE(NumberedWithoutGaps(records, records.front().recordNumber, reported));
  EXPECT_TRUE(Leftovers(net.root()).empty());
  // Once the disk takes it again, numbering goes on where it was.
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {filler}), ERROR_SUCCESS);
  WaitForBackground();
  records = All("Application");
  EXPECT_TRUE(NumberedWithoutGaps(records, records.front().recordNumber, reported + 1));
  EXPECT_LE(ReadHostFile(file).size(), kMinEventLogMaxSize / 4 * 3);
}

TEST_F(EventLogTest, TrimsWhileThreadsAndAProcessReportKeepEveryNewRecordAndTheBound) {
  constexpr DWORD kBound = 256 * 1024;
  ASSERT_EQ(RegWriteDword(std::string(kEventLogServicesKey) + "\\Application", "MaxSize", kBound),
            ERROR_SUCCESS);
  const std::string file = EventLogFilePath(net.root(), "Application");
  // Several times the bound, so that background trims copy while records
  // are added, and now and then reports reach the bound before one is done.
  constexpr int kThreads = 3, kEach = 3000;
  const std::string filler(120, 'g');
  // Another process's trims race with this one's. It is forked before this
  // one has threads: a child keeps any lock a thread held at the fork.
  const EventSource source = Source("Portulon");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0; i < kEach; ++i) {
      if (source.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {"p", std::to_string(i), filler}) != ERROR_SUCCESS) {
        ::_exit(1);
      }
    }
    ::_exit(0);
  }
  std::atomic<int> overBound{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      EventSource mine;
      if (EventSource::Register("", "Portulon", &mine) != ERROR_SUCCESS) return;
      for (int i = 0; i < kEach; ++i) {
        if (mine.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {std::to_string(t), std::to_string(i), filler}) !=
            ERROR_SUCCESS) {
          ++overBound;  // counted as a failure below as well
          return;
        }
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > kBound) {
          ++overBound;
        }
        // At a pace the background keeps up with, mostly: its copies are
        // then made while records are added.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
  }
  for (auto& t : threads) t.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  WaitForBackground();
  EXPECT_EQ(overBound.load(), 0);

  const std::string text = ReadHostFile(file);
  EXPECT_LE(text.size(), kBound);
  const auto records = All("Application");
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), records.size());
  EXPECT_TRUE(NumberedWithoutGaps(records, records.front().recordNumber, (kThreads + 1) * kEach));
  // Each writer's records in the order it wrote them.
  std::map<std::string, int> lastOf;
  for (const auto& r : records) {
    ASSERT_EQ(r.strings.size(), 3u);
    const int n = std::stoi(r.strings[1]);
    const auto last = lastOf.find(r.strings[0]);
    if (last != lastOf.end()) {
      EXPECT_EQ(n, last->second + 1) << "writer " << r.strings[0];
    }
    lastOf[r.strings[0]] = n;
  }
}

TEST_F(EventLogTest, ReadBackwardGivesNewestFirstInBatchesAcrossBlocks) {
  ASSERT_EQ(RegWriteDword(std::string(kEventLogServicesKey) + "\\Application", "MaxSize", 4 << 20),
            ERROR_SUCCESS);
  const EventSource source = Source("Portulon");
  const std::string huge(200 * 1024, 'h');  // longer than a read block
  constexpr DWORD kCount = 2500;
  for (DWORD i = 1; i <= kCount; ++i) {
    const std::string s = i == 1234 ? huge : std::string(i % 97, 'a' + static_cast<char>(i % 26));
    ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, i, {s}), ERROR_SUCCESS);
  }
  EventLogReader reader;
  ASSERT_EQ(EventLogReader::Open("", "Application", &reader), ERROR_SUCCESS);
  std::vector<EventRecord> batch;
  ASSERT_EQ(reader.ReadBackward(&batch, 7), ERROR_SUCCESS);
  // Records reported after reading began belong to a later reading.
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 99999, {}), ERROR_SUCCESS);
  DWORD expected = kCount;
  do {
    ASSERT_LE(batch.size(), 7u);
    for (const auto& r : batch) {
      ASSERT_EQ(r.recordNumber, expected);
      EXPECT_EQ(r.eventId, expected);
      if (expected == 1234) {
        EXPECT_EQ(r.strings[0], huge);
      }
      --expected;
    }
  } while (reader.ReadBackward(&batch, 7) == ERROR_SUCCESS);
  EXPECT_EQ(expected, 0u);
  EXPECT_EQ(reader.ReadBackward(&batch, 7), ERROR_HANDLE_EOF);
  EXPECT_TRUE(batch.empty());

  EventLogReader empty;
  ASSERT_EQ(EventLogReader::Open("", "NoSuchLogYet", &empty), ERROR_SUCCESS);
  EXPECT_EQ(empty.ReadBackward(&batch, 7), ERROR_HANDLE_EOF);
}

// A 4 GiB sparse hole before the last records: appending and reading the
// newest records must touch only the end of the file.
TEST_F(EventLogTest, AppendAndReadBackwardTouchOnlyTheTail) {
  const std::string file = EventLogFilePath(net.root(), "Application");
  {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{4} << 30), 0);
    ::close(fd);
  }
  EventRecord old;
  old.recordNumber = 41;
  old.source = "Portulon";
  AppendHostFile(file, "\n" + FormatEventRecordLine(old) + "\n");

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Source("Portulon").Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {}), ERROR_SUCCESS);
  EventLogReader reader;
  ASSERT_EQ(EventLogReader::Open("", "Application", &reader), ERROR_SUCCESS);
  std::vector<EventRecord> batch;
  ASSERT_EQ(reader.ReadBackward(&batch, 2), ERROR_SUCCESS);
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(batch[0].recordNumber, 42u);
  EXPECT_EQ(batch[1].recordNumber, 41u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(EventLogTest, SourceGoesToTheLogItIsRegisteredUnder) {
  RegKey key;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine,
                           std::string(kEventLogServicesKey) + "\\System\\PLSvcHelper", &key),
            ERROR_SUCCESS);
  const EventSource registered = Source("plsvchelper");
  EXPECT_EQ(registered.logName(), "System");
  ASSERT_EQ(registered.Report(EVENTLOG_ERROR_TYPE, 0, 5, {"x"}), ERROR_SUCCESS);
  EXPECT_EQ(Source("RemoteAccess").logName(), "System");  // provisioned with the machine
  EXPECT_EQ(Source("Unregistered").logName(), "Application");

  struct stat st;
  EXPECT_EQ(::stat((EventLogDir(net.root()) + "/System.log").c_str(), &st), 0);
  EXPECT_NE(::stat((EventLogDir(net.root()) + "/Application.log").c_str(), &st), 0);
  const auto records = All("SYSTEM");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].source, "plsvchelper");
}

TEST_F(EventLogTest, RemoteMachinesUnknownOrDownAreBadNetPaths) {
  EventSource source;
  EventLogReader reader;
  EXPECT_EQ(EventSource::Register("\\\\NOWHERE", "Portulon", &source), ERROR_BAD_NETPATH);
  EXPECT_EQ(EventLogReader::Open("\\\\NOWHERE", "System", &reader), ERROR_BAD_NETPATH);

  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  const EventSource remote = Source("Portulon", "\\\\srv2");
  ASSERT_EQ(remote.Report(EVENTLOG_INFORMATION_TYPE, 0, 3, {}), ERROR_SUCCESS);
  const auto records = All("Application", "\\\\SRV2");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].computer, "SRV1") << "the reporting machine, not the log's";
  EXPECT_TRUE(All("Application").empty());

  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_EQ(EventSource::Register("\\\\SRV2", "Portulon", &source), ERROR_BAD_NETPATH);
  EXPECT_EQ(EventLogReader::Open("\\\\SRV2", "Application", &reader), ERROR_BAD_NETPATH);
}

// ---- the eventlog tool ------------------------------------------------------

// Runs the eventlog tool with `args` (words apart by blanks) and returns its
// exit status; *output gets what it wrote, stdout then stderr.
int Eventlog(const std::string& args, std::string* output) {
  std::istringstream words(args);
  std::vector<std::string> argv;
  for (std::string word; words >> word;) argv.push_back(word);
  const testing::ToolResult r = testing::RunTool("eventlog", argv);
  *output = r.out + r.err;
  return r.code;
}

TEST_F(EventLogTest, ToolListsRecordsAsAViewerShowsThem) {
  RegisterMessageFile("Portulon");
  const std::time_t when = 974815385;
  const std::tm t = LocalTime(when);
  char iso[64];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  ASSERT_EQ(Source("Portulon").ReportAt(when, EVENTLOG_INFORMATION_TYPE, 0, 3,
                                        {"SRV1\\COM1", "DOM\\ann\tx"}),
            ERROR_SUCCESS);
  ASSERT_EQ(Source("Other").Report(EVENTLOG_ERROR_TYPE, 0, 3, {}), ERROR_SUCCESS);
  ASSERT_EQ(Source("RemoteAccess").Report(EVENTLOG_INFORMATION_TYPE, 0, 20050, {"bob"}),
            ERROR_SUCCESS);

  std::string out;
  ASSERT_EQ(Eventlog("list --machine " + net.root(), &out), 0) << out;
  std::istringstream lines(out);
  std::string heading, first, second;
  std::getline(lines, heading);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(heading, "Record  Time                 Type           Source           Id  Message");
  // Backslashes as written; a tab inside a string does not break the line.
  EXPECT_EQ(first, "     1  " + std::string(iso) +
                       "  Information    Portulon          3  Connection accepted: SRV1\\COM1; "
                       "DOM\\ann x");
  EXPECT_EQ(second.find("Connection accepted"), std::string::npos)
      << "only the source whose message file says so";
  EXPECT_NE(second.find("Error"), std::string::npos);

  ASSERT_EQ(Eventlog("list system", &out), 0) << out;  // machine from PORTULON_MACHINE
  EXPECT_NE(out.find("RemoteAccess  20050  session statistics: bob"), std::string::npos) << out;

  // The forms for scripts keep every string apart and unchanged.
  ASSERT_EQ(Eventlog("list --format csv", &out), 0) << out;
  EXPECT_NE(out.find("Record,Time,Type,Source,Id,Text"), std::string::npos) << out;
  EXPECT_NE(out.find(",Information,Portulon,3,Connection accepted,SRV1\\COM1,DOM\\ann\tx\n"),
            std::string::npos)
      << out;
  ASSERT_EQ(Eventlog("list --format JSON", &out), 0) << out;
  EXPECT_NE(out.find("\"source\":\"Portulon\",\"id\":3,\"text\":\"Connection accepted\","
                     "\"strings\":[\"SRV1\\\\COM1\",\"DOM\\\\ann\\tx\"]}"),
            std::string::npos)
      << out;
  EXPECT_EQ(Eventlog("list --format xml", &out), 2) << out;
}

TEST_F(EventLogTest, ToolRejectsBadArgumentsAndMissingMachines) {
  std::string out;
  EXPECT_EQ(Eventlog("--help", &out), 0);
  EXPECT_NE(out.find("Usage"), std::string::npos);
  EXPECT_NE(Eventlog("", &out), 0);
  EXPECT_NE(Eventlog("show", &out), 0);
  EXPECT_NE(Eventlog("list --bogus", &out), 0);
  EXPECT_NE(Eventlog("list Application System", &out), 0);
  EXPECT_NE(Eventlog("list NoSuchLog", &out), 0);
  EXPECT_NE(Eventlog("list --machine", &out), 0);
  EXPECT_NE(Eventlog("list --machine " + net.network() + "/ABSENT", &out), 0);
  EXPECT_NE(out.find("not the folder of a machine"), std::string::npos) << out;
  const int status = ::system(("env -u PORTULON_MACHINE " + testing::BinDir() +
                               "/eventlog list >/dev/null 2>&1")
                                  .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST_F(EventLogTest, ToolFollowPrintsRecordsAsTheyArrive) {
  RegisterMessageFile("Portulon");
  const EventSource source = Source("Portulon");
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 10, {}), ERROR_SUCCESS);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string tool = testing::BinDir() + "/eventlog";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::execl(tool.c_str(), "eventlog", "list", "--follow", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  auto waitFor = [&](const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[1024];
      const ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out.find(text) != std::string::npos;
  };
  EXPECT_TRUE(waitFor("Service started")) << out;
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 12, {"later"}), ERROR_SUCCESS);
  EXPECT_TRUE(waitFor("Service stopped: later")) << out;
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(fds[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(out.find("     1 "), out.rfind("     1 ")) << "nothing printed twice";
}

}  // namespace
}  // namespace plat
