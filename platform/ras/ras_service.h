// The remote-access service of a machine, as the operating system runs it:
// its ports, the calls on them, the administration extension it consults,
// and the session records it writes to the System event log.
//
// A dial-in: the port is taken (connecting), the extension is asked for the
// caller's address, then whether to admit the connection; admitted, the port
// is connected, else free again. A hang-up: the session records go to the
// System log (call-back record first when the caller was called back), then
// the extension hears that the connection ended, then the port is free.
// The records come first because the extension's hang-up handling reads them.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/eventlog.h"
#include "platform/machine.h"
#include "platform/ras/admin_extension.h"
#include "platform/ras/rassvc_protocol.h"

namespace plat::ras {

// System-log records of the remote-access service.
inline constexpr DWORD kEventSessionStatistics = 20050;      // NT 4 RAS
inline constexpr DWORD kEventCallback = 20068;               // NT 4 RAS
inline constexpr DWORD kEventRouterSessionStatistics = 20048;
inline constexpr DWORD kEventRouterCallback = 20064;
// The administration extension named by DLLPath could not be used.
inline constexpr DWORD kEventAdminDllNotLoaded = 20170;

inline constexpr DWORD kDefaultLineSpeed = 28800;
// The router's first connection handle.
inline constexpr DWORD kFirstConnectionHandle = 0x00010001;

// The daemon's own diagnostic log, C:\WINNT\tracing\rassvc.log: one line per
// step, never read by the system.
void RasTrace(std::string_view text);

struct RasServiceOptions {
  std::string serviceName = "RemoteAccess";  // also the event source of its records
  RasFlavour flavour = RasFlavour::Ras;
  int ports = 4;                             // COM1 .. COMn
  std::function<std::time_t()> clock;        // seconds since 1970; tests inject one
};

// The service's name and flavour on the current machine, from its registry.
RasServiceOptions MachineRasOptions();

// The extension the machine names in DLLPath. Without DLLPath: none, silently.
// A module that is missing, cannot be loaded, lacks an export or fails to
// initialise is reported to the System log (event kEventAdminDllNotLoaded
// with the path and the reason) and the service runs without one. The router
// flavour loads the MprAdmin interface, NT 4 RAS the RasAdmin one.
std::unique_ptr<AdminExtension> LoadConfiguredExtension(const RasServiceOptions& options);

// One link of a router dial-in and whether the extension admitted it.
struct LinkResult {
  PortInfo port;
  bool admitted = false;
  std::string note;  // the extension's words on its decision (DescribeDecision)
};

class RasService {
 public:
  RasService(RasServiceOptions options, std::unique_ptr<AdminExtension> extension);

  // Sets a call up on a free port. ERROR_SUCCESS whether admitted or refused
  // (*admitted tells; *port is the port after the call). Errors, with a text
  // in *why: ERROR_INVALID_PARAMETER (a field is malformed),
  // ERROR_DEV_NOT_EXIST (no such port), ERROR_BUSY (the port is in use).
  // `*note` (when given) receives the extension's words on its decision.
  DWORD Dial(const DialRequest& request, bool* admitted, PortInfo* port, std::string* why,
             std::string* note = nullptr);

  // The router's dial-in: one connection of request.links links, on the
  // port asked for and the next free ones. The extension is asked for the
  // address, then about the connection, then about each link; each link is
  // admitted or refused on its own. *links gets every link in order. Errors
  // as Dial; ERROR_BUSY also when too few ports are free. On the RAS flavour
  // it is Dial (one link only).
  DWORD DialConnection(const DialRequest& request, std::vector<LinkResult>* links,
                       std::string* why);

  // Adds to a connected port's counters. ERROR_NOT_CONNECTED for a port
  // without a session.
  DWORD AddTraffic(std::string_view port, std::uint64_t sent, std::uint64_t received,
                   PortInfo* after, std::string* why);

  // Ends the session on a port: BeginHangUp marks it disconnecting and gives
  // the session; CompleteHangUp writes the records, tells the extension and
  // frees the port. HangUp does both. On the router a port is one link: the
  // extension hears the link end, and the connection end after its last link.
  DWORD BeginHangUp(std::string_view port, PortInfo* session, std::string* why);
  void CompleteHangUp(const PortInfo& session);
  DWORD HangUp(std::string_view port, PortInfo* session, std::string* why);

  // Hangs up every connected port (the service stops).
  void HangUpAll();

  std::vector<PortInfo> Ports() const;
  DWORD GetPort(std::string_view port, PortInfo* info, std::string* why) const;

  const RasServiceOptions& options() const { return options_; }

 private:
  struct Port {
    PortInfo info;
    bool releaseAddress = false;  // the extension asked to hear when the address is free
  };

  // Finds a port by name (case-insensitive), with mutex_ held; nullptr when
  // there is none, *why (when given) then naming the ports there are.
  const Port* FindLocked(std::string_view name, std::string* why = nullptr) const;
  Port* FindLocked(std::string_view name, std::string* why = nullptr) {
    return const_cast<Port*>(std::as_const(*this).FindLocked(name, why));
  }
  // The port a call asks for, free to take it; nullptr and the error otherwise.
  Port* ListeningLocked(std::string_view name, DWORD* err, std::string* why);
  void ClearLocked(Port* port);
  void WriteSessionRecords(const PortInfo& session, std::time_t end) const;
  rassapi::IPADDR PoolAddress(size_t index) const;
  // The lowest connection handle no port uses; with mutex_ held.
  DWORD FreeConnectionHandleLocked() const;
  DWORD DialRouter(const DialRequest& request, std::vector<LinkResult>* links, std::string* why);
  bool router() const { return options_.flavour == RasFlavour::Rras; }
  std::time_t Now() const;

  const RasServiceOptions options_;
  const std::unique_ptr<AdminExtension> extension_;
  EventSource source_;  // the System log, as options_.serviceName
  mutable std::mutex mutex_;  // guards ports_ (never held while the extension runs)
  std::vector<Port> ports_;
};

}  // namespace plat::ras
