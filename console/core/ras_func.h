// The remote-access administration interfaces as the console uses them:
// CRASFunc loads RASSAPI.DLL (Windows NT 4 RAS), CRRASFunc loads the
// port-data module _pladmin.dll and MPRAPI.DLL (Windows 2000 RRAS). Both load
// their modules by name on first use and may be called from every fetcher
// thread at once. Results are Win32 codes (0 = success).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/server.h"
#include "platform/module.h"
#include "platform/ras/mprapi.h"
#include "platform/ras/port_data.h"
#include "platform/ras/rassapi.h"
#include "platform/win_types.h"

namespace pladmin {

// The port list of one server as a fetch reads it.
struct PortListing {
  int total = 0;
  int inUse = 0;
  std::vector<PortEntry> ports;  // at most kMaxPorts; totals count every port
};

class CRASFunc {
 public:
  // RasAdminPortEnum on "\\<server>": every port's name, user and start.
  plat::DWORD PortEnum(std::string_view server, PortListing* listing);
  // RasAdminPortGetInfo: the session's traffic and the caller's IP address.
  plat::DWORD PortDetails(std::string_view server, PortEntry* port);
  // RasAdminPortDisconnect.
  plat::DWORD PortDisconnect(std::string_view server, std::string_view port);

 private:
  plat::DWORD Load();

  std::mutex mutex_;  // guards the loading below; the functions themselves are thread-safe
  bool tried_ = false;
  plat::DWORD loadError_ = 0;
  plat::Module module_;
  plat::rassapi::PFN_RasAdminPortEnum portEnum_ = nullptr;
  plat::rassapi::PFN_RasAdminPortGetInfo portGetInfo_ = nullptr;
  plat::rassapi::PFN_RasAdminPortDisconnect portDisconnect_ = nullptr;
  plat::rassapi::PFN_RasAdminFreeBuffer freeBuffer_ = nullptr;
};

class CRRASFunc {
 public:
  // RRAS_Init; false when the module or the router interface is not at hand.
  bool Init();
  // RRAS_GetNumberOfPorts, RRAS_UpdatePortData and RRAS_GetPortData for each
  // port. The module keeps one listing per process, so the whole sequence
  // runs under one lock: two fetchers never read each other's listing.
  // Returns 0, or the state the failure leaves (kStateRrasInitError,
  // kStateRrasReadFailure).
  int ReadPorts(std::string_view server, PortListing* listing);
  // The traffic of every port in use, through MPRAPI.DLL; ports not found keep -1.
  plat::DWORD ReadBytes(std::string_view server, std::vector<PortEntry>* ports);
  // RRAS_Init then RRAS_DisconnectPort.
  plat::DWORD DisconnectPort(std::string_view server, std::string_view port);

 private:
  bool LoadPortData();
  bool LoadRouterApi();

  std::mutex loadMutex_;     // guards the modules and function pointers while they load
  std::mutex listingMutex_;  // held from RRAS_UpdatePortData to the last RRAS_GetPortData
  bool triedPortData_ = false, triedRouter_ = false;
  plat::Module portData_, router_;
  plat::portdata::PFN_RRAS_Init init_ = nullptr;
  plat::portdata::PFN_RRAS_DisconnectPort disconnect_ = nullptr;
  plat::portdata::PFN_RRAS_GetNumberOfPorts numberOfPorts_ = nullptr;
  plat::portdata::PFN_RRAS_UpdatePortData updatePortData_ = nullptr;
  plat::portdata::PFN_RRAS_GetPortData getPortData_ = nullptr;
  plat::mprapi::PFN_MprAdminServerConnect serverConnect_ = nullptr;
  plat::mprapi::PFN_MprAdminServerDisconnect serverDisconnect_ = nullptr;
  plat::mprapi::PFN_MprAdminPortEnum portEnum_ = nullptr;
  plat::mprapi::PFN_MprAdminPortGetInfo portGetInfo_ = nullptr;
  plat::mprapi::PFN_MprAdminBufferFree bufferFree_ = nullptr;
};

// The ports of a server whose remote-access service is the OpenVPN adapter:
// the names from the adapter's key, the sessions and their traffic from its
// port-operations pipe.
class COpenVpnFunc {
 public:
  plat::DWORD ReadPorts(std::string_view server, PortListing* listing);
  plat::DWORD DisconnectPort(std::string_view server, std::string_view port);
};

// The server's remote-access kind (kKindRas, kKindRras, kKindOpenVpn), read
// as the service reads its own; -1 when the machine's version cannot be read.
int GetRemoteAccessKind(std::string_view server);

// "\\SERVER" for a server named with or without the backslashes.
std::string UncServerName(std::string_view server);

}  // namespace pladmin
