// The adapter's settings: registry values under
// HKLM\<kOpenVpnAdapterKey>.
#pragma once

#include <optional>
#include <string>

#include "common/ras_kind.h"
#include "platform/win_types.h"

namespace ovpn {

using common::kOpenVpnAdapterKey;

struct AdapterSettings {
  // Management: OpenVPN's management socket, a path or "127.0.0.1:PORT".
  std::string management = "/run/openvpn-server/portulon-management.sock";
  // Domain: the account Portulon sees is Domain\name.
  std::string domain;
  // NameFrom: "common_name" (the certificate's, the default) or "username"
  // (what OpenVPN's PAM plugin checked). Any other value reads as the default.
  std::string nameFrom = "common_name";
  // UsernameVerified: 1 only where OpenVPN itself checks every username
  // (its PAM plugin or auth-user-pass-verify, without auth-user-pass-optional).
  // Otherwise a username other than the certificate's name is refused.
  bool usernameVerified = false;
  // ManagementRelay: the local socket that passes the administrator's
  // status, kill and log on to OpenVPN; "none" turns it off.
  std::string managementRelay = "/run/portulon/openvpn-management.sock";
  // Netmask: pushed with a fixed address ("ifconfig-push ADDR MASK").
  std::string netmask = "255.255.255.0";
  // Ports: how many clients may be connected at once (VPN1 .. VPNn), at most 250.
  plat::DWORD ports = common::kOpenVpnDefaultPorts;
  // PortPrefix: the ports' names are this and the slot number.
  std::string portPrefix = common::kOpenVpnDefaultPortPrefix;
};

// Reads the settings of the current machine; missing values keep the defaults.
AdapterSettings ReadAdapterSettings();

// The account Portulon sees for a client OpenVPN names `name`: Domain\name
// (the name alone without a domain). Nothing, with *why said, for an account
// Portulon refuses (common::AccountNameProblem: empty, longer than a session
// record holds, holding a comma, '?', '*' or a control character). Inner
// blanks and backslashes are kept: they are the account's own.
std::optional<std::string> AccountFor(const AdapterSettings& settings, const std::string& name,
                                      std::string* why = nullptr);

// The name a client is checked under: its certificate's common name, or with
// NameFrom=username the username it sent (the common name when it sent
// none). Nothing when that username is not verified: it differs from the
// certificate's name and OpenVPN is not said to check usernames, so that no
// client is decided under a name it merely claims.
std::optional<std::string> NameToCheck(const AdapterSettings& settings, const std::string& username,
                                       const std::string& commonName);

}  // namespace ovpn
