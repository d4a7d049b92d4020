// The near-live export in the real service program: plsvc as the master,
// dial-ins streaming through its pipe, and the database (SQLite, and a
// PostgreSQL server of the test's own) holding each hang-up and refusal
// within a minute, and every record of the day's log once, also after the
// database was down for a while.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/event_ids.h"
#include "common/log_record.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"
#include "service/reporting/live_export.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/settings.h"
#include "service/tests/console_plsvc.h"
#include "service/tests/pipe_clients.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Account;
using testing::Dial;

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
constexpr int kLoadClients = 4;
constexpr int kUsersPerClient = 5;
// Accounts of the test's own sessions, beyond those of the load.
constexpr int kMarkUser = kLoadClients * kUsersPerClient;
constexpr int kMarkPort = 40;
constexpr int kUnknownUser = 999;  // no such domain user: refused with code 1

// Dial-ins and hang-ups on their own ports, each client one every few
// milliseconds (some hundred records a second in all), until the object goes.
class DialLoad {
 public:
  DialLoad() {
    for (int c = 0; c < kLoadClients; ++c) {
      threads_.emplace_back([this, c] {
        for (int i = 0; !stop_.load(); ++i) {
          if (Dial(c * kUsersPerClient + i % kUsersPerClient, c * 4 + i % 4, 30).hungUp) ++sessions_;
          std::this_thread::sleep_for(5ms);
        }
      });
    }
  }
  ~DialLoad() { Stop(); }
  void Stop() {
    stop_.store(true);
    for (auto& t : threads_) {
      if (t.joinable()) t.join();
    }
  }
  long sessions() const { return sessions_.load(); }  // admitted and hung up

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> sessions_{0};
  std::vector<std::thread> threads_;
};

using Key = std::tuple<std::string, std::string, std::int64_t, int>;  // server, port, second, seq

class LiveExportEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::OdbcTestConfig::Get();  // ODBCINI for plsvc too
    std::filesystem::remove(testing::OdbcTestConfig::Get().database());
    ASSERT_NO_FATAL_FAILURE(testing::ProvideDataFolderAndDomain());
    ASSERT_NO_FATAL_FAILURE(testing::ProvideCallers(kUsers, kMarkUser + 1));
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "Master", 1), 0u);
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "ExportHistory", 1), 0u);
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "ExportHours", 0xFFFFFF), 0u);
  }

  void UseDataSource(const std::string& dsn, const std::string& account, const std::string& password) {
    dsn_ = dsn;
    account_ = account;
    password_ = password;
    ASSERT_EQ(plat::RegWriteString(kServiceKey, "ODBC_DSN", dsn), 0u);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, "ODBC_Account", account), 0u);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, "ODBC_Password", password), 0u);
  }

  // The end of the service's output, for a failure's message.
  std::string Tail() {
    const std::string out = service_->Output();
    return out.size() > 4000 ? out.substr(out.size() - 4000) : out;
  }

  void StartService() {
    service_ = std::make_unique<testing::ConsolePlsvc>();
    ASSERT_TRUE(service_->WaitFor("Success Create Named Pipe")) << service_->Output();
  }

  // The rows of `sql` (one number), or -1 while the database cannot answer.
  long Number(const std::string& sql, const std::vector<SqlValue>& params = {}) {
    OdbcConnection db;
    std::vector<SqlRow> rows;
    if (!db.Connect(dsn_, account_, password_) || !db.Query(sql, params, &rows) || rows.empty() ||
        !rows[0][0]) {
      return -1;
    }
    return std::stol(*rows[0][0]);
  }

  // How long until `sql` counts at least `count`, up to `limit`.
  std::chrono::seconds WaitForCount(const std::string& sql, const std::vector<SqlValue>& params, long count,
                                    std::chrono::seconds limit = 90s) {
    const auto start = Clock::now();
    while (Clock::now() - start < limit && Number(sql, params) < count) std::this_thread::sleep_for(250ms);
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
  }

  // One hang-up and one refusal of the test's own, with how long each took
  // to reach the database.
  void MarkedRecordsArriveWithinAMinute() {
    const testing::Session s = Dial(kMarkUser, kMarkPort, 42);
    ASSERT_TRUE(s.hungUp);
    const testing::Session refused = Dial(kUnknownUser, kMarkPort + 1, 0);
    ASSERT_TRUE(refused.answered);
    ASSERT_FALSE(refused.admitted);
    const auto hangUp = WaitForCount("SELECT COUNT(*) FROM pl_sessions WHERE account = ? AND kind = 'H' "
                                     "AND duration = 42",
                                     {Account(kMarkUser)}, 1);
    const auto refusal = WaitForCount("SELECT COUNT(*) FROM pl_sessions WHERE account = ? AND kind = 'N' "
                                      "AND reason = 1",
                                      {Account(kUnknownUser)}, 1);
    EXPECT_LE(hangUp.count(), 60) << Tail();
    EXPECT_LE(refusal.count(), 60) << Tail();
    std::printf("hang-up in the database after %lld s, refusal after %lld s\n",
                static_cast<long long>(hangUp.count()), static_cast<long long>(refusal.count()));
  }

  // Once the log stops growing, the table holds each of its records once.
  void EveryRecordOnce() {
    const std::vector<common::LogRecord> records = common::LoadLogRecords(testing::TodaysLog());
    ASSERT_FALSE(records.empty());
    std::set<Key> logged;
    for (const auto& r : records) logged.emplace(r.server, r.port, r.time, r.sequence);
    const long want = static_cast<long>(logged.size());
    const auto waited = WaitForCount("SELECT COUNT(*) FROM pl_sessions", {}, want);
    std::printf("%ld records of the log in the database %lld s after it stopped growing\n", want,
                static_cast<long long>(waited.count()));
    OdbcConnection db;
    ASSERT_TRUE(db.Connect(dsn_, account_, password_)) << db.error();
    std::vector<SqlRow> rows;
    ASSERT_TRUE(db.Query("SELECT server, port, event_time, seq FROM pl_sessions", {}, &rows)) << db.error();
    std::set<Key> exported;
    for (const auto& r : rows) exported.emplace(*r[0], *r[1], std::stoll(*r[2]), std::stoi(*r[3]));
    EXPECT_EQ(rows.size(), logged.size());
    EXPECT_TRUE(exported == logged) << rows.size() << " rows for " << logged.size() << " records";
  }

  plat::testing::TempNetwork net_;
  std::unique_ptr<testing::ConsolePlsvc> service_;
  std::string dsn_, account_, password_;
};

// Events of the Application log with this id whose texts hold `text`.
int EventsSaying(plat::DWORD id, const std::string& text) {
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  plat::EventLogReader::Open("", "Application", &reader);
  reader.ReadAll(&records);
  int n = 0;
  for (const auto& r : records) {
    std::string all;
    for (const auto& s : r.strings) all += s + "|";
    if (r.eventId == id && all.find(text) != std::string::npos) ++n;
  }
  return n;
}

TEST_F(LiveExportEndToEndTest, SqliteHoldsEachRecordWithinAMinuteUnderLoad) {
  UseDataSource("PortulonTest", "", "");
  StartService();
  DialLoad load;
  std::this_thread::sleep_for(3s);
  MarkedRecordsArriveWithinAMinute();
  load.Stop();
  EXPECT_GT(load.sessions(), 100);
  std::printf("%ld sessions of the load\n", load.sessions());
  EveryRecordOnce();
}

TEST_F(LiveExportEndToEndTest, PostgreSqlHoldsEachRecordWithinAMinuteUnderLoadAndAfterAnOutage) {
  testing::PrivatePostgres pg;
  if (!pg.running()) GTEST_SKIP() << pg.reason();
  UseDataSource("PortulonPg", "portulon", "secret");
  StartService();
  {
    DialLoad load;
    std::this_thread::sleep_for(3s);
    MarkedRecordsArriveWithinAMinute();
    load.Stop();
    EXPECT_GT(load.sessions(), 100);
  }
  EveryRecordOnce();

  // The server goes away while sessions end; they arrive, once, when it is back.
  pg.Stop();
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(Dial(i, i % 4, 20 + i).hungUp);
    ASSERT_TRUE(Dial(kUnknownUser, 8, 0).answered);
  }
  ASSERT_TRUE(service_->WaitFor("Near-live export failed", 60s)) << Tail();
  std::this_thread::sleep_for(std::chrono::seconds(kLiveExportSeconds));
  ASSERT_TRUE(pg.Start());
  ASSERT_TRUE(service_->WaitFor("Near-live export works again", 60s)) << Tail();
  EveryRecordOnce();
  EXPECT_EQ(EventsSaying(common::kEventExportFailed, "Near-live export failed"), 1);
  EXPECT_EQ(EventsSaying(common::kEventExportAgain, "Database export works again"), 1);
}

}  // namespace
}  // namespace svc
