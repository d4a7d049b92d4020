#include "platform/messenger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

class MessengerTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
};

TEST_F(MessengerTest, InboxesKeepEveryTextAsSent) {
  ASSERT_EQ(NetMessageBufferSend("WKS1", "first"), ERROR_SUCCESS);
  ASSERT_EQ(NetMessageBufferSend("wks1", "tab\there\nnew line \\ back"), ERROR_SUCCESS);
  std::vector<NetMessage> inbox;
  ASSERT_EQ(ReadNetMessages("Wks1", &inbox), ERROR_SUCCESS);
  ASSERT_EQ(inbox.size(), 2u);
  EXPECT_EQ(inbox[0].text, "first");
  EXPECT_EQ(inbox[1].text, "tab\there\nnew line \\ back");
  EXPECT_EQ(inbox[1].from, "SRV1");
  EXPECT_EQ(inbox[1].to, "wks1");
  const testing::ToolResult shown = testing::RunTool("net", {"messages", "WKS1"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  EXPECT_TRUE(std::regex_search(
      shown.out, std::regex("^Message from SRV1 to WKS1 on \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\nfirst\n")))
      << shown.out;
  ASSERT_EQ(ReadNetMessages("nobody", &inbox), ERROR_SUCCESS);
  EXPECT_TRUE(inbox.empty());
  EXPECT_EQ(NetMessageBufferSend("../x", "t"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetMessageBufferSend("", "t"), ERROR_INVALID_PARAMETER);
}

TEST_F(MessengerTest, NetSendDeliversTheRestOfTheCommandLineUnchangedAndRunsNothing) {
  const std::string marker = net.network() + "/pwned";
  const std::vector<std::string> texts = {
      "Your session ends in 5 minutes.",
      "He said \"stop\" and 'wait' now",
      "100% done %s %d %n %%",
      "$(touch " + marker + "); `touch " + marker + "` | & > < ; && || *",
      "/? --help -h",
      std::string(1024, 'w'),
      "  leading and trailing blanks  ",
  };
  for (const auto& text : texts) {
    DWORD exitCode = 99;
    ProcessOptions options;
    options.wait = true;
    ASSERT_EQ(RunCommandLine("NET SEND ann " + text, options, &exitCode), ERROR_SUCCESS);
    EXPECT_EQ(exitCode, 0u) << text;
  }
  std::vector<NetMessage> inbox;
  ASSERT_EQ(ReadNetMessages("ANN", &inbox), ERROR_SUCCESS);
  ASSERT_EQ(inbox.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(inbox[i].text, texts[i]);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(MessengerTest, CommandLinesReachProgramsAsWritten) {
  char program[] = "net";
  char send[] = "SEND";
  char name[] = "x";
  char* argv[] = {program, send, name};
  // Without a command line from RunCommandLine, or with one that does not
  // match the arguments, it is rebuilt from them.
  ::setenv("PORTULON_COMMAND_LINE", "other \"thing\"", 1);
  EXPECT_EQ(GetCommandLine(3, argv), "net SEND x");
  ::setenv("PORTULON_COMMAND_LINE", "C:\\WINNT\\system32\\net.exe SEND \"x\"", 1);
  EXPECT_EQ(GetCommandLine(3, argv), "C:\\WINNT\\system32\\net.exe SEND \"x\"");
  ::unsetenv("PORTULON_COMMAND_LINE");
}

}  // namespace
}  // namespace plat
