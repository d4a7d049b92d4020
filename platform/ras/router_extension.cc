#include "platform/ras/router_extension.h"

#include <utility>

#include "platform/ras/router_records.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"

namespace plat::ras {

namespace {

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

DWORD RouterAdminModule::Load(std::string_view path, std::unique_ptr<RouterAdminModule>* out,
                              std::string* why) {
  auto m = std::make_unique<RouterAdminModule>();
  if (const DWORD err =
          m->module_.Load(path,
                          {{"MprAdminAcceptNewConnection", &m->acceptConnection_},
                           {"MprAdminAcceptNewLink", &m->acceptLink_},
                           {"MprAdminConnectionHangupNotification", &m->connectionHangup_},
                           {"MprAdminLinkHangupNotification", &m->linkHangup_},
                           {"MprAdminGetIpAddressForUser", &m->getAddress_},
                           {"MprAdminReleaseIpAddress", &m->releaseAddress_}},
                          why);
      err != ERROR_SUCCESS) {
    return err;
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
