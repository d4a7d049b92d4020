#include "common/qcl_trace.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "platform/testing/temp_network.h"

namespace QCL {
namespace {

class ListMedium : public TraceMedium {
 public:
  void WriteLine(const std::string& line) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

// The part after the "[Tick: .., Thread ..] -" prefix, which is checked too.
std::string Rest(const std::string& line) {
  static const std::regex kPrefix(R"(^\[Tick: -?\d+, Thread ([0-9A-F]+)\] -(.*)$)");
  std::smatch m;
  EXPECT_TRUE(std::regex_match(line, m, kPrefix)) << line;
  return m.empty() ? std::string() : std::string(m[2]);
}

std::string ThreadHex() {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(::syscall(SYS_gettid)));
  return text;
}

class QclTraceTest : public ::testing::Test {
 protected:
  std::shared_ptr<ListMedium> medium = std::make_shared<ListMedium>();
  void SetUp() override {
    AttachTraceMedium(medium);
    SetTraceLevel(11);
  }
  void TearDown() override {
    AttachTraceMedium(nullptr);
    SetTraceLevel(0);
  }
};

TEST_F(QclTraceTest, WrittenOnlyAboveLevelTenWithMedium) {
  SetTraceLevel(10);
  TraceLine("hidden %d", 1);
  SetTraceLevel(11);
  TraceLine("shown %d", 2);
  AttachTraceMedium(nullptr);
  TraceLine("no medium");
  {
    TraceIndent indent("no medium either");
  }
  const std::vector<std::string> lines = medium->lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Rest(lines[0]), "shown 2");
  EXPECT_NE(lines[0].find("Thread " + ThreadHex() + "]"), std::string::npos) << lines[0];
}

TEST_F(QclTraceTest, IndentRaisesDepthWhileAlive) {
  {
    TraceIndent outer("RAServer::Connect");
    TraceLine("port %s", "COM1");
    {
      TraceIndent inner("PortEnum");
      TraceLine("%d ports", 4);
    }
    TraceLine("back");
  }
  TraceLine("done");
  std::vector<std::string> rest;
  for (const std::string& line : medium->lines()) rest.push_back(Rest(line));
  EXPECT_EQ(rest, (std::vector<std::string>{"RAServer::Connect", ".port COM1", ".PortEnum",
                                            "..4 ports", ".back", "done"}));
}

TEST_F(QclTraceTest, DepthIsKeptWhileGatedOffAndPerThread) {
  SetTraceLevel(0);
  TraceIndent quiet("not written");
  SetTraceLevel(11);
  std::thread other([] { TraceLine("other thread"); });
  other.join();
  TraceLine("this thread");
  const std::vector<std::string> lines = medium->lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Rest(lines[0]), "other thread");
  EXPECT_EQ(Rest(lines[1]), ".this thread");
}

TEST_F(QclTraceTest, LineIsCutAt512Characters) {
  const std::string longText(2000, 'z');
  TraceLine("%s", longText.c_str());
  {
    TraceIndent indent(longText);
  }
  const std::vector<std::string> lines = medium->lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 512u);
  EXPECT_EQ(lines[1].size(), 512u);
  EXPECT_EQ(lines[0].back(), 'z');
}

TEST_F(QclTraceTest, FileMediumAppendsLines) {
  plat::testing::TempNetwork net;
  AttachTraceMedium(std::make_shared<FileTraceMedium>("C:\\pladmin_trace.txt"));
  TraceLine("one");
  TraceLine("two");
  std::ifstream in(net.DriveC("pladmin_trace.txt"));
  std::vector<std::string> rest;
  for (std::string line; std::getline(in, line);) rest.push_back(Rest(line));
  EXPECT_EQ(rest, (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace QCL
