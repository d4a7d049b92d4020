// The export's tests: SRV1 exporting profiles and history at 10 o'clock into
// the SQLite data source "PortulonTest", emptied for each test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "service/reporting/db_export.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/session_log.h"
#include "service/tests/policy_fixture.h"

namespace svc::testing {

// Names that would break SQL text built by splicing, and bytes outside ASCII.
inline const std::string kQuoted = "DOM\\o'brien, \"jr\"";
inline const std::string kLatin1 = "DOM\\J\xF6rg";

inline std::string Text(const std::optional<std::string>& v) { return v ? *v : "<null>"; }

class DbExportTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    std::filesystem::remove(OdbcTestConfig::Get().database());
    ctx.settings.odbcDsn = "PortulonTest";
    ctx.settings.exportUsers = 1;
    ctx.settings.exportHistory = 1;
    ctx.settings.exportHours = 1u << 10;
    for (const std::string& user : {std::string(kAnn), kQuoted, kLatin1}) {
      SetUser(user, kMaxSessionTime, "0");
    }
  }

  // A session: connection now, hang-up `length` seconds later.
  void Session(const std::string& user, const std::string& port, int length) {
    Log_Connection(ctx, user, now, port);
    const std::time_t start = now;
    now += length;
    Log_HangUp(ctx, user, port, length, start);
  }

  std::vector<SqlRow> Select(const std::string& sql, const std::vector<SqlValue>& params = {}) {
    OdbcConnection db;
    EXPECT_TRUE(db.Connect("PortulonTest", "", "")) << db.error();
    std::vector<SqlRow> rows;
    EXPECT_TRUE(db.Query(sql, params, &rows)) << db.error();
    return rows;
  }
  long Count(const std::string& table) {
    const auto rows = Select("SELECT COUNT(*) FROM " + table);
    return rows.empty() || !rows[0][0] ? -1 : std::stol(*rows[0][0]);
  }
  ExportOutcome Export() { return RunDatabaseExport(ctx, now); }
};

}  // namespace svc::testing
