#include "platform/ras/admin_extension.h"

#include <utility>

#include "platform/wide.h"

namespace plat::ras {

namespace {

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

// The arguments of one call, built on the caller's stack as the service does.
struct CallRecords {
  explicit CallRecords(const PortInfo& port) {
    FillRasPort1(port, &port1);
    FillRasPortStatistics(port, &statistics);
    parameters[0] = rassapi::RAS_PARAMETERS{};
  }
  rassapi::RAS_PORT_1 port1;
  rassapi::RAS_PORT_STATISTICS statistics;
  rassapi::RAS_PARAMETERS parameters[1];
};

// User and port names as the address calls receive them: the service's own
// buffers, which the module may read up to their terminators.
struct NameBuffers {
  explicit NameBuffers(const PortInfo& port) {
    CopyToWide(port.user, user, rassapi::UNLEN + 1);
    CopyToWide(port.name, portName, rassapi::RASSAPI_MAX_PORT_NAME);
  }
  WCHAR user[rassapi::UNLEN + 1];
  WCHAR portName[rassapi::RASSAPI_MAX_PORT_NAME];
};

}  // namespace

ExtensionModule::~ExtensionModule() {
  if (dllMain_) dllMain_(nullptr, DLL_PROCESS_DETACH, nullptr);
}

DWORD ExtensionModule::Load(std::string_view path, std::initializer_list<Export> exports,
                            std::string* why) {
  const std::string name(path);
  if (const DWORD err = module_.Load(path); err != ERROR_SUCCESS) {
    if (err == ERROR_MOD_NOT_FOUND) {
      *why = "The administration extension " + name + " cannot be found.";
    } else {
      *why = "The administration extension " + name + " cannot be loaded: " +
             (module_.loaderError().empty() ? ErrorText(err) : module_.loaderError());
    }
    return err;
  }
  for (const Export& e : exports) {
    if (!e.find(module_, e.name)) {
      *why = "The administration extension " + name + " does not export " + e.name + ".";
      return ERROR_PROC_NOT_FOUND;
    }
  }
  module_.Export(kDescribeDecisionExport, &describe_);
  if (void* entry = module_.GetProcAddress("DllMain")) {
    auto dllMain = reinterpret_cast<DllMainFunction>(entry);
    if (!dllMain(nullptr, DLL_PROCESS_ATTACH, nullptr)) {
      *why = "The administration extension " + name + " failed to initialise.";
      return ERROR_DLL_INIT_FAILED;
    }
    dllMain_ = dllMain;
  }
  return ERROR_SUCCESS;
}

DWORD RasAdminModule::Load(std::string_view path, std::unique_ptr<RasAdminModule>* out,
                           std::string* why) {
  auto m = std::make_unique<RasAdminModule>();
  if (const DWORD err = m->module_.Load(path,
                                        {{"RasAdminAcceptNewConnection", &m->accept_},
                                         {"RasAdminConnectionHangupNotification", &m->hangup_},
                                         {"RasAdminGetIpAddressForUser", &m->getAddress_},
                                         {"RasAdminReleaseIpAddress", &m->releaseAddress_}},
                                        why);
      err != ERROR_SUCCESS) {
    return err;
  }
  *out = std::move(m);
  return ERROR_SUCCESS;
}

std::string DescribeDecisionThrough(PFN_AdminDescribeDecision describe, const PortInfo& port,
                                    bool admitted) {
  if (!describe) return {};
  const std::string account = port.domain.empty() ? port.user : port.domain + "\\" + port.user;
  char text[512] = {};
  if (!describe(port.name.c_str(), account.c_str(), admitted ? TRUE : FALSE,
                static_cast<long long>(port.start), text, sizeof text)) {
    return {};
  }
  text[sizeof text - 1] = 0;
  std::string note(text);
  for (char& c : note) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';  // one field of one line
  }
  return note;
}

DWORD RasAdminModule::RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                                     bool* notifyRelease) {
  NameBuffers names(port);
  BOOL notify = FALSE;
  const DWORD result = getAddress_(names.user, names.portName, address, &notify);
  *notifyRelease = notify != FALSE;
  return result;
}

bool RasAdminModule::AcceptConnection(const PortInfo& port) {
  CallRecords call(port);
  return accept_(&call.port1, &call.statistics, call.parameters) != FALSE;
}

void RasAdminModule::ConnectionEnded(const PortInfo& port) {
  CallRecords call(port);
  hangup_(&call.port1, &call.statistics, call.parameters);
}

void RasAdminModule::ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) {
  NameBuffers names(port);
  releaseAddress_(names.user, names.portName, &address);
}

}  // namespace plat::ras
