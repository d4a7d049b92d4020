// Greetings sent to a user after admission: up to three texts chosen by the
// system data's RuleMask, with macros replaced, delivered by NET SEND.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "service/system_data.h"

namespace svc {

using plat::DWORD;

struct GreetingValues {
  std::string account;        // #UNAME
  DWORD userMaxSession = 0;   // #UMS, seconds
  DWORD userMaxTotal = 0;     // #UMT, seconds
  DWORD totalUsed = 0;        // #UCUR, seconds
  DWORD portMaxSession = 0;   // #PMS, seconds
};

// A limit in whole minutes ("90 min"), "unlimited" for 0.
std::string LimitText(DWORD seconds);

// Runs of characters with codes up to 13 become one line break; words are
// split at blanks, commas, tabs and line ends. A word whose first four
// characters are "#UMS", "#UMT", "#UCU", "#PMS" or "#UNA" (any case) becomes
// its value followed by a blank; everything else is kept.
std::string BuildGreetingText(std::string_view text, const GreetingValues& values);

// Who receives a message: the client computer, or the user part of the account
// when the computer is empty or begins with "*".
std::string MessageTarget(std::string_view machine, std::string_view account);

// A computer name a message may go to: 1 to 15 letters, digits, '-', '_' and
// '.', beginning with a letter or digit (a NetBIOS name, as the remote-access
// service reports the caller's computer).
bool IsPlausibleComputerName(std::string_view name);

// MessageTarget as one argument of a "NET SEND" command line: a user name
// holding blanks is quoted. Nothing (no message is sent) when the computer
// named is not a plausible computer name, or the user name is empty or holds
// a quote or a control character, since neither could be passed whole.
std::optional<std::string> MessageRecipient(std::string_view machine, std::string_view account);

// The "NET SEND %s %s" command lines of the greetings due: greeting 1 when its
// bit is set, 2 only when the user has a session or total limit, 3 only when
// the port has a session limit. Empty greeting files send nothing, and nothing
// is sent when MessageRecipient refuses the recipient. RuleMask and the texts
// come from `systemData`.
std::vector<std::string> GreetingCommandLines(const SystemData& systemData, std::string_view machine,
                                              const GreetingValues& values);

// Runs those command lines hidden, without waiting; failures are not noticed.
// A refused recipient is traced.
void SendGreetings(const SystemData& systemData, std::string_view machine,
                   const GreetingValues& values);

}  // namespace svc
