// The messenger: short texts sent to a computer or a user of the network
// (NET SEND), kept in the recipient's inbox for a person to read
// (`net messages NAME`). An inbox is <network>/messages/<name>.txt.
//
// Thread safety: all calls; an inbox is appended with one write per message.
// Out parameters on failure: ReadNetMessages leaves an empty list.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

struct NetMessage {
  std::time_t sent = 0;
  std::string from;  // the sending computer
  std::string to;    // the name it was sent to, as given
  std::string text;  // exactly as sent
};

// NetMessageBufferSend: delivers `text` to `to` (a computer or user name,
// compared ignoring case). ERROR_INVALID_PARAMETER for an empty name or one
// holding a path separator; ERROR_PATH_NOT_FOUND when there is no network.
DWORD NetMessageBufferSend(std::string_view to, std::string_view text);

// The messages in `to`'s inbox, oldest first (none when it is empty).
DWORD ReadNetMessages(std::string_view to, std::vector<NetMessage>* messages);

}  // namespace plat
