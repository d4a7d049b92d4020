// Reports to the event log under the source "Portulon".
#pragma once

#include "platform/win_types.h"

namespace svc {

// Event identifiers of the source "Portulon".
inline constexpr plat::DWORD kEventShareAccessFailed = 1;
inline constexpr plat::DWORD kEventConnectionAccepted = 3;
inline constexpr plat::DWORD kEventConnectionRefused = 4;
inline constexpr plat::DWORD kEventForcedDisconnect = 5;
// A static address not handed out: a live session on another port holds it.
inline constexpr plat::DWORD kEventAddressInUse = 6;
inline constexpr plat::DWORD kEventStarted = 10;
inline constexpr plat::DWORD kEventStartFailed = 11;
inline constexpr plat::DWORD kEventStopped = 12;
// Supervision cannot disconnect on this server (error) / can again (information).
inline constexpr plat::DWORD kEventCannotDisconnect = 15;
inline constexpr plat::DWORD kEventDisconnectsAgain = 16;
// portulon.hw could not be read: its last settings stay (error) / read again (information).
inline constexpr plat::DWORD kEventSharedSettingsKept = 17;
inline constexpr plat::DWORD kEventSharedSettingsRead = 18;
// The data folder can be read again after event 1 (information), with the count.
inline constexpr plat::DWORD kEventDataFolderBack = 19;
// Reporting: "Database export failed" / "Daily status mail failed", and the reason.
inline constexpr plat::DWORD kEventExportFailed = 20;
inline constexpr plat::DWORD kEventStatusMailFailed = 21;
// A status mail was accepted but its bookkeeping could not be written.
inline constexpr plat::DWORD kEventStatusMailUnrecorded = 22;

// Error type when `error` is non-zero, else information; category 0; `count`
// (0, 1, 2 or 3) of the texts. The source is registered on first use and kept
// for the life of the process (per machine, so tests may switch machines);
// when it cannot be registered nothing is reported.
void ReportToEventLog(int error, plat::DWORD eventId, const char* first, const char* second,
                      int count, const char* third = nullptr);

}  // namespace svc
