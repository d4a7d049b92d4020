// pl_msg.dll: the texts of the Portulon service's event identifiers, the
// message file that EventMessageFile of the event source "Portulon" names.
// An event viewer loads it and asks EventMessageText for the text of an
// identifier, then appends the record's strings.
#include <cstdint>

#include "common/event_ids.h"

// The text of event `id` (its low 16 bits: the upper ones carry severity and
// facility); nullptr for an identifier the service does not report.
extern "C" __attribute__((visibility("default"))) const char* EventMessageText(std::uint32_t id) {
  for (const auto& t : common::kEventTexts) {
    if (t.id == (id & 0xFFFF)) return t.text;
  }
  return nullptr;
}
