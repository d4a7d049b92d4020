// Dial-ins without a modem: the new-connection and hang-up messages a hook
// module would send, sent to a server's pipe, and the service's decision in
// words; and a message to a user (NET SEND).
#pragma once

#include <cstdint>
#include <string>

#include "accounts/account_store.h"

namespace accounts {

struct SimulatedCall {
  std::string server;          // "" = this machine
  std::string port = "COM1";   // as the remote-access service names it
  std::string account;         // DOMAIN\user
  std::string machine = "*";   // the caller's computer
  bool hangUp = false;         // false: a new connection
  long duration = 0;           // hang-up: seconds
  std::int64_t start = 0;      // seconds since 1970; 0 = now
};

struct SimulationResult {
  Outcome outcome;      // the message could not be built or sent
  bool admitted = false;
  std::string reply;    // the service's reply text
  std::string words;    // "DOM\ann admitted on SRV1\COM1", "... refused (4: User already connected)"
};

// Sends the message and waits for the reply. `dataFolder` (the server's, may
// be "") lets a refusal be explained from the day's log.
SimulationResult Simulate(const SimulatedCall& call, const std::string& dataFolder);

// NET SEND `text` to a user or computer name.
Outcome SendMessageTo(const std::string& recipient, const std::string& text);

}  // namespace accounts
