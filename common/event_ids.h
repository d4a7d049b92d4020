// The event identifiers of the source "Portulon" and their texts, which the
// message file pl_msg.dll serves. Every program that reports under the source
// takes its ids from here; an id cannot be declared without its text.
#pragma once

#include "platform/win_types.h"

// X(name, id, text), in the order of the ids.
#define PORTULON_EVENTS(X)                                                            \
  X(kEventShareAccessFailed, 1, "Data folder access error or transaction failure")    \
  X(kEventConnectionAccepted, 3, "Connection accepted")                               \
  X(kEventConnectionRefused, 4, "Connection refused")                                 \
  X(kEventForcedDisconnect, 5, "Forced disconnect")                                   \
  /* A static address not handed out: a live session on another port holds it. */    \
  X(kEventAddressInUse, 6, "Static address in use")                                   \
  X(kEventStarted, 10, "Service started")                                             \
  X(kEventStartFailed, 11, "Service failed to start")                                 \
  X(kEventStopped, 12, "Service stopped")                                             \
  /* A shared file cannot be written (error) / can again (information). */            \
  X(kEventCannotRecord, 13, "Cannot record")                                          \
  X(kEventRecordingAgain, 14, "Recording again")                                      \
  /* Supervision cannot disconnect on this server (error) / can again. */             \
  X(kEventCannotDisconnect, 15, "Sessions cannot be cut")                             \
  X(kEventDisconnectsAgain, 16, "Sessions can be cut again")                          \
  /* portulon.hw could not be read: its last settings stay / read again. */           \
  X(kEventSharedSettingsKept, 17, "Shared settings kept")                             \
  X(kEventSharedSettingsRead, 18, "Shared settings read again")                       \
  /* The data folder can be read again after event 1, with the count. */              \
  X(kEventDataFolderBack, 19, "Data folder readable again")                           \
  X(kEventExportFailed, 20, "Database export failed")                                 \
  X(kEventStatusMailFailed, 21, "Daily status mail failed")                           \
  /* A status mail was accepted but its bookkeeping could not be written. */          \
  X(kEventStatusMailUnrecorded, 22, "Daily status mail sent, but not recorded")       \
  /* The near-live export reaches the database again after event 20. */               \
  X(kEventExportAgain, 23, "Database export works again")

namespace common {

#define PORTULON_EVENT_ID(name, id, text) inline constexpr plat::DWORD name = id;
PORTULON_EVENTS(PORTULON_EVENT_ID)
#undef PORTULON_EVENT_ID

// Event 1 as the hook modules and the adapter report it (a call the service
// did not answer) and as the collector does (a server it could not ask).
inline constexpr plat::DWORD kEventTransactionFailed = kEventShareAccessFailed;
inline constexpr plat::DWORD kEventEnumerationFailed = kEventShareAccessFailed;

struct EventText {
  plat::DWORD id;
  const char* text;
};

inline constexpr EventText kEventTexts[] = {
#define PORTULON_EVENT_TEXT(name, id, text) {id, text},
    PORTULON_EVENTS(PORTULON_EVENT_TEXT)
#undef PORTULON_EVENT_TEXT
};

consteval bool EventIdsUnique() {
  for (const EventText& a : kEventTexts) {
    for (const EventText& b : kEventTexts) {
      if (&a != &b && a.id == b.id) return false;
    }
  }
  return true;
}
static_assert(EventIdsUnique(), "two events share an id");

}  // namespace common
