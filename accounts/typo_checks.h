// Values that can be stored but are most likely not what was meant: a
// profile for an account its domain does not have, an allowance that no
// period ever applies, a port the server does not have. Each comes back as a
// sentence; the tools print it as a warning and still write, or with
// --strict refuse and write nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_store.h"

namespace accounts {

// `profile` as it will be once written (section, limits). Domains are read
// from the network's domain files; an unreadable domain is warned about too.
std::vector<std::string> ProfileWarnings(const Account& profile);

// `serverPort` is "SERVER\PORT"; warns when SERVER is a machine of the
// network whose remote-access service has no such COM port. A server that is
// not found is left alone: it may be one the network does not hold.
std::vector<std::string> PortWarnings(std::string_view serverPort);

// `account` with `changes` applied over its values.
Account WithChanges(Account account, const Changes& changes);

}  // namespace accounts
