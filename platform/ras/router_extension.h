// The router flavour of the administration extension: a module with the six
// MprAdmin... exports, called with the router's connection and port records
// (mprapi.h). A connection is announced once, then each of its links; at
// hang-up each link ends, then the connection.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "platform/ras/admin_extension.h"
#include "platform/ras/mprapi.h"

namespace plat::ras {

class RouterAdminModule final : public AdminExtension {
 public:
  // As RasAdminModule::Load, for the MprAdmin... exports.
  static DWORD Load(std::string_view path, std::unique_ptr<RouterAdminModule>* out,
                    std::string* why);

  DWORD RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                       bool* notifyRelease) override;
  bool AcceptConnection(const PortInfo& firstLink) override;
  bool AcceptLink(const PortInfo& link) override;
  void LinkEnded(const PortInfo& link) override;
  void ConnectionEnded(const PortInfo& lastLink) override;
  void ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) override;
  std::string DescribeDecision(const PortInfo& port, bool admitted) override {
    return module_.DescribeDecision(port, admitted);
  }

 private:
  ExtensionModule module_;
  mprapi::PFN_MprAdminAcceptNewConnection acceptConnection_ = nullptr;
  mprapi::PFN_MprAdminAcceptNewLink acceptLink_ = nullptr;
  mprapi::PFN_MprAdminConnectionHangupNotification connectionHangup_ = nullptr;
  mprapi::PFN_MprAdminLinkHangupNotification linkHangup_ = nullptr;
  mprapi::PFN_MprAdminGetIpAddressForUser getAddress_ = nullptr;
  mprapi::PFN_MprAdminReleaseIpAddress releaseAddress_ = nullptr;
};

}  // namespace plat::ras
