// Why a session was cut: the reason kept with a session, written into its
// hang-up record, and the words a client is told when the server can carry
// them (OpenVPN's "HALT" message).
#pragma once

#include <string>

namespace common {

inline constexpr int kCutReasonNone = 0;
inline constexpr int kCutReasonPortMaxSession = 1;
inline constexpr int kCutReasonUserMaxSession = 2;
inline constexpr int kCutReasonUserMaxTotal = 3;
// Same number as the refusal "No more time this period".
inline constexpr int kCutReasonPeriodAllowance = 6;
inline constexpr int kCutReasonIdle = 9;
// An administrator ended the session (plreport disconnect, the console).
inline constexpr int kCutReasonAdministrator = 10;
// The account's ExpiryDate ended at midnight.
inline constexpr int kCutReasonAccountExpired = 11;

// "Portulon: session time limit reached", "Portulon: disconnected by the
// administrator", ...; "Portulon: disconnected" for a reason it does not know.
std::string CutReasonMessage(int reason);

}  // namespace common
