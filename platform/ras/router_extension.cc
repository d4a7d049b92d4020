#include "platform/ras/router_extension.h"

#include <utility>

#include "platform/ras/router_records.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"

namespace plat::ras {

namespace {

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

// The records of one call, on the caller's stack as the router builds them.
struct ConnectionRecords {
  explicit ConnectionRecords(const PortInfo& link) {
    FillConnection0({link}, Now(), &c0);
    FillConnection1({link}, &c1);
  }
  mprapi::RAS_CONNECTION_0 c0;
  mprapi::RAS_CONNECTION_1 c1;
};

struct LinkRecords {
  explicit LinkRecords(const PortInfo& link) {
    FillRouterPort0(link, Now(), &p0);
    FillRouterPort1(link, &p1);
  }
  mprapi::RAS_PORT_0 p0;
  mprapi::RAS_PORT_1 p1;
};

struct NameBuffers {
  explicit NameBuffers(const PortInfo& port) {
    CopyToWide(port.user, user, mprapi::UNLEN + 1);
    CopyToWide(port.name, portName, mprapi::MAX_PORT_NAME + 1);
  }
  WCHAR user[mprapi::UNLEN + 1];
  WCHAR portName[mprapi::MAX_PORT_NAME + 1];
};

}  // namespace

RouterAdminModule::~RouterAdminModule() {
  if (dllMain_) dllMain_(nullptr, DLL_PROCESS_DETACH, nullptr);
}

DWORD RouterAdminModule::Load(std::string_view path, std::unique_ptr<RouterAdminModule>* out,
                              std::string* why) {
  auto m = std::make_unique<RouterAdminModule>();
  const std::string name(path);
  if (const DWORD err = m->module_.Load(path); err != ERROR_SUCCESS) {
    if (err == ERROR_MOD_NOT_FOUND) {
      *why = "The administration extension " + name + " cannot be found.";
    } else {
      *why = "The administration extension " + name + " cannot be loaded: " +
             (m->module_.loaderError().empty() ? ErrorText(err) : m->module_.loaderError());
    }
    return err;
  }
  const char* names[6] = {"MprAdminAcceptNewConnection",  "MprAdminAcceptNewLink",
                          "MprAdminConnectionHangupNotification",
                          "MprAdminLinkHangupNotification", "MprAdminGetIpAddressForUser",
                          "MprAdminReleaseIpAddress"};
  void* found[6] = {};
  for (int i = 0; i < 6; ++i) {
    found[i] = m->module_.GetProcAddress(names[i]);
    if (!found[i]) {
      *why = "The administration extension " + name + " does not export " + names[i] + ".";
      return ERROR_PROC_NOT_FOUND;
    }
  }
  m->acceptConnection_ = reinterpret_cast<mprapi::PFN_MprAdminAcceptNewConnection>(found[0]);
  m->acceptLink_ = reinterpret_cast<mprapi::PFN_MprAdminAcceptNewLink>(found[1]);
  m->connectionHangup_ =
      reinterpret_cast<mprapi::PFN_MprAdminConnectionHangupNotification>(found[2]);
  m->linkHangup_ = reinterpret_cast<mprapi::PFN_MprAdminLinkHangupNotification>(found[3]);
  m->getAddress_ = reinterpret_cast<mprapi::PFN_MprAdminGetIpAddressForUser>(found[4]);
  m->releaseAddress_ = reinterpret_cast<mprapi::PFN_MprAdminReleaseIpAddress>(found[5]);
  m->describe_ =
      reinterpret_cast<PFN_AdminDescribeDecision>(m->module_.GetProcAddress(kDescribeDecisionExport));
  if (void* entry = m->module_.GetProcAddress("DllMain")) {
    auto dllMain = reinterpret_cast<DllMainFunction>(entry);
    if (!dllMain(nullptr, DLL_PROCESS_ATTACH, nullptr)) {
      *why = "The administration extension " + name + " failed to initialise.";
      return ERROR_DLL_INIT_FAILED;
    }
    m->dllMain_ = dllMain;
  }
  *out = std::move(m);
  return ERROR_SUCCESS;
}

DWORD RouterAdminModule::RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                                        bool* notifyRelease) {
  NameBuffers names(port);
  BOOL notify = FALSE;
  const DWORD result = getAddress_(names.user, names.portName, address, &notify);
  *notifyRelease = notify != FALSE;
  return result;
}

bool RouterAdminModule::AcceptConnection(const PortInfo& firstLink) {
  ConnectionRecords call(firstLink);
  return acceptConnection_(&call.c0, &call.c1) != FALSE;
}

bool RouterAdminModule::AcceptLink(const PortInfo& link) {
  LinkRecords call(link);
  return acceptLink_(&call.p0, &call.p1) != FALSE;
}

void RouterAdminModule::LinkEnded(const PortInfo& link) {
  LinkRecords call(link);
  linkHangup_(&call.p0, &call.p1);
}

void RouterAdminModule::ConnectionEnded(const PortInfo& lastLink) {
  ConnectionRecords call(lastLink);
  connectionHangup_(&call.c0, &call.c1);
}

void RouterAdminModule::ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) {
  NameBuffers names(port);
  releaseAddress_(names.user, names.portName, &address);
}

}  // namespace plat::ras
