// What an accepted status mail still owes the data folder when its
// bookkeeping could not be written there: the counts it reported (to be taken
// off svc_status.dat) and its time (DailyStatusEmailLastSent). It is kept in
// this machine's registry, which does not share the data folder's outages, so
// that neither the next mail nor a restarted service counts or sends twice:
//
//   Service\StatusMailSentUnrecorded    DWORD     time of the mail, seconds since 1970
//   Service\StatusMailCountsUnrecorded  MULTI_SZ  "Sessions=n", "Denied=n",
//                                                 "Disconnect=n", then "<account>=n"
//
// Both values go as soon as what they hold is written to the data folder.
#pragma once

#include <ctime>

#include "platform/win_types.h"
#include "service/session_log.h"
#include "service/system_data.h"

namespace svc {

struct ServiceContext;

struct UnrecordedMail {
  std::time_t sent = 0;  // 0: DailyStatusEmailLastSent is written
  StatusCounters counts;  // all zero and no users: the counters are written

  bool HasCounts() const;
  bool Empty() const { return sent == 0 && !HasCounts(); }
};

UnrecordedMail ReadUnrecordedMail();
// Replaces what is owed (an empty one removes both values).
plat::DWORD WriteUnrecordedMail(const UnrecordedMail& owed);

// Writes what is owed to the data folder; what still cannot be written stays
// owed. True when nothing is owed any more.
bool SettleUnrecordedMail(const ServiceContext& context);

// `counters` less what an accepted mail already reported: an account left
// with 0 or less is dropped.
StatusCounters LessReported(StatusCounters counters, const StatusCounters& reported);
// `a` plus `b`, account by account.
StatusCounters AddCounts(StatusCounters a, const StatusCounters& b);

// The mail settings with DailyStatusEmailLastSent as the last accepted mail
// left it, whether written or still owed.
StatusMailSettings ReadStatusMailState(const ServiceContext& context);

}  // namespace svc
