// Reports to the event log under the source "Portulon".
#pragma once

#include "platform/win_types.h"

namespace svc {

// Event identifiers of the source "Portulon".
inline constexpr plat::DWORD kEventShareAccessFailed = 1;
inline constexpr plat::DWORD kEventConnectionAccepted = 3;
inline constexpr plat::DWORD kEventConnectionRefused = 4;
inline constexpr plat::DWORD kEventForcedDisconnect = 5;
inline constexpr plat::DWORD kEventStarted = 10;
inline constexpr plat::DWORD kEventStartFailed = 11;
inline constexpr plat::DWORD kEventStopped = 12;
// Reporting: "Database export failed" / "Daily status mail failed", and the reason.
inline constexpr plat::DWORD kEventExportFailed = 20;
inline constexpr plat::DWORD kEventStatusMailFailed = 21;

// Error type when `error` is non-zero, else information; category 0; `count`
// (0, 1, 2 or 3) of the texts. The source is registered on first use and kept
// for the life of the process (per machine, so tests may switch machines);
// when it cannot be registered nothing is reported.
void ReportToEventLog(int error, plat::DWORD eventId, const char* first, const char* second,
                      int count, const char* third = nullptr);

}  // namespace svc
