// The values the profile calls take and give, on a floor of their own so that
// the pure text part (profile_text.h) and the file API (profile.h) share them.
// Plain values: no calls, nothing shared between threads.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// One section with its keys and values, as a read of the whole file gives it.
struct ProfileSectionData {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

// A write (value set), a key deletion (value nullopt) or a section deletion
// (key empty).
struct ProfileChange {
  std::string section;
  std::string key;
  std::optional<std::string> value;
};

}  // namespace plat
