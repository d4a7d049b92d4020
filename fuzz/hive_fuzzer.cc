// Registry hive text through the platform's grammar and edits, without files:
// any hive text parses without harm, what is written parses back as the hive
// it was written from, a write for an unrelated change keeps every other key
// and value as it was, and a value is either refused or read back as set.
//
// Input: the hive's text, then (after NUL bytes) a value name, a type byte and
// the value's data for one more write.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/errors.h"
#include "platform/hive_text.h"

namespace {

namespace hive = plat::hive;

const std::string kRoot = "HKEY_LOCAL_MACHINE";

// Lower-case key path -> the key's values (name, type, data) in order, as the
// registry calls list them, kept flat (fuzz_support.h): per key, in byte order
// of its lower-case path, 'K' and the path, then 'V', the name, the type and
// the data per value. The keys' subkeys follow from the paths.
struct Snapshot {
  std::string bytes;
  bool operator==(const Snapshot&) const = default;
};

void PutValue(std::string& out, std::string_view name, plat::DWORD type, std::string_view data) {
  out.push_back('V');
  fuzz::PutString(out, name);
  out.append(reinterpret_cast<const char*>(&type), sizeof type);
  fuzz::PutString(out, data);
}

Snapshot Read(const hive::HiveData& h) {
  // The lower-case paths in one buffer: sorting them then compares bytes
  // (deep keys share long prefixes), and folding costs one allocation.
  size_t pathBytes = 0, bound = 0;
  for (const auto& k : h.keys) {
    pathBytes += k.path.size();
    bound += k.path.size() + 5;
    for (const auto& l : k.lines) {
      if (l.value) bound += l.value->name.size() + l.value->data.size() + 13;
    }
  }
  std::string lowered;
  lowered.reserve(pathBytes);
  std::vector<std::pair<std::string_view, uint32_t>> order;
  order.reserve(h.keys.size());
  for (uint32_t i = 0; i < h.keys.size(); ++i) {
    const size_t at = lowered.size();
    for (const char c : h.keys[i].path) lowered.push_back(fuzz::FoldAscii(c));
    order.emplace_back(std::string_view(lowered).substr(at), i);
  }
  std::sort(order.begin(), order.end());
  Snapshot s;
  s.bytes.reserve(bound);
  for (const auto& [path, i] : order) {
    s.bytes.push_back('K');
    fuzz::PutString(s.bytes, path);
    for (const auto& l : h.keys[i].lines) {
      if (l.value) PutValue(s.bytes, l.value->name, l.value->type, l.value->data);
    }
  }
  return s;
}

std::string Describe(const Snapshot& s) {
  std::string out;
  std::string_view in(s.bytes);
  while (!in.empty()) {
    const char tag = in.front();
    in.remove_prefix(1);
    if (tag == 'K') {
      out += (out.empty() ? "[" : "\n[") + fuzz::Printable(fuzz::TakeString(in)) + "]";
      continue;
    }
    const std::string_view name = fuzz::TakeString(in);
    plat::DWORD type = 0;
    std::memcpy(&type, in.data(), sizeof type);
    in.remove_prefix(sizeof type);
    out += " \"" + fuzz::Printable(name) + "\"=" + std::to_string(type) + ":" + fuzz::Printable(fuzz::TakeString(in));
  }
  return out + "\n";
}

// Without the probe key and the root's value `changed` (if any).
Snapshot WithoutProbe(const Snapshot& s, const std::string* changed) {
  Snapshot r;
  r.bytes.reserve(s.bytes.size());
  std::string_view in(s.bytes);
  std::string_view key;
  while (!in.empty()) {
    const std::string_view item = in;
    const char tag = in.front();
    in.remove_prefix(1);
    const std::string_view name = fuzz::TakeString(in);
    if (tag == 'V') {
      in.remove_prefix(sizeof(plat::DWORD));
      fuzz::TakeString(in);
    } else {
      key = name;
    }
    const bool drop = tag == 'K' ? key == "fuzzprobe"
                                 : key == "fuzzprobe" || (key.empty() && changed &&
                                                          plat::EqualsIgnoringCase(name, *changed));
    if (!drop) r.bytes.append(item.substr(0, item.size() - in.size()));
  }
  return r;
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
void CheckUnchanged(const Snapshot& before, const Snapshot& after, const std::string* changed, const char* what) {
  if (WithoutProbe(before, changed) != WithoutProbe(after, changed)) {
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
