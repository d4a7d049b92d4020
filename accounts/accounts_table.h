// The accounts as one table, the same in pluser list and plreport users:
// limits as they are typed (1h30m, 10h/week), usage as h:mm:ss, addresses
// dotted, times in ISO 8601. With account names of up to 12 characters it
// fits 120 columns; pluser show has every value of one account.
#pragma once

#include <vector>

#include "accounts/account_store.h"
#include "platform/tools/text_table.h"

namespace accounts {

pltools::Table AccountsTable(const std::vector<Account>& accounts);

}  // namespace accounts
