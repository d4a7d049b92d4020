// One connection to a database through the ODBC driver manager: the only
// place the service speaks ODBC. Every value reaches the database as a bound
// parameter; SQL text is never built from data.
//
// Not thread-safe: one connection belongs to one thread at a time. No call
// throws; a failing call returns false and leaves the driver's diagnostics in
// error() ("[SQLSTATE] message", several joined by "; ").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace svc {

// A parameter or column value: a number, a text (bytes, passed unchanged) or NULL.
using SqlValue = std::variant<std::monostate, std::int64_t, std::string>;
// A result row: each column as text, nullopt for NULL.
using SqlRow = std::vector<std::optional<std::string>>;

class OdbcConnection {
 public:
  OdbcConnection();
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Connects to the data source `dsn` (odbc.ini) with the account and
  // password given (either may be empty). Changes are made in transactions:
  // nothing is kept until Commit().
  bool Connect(std::string_view dsn, std::string_view account, std::string_view password);
  bool connected() const;

  // Runs one statement with its parameters ('?' in `sql`).
  bool Execute(std::string_view sql, const std::vector<SqlValue>& params = {});
  // Runs one query and appends its rows to `rows`.
  bool Query(std::string_view sql, const std::vector<SqlValue>& params, std::vector<SqlRow>* rows);

  // A statement prepared once and run many times (rows of a bulk insert);
  // it belongs to the connection that prepared it and must go before it.
  class Prepared {
   public:
    Prepared();  // empty: only OdbcConnection::Prepare makes a usable one
    ~Prepared();
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

   private:
    friend class OdbcConnection;
    struct State;
    std::unique_ptr<State> state_;
  };
  std::unique_ptr<Prepared> Prepare(std::string_view sql);
  bool Run(Prepared& statement, const std::vector<SqlValue>& params);

  bool Commit();
  // Undoes the open transaction; false only when the driver refuses.
  bool Rollback();

  const std::string& error() const { return error_; }
  // For a caller whose own step failed between database calls.
  void SetError(std::string error) { error_ = std::move(error); }

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  std::string error_;
};

}  // namespace svc
