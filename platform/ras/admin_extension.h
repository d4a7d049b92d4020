// The administration extension of the remote-access service: the module named
// by DLLPath under Software\Microsoft\RAS\AdminDLL, which the service asks
// about every caller. The service talks to it through AdminExtension; the
// NT 4 RAS flavour (RasAdmin... exports) is RasAdminModule, the router's
// (MprAdmin... exports) RouterAdminModule in router_extension.h. Without a usable
// module the service runs as it does without an extension: every caller is
// admitted with the proposed address.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/module.h"
#include "platform/ras/rassapi.h"
#include "platform/ras/rassvc_protocol.h"

namespace plat::ras {

inline constexpr const char* kAdminDllKey = "Software\\Microsoft\\RAS\\AdminDLL";
inline constexpr const char* kAdminDllValue = "DLLPath";

// An optional export of an administration extension of either flavour, this
// remote-access service's own: the extension's words on what it decided about
// the caller `account` (DOMAIN\user) on `portName` whose call began at
// `callStart` (seconds since 1970), for the tools that play callers. The text
// is printed right after "admitted" or "refused" (for example
// " (4: User already connected)"). TRUE with a NUL-terminated text, cut to
// `textSize`, when it has something to say.
inline constexpr const char* kDescribeDecisionExport = "AdminDescribeDecision";
using PFN_AdminDescribeDecision = BOOL (*)(const char* portName, const char* account,
                                           BOOL admitted, long long callStart, char* text,
                                           DWORD textSize);

// Calls may come from several threads at once; implementations keep no
// per-call state.
class AdminExtension {
 public:
  virtual ~AdminExtension() = default;

  // While the call is set up: the address for the caller. *address holds the
  // proposed one (remote-access order) and receives the one to use.
  // Non-zero: no address can be given and the call is refused.
  virtual DWORD RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                               bool* notifyRelease) = 0;
  // Once the connection stands: true admits it. On the router `port` is the
  // connection's first link.
  virtual bool AcceptConnection(const PortInfo& port) = 0;
  // Router only: each link of an admitted connection; true admits the link.
  virtual bool AcceptLink(const PortInfo& /*link*/) { return true; }
  // Router only: a link has ended (its counters are final).
  virtual void LinkEnded(const PortInfo& /*link*/) {}
  // The session has ended (its counters are final). On the router: the
  // connection, after its last link ended; `port` is that link.
  virtual void ConnectionEnded(const PortInfo& port) = 0;
  // The address is free again; only called when RequestAddress asked for it.
  virtual void ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) = 0;
  // What the extension says of its decision on `port` (kDescribeDecisionExport);
  // empty when it says nothing. Never a tab or a line break.
  virtual std::string DescribeDecision(const PortInfo& /*port*/, bool /*admitted*/) { return {}; }
};

// Calls a module's kDescribeDecisionExport (null: says nothing).
std::string DescribeDecisionThrough(PFN_AdminDescribeDecision describe, const PortInfo& port,
                                    bool admitted);

// The loaded module behind either flavour: the file, its DllMain (called on
// load and unload as the Windows loader would, when exported) and the
// optional kDescribeDecisionExport.
class ExtensionModule {
 public:
  // A required export and the function pointer its address goes to.
  struct Export {
    template <typename Function>
    Export(const char* name, Function** slot)
        : name(name), find([slot](const Module& m, const char* n) { return m.Export(n, slot); }) {}
    const char* name;
    std::function<bool(const Module&, const char*)> find;
  };
  ExtensionModule() = default;
  ~ExtensionModule();
  ExtensionModule(const ExtensionModule&) = delete;
  ExtensionModule& operator=(const ExtensionModule&) = delete;

  // Loads the module at `path` (a Windows path) and fills every export's
  // slot; each is required. On failure returns ERROR_MOD_NOT_FOUND,
  // ERROR_BAD_EXE_FORMAT, ERROR_PROC_NOT_FOUND or ERROR_DLL_INIT_FAILED and
  // says why in *why. Call once.
  DWORD Load(std::string_view path, std::initializer_list<Export> exports, std::string* why);
  std::string DescribeDecision(const PortInfo& port, bool admitted) const {
    return DescribeDecisionThrough(describe_, port, admitted);
  }

 private:
  Module module_;
  PFN_AdminDescribeDecision describe_ = nullptr;
  using DllMainFunction = BOOL (*)(void* instance, DWORD reason, void* reserved);
  DllMainFunction dllMain_ = nullptr;
};

class NoAdminExtension final : public AdminExtension {
 public:
  DWORD RequestAddress(const PortInfo&, rassapi::IPADDR*, bool* notifyRelease) override {
    *notifyRelease = false;
    return ERROR_SUCCESS;
  }
  bool AcceptConnection(const PortInfo&) override { return true; }
  void ConnectionEnded(const PortInfo&) override {}
  void ReleaseAddress(const PortInfo&, rassapi::IPADDR) override {}
};

// A module with the four RasAdmin... exports, called with the NT 4
// structures.
class RasAdminModule final : public AdminExtension {
 public:
  // Loads the module at `path`, as ExtensionModule::Load.
  static DWORD Load(std::string_view path, std::unique_ptr<RasAdminModule>* out,
                    std::string* why);

  DWORD RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                       bool* notifyRelease) override;
  bool AcceptConnection(const PortInfo& port) override;
  void ConnectionEnded(const PortInfo& port) override;
  void ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) override;
  std::string DescribeDecision(const PortInfo& port, bool admitted) override {
    return module_.DescribeDecision(port, admitted);
  }

 private:
  ExtensionModule module_;
  rassapi::PFN_RasAdminAcceptNewConnection accept_ = nullptr;
  rassapi::PFN_RasAdminConnectionHangupNotification hangup_ = nullptr;
  rassapi::PFN_RasAdminGetIpAddressForUser getAddress_ = nullptr;
  rassapi::PFN_RasAdminReleaseIpAddress releaseAddress_ = nullptr;
};

inline constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;

}  // namespace plat::ras
