// Registry hives through the platform's public calls: any hive file reads
// without harm, a rewrite for an unrelated change keeps every other key and
// value as it was, and a value is either refused or read back as set.
//
// Input: the hive's text, then (after NUL bytes) a value name, a type byte and
// the value's data for one more write.
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/machine.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/win_types.h"

namespace {

using plat::ERROR_SUCCESS;

using plat::RegKey;
using plat::RegValue;

struct KeyState {
  std::vector<std::string> subkeys;
  std::vector<std::tuple<std::string, plat::DWORD, std::string>> values;  // name, type, data
  bool operator==(const KeyState&) const = default;
};
using Snapshot = std::map<std::string, KeyState>;

void Walk(const RegKey& key, const std::string& lowerPath, Snapshot* s, int depth) {
  if (depth > 16 || s->size() > 500) return;
  KeyState state;
  std::vector<RegValue> values;
  if (key.ListValues(&values) == ERROR_SUCCESS) {
    for (const auto& v : values) {
      state.values.emplace_back(v.name, v.type, v.data);
    }
  }
  key.ListSubKeys(&state.subkeys);
  (*s)[lowerPath] = state;
  for (const auto& name : state.subkeys) {
    RegKey sub;
    if (key.OpenSubKey(name, &sub) == ERROR_SUCCESS) {
      Walk(sub, lowerPath + "\\" + plat::ToLowerAscii(name), s, depth + 1);
    }
  }
}

Snapshot Read(const RegKey& root) {
  Snapshot s;
  Walk(root, "", &s, 0);
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

// `after` equals `before` but for the probe key and the root's value `changed` (if any).
void CheckUnchanged(Snapshot before, Snapshot after, const std::string* changed, const char* what) {
  for (Snapshot* s : {&before, &after}) {
    s->erase("\\fuzzprobe");
    auto& root = (*s)[""];
    std::erase_if(root.subkeys, [](const std::string& n) { return plat::EqualsIgnoringCase(n, "FuzzProbe"); });
    std::erase_if(root.values, [&](const auto& v) {
      return changed && plat::EqualsIgnoringCase(std::get<0>(v), *changed);
    });
  }
  if (before != after) {
    fuzz::Fail(std::string(what) + " changed the hive\nbefore:\n" + Describe(before) + "after:\n" +
               Describe(after));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::DefaultMaxLen(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string machine = [] {
    const std::string root = fuzz::ScratchFolder("hive");
    ::mkdir(plat::RegistryDir(root).c_str(), 0700);
    return root;
  }();
  static const std::string hiveFile = plat::RegistryDir(machine) + "/HKLM.reg";
  const auto f = fuzz::Fields(data, size, 4);
  fuzz::ReplaceFile(hiveFile, f[0]);

  RegKey root;
  if (RegKey::ConnectRoot(machine, plat::Hive::LocalMachine, &root) != ERROR_SUCCESS) {
    fuzz::Fail("no hive root");
  }
  const Snapshot original = Read(root);

  // Unrelated changes: each rewrites the whole hive.
  RegKey probe;
  if (root.CreateSubKey("FuzzProbe", &probe) != ERROR_SUCCESS ||
      probe.SetString("probe", "1") != ERROR_SUCCESS || probe.SetDword("again", 2) != ERROR_SUCCESS) {
    fuzz::Fail("an unrelated write failed");
  }
  fuzz::ForceReparse(hiveFile);
  const Snapshot rewritten = Read(root);
  CheckUnchanged(original, rewritten, nullptr, "an unrelated write");

  // The input's own value: refused, or read back with its name, type and data.
  RegValue value{f[1], f[2].empty() ? plat::REG_SZ : static_cast<unsigned char>(f[2][0]), f[3]};
  if (root.SetValue(value) == ERROR_SUCCESS) {
    RegValue read;
    if (root.QueryValue(value.name, &read) != ERROR_SUCCESS || read.type != value.type ||
        read.data != value.data) {
      fuzz::Fail("value \"" + fuzz::Printable(value.name) + "\" of type " +
                 std::to_string(value.type) + " does not read back");
    }
    probe.SetDword("again", 3);  // one more rewrite, then the value must still be there
    fuzz::ForceReparse(hiveFile);
    if (root.QueryValue(value.name, &read) != ERROR_SUCCESS || read.type != value.type ||
        read.data != value.data) {
      fuzz::Fail("value \"" + fuzz::Printable(value.name) + "\" of type " +
                 std::to_string(value.type) + " changed on a rewrite");
    }
    CheckUnchanged(rewritten, Read(root), &value.name, "setting a value");
  }
  return 0;
}
