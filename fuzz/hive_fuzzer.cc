// Registry hive text through the platform's grammar and edits, without files:
// any hive text parses without harm, what is written parses back as the hive
// it was written from, a write for an unrelated change keeps every other key
// and value as it was, and a value is either refused or read back as set.
//
// Input: the hive's text, then (after NUL bytes) a value name, a type byte and
// the value's data for one more write.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/errors.h"
#include "platform/hive_text.h"

namespace {

namespace hive = plat::hive;

const std::string kRoot = "HKEY_LOCAL_MACHINE";

struct KeyState {
  std::set<std::string> subkeys;  // lower case
  std::vector<std::tuple<std::string, plat::DWORD, std::string>> values;  // name, type, data
  bool operator==(const KeyState&) const = default;
};
// Lower-case key path -> what the key holds, as the registry calls list it.
using Snapshot = std::map<std::string, KeyState>;

Snapshot Read(const hive::HiveData& h) {
  Snapshot s;
  for (const auto& k : h.keys) {
    KeyState& state = s[plat::ToLowerAscii(k.path)];
    for (const auto& l : k.lines) {
      if (l.value) state.values.emplace_back(l.value->name, l.value->type, l.value->data);
    }
    if (!k.path.empty()) {
      s[plat::ToLowerAscii(hive::ParentKey(k.path))].subkeys.insert(plat::ToLowerAscii(hive::LastComponent(k.path)));
    }
  }
  return s;
}

std::string Describe(const Snapshot& s) {
  std::string out;
  for (const auto& [path, state] : s) {
    out += "[" + fuzz::Printable(path) + "]";
    for (const auto& [name, type, data] : state.values) {
      out += " \"" + fuzz::Printable(name) + "\"=" + std::to_string(type) + ":" + fuzz::Printable(data);
    }
    out += "\n";
  }
  return out;
}

// The hive as another process reads it after this one wrote it: it must read
// as `model` (what `h` reads), and `*read` is what it reads. With
// `fixedPoint`, writing what was read must give the same text again.
hive::HiveData Rewritten(const hive::HiveData& h, const Snapshot& model, Snapshot* read, bool fixedPoint = false) {
  const std::string text = hive::FormatHive(h, kRoot);
  hive::HiveData again = hive::ParseHive(text);
  *read = Read(again);
  if (*read != model) {
    fuzz::Fail("the written hive reads otherwise\nwritten:\n" + Describe(model) + "read:\n" + Describe(*read));
  }
  if (fixedPoint && hive::FormatHive(again, kRoot) != text) fuzz::Fail("writing the hive read back changes its text");
  return again;
}

// `after` equals `before` but for the probe key and the root's value `changed` (if any).
void CheckUnchanged(Snapshot before, Snapshot after, const std::string* changed, const char* what) {
  for (Snapshot* s : {&before, &after}) {
    s->erase("fuzzprobe");
    auto& root = (*s)[""];
    root.subkeys.erase("fuzzprobe");
    std::erase_if(root.values, [&](const auto& v) { return changed && plat::EqualsIgnoringCase(std::get<0>(v), *changed); });
  }
  if (before != after) {
    fuzz::Fail(std::string(what) + " changed the hive\nbefore:\n" + Describe(before) + "after:\n" + Describe(after));
  }
}

void CheckValue(const hive::HiveData& h, const plat::RegValue& value, const char* when) {
  const hive::KeyData* root = h.Find("");
  for (const auto& l : root->lines) {
    if (l.value && plat::EqualsIgnoringCase(l.value->name, value.name)) {
      if (l.value->type == value.type && l.value->data == value.data) return;
      break;
    }
  }
  fuzz::Fail("value \"" + fuzz::Printable(value.name) + "\" of type " + std::to_string(value.type) + " " + when);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::DefaultMaxLen(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 4);
  hive::HiveData h = hive::ParseHive(f[0]);
  if (!h.Find("")) fuzz::Fail("no hive root");
  const Snapshot original = Read(h);
  Snapshot read;
  h = Rewritten(h, original, &read, true);

  // An unrelated change.
  const std::string probe = hive::EnsureKey(h, "FuzzProbe");
  if (!hive::SetValue(h, probe, plat::RegValue{"probe", plat::REG_SZ, "1"}) ||
      !hive::SetValue(h, probe, plat::RegValue{"again", plat::REG_DWORD, std::string("\2\0\0\0", 4)})) {
    fuzz::Fail("an unrelated write failed");
  }
  Snapshot rewritten;
  h = Rewritten(h, Read(h), &rewritten);
  CheckUnchanged(original, rewritten, nullptr, "an unrelated write");

  // The input's own value: refused, or read back with its name, type and data,
  // also after another change has rewritten the hive.
  const plat::RegValue value{f[1], f[2].empty() ? plat::REG_SZ : static_cast<unsigned char>(f[2][0]), f[3]};
  if (hive::StorableName(value.name)) {
    hive::SetValue(h, "", value);
    CheckValue(h, value, "does not read back");
    hive::SetValue(h, probe, plat::RegValue{"again", plat::REG_DWORD, std::string("\3\0\0\0", 4)});
    h = Rewritten(h, Read(h), &read);
    CheckValue(h, value, "changed on a rewrite");
    CheckUnchanged(rewritten, read, &value.name, "setting a value");
    if (hive::DeleteValue(h, "", value.name) != plat::ERROR_SUCCESS) fuzz::Fail("a value set cannot be deleted");
  }
  // The probe key goes, unless the input gave it subkeys.
  const plat::DWORD deleted = hive::DeleteKey(h, probe);
  if (deleted != plat::ERROR_SUCCESS &&
      !(deleted == plat::ERROR_ACCESS_DENIED && !hive::ChildrenOf(h, probe).empty())) {
    fuzz::Fail("the probe key cannot be deleted");
  }
  CheckUnchanged(rewritten, Read(h), hive::StorableName(value.name) ? &value.name : nullptr, "deleting");
  return 0;
}
