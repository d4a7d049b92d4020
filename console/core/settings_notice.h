// Telling the servers of new settings lives with the settings, in accounts/;
// these are the console's names for it.
#pragma once

#include "accounts/settings_save.h"

namespace pladmin {

using accounts::NoticeFailures;
using accounts::NoticeSummary;
using accounts::NotifyServer;
using accounts::NotifyServers;
using accounts::UpdateNotice;

}  // namespace pladmin
