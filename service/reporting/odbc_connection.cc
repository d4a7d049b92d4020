#include "service/reporting/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>

namespace svc {

namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// "[SQLSTATE] text" of every diagnostic record of the handle.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
  std::string out(what);
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLCHAR text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length);
    if (!Ok(rc)) break;
    out += i == 1 ? ": " : "; ";
    out += "[";
    out += reinterpret_cast<const char*>(state);
    out += "] ";
    out += reinterpret_cast<const char*>(text);
  }
  return out;
}

// Frees the statement handle when it goes.
struct Statement {
  SQLHSTMT handle = SQL_NULL_HSTMT;
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() {
    if (handle != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle);
  }
};

}  // namespace

struct OdbcConnection::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  ~Handles() {
    // A connection in manual-commit mode refuses to disconnect while a
    // transaction is open; whatever was not committed is undone.
    if (connected) {
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
      SQLDisconnect(dbc);
    }
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

// The parameter buffers must live from binding until the statement has run.
struct OdbcConnection::Prepared::State {
  Statement statement;
  struct Buffer {
    std::int64_t number = 0;
    std::string text;
    SQLLEN indicator = 0;
  };
  std::vector<Buffer> buffers;
};

OdbcConnection::Prepared::Prepared() : state_(std::make_unique<State>()) {}
OdbcConnection::Prepared::~Prepared() = default;

OdbcConnection::OdbcConnection() : handles_(std::make_unique<Handles>()) {}
OdbcConnection::~OdbcConnection() = default;

bool OdbcConnection::connected() const { return handles_->connected; }

bool OdbcConnection::Connect(std::string_view dsn, std::string_view account,
                             std::string_view password) {
  Handles& h = *handles_;
  if (h.connected) {
    error_ = "already connected";
    return false;
  }
  if (h.env == SQL_NULL_HENV) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env))) {
      h.env = SQL_NULL_HENV;
      error_ = "cannot allocate an ODBC environment";
      return false;
    }
    SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  if (h.dbc == SQL_NULL_HDBC && !Ok(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
    h.dbc = SQL_NULL_HDBC;
    error_ = Diagnostics(SQL_HANDLE_ENV, h.env, "cannot allocate an ODBC connection");
    return false;
  }
  SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  const std::string d(dsn), a(account), p(password);
  const SQLRETURN rc =
      SQLConnect(h.dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(d.c_str())), SQL_NTS,
                 reinterpret_cast<SQLCHAR*>(const_cast<char*>(a.c_str())), SQL_NTS,
                 reinterpret_cast<SQLCHAR*>(const_cast<char*>(p.c_str())), SQL_NTS);
  if (!Ok(rc)) {
    error_ = Diagnostics(SQL_HANDLE_DBC, h.dbc, "cannot connect to data source '" + d + "'");
    return false;
  }
  h.connected = true;
  if (!Ok(SQLSetConnectAttr(h.dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    error_ = Diagnostics(SQL_HANDLE_DBC, h.dbc, "the data source does not support transactions");
    return false;
  }
  return true;
}

std::unique_ptr<OdbcConnection::Prepared> OdbcConnection::Prepare(std::string_view sql) {
  if (!handles_->connected) {
    error_ = "not connected";
    return nullptr;
  }
  auto prepared = std::make_unique<Prepared>();
  SQLHSTMT& s = prepared->state_->statement.handle;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, handles_->dbc, &s))) {
    s = SQL_NULL_HSTMT;
    error_ = Diagnostics(SQL_HANDLE_DBC, handles_->dbc, "cannot allocate a statement");
    return nullptr;
  }
  const std::string text(sql);
  if (!Ok(SQLPrepare(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS))) {
    error_ = Diagnostics(SQL_HANDLE_STMT, s, "cannot prepare \"" + text + "\"");
    return nullptr;
  }
  return prepared;
}

bool OdbcConnection::Run(Prepared& prepared, const std::vector<SqlValue>& params) {
  Prepared::State& statement = *prepared.state_;
  SQLHSTMT s = statement.statement.handle;
  SQLFreeStmt(s, SQL_CLOSE);
  statement.buffers.resize(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    Prepared::State::Buffer& b = statement.buffers[i];
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc;
    if (const auto* n = std::get_if<std::int64_t>(&params[i])) {
      b.number = *n;
      b.indicator = 0;
      rc = SQLBindParameter(s, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &b.number,
                            0, &b.indicator);
    } else if (const auto* t = std::get_if<std::string>(&params[i])) {
      b.text = *t;
      b.indicator = static_cast<SQLLEN>(b.text.size());
      rc = SQLBindParameter(s, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                            std::max<SQLULEN>(b.text.size(), 1), 0, b.text.data(),
                            static_cast<SQLLEN>(b.text.size()), &b.indicator);
    } else {
      // NULL stands only in number columns.
      b.indicator = SQL_NULL_DATA;
      rc = SQLBindParameter(s, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &b.number,
                            0, &b.indicator);
    }
    if (!Ok(rc)) {
      error_ = Diagnostics(SQL_HANDLE_STMT, s, "cannot bind parameter " + std::to_string(i + 1));
      return false;
    }
  }
  const SQLRETURN rc = SQLExecute(s);
  if (!Ok(rc) && rc != SQL_NO_DATA) {
    error_ = Diagnostics(SQL_HANDLE_STMT, s, "statement failed");
    return false;
  }
  return true;
}

bool OdbcConnection::Execute(std::string_view sql, const std::vector<SqlValue>& params) {
  const auto prepared = Prepare(sql);
  return prepared && Run(*prepared, params);
}

bool OdbcConnection::Query(std::string_view sql, const std::vector<SqlValue>& params,
                           std::vector<SqlRow>* rows) {
  const auto prepared = Prepare(sql);
  if (!prepared || !Run(*prepared, params)) return false;
  SQLHSTMT s = prepared->state_->statement.handle;
  SQLSMALLINT columns = 0;
  if (!Ok(SQLNumResultCols(s, &columns))) {
    error_ = Diagnostics(SQL_HANDLE_STMT, s, "cannot read the result");
    return false;
  }
  for (;;) {
    const SQLRETURN fetched = SQLFetch(s);
    if (fetched == SQL_NO_DATA) return true;
    if (!Ok(fetched)) {
      error_ = Diagnostics(SQL_HANDLE_STMT, s, "cannot fetch a row");
      return false;
    }
    SqlRow row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      std::string value;
      bool isNull = false;
      for (;;) {
        char chunk[4096];
        SQLLEN length = 0;
        const SQLRETURN rc = SQLGetData(s, c, SQL_C_CHAR, chunk, sizeof chunk, &length);
        if (rc == SQL_NO_DATA) break;
        if (!Ok(rc)) {
          error_ = Diagnostics(SQL_HANDLE_STMT, s, "cannot read column " + std::to_string(c));
          return false;
        }
        if (length == SQL_NULL_DATA) {
          isNull = true;
          break;
        }
        // A truncated part fills the buffer but for its terminating NUL.
        const bool truncated = length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(sizeof chunk);
        value.append(chunk, truncated ? sizeof chunk - 1 : static_cast<size_t>(length));
        if (rc == SQL_SUCCESS) break;
      }
      row.push_back(isNull ? std::nullopt : std::optional<std::string>(std::move(value)));
    }
    rows->push_back(std::move(row));
  }
}

bool OdbcConnection::Commit() {
  if (!handles_->connected) {
    error_ = "not connected";
    return false;
  }
  if (!Ok(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_COMMIT))) {
    error_ = Diagnostics(SQL_HANDLE_DBC, handles_->dbc, "commit failed");
    return false;
  }
  return true;
}

bool OdbcConnection::Rollback() {
  if (!handles_->connected) return true;
  return Ok(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_ROLLBACK));
}

}  // namespace svc
