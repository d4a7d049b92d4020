#include "common/trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/background.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"

namespace common {
namespace {

// 2001-09-09 01:46:40 UTC; the test machine has bias 0 and US English.
constexpr std::time_t kStart = 1000000000;
constexpr const char* kStamp = "9/9/2001 1:46:40 AM";

struct Line {
  long number = 0;
  std::string stamp;
  std::string body;
};

std::vector<std::string> ReadLines(const std::string& hostPath) {
  std::ifstream in(hostPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Line Parse(const std::string& text) {
  static const std::regex kLine(R"(^(\d+) (.+) -> (.*)$)");
  std::smatch m;
  Line line;
  EXPECT_TRUE(std::regex_match(text, m, kLine)) << "malformed line: " << text;
  if (m.empty()) return line;
  line.number = std::stol(m[1]);
  line.stamp = m[2];
  line.body = m[3];
  return line;
}

std::vector<Line> ParseFile(const std::string& hostPath) {
  std::vector<Line> lines;
  for (const std::string& text : ReadLines(hostPath)) lines.push_back(Parse(text));
  return lines;
}

bool HostFileExists(const std::string& hostPath) { return ::access(hostPath.c_str(), F_OK) == 0; }

class TraceTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net;
  std::atomic<std::time_t> now{kStart};

  TraceWriter::Clock Clock() {
    return [this] { return now.load(); };
  }
  void SetLimit(plat::DWORD kb, const char* subkey = "Service") {
    ASSERT_EQ(plat::RegWriteDword(std::string(kProductKey) + "\\" + subkey, "LogMaxSizeKB", kb),
              plat::ERROR_SUCCESS);
  }
  std::string ServiceFile() const { return net.DriveC("qcl_trace_plsvc.txt"); }

  // Writes lines of `text` until the file is past 1 KB; returns how many.
  long FillPastOneKB(TraceWriter& writer, const std::string& text) {
    long written = 0;
    for (;;) {
      writer.Write("Fill", text, ++written);
      std::ifstream in(ServiceFile(), std::ios::ate);
      if (static_cast<long>(in.tellg()) > 1024 || written >= 100) return written;
    }
  }
};

void WriteFromThreads(TraceWriter& writer, int threadCount, int perThread) {
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&writer, t, perThread] {
      for (int i = 0; i < perThread; ++i) writer.Write("T" + std::to_string(t), "line", i);
    });
  }
  for (std::thread& th : threads) th.join();
}

TEST_F(TraceTest, FirstLineReplacesOldFileAndWritesHeader) {
  {
    std::ofstream old(ServiceFile());
    old << "stale line from an earlier run\n";
  }
  TraceWriter writer(ServiceTraceOptions(), Clock());
  writer.Write("ServiceThread", "started", 42);
  writer.Write("IsThisUserOK", "DOM\\joe", -7);

  const std::vector<Line> lines = ParseFile(ServiceFile());
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].number, static_cast<long>(i + 1));
    EXPECT_EQ(lines[i].stamp, kStamp);
  }
  EXPECT_EQ(lines[0].body, "Portulon starting...");
  // plsvc.exe does not exist here, so the build date stands in for the version.
  EXPECT_EQ(lines[1].body.rfind("Version is : [Version size failed (2d)] - Build Date: ", 0), 0u)
      << lines[1].body;
  EXPECT_NE(lines[1].body.find(" @ "), std::string::npos);
  // No LogMaxSizeKB in the registry: the default.
  EXPECT_EQ(lines[2].body, "Log max size is 512 KB");
  EXPECT_EQ(lines[3].body, "ServiceThread: started : 42");
  EXPECT_EQ(lines[4].body, "IsThisUserOK: DOM\\joe : -7");
  EXPECT_EQ(writer.linesWritten(), 5);
}

TEST_F(TraceTest, HeaderCarriesFileVersionOfModule) {
  // This test program embeds a version record (see CMakeLists.txt).
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  TraceOptions options = RasHookTraceOptions();
  options.versionModule = plat::HostToWindowsPath(std::string(self, static_cast<size_t>(n)));
  SetLimit(7, "PL_RAS");

  TraceWriter writer(options, Clock());
  writer.Write("PL_RAS::RasAdminAcceptNewConnection", "", 0);
  const std::vector<Line> lines = ParseFile(net.DriveC("qcl_trace_plras.txt"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].body, "Version is : 2,1,0,2");
  EXPECT_EQ(lines[2].body, "Log max size is 7 KB");
  EXPECT_EQ(lines[3].body, "PL_RAS::RasAdminAcceptNewConnection:  : 0");
}

TEST_F(TraceTest, ZeroLimitWritesNothingUntilRereadAfter300Seconds) {
  SetLimit(0);
  TraceWriter writer(ServiceTraceOptions(), Clock());
  writer.Write("a", "b", 1);
  EXPECT_FALSE(HostFileExists(ServiceFile()));

  SetLimit(8);
  now = kStart + 299;
  writer.Write("a", "b", 2);
  EXPECT_FALSE(HostFileExists(ServiceFile())) << "limit read again before 300 s";

  now = kStart + 300;
  writer.Write("a", "b", 3);
  const std::vector<Line> lines = ParseFile(ServiceFile());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].number, 1);
  EXPECT_EQ(lines[0].body, "Portulon starting...");
  EXPECT_EQ(lines[2].body, "Log max size is 8 KB");
  EXPECT_EQ(lines[3].number, 4);
  EXPECT_EQ(lines[3].body, "a: b : 3");
  EXPECT_EQ(lines[3].stamp, "9/9/2001 1:51:40 AM");

  // Once tracing, setting 0 again only takes effect at the next reset.
  SetLimit(0);
  writer.Write("a", "b", 4);
  EXPECT_EQ(ReadLines(ServiceFile()).size(), 5u);
}

TEST_F(TraceTest, FileBeyondLimitRestartsWithResetHeaderAndCounterGoesOn) {
  SetLimit(1);
  TraceWriter writer(ServiceTraceOptions(), Clock());
  const long written = FillPastOneKB(writer, std::string(60, 'x'));
  const std::vector<Line> full = ParseFile(ServiceFile());
  ASSERT_EQ(full.front().body, "Portulon starting...");
  const long counter = full.back().number;
  EXPECT_EQ(counter, written + 3);

  // The reset reads the limit again.
  SetLimit(2);
  writer.Write("After", "reset", 1);
  const std::vector<Line> lines = ParseFile(ServiceFile());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].number, counter + 1);
  EXPECT_EQ(lines[0].body, "Portulon log reset...");
  EXPECT_EQ(lines[1].number, counter + 2);
  EXPECT_EQ(lines[1].body.rfind("Version is : ", 0), 0u);
  EXPECT_EQ(lines[2].number, counter + 3);
  EXPECT_EQ(lines[2].body, "Log max size is 2 KB");
  EXPECT_EQ(lines[3].number, counter + 4);
  EXPECT_EQ(lines[3].body, "After: reset : 1");
}

TEST_F(TraceTest, ResetToZeroLimitPausesTracingAndResumeKeepsCounting) {
  SetLimit(1);
  TraceWriter writer(ServiceTraceOptions(), Clock());
  const long written = FillPastOneKB(writer, std::string(200, 'y'));
  SetLimit(0);
  writer.Write("Dropped", "", 0);
  EXPECT_FALSE(HostFileExists(ServiceFile()));

  SetLimit(3);
  now = kStart + 300;
  writer.Write("Back", "", 0);
  const std::vector<Line> lines = ParseFile(ServiceFile());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].number, written + 4);
  EXPECT_EQ(lines[0].body, "Portulon log reset...");
  EXPECT_EQ(lines[2].body, "Log max size is 3 KB");
  EXPECT_EQ(lines[3].body, "Back:  : 0");
}

TEST_F(TraceTest, ConsoleModePrintsBodyAndLeavesFileAlone) {
  SetLimit(0);  // the console ignores the limit
  TraceWriter writer(ServiceTraceOptions(), Clock());
  writer.SetConsoleMode(true);
  ::testing::internal::CaptureStdout();
  writer.Write("NP_PipeMessageLoop", "NEW", 3);
  writer.Write("Log_HangUp", "DOM\\ann", 120);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "NP_PipeMessageLoop: NEW : 3\nLog_HangUp: DOM\\ann : 120\n");
  EXPECT_FALSE(HostFileExists(ServiceFile()));
}

TEST_F(TraceTest, DisabledWriterTouchesNothing) {
  {
    std::ofstream old(ServiceFile());
    old << "kept\n";
  }
  TraceWriter writer(ServiceTraceOptions(), Clock());
  writer.SetEnabled(false);
  ::testing::internal::CaptureStdout();
  writer.Write("a", "b", 1);
  writer.SetConsoleMode(true);
  writer.Write("a", "b", 2);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ReadLines(ServiceFile()), std::vector<std::string>{"kept"});
  EXPECT_EQ(writer.linesWritten(), 0);
}

TEST_F(TraceTest, ProcessTraceStartsDisabledUntilConfigured) {
  TraceWriter& initial = ProcessTrace();
  EXPECT_EQ(initial.options().file, "C:\\qcl_trace_plsvc.txt");
  Trace("a", "b", 1);
  EXPECT_FALSE(HostFileExists(ServiceFile()));

  // The configured writer outlives this fixture: its clock must not refer to it.
  ConfigureProcessTrace(RrasHookTraceOptions(), [] { return kStart; });
  Trace("PL_RRAS::MprAdminLinkHangupNotification", "COM1", 5);
  const std::vector<Line> lines = ParseFile(net.DriveC("qcl_trace_plrras.txt"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].body, "Log max size is 100 KB");
  EXPECT_EQ(lines[3].body, "PL_RRAS::MprAdminLinkHangupNotification: COM1 : 5");
  // The earlier writer is still usable through an old reference.
  EXPECT_EQ(initial.linesWritten(), 0);
}

TEST_F(TraceTest, ConcurrentWritersLoseNoLine) {
  SetLimit(100000);
  TraceWriter writer(ServiceTraceOptions(), Clock());
  constexpr int kThreads = 8;
  constexpr int kPerThread = 250;
  WriteFromThreads(writer, kThreads, kPerThread);

  const std::vector<Line> lines = ParseFile(ServiceFile());
  ASSERT_EQ(lines.size(), 3u + kThreads * kPerThread);
  EXPECT_EQ(lines[0].body, "Portulon starting...");
  std::set<long> numbers;
  std::set<std::string> bodies;
  for (const Line& line : lines) {
    numbers.insert(line.number);
    bodies.insert(line.body);
  }
  EXPECT_EQ(numbers.size(), lines.size());
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), static_cast<long>(lines.size()));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      ASSERT_TRUE(bodies.count("T" + std::to_string(t) + ": line : " + std::to_string(i)))
          << "lost line " << t << "/" << i;
    }
  }
}

TEST_F(TraceTest, ConcurrentWritersAcrossResetsWriteWholeLinesAndLoseNoneOfTheNewFile) {
  SetLimit(1);
  TraceWriter writer(ServiceTraceOptions(), Clock());
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  WriteFromThreads(writer, kThreads, kPerThread);

  // Many resets happened, each adding three header lines to the count.
  EXPECT_GE(writer.linesWritten(), kThreads * kPerThread + 3 * 10);
  const std::vector<Line> lines = ParseFile(ServiceFile());
  std::set<long> numbers;
  long header = 0;
  for (const Line& line : lines) {
    EXPECT_TRUE(numbers.insert(line.number).second) << "number twice: " << line.number;
    EXPECT_LE(line.number, writer.linesWritten());
    if (line.body == "Portulon log reset...") header = line.number;
  }
  // Every line numbered from the last reset's header on is in the file: none
  // went to the file the reset deleted.
  ASSERT_GT(header, 0);
  EXPECT_EQ(std::distance(numbers.find(header), numbers.end()), writer.linesWritten() - header + 1);

  // The deleted files were let go: none stays open in this process.
  plat::WaitForBackground();
  int deletedTraces = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (target.find("qcl_trace_plsvc.txt") != std::string::npos &&
        target.find("(deleted)") != std::string::npos) {
      ++deletedTraces;
    }
  }
  EXPECT_EQ(deletedTraces, 0);
}

}  // namespace
}  // namespace common
