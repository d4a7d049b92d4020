// sample_msg.dll: a message file for the event log tests, as a product ships
// one for its event source.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) const char* EventMessageText(std::uint32_t id) {
  switch (id & 0xFFFF) {
    case 3: return "Connection accepted";
    case 10: return "Service started";
    case 12: return "Service stopped";
    default: return nullptr;
  }
}
