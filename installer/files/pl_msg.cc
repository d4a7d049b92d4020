// pl_msg.dll: the texts of the Portulon service's event identifiers, the
// message file that EventMessageFile of the event source "Portulon" names.
// An event viewer loads it and asks EventMessageText for the text of an
// identifier, then appends the record's strings.
#include <cstdint>

namespace {

struct EventText {
  std::uint32_t id;
  const char* text;
};

constexpr EventText kTexts[] = {
    {1, "Data folder access error or transaction failure"},
    {3, "Connection accepted"},
    {4, "Connection refused"},
    {5, "Forced disconnect"},
    {6, "Static address in use"},
    {10, "Service started"},
    {11, "Service failed to start"},
    {12, "Service stopped"},
    {13, "Cannot record"},
    {14, "Recording again"},
    {15, "Sessions cannot be cut"},
    {16, "Sessions can be cut again"},
    {17, "Shared settings kept"},
    {18, "Shared settings read again"},
    {19, "Data folder readable again"},
    {20, "Database export failed"},
    {21, "Daily status mail failed"},
    {22, "Daily status mail sent, but not recorded"},
};

}  // namespace

// The text of event `id` (its low 16 bits: the upper ones carry severity and
// facility); nullptr for an identifier the service does not report.
extern "C" __attribute__((visibility("default"))) const char* EventMessageText(std::uint32_t id) {
  for (const auto& t : kTexts) {
    if (t.id == (id & 0xFFFF)) return t.text;
  }
  return nullptr;
}
