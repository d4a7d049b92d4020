#include "service/session_admin.h"

#include "common/session_admin.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "service/action_thread.h"
#include "service/port_table.h"
#include "service/ras_ports.h"
#include "service/service_context.h"

namespace svc {

std::string AnswerSessionList(ServiceContext& context, unsigned index) {
  common::SessionRow row;
  bool found = false;
  {
    auto lock = context.portTable.Lock();
    for (int i = 0, seen = 0; i < PortTable::kSessionEntries; ++i) {
      const PortEntry& e = context.portTable.Entry(i);
      if (e.start == 0 || seen++ != static_cast<int>(index)) continue;
      row.port = plat::AfterBackslash(e.port);
      row.account = e.user;
      row.machine = e.netbios.empty() ? "*" : e.netbios;
      row.address = e.address;
      row.start = e.start;
      row.deadline = e.deadline;
      found = true;
      break;
    }
  }
  if (!found) return "1";
  // Asked without the table's lock: the server may take its time.
  DWORD sent = 0, received = 0;
  if (RAS_GetTrafficBytesForPort(context.remoteAccess, context.serverName, row.port, &sent, &received) ==
      plat::ERROR_SUCCESS) {
    row.sent = sent;
    row.received = received;
  }
  return common::FormatSessionRow(row);
}

std::string DisconnectByAdministrator(ServiceContext& context, std::string_view port) {
  const std::string serverPort = context.serverName + "\\" + std::string(port);
  int index = PortTable::kSpare;
  std::int64_t start = 0;
  int previousReason = 0;
  {
    auto lock = context.portTable.Lock();
    index = context.portTable.Find(serverPort);
    if (index != PortTable::kSpare) {
      PortEntry& e = context.portTable.Entry(index);
      start = e.start;
      previousReason = e.reason;
      // In place before the hang-up can come back, so that its record says who cut it.
      e.reason = kReasonAdministrator;
    }
  }
  if (index == PortTable::kSpare || start == 0) {
    common::Trace("DisconnectByAdministrator", "No session on " + serverPort, 0);
    return "1" + std::to_string(plat::ERROR_FILE_NOT_FOUND);
  }
  common::Trace("DisconnectByAdministrator", serverPort, index);
  const bool cut = DisconnectPort(context, index, ServerPortOperations(context));
  auto lock = context.portTable.Lock();
  PortEntry& e = context.portTable.Entry(index);
  if (e.port == serverPort && e.start == start) {
    if (cut) {
      e.notifyLevel = 3;
    } else {
      e.reason = previousReason;
    }
  }
  return cut ? "0" : "1" + std::to_string(plat::ERROR_GEN_FAILURE);
}

}  // namespace svc
