#include "common/pipe_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/session_admin.h"

namespace common {
namespace {

// The byte swap as the protocol describes it: eight hex digits, the four
// pairs reversed, read back as hex.
std::int32_t SwapByText(std::int32_t value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%.08x", static_cast<unsigned>(value));
  const std::string s(hex);
  const std::string reversed = s.substr(6, 2) + s.substr(4, 2) + s.substr(2, 2) + s.substr(0, 2);
  return static_cast<std::int32_t>(std::strtoul(reversed.c_str(), nullptr, 16));
}

TEST(ProtocolTest, TokensFollowTheirPlaces) {
  ProtocolMessage m;
  EXPECT_EQ(TokenizeMessage("0,COM1,DOM\\ann,*,974800000,0,0", &m), 7);
  EXPECT_EQ(m.kind, 0);
  EXPECT_EQ(m.port, "COM1");
  EXPECT_EQ(m.user, "DOM\\ann");
  EXPECT_EQ(m.machine, "*");
  EXPECT_EQ(m.time, 974800000);

  EXPECT_EQ(TokenizeMessage("2,COM1,ann,*,*,167772170,0", &m), 7);
  EXPECT_EQ(m.address, 167772170);
  EXPECT_EQ(TokenizeMessage("1,COM1,DOM\\ann,*,0,0,600,extra,more", &m), 9);
  EXPECT_EQ(m.duration, 600);
}

TEST(ProtocolTest, EmptyFieldsAreSkippedSoLaterTokensMoveUp) {
  ProtocolMessage m;
  EXPECT_EQ(TokenizeMessage("0,,COM1,,DOM\\ann,*,0,0,0", &m), 7);
  EXPECT_EQ(m.port, "COM1");
  EXPECT_EQ(m.user, "DOM\\ann");
  EXPECT_EQ(TokenizeMessage(",,,,", &m), 0);
  EXPECT_EQ(TokenizeMessage("", &m), 0);
  EXPECT_EQ(TokenizeMessage("0,COM1,DOM\\ann", &m), 3);
}

TEST(ProtocolTest, NumbersReadAsDecimalAndKindsMustBeNumbers) {
  ProtocolMessage m;
  TokenizeMessage("abc,COM1,DOM\\ann,*,xyz,12abc,-5", &m);
  EXPECT_EQ(m.kind, kKindUnreadable);
  EXPECT_EQ(m.time, 0);
  EXPECT_EQ(m.address, 12);
  EXPECT_EQ(m.duration, -5);
  TokenizeMessage(" 1,COM1,DOM\\ann,*,0,0,0", &m);
  EXPECT_EQ(m.kind, 1);
}

TEST(ProtocolTest, LongestTextFieldIsMeasured) {
  ProtocolMessage m;
  TokenizeMessage("0,COM1," + std::string(100, 'u') + ",*,0,0,0", &m);
  EXPECT_EQ(m.longestField, 100u);
  TokenizeMessage("0,COM1,DOM\\ann,*,0,0,0", &m);
  EXPECT_EQ(m.longestField, 7u);
}

TEST(ProtocolTest, UpdateMessagesAreRecognisedByTheirFirstThirteenCharacters) {
  EXPECT_TRUE(IsUpdateMessage("UPDATE_UPDATE"));
  EXPECT_TRUE(IsUpdateMessage("UPDATE_UPDATE,whatever"));
  EXPECT_FALSE(IsUpdateMessage("UPDATE_UPDAT"));
  EXPECT_FALSE(IsUpdateMessage("update_update"));
}

TEST(ProtocolTest, ByteSwapMatchesTheTextualReversalAndIsItsOwnInverse) {
  for (std::int32_t v : {0, 1, 167772170, -2147483647 - 1, 2130706433, -1, 0x0A00000A, 0x7F000001}) {
    EXPECT_EQ(RevertDWORD(v), SwapByText(v)) << v;
    EXPECT_EQ(RevertDWORD(RevertDWORD(v)), v);
  }
  EXPECT_EQ(RevertDWORD(167772170), 0x0A00000A);  // 10.0.0.10 reads the same both ways
  EXPECT_EQ(RevertDWORD(0x0A000001), 0x0100000A);
}

TEST(ProtocolTest, RepliesAreCodeThenAddress) {
  EXPECT_EQ(FormatReply(0, 0), "00");
  EXPECT_EQ(FormatReply(1, 0), "10");
  EXPECT_EQ(FormatReply(2, 0), "20");
  EXPECT_EQ(FormatReply(3, -2147483647), "3-2147483647");
  EXPECT_EQ(FormatReply(3, 167772170), "3167772170");
}

TEST(ProtocolTest, ClientMessagesHaveTheirFixedShapeAndReadBack) {
  EXPECT_EQ(NewConnectionMessage("COM1", "DOM\\ann", "*", "974800000"),
            "0,COM1,DOM\\ann,*,974800000,0,0");
  EXPECT_EQ(HangUpMessage("COM1", "DOM\\ann", "WKS1", "974800000", 600),
            "1,COM1,DOM\\ann,WKS1,974800000,0,600");
  EXPECT_EQ(AddressRequestMessage("??", "ann", -2147483647), "2,??,ann,*,*,-2147483647,0");
  ProtocolMessage m;
  ASSERT_EQ(TokenizeMessage(*HangUpMessage("VPN0-1", "DOM\\bob", "*", "0", 61), &m), 7);
  EXPECT_EQ(m.kind, kKindHangUp);
  EXPECT_EQ(m.port, "VPN0-1");
  EXPECT_EQ(m.user, "DOM\\bob");
  EXPECT_EQ(m.duration, 61);
}

TEST(ProtocolTest, NoMessageIsBuiltThatWouldReadAsAnotherOne) {
  // An empty field or a comma would move every later token.
  EXPECT_FALSE(NewConnectionMessage("", "DOM\\ann", "*", "0"));
  EXPECT_FALSE(NewConnectionMessage("COM1", "DOM\\a,nn", "*", "0"));
  EXPECT_FALSE(HangUpMessage("COM1", "DOM\\ann", "", "0", 1));
  // Nothing longer than the service reads is sent cut.
  EXPECT_FALSE(AddressRequestMessage("COM1", std::string(1990, 'u'), 1));
  EXPECT_TRUE(AddressRequestMessage("COM1", std::string(1970, 'u'), 1));
}

TEST(ProtocolTest, RepliesReadAsCodeAndAddress) {
  EXPECT_EQ(ReplyCode("00"), kReplyAccepted);
  EXPECT_EQ(ReplyCode("10"), kReplyRefused);
  EXPECT_EQ(ReplyCode(""), kReplyAccepted);
  EXPECT_EQ(ReplyCode("x1"), kReplyAccepted);
  std::uint32_t a = 7;
  ASSERT_TRUE(ReplyAddress(FormatReply(kReplyUseAddress, RevertDWORD(167772200)), &a));
  EXPECT_EQ(a, static_cast<std::uint32_t>(RevertDWORD(167772200)));
  ASSERT_TRUE(ReplyAddress("3-2147483647", &a));
  EXPECT_EQ(a, 0x80000001u);
  EXPECT_FALSE(ReplyAddress("3", &a));
  EXPECT_FALSE(ReplyAddress("312x", &a));
  EXPECT_FALSE(ReplyAddress("399999999999", &a));
}

TEST(ProtocolTest, OnlyPlausiblePortNamesAreAccepted) {
  for (const char* port : {"COM1", "COM12", "VPN0-12", "ISDN2-1.1", "PPPoE_1", "??", "0",
                           "ABCDEFGHIJKLMNOP"}) {
    EXPECT_TRUE(IsPlausiblePortName(port)) << port;
  }
  for (const std::string& port :
       {std::string(), std::string("ABCDEFGHIJKLMNOPQ"), std::string("COM 1"), std::string("COM1\\x"),
        std::string("[COM1]"), std::string("COM1]"), std::string("-COM1"), std::string("."),
        std::string(".."), std::string("a/b"), std::string("COM1\n"), std::string("COM1="),
        std::string("$(touch"), std::string("?"), std::string("???"), std::string("COM\xe9"),
        std::string("COM1\0", 5), std::string(";COM1")}) {
    EXPECT_FALSE(IsPlausiblePortName(port)) << port;
  }
}

// The administrator's requests share the service's pipe with the hook
// modules' messages: only their own verbs with a sound argument are theirs.
TEST(ProtocolTest, SessionListAndDisconnectRequestsAndTheirReplies) {
  unsigned index = 9;
  std::string port;
  EXPECT_TRUE(IsSessionListRequest("SESSION_LIST,3", &index));
  EXPECT_EQ(index, 3u);
  EXPECT_TRUE(IsDisconnectPortRequest("DISCONNECT_PORT,VPN2", &port));
  EXPECT_EQ(port, "VPN2");
  for (const char* bad : {"SESSION_LIST", "SESSION_LIST,", "SESSION_LIST,-1", "SESSION_LIST,1x",
                          "0,SESSION_LIST,1", "SESSION_LISTS,1"}) {
    EXPECT_FALSE(IsSessionListRequest(bad, &index)) << bad;
  }
  for (const char* bad : {"DISCONNECT_PORT,", "DISCONNECT_PORT,COM 1", "DISCONNECT_PORT,[COM1]",
                          "DISCONNECT_PORT,COM1,x"}) {
    EXPECT_FALSE(IsDisconnectPortRequest(bad, &port)) << bad;
  }
  SessionRow row;
  row.port = "VPN1";
  row.account = "DOM\\grace hopper";
  row.machine = "*";
  row.address = -1062731515;
  row.start = 1796000000;
  row.deadline = 1796003600;
  row.received = 5000000000;  // sent stays -1: the server could not tell
  SessionRow back;
  ASSERT_TRUE(ParseSessionRow(FormatSessionRow(row), &back));
  EXPECT_EQ(back.account, "DOM\\grace hopper");
  EXPECT_EQ(back.address, -1062731515);
  EXPECT_EQ(back.sent, -1);
  EXPECT_EQ(back.received, 5000000000);
  for (const char* bad : {"1", "0", "0VPN1\tDOM\\a\t*\t0\t1\t2\t3", "0VPN1\t\t*\t0\t1\t2\t3\t4",
                          "0VPN1\tDOM\\a\t*\tx\t1\t2\t3\t4"}) {
    EXPECT_FALSE(ParseSessionRow(bad, &back)) << bad;
  }
}

}  // namespace
}  // namespace common

TEST(ProtocolTest, RepliesAreDescribedByTheMessageTheyAnswer) {
  EXPECT_EQ(common::DescribeReply("UPDATE_UPDATE", "10"), "settings re-read");
  EXPECT_EQ(common::DescribeReply("0,COM1,DOM\\ann,*,0,0,0", "00"), "admitted");
  EXPECT_EQ(common::DescribeReply("0,COM1,DOM\\ann,*,0,0,0", "10"),
            "refused (the reason is in the day's log)");
  EXPECT_EQ(common::DescribeReply("1,COM1,DOM\\ann,*,0,0,60", "00"), "hang-up recorded");
  EXPECT_EQ(common::DescribeReply("2,COM1,ann,*,*,0,0", "2167772237"), "keep the proposed address");
  EXPECT_EQ(common::DescribeReply("2,COM1,ann,*,*,0,0", "3167772237"), "use address 10.0.0.77");
  // What the protocol does not know is not guessed at.
  EXPECT_EQ(common::DescribeReply("2,COM1,ann,*,*,0,0", "3"), "");
  EXPECT_EQ(common::DescribeReply("0,COM1,DOM\\ann,*,0,0,0", "ok"), "");
}
