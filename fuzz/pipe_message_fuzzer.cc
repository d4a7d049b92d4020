// The pipe message: any text is tokenized without harm, and every message the
// clients build reads back with the fields it was built from.
#include <cstdint>
#include <string>

#include "common/pipe_protocol.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckBuiltMessage(const std::optional<std::string>& text, int kind, const std::string& port,
                       const std::string& user, const std::string& machine) {
  if (!text) return;
  common::ProtocolMessage m;
  const int tokens = common::TokenizeMessage(*text, &m);
  if (tokens != 7 || m.kind != kind || m.port != port || m.user != user || m.machine != machine) {
    fuzz::Fail("message \"" + fuzz::Printable(*text) + "\" reads back as port \"" +
               fuzz::Printable(m.port) + "\" user \"" + fuzz::Printable(m.user) + "\" machine \"" +
               fuzz::Printable(m.machine) + "\"");
  }
  if (text->size() > common::kMessageBufferSize) fuzz::Fail("message longer than the buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string whole(reinterpret_cast<const char*>(data), size);
  common::ProtocolMessage m;
  const int tokens = common::TokenizeMessage(whole, &m);
  if (tokens != m.tokenCount || m.longestField > size) fuzz::Fail("token count");
  common::IsUpdateMessage(whole);
  common::ReplyCode(whole);
  std::uint32_t address = 0;
  common::ReplyAddress(whole, &address);
  common::IsPlausiblePortName(whole);

  const auto f = fuzz::Fields(data, size, 5);
  CheckBuiltMessage(common::NewConnectionMessage(f[0], f[1], f[2], f[3]), 0, f[0], f[1], f[2]);
  CheckBuiltMessage(common::HangUpMessage(f[0], f[1], f[2], f[3], static_cast<long>(size)), 1, f[0],
                    f[1], f[2]);

  // Replies: the code and the address come back as formatted.
  std::int32_t value = 0;
  for (size_t i = 0; i < 4 && i < size; ++i) value = (value << 8) | data[i];
  const int code = size > 4 ? data[4] % 10 : 3;
  const std::string reply = common::FormatReply(code, value);
  if (common::ReplyCode(reply) != code) fuzz::Fail("reply code of " + reply);
  if (!common::ReplyAddress(reply, &address) || address != static_cast<std::uint32_t>(value)) {
    fuzz::Fail("reply address of " + reply);
  }
  if (common::RevertDWORD(common::RevertDWORD(value)) != value) fuzz::Fail("byte swap");
  CheckBuiltMessage(common::AddressRequestMessage(f[0], f[1], value), 2, f[0], f[1], "*");
  return 0;
}
