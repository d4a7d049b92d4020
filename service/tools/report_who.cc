// plreport who: the sessions on the server now, on every flavour of remote
// access, as plsvc's port table holds them; on an OpenVPN server the
// adapter adds each client's certificate name, tunnel address and OpenVPN's
// own byte counts. plreport disconnect: an administrator's cut.
#include <cstdio>
#include <ctime>

#include "common/log_record.h"
#include "common/port_ops_client.h"
#include "common/session_admin.h"
#include "platform/errors.h"
#include "platform/sysinfo.h"
#include "service/tools/report_commands.h"
#include "platform/tools/text_table.h"

namespace plreport {

namespace {

using pltools::Table;

// What the OpenVPN adapter of this machine knows of a port's client; false
// where no adapter answers (RAS, RRAS) or the port is not its.
bool AdapterClient(const std::string& port, common::PortOpsReply* client) {
  return common::AskPortOps("", common::PortOp::Client, port, client) == plat::ERROR_SUCCESS;
}

// The adapter's own sessions, for when plsvc does not answer: nothing is
// known of their deadlines then.
plat::DWORD AdapterSessions(std::vector<common::SessionRow>* rows) {
  std::vector<common::PortOpsReply> sessions;
  const plat::DWORD err = common::ListPortOpsSessions("", &sessions);
  for (const common::PortOpsReply& s : sessions) {
    common::SessionRow row;
    row.port = s.port;
    row.account = s.account;
    row.machine = "*";
    row.start = s.start;
    row.deadline = -1;
    rows->push_back(row);
  }
  return err;
}

}  // namespace

int RunWho(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  if (!TakeCommonOptions(report, true) || !tool.RejectUnknownOptions()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  if (!tool.RequireMachine()) return tool.exitCode();
  const std::string server = report.filters.server;
  std::vector<common::SessionRow> rows;
  const plat::DWORD err = common::ListSessions(server, &rows);
  bool fromAdapter = false;
  if (err != plat::ERROR_SUCCESS) {
    rows.clear();
    if (!server.empty() || AdapterSessions(&rows) != plat::ERROR_SUCCESS) {
      return tool.Fail(err, "Portulon's service (plsvc) on " +
                                (server.empty() ? std::string("this machine") : server));
    }
    fromAdapter = true;
  }
  const std::time_t now = plat::Now();
  Table table({{"Port"}, {"Account"}, {"Address"}, {"Client"}, {"Since"},
               {"Bytes in", true}, {"Bytes out", true}, {"Time left", true}});
  for (common::SessionRow& r : rows) {
    if (!report.filters.Matches(r.account, report.filters.server, r.port)) continue;
    std::string address = common::MakeIPString(static_cast<std::uint32_t>(r.address));
    common::PortOpsReply client;
    if (server.empty() && AdapterClient(r.port, &client)) {
      // OpenVPN's counts are the session's own, uncut to 32 bits.
      r.sent = static_cast<std::int64_t>(client.sent);
      r.received = static_cast<std::int64_t>(client.received);
      if (address.empty() && client.address != "-") address = client.address;
      if (r.machine == "*") r.machine = client.commonName;
    }
    std::string left = "none";
    if (r.deadline < 0) left = "?";
    else if (r.deadline > 0) left = Duration(r.deadline > now ? static_cast<std::uint64_t>(r.deadline - now) : 0);
    table.AddRow({r.port, r.account, address, r.machine == "*" ? "" : r.machine,
                  pltools::IsoLocalTime(static_cast<std::time_t>(r.start)),
                  r.received < 0 ? "?" : std::to_string(r.received),
                  r.sent < 0 ? "?" : std::to_string(r.sent), left});
  }
  if (report.format == pltools::OutputFormat::Table) {
    std::printf("Sessions on %s: %zu%s\n\n", server.empty() ? "this server" : server.c_str(),
                table.rows(),
                fromAdapter ? " (plsvc does not answer: from the OpenVPN adapter, no deadlines)" : "");
  }
  table.Print(stdout, report.format);
  return pltools::kExitSuccess;
}

int RunDisconnect(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  std::string server;
  tool.TakeOption("--server", &server);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  if (tool.args().size() != 1) return tool.UsageError("disconnect takes one PORT");
  if (!tool.RequireMachine()) return tool.exitCode();
  const std::string port = tool.args()[0];
  if (const plat::DWORD err = common::DisconnectSession(server, port); err != plat::ERROR_SUCCESS) {
    return tool.Fail(err, err == plat::ERROR_FILE_NOT_FOUND ? "no session on " + port
                                                             : "disconnect " + port);
  }
  std::printf("%s: disconnected by the administrator\n", port.c_str());
  return pltools::kExitSuccess;
}

}  // namespace plreport
