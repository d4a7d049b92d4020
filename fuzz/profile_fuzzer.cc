// Profile (INI) text through the platform's grammar and edits, without files:
// any text parses without harm, a write changes only what it was asked to
// change, and what a write puts in the file gives the text the model holds
// (fuzz/profile_text_checks.h).
//
// Input: the file's text, then (after NUL bytes) a section, key and value for
// one more write. A text that begins with DEL stands for a file of over 64 KB.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/profile_text_checks.h"
#include "platform/errors.h"
#include "platform/profile_text.h"

namespace {

namespace ini = plat::ini;

// One write, key deletion (no value) or section deletion (no key) as the file
// API makes it; false when refused.
bool Write(ini::Profile& d, std::string section, std::string key, std::optional<std::string> value) {
  plat::ProfileChange c;
  if ((value && key.empty()) ||
      ini::Validate(plat::ProfileChange{std::move(section), std::move(key), std::move(value)}, &c) !=
          plat::ERROR_SUCCESS) {
    return false;
  }
  const std::string before = ini::Text(d);
  ini::WritePlan plan;
  if (ini::ApplyChange(d, c, plan)) fuzz::CheckWrite(d, before, plan);
  return true;
}

// `after` equals `before` except for key `key` of section `section` (lower
// case), which must read `value` (or be missing).
void CheckOnlyChanged(const fuzz::Snapshot& before, const ini::Profile& d, const std::string& section,
                      const std::string& key, const std::optional<std::string>& value) {
  auto strip = [&](fuzz::Snapshot s) {
    auto it = s.find(section);
    if (it != s.end()) {
      std::erase_if(it->second, [&](const auto& kv) { return plat::EqualsIgnoringCase(kv.first, key); });
      if (it->second.empty()) s.erase(it);
    }
    return s;
  };
  const fuzz::Snapshot after = fuzz::Read(d);
  if (strip(before) != strip(after)) {
    fuzz::Fail("changing [" + fuzz::Printable(section) + "] " + fuzz::Printable(key) +
               " changed another key\nbefore:\n" + fuzz::Describe(before) + "after:\n" + fuzz::Describe(after));
  }
  const auto read = ini::Lookup(d, section, key);
  if (read != value) {
    fuzz::Fail("[" + fuzz::Printable(section) + "] " + fuzz::Printable(key) + " reads \"" +
               fuzz::Printable(read.value_or("<missing>")) + "\" after changing it to \"" +
               fuzz::Printable(value.value_or("<missing>")) + "\"");
  }
}

void Check(const std::string& text, const std::string& section, const std::string& key,
           const std::string& value) {
  ini::Profile d = ini::Parse(text);
  const fuzz::Snapshot original = fuzz::Read(d);

  // A new section at the end.
  if (!Write(d, "FuzzProbe", "probe", "1")) fuzz::Fail("writing a new section was refused");
  CheckOnlyChanged(original, d, "fuzzprobe", "probe", "1");

  // An existing key, longer and then shorter than it was.
  for (const auto& [name, entries] : original) {
    if (entries.empty() || name.empty() || name.find_first_of("\r\n") != std::string::npos) continue;
    const std::string first = entries.front().first;
    for (const std::string& v : {entries.front().second + "-longer-value", std::string("x")}) {
      const fuzz::Snapshot before = fuzz::Read(d);
      if (Write(d, name, first, v)) CheckOnlyChanged(before, d, name, first, v);
    }
    break;
  }

  // The input's own key: refused, or read back as written; then deleted.
  const std::string lowerSection = plat::ToLowerAscii(fuzz::Trimmed(section));
  const std::string trimmedKey = fuzz::Trimmed(key);
  fuzz::Snapshot before = fuzz::Read(d);
  if (Write(d, section, key, value) && value == fuzz::ReadAs(value) && trimmedKey == key) {
    CheckOnlyChanged(before, d, lowerSection, key, value);
  }
  before = fuzz::Read(d);
  if (!key.empty() && Write(d, section, key, std::nullopt) && trimmedKey == key) {
    CheckOnlyChanged(before, d, lowerSection, key, std::nullopt);
  }

  // Deleting a section removes it and nothing else.
  before = fuzz::Read(d);
  before.erase("fuzzprobe");
  if (!Write(d, "FuzzProbe", "", std::nullopt) || fuzz::Read(d) != before) {
    fuzz::Fail("deleting a section changed more:\n" + fuzz::Describe(fuzz::Read(d)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 4);
  Check(fuzz::Enlarged(f[0]), f[1], f[2], f[3]);
  return 0;
}
