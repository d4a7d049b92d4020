// The form the service keeps portulon.usr in, so that recording a session
// changes even a large users file where it stands: every account's section
// holds each usage key, its value in a field of kUsageWidth characters. A
// file written by hand, by pluser or by an older version is brought into this
// form by the first of the service's writes that has to replace it anyway.
#pragma once

#include "platform/profile.h"

namespace svc {

// Accounts' sections only: the "+DOMAIN\Group" profiles carry no usage. A
// missing usage key reads as 0 to the service and to the administration
// tools alike, so it is added as "0".
const plat::ProfileLayout& UsageLayout();

}  // namespace svc
