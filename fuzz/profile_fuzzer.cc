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
// API makes it, `state` following the model; false when refused.
bool Write(ini::Profile& d, fuzz::State& state, std::string section, std::string key,
           std::optional<std::string> value) {
  plat::ProfileChange c;
  if ((value && key.empty()) ||
      ini::Validate(plat::ProfileChange{std::move(section), std::move(key), std::move(value)}, &c) !=
          plat::ERROR_SUCCESS) {
    return false;
  }
  ini::WritePlan plan;
  if (ini::ApplyChange(d, c, plan)) {
    fuzz::CheckWrite(d, state, plan);
  } else if (!plan.writes.empty() || plan.rewrite || !fuzz::HoldsText(d, state.text)) {
    fuzz::Fail("a write that changed nothing changed the text or planned a write");
  }
  return true;
}

// The model reads as `before` except for key `key` of section `section`
// (lower case), which must read `value` (or be missing).
void CheckOnlyChanged(const fuzz::Snapshot& before, const fuzz::State& state, const ini::Profile& d,
                      const std::string& section, const std::string& key,
                      const std::optional<std::string>& value) {
  if (fuzz::WithoutKey(before, section, key) != fuzz::WithoutKey(state.read, section, key)) {
    fuzz::Fail("changing [" + fuzz::Printable(section) + "] " + fuzz::Printable(key) +
               " changed another key\nbefore:\n" + fuzz::Describe(before) + "after:\n" +
               fuzz::Describe(state.read));
  }
  const auto read = ini::Lookup(d, section, key);
  if (read != value) {
    fuzz::Fail("[" + fuzz::Printable(section) + "] " + fuzz::Printable(key) + " reads \"" +
               fuzz::Printable(read.value_or("<missing>")) + "\" after changing it to \"" +
               fuzz::Printable(value.value_or("<missing>")) + "\"");
  }
}

// The first key of the first section (in the order of lower-case names) that
// has one and a name that can be written: section and key, or empty.
std::pair<std::string, std::string> FirstKey(const fuzz::Snapshot& s, std::string* value) {
  std::string_view in(s.bytes);
  std::string_view section;
  bool usable = false;
  for (fuzz::Item i; fuzz::Next(in, &i);) {
    if (i.tag == 'S') {
      section = i.a;
      usable = !section.empty() && section.find_first_of("\r\n") == std::string_view::npos;
    } else if (usable) {
      *value = i.b;
      return {std::string(section), std::string(i.a)};
    }
  }
  return {};
}

void Check(const std::string& text, const std::string& section, const std::string& key,
           const std::string& value) {
  ini::Profile d = ini::Parse(text);
  fuzz::State state = fuzz::Take(d);
  const fuzz::Snapshot original = state.read;

  // A new section at the end.
  if (!Write(d, state, "FuzzProbe", "probe", "1")) fuzz::Fail("writing a new section was refused");
  CheckOnlyChanged(original, state, d, "fuzzprobe", "probe", "1");

  // An existing key, longer and then shorter than it was.
  std::string firstValue;
  const auto [name, first] = FirstKey(original, &firstValue);
  if (!first.empty()) {
    for (const std::string& v : {firstValue + "-longer-value", std::string("x")}) {
      const fuzz::Snapshot before = state.read;
      if (Write(d, state, name, first, v)) CheckOnlyChanged(before, state, d, name, first, v);
    }
  }

  // The input's own key: refused, or read back as written; then deleted.
  const std::string lowerSection = plat::ToLowerAscii(fuzz::Trimmed(section));
  const std::string trimmedKey = fuzz::Trimmed(key);
  fuzz::Snapshot before = state.read;
  if (Write(d, state, section, key, value) && value == fuzz::ReadAs(value) && trimmedKey == key) {
    CheckOnlyChanged(before, state, d, lowerSection, key, value);
  }
  before = state.read;
  if (!key.empty() && Write(d, state, section, key, std::nullopt) && trimmedKey == key) {
    CheckOnlyChanged(before, state, d, lowerSection, key, std::nullopt);
  }

  // Deleting a section removes it and nothing else.
  before = fuzz::WithoutSection(state.read, "fuzzprobe");
  if (!Write(d, state, "FuzzProbe", "", std::nullopt) || state.read != before) {
    fuzz::Fail("deleting a section changed more:\n" + fuzz::Describe(state.read));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 4);
  Check(fuzz::Enlarged(f[0]), f[1], f[2], f[3]);
  return 0;
}
