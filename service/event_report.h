// Reports to the event log under the source "Portulon".
#pragma once

#include "common/event_ids.h"
#include "platform/win_types.h"

namespace svc {

// Error type when `error` is non-zero, else information; category 0; `count`
// (0, 1, 2 or 3) of the texts. The source is registered on first use and kept
// for the life of the process (per machine, so tests may switch machines);
// when it cannot be registered nothing is reported.
void ReportToEventLog(int error, plat::DWORD eventId, const char* first, const char* second,
                      int count, const char* third = nullptr);

}  // namespace svc
