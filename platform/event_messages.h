// The texts of event identifiers, as each event source provides them: the
// module named by the value EventMessageFile under the source's key
// (System\CurrentControlSet\Services\EventLog\<log>\<source>) exports
// kEventMessageTextExport. This is how an event viewer shows words for a
// product's identifiers without knowing the product.
//
// Thread safety: all calls (each loads the module for itself). Out parameters
// on failure: none are written; a text that cannot be had reads as empty.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "platform/win_types.h"

namespace plat {

// const char* EventMessageText(std::uint32_t eventId): the text of the
// identifier (the module looks at its low 16 bits), nullptr when it has none.
inline constexpr const char* kEventMessageTextExport = "EventMessageText";
using PFN_EventMessageText = const char* (*)(std::uint32_t eventId);

// Message files loaded once and kept while the object lives. Safe from
// several threads.
class EventMessageFiles {
 public:
  // The text of `eventId` of `source` in the log `log` of the machine `root`;
  // empty when the source names no message file, the file cannot be loaded
  // or has no text for the identifier.
  std::string Text(const std::string& root, std::string_view log, std::string_view source,
                   DWORD eventId);

 private:
  struct Loaded {
    Module module;
    PFN_EventMessageText text = nullptr;
  };
  std::mutex mutex_;  // guards files_
  // "root|log|source" (lower case) -> the module, or null when there is none.
  std::map<std::string, std::unique_ptr<Loaded>> files_;
};

}  // namespace plat
