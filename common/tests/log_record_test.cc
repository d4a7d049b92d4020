#include "common/log_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/testing/temp_network.h"

namespace common {
namespace {

TEST(LogRecordTest, HangUpsCarryEveryField) {
  LogRecord r;
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "974800600", "H600_DOM\\ann?167772170?9:node:WKS1:1234:-1", &r));
  EXPECT_EQ(r.kind, kRecordHangUp);
  EXPECT_EQ(r.server, "SRV1");
  EXPECT_EQ(r.port, "COM1");
  EXPECT_EQ(r.time, 974800600);
  EXPECT_EQ(r.duration, 600u);
  EXPECT_EQ(r.user, "DOM\\ann");
  EXPECT_EQ(r.address, 167772170u);
  EXPECT_EQ(r.reason, 9);
  EXPECT_EQ(r.ipx, "node");
  EXPECT_EQ(r.netbios, "WKS1");
  EXPECT_EQ(r.bytesIn, 1234);
  EXPECT_EQ(r.bytesOut, -1);
  EXPECT_EQ(MakeIPString(r.address), "10.0.0.10");
  EXPECT_EQ(DisconnectText(r.reason), "Idle Timeout");
}

TEST(LogRecordTest, ShortAndOddHangUps) {
  LogRecord r;
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", "H60_DOM\\ann?0", &r));
  EXPECT_EQ(r.reason, kNoReason) << "a single ? carries no details";
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", "H60_DOM\\ann?0?0::?WKS1:5:6", &r));
  EXPECT_EQ(r.netbios, "") << "a NetBIOS name beginning with ? is no name";
  EXPECT_EQ(r.bytesIn, 5);
  EXPECT_EQ(r.bytesOut, 6);
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", "H60_DOM\\ann?0?2:rest of it", &r));
  EXPECT_EQ(r.ipx, "rest of it");
  EXPECT_EQ(r.bytesIn, -1);
}

TEST(LogRecordTest, ConnectionsAndRefusals) {
  LogRecord r;
  ASSERT_TRUE(ParseLogRecord("A\\B\\COM2", "5", "C_DOM\\ann*555-1234", &r));
  EXPECT_EQ(r.kind, kRecordConnection);
  EXPECT_EQ(r.server, "A\\B") << "the port is after the last backslash";
  EXPECT_EQ(r.user, "DOM\\ann");
  EXPECT_EQ(r.info, "555-1234");
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "5", "N_DOM\\zed?4", &r));
  EXPECT_EQ(r.kind, kRecordRefusal);
  EXPECT_EQ(r.user, "DOM\\zed");
  EXPECT_EQ(r.reason, 4);
  EXPECT_EQ(RefusalText(r.reason), "User already connected");
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "5", "N_DOM\\zed", &r));
  EXPECT_EQ(r.reason, kNoReason);
  EXPECT_FALSE(ParseLogRecord("SRV1\\COM1", "5", "X_what", &r));
  EXPECT_FALSE(ParseLogRecord("SRV1\\COM1", "5", "", &r));
}

TEST(LogRecordTest, WrittenRecordsKeepTheirExactTextAndReadBack) {
  const std::string hangUp =
      FormatHangUpRecord(600, "DOM\\ann", 167772170, 9, "node", "WKS1", 1234, -1);
  EXPECT_EQ(hangUp, "H600_DOM\\ann?167772170?9:node:WKS1:1234:-1");
  EXPECT_EQ(FormatConnectionRecord("DOM\\ann"), "C_DOM\\ann");
  EXPECT_EQ(FormatCallbackConnectionRecord("DOM\\ann", "555-1234"), "C_DOM\\ann*555-1234");
  EXPECT_EQ(FormatRefusalRecord("DOM\\ann", 4), "N_DOM\\ann?4");
  LogRecord r;
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", FormatRefusalRecord("DOM\\ann", 4), &r));
  EXPECT_EQ(r.user, "DOM\\ann");
  EXPECT_EQ(r.reason, 4);
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", FormatCallbackConnectionRecord("DOM\\ann", "55"), &r));
  EXPECT_EQ(r.info, "55");
}

TEST(LogRecordTest, FieldsThatWouldShiftTheRecordAreDefused) {
  // A computer name with ':' or '?' (or a line break) must not move the byte counts.
  const std::string v = FormatHangUpRecord(5, "DOM\\ann", -1, 0, "a:b", "W?K\nS", 7, 8);
  EXPECT_EQ(v, "H5_DOM\\ann?-1?0:a_b:W_K_S:7:8");
  LogRecord r;
  ASSERT_TRUE(ParseLogRecord("SRV1\\COM1", "1", v, &r));
  EXPECT_EQ(r.netbios, "W_K_S");
  EXPECT_EQ(r.bytesIn, 7);
  EXPECT_EQ(r.bytesOut, 8);
  EXPECT_EQ(FormatCallbackConnectionRecord("DOM\\ann", "1:2?"), "C_DOM\\ann*1_2_");
}

TEST(LogRecordTest, AccountsThatWouldBreakARecordAreRefused) {
  for (const std::string& account :
       {std::string(), std::string("DOM\\x?3"), std::string("DOM\\a*b"), std::string("DOM\\a,b"),
        std::string("DOM\\a\nb"), std::string("DOM\\a\rb"), std::string("DOM\\a\tb"),
        std::string("DOM\\a\x7f"), std::string("DOM\\a\0b", 7), std::string(" DOM\\a"),
        std::string("DOM\\a "), std::string(38, 'x')}) {
    EXPECT_FALSE(IsRecordableAccount(account)) << account;
  }
}

// What the service writes for an account it accepts, the readers give back:
// through a real day log, whose file drops blanks at the ends of values.
TEST(LogRecordTest, AcceptedAccountsComeBackFromTheDayLogUnchanged) {
  plat::testing::TempNetwork net;
  const std::string log = "C:\\day.log";
  const std::vector<std::string> accounts = {
      "DOM\\ann",      "DOM\\o'brien", "DOM\\ann smith", "DOM\\a_b:c=d;e",
      "DOM\\[x]",      "DOM\\\xe4rger", "DOM\\#1%2$3",    std::string("ABCDEFGHIJKLMNO\\") + std::string(20, 'u'),
      "bare-user"};
  int key = 1000;
  for (const std::string& account : accounts) {
    ASSERT_TRUE(IsRecordableAccount(account)) << account;
    const std::string section = "SRV1\\COM1";
    for (const std::string& value :
         {FormatConnectionRecord(account), FormatCallbackConnectionRecord(account, " 55:5? "),
          FormatHangUpRecord(61, account, -1062731775, 9, "ipx?", " WKS1 ", 10, 20),
          FormatRefusalRecord(account, 4)}) {
      ASSERT_EQ(plat::ProfileAppendRecord(log, section, std::to_string(key++), value),
                plat::ERROR_SUCCESS);
    }
  }
  const std::vector<LogRecord> records = LoadLogRecords(log);
  ASSERT_EQ(records.size(), accounts.size() * 4);
  for (size_t i = 0; i < records.size(); ++i) {
    const LogRecord& r = records[i];
    const std::string& account = accounts[i / 4];
    EXPECT_EQ(r.user, account) << "record " << i;
    switch (i % 4) {
      case 1: EXPECT_EQ(r.info, "55_5_") << account; break;
      case 2:
        EXPECT_EQ(r.kind, kRecordHangUp);
        EXPECT_EQ(r.address, 0xC0A80001u) << account;
        EXPECT_EQ(r.reason, 9) << account;
        EXPECT_EQ(r.ipx, "ipx_");
        EXPECT_EQ(r.netbios, "WKS1");
        EXPECT_EQ(r.bytesOut, 20);
        break;
      case 3: EXPECT_EQ(r.reason, 4) << account; break;
      default: EXPECT_EQ(r.kind, kRecordConnection); break;
    }
  }
}


// The records of a day as the whole-file parse gives them, section by section.
std::vector<std::string> ParsedWhole(const std::string& log) {
  std::vector<std::string> out;
  const auto sections = plat::ProfileListSections(log);
  for (const std::string& section : *sections) {
    if (section[0] == '*') continue;
    const auto records = plat::ProfileReadRecords(log, section);
    for (const auto& [key, value] : *records) {
      if (key[0] != '*') out.push_back(section + "|" + key + "|" + value);
    }
  }
  return out;
}

std::vector<std::string> Streamed(const std::string& log, plat::DWORD* err) {
  std::vector<std::string> out;
  *err = ForEachLogRecord(log, true, [&](const LogRecord& r) {
    out.push_back(r.server + "\\" + r.port + "|" + std::to_string(r.time) +
                  (r.sequence ? "." + std::to_string(r.sequence) : "") + "|" + r.user + r.info);
  });
  return out;
}

// A day whose ports take turns, so each port's section comes in many parts,
// with what hand-edited files hold besides: lines before the first header,
// comments, a key again in a later part, other spellings of a section and a
// key, quotes, CR LF, a nameless section, skipped '*' names, a header that
// straddles the reader's pieces, and no line break at the end.
TEST(LogRecordTest, AStreamedDayGivesTheRecordsOfTheWholeFileParse) {
  plat::testing::TempNetwork net;
  const std::string log = "C:\\day.log";
  std::string text = "stray=1\n; comment\n";
  for (int i = 0; i < 80000; ++i) {
    text += "[SRV1\\COM" + std::to_string(i % 7) + "]\n" + std::to_string(1000 + i / 7) + "=C_DOM\\u" +
            std::to_string(i) + "\n";
    if (i % 1000 == 0) text += "[srv1\\com3]\r\n 1000 = \"N_DOM\\dup?1\"\r\n[]\n5=C_x\n[*skip]\n6=C_y\n";
    if (i % 997 == 0) text += "[SRV2\\VPN]\n*7=C_z\n" + std::string(i % 3000, ' ') + "8=H5_DOM\\w?1\n";
  }
  text += "[SRV1\\COM1]\n99999=C_last";
  ASSERT_EQ(plat::WriteWholeFile(log, text), plat::ERROR_SUCCESS);
  ASSERT_GT(text.size(), 2u << 20) << "several pieces";

  std::vector<std::string> whole;
  for (const std::string& line : ParsedWhole(log)) {
    LogRecord r;
    const size_t a = line.find('|'), b = line.find('|', a + 1);
    ParseLogRecord(line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1), &r);
    whole.push_back(r.server + "\\" + r.port + "|" + std::to_string(r.time) +
                    (r.sequence ? "." + std::to_string(r.sequence) : "") + "|" + r.user + r.info);
  }
  plat::DWORD err = 1;
  const std::vector<std::string> streamed = Streamed(log, &err);
  EXPECT_EQ(err, plat::ERROR_SUCCESS);
  ASSERT_EQ(streamed.size(), whole.size());
  EXPECT_EQ(streamed, whole);
  EXPECT_EQ(streamed.back(), "SRV1\\COM6|12427|DOM\\u79995") << "the last section first seen is read last";

  Streamed("C:\\missing.log", &err);
  EXPECT_EQ(err, plat::ERROR_FILE_NOT_FOUND);
}
}  // namespace
}  // namespace common
