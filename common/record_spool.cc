#include "common/record_spool.h"

#include <cstdlib>

#include "platform/sysinfo.h"
#include "platform/text.h"

namespace common {

namespace {

// "<op><section>|<key>|<value>": sections and keys are names that hold no '|'.
std::string ChangeText(const SpoolChange& c) {
  return std::string(1, c.op) + c.section + "|" + c.key + "|" + c.value;
}

bool ParseChange(std::string_view text, SpoolChange* c) {
  if (text.empty()) return false;
  if (std::string_view("=+-?").find(text[0]) == std::string_view::npos && text[0] != kAddWherePeriodKept) {
    return false;
  }
  c->op = text[0];
  text.remove_prefix(1);
  const size_t first = text.find('|');
  if (first == std::string_view::npos) return false;
  const size_t second = text.find('|', first + 1);
  if (second == std::string_view::npos) return false;
  c->section = std::string(text.substr(0, first));
  c->key = std::string(text.substr(first + 1, second - first - 1));
  c->value = std::string(text.substr(second + 1));
  return true;
}

}  // namespace

std::string RecordSpoolPath() { return plat::GetSystemDirectory() + "\\" + kRecordSpoolFile; }

std::string SpoolEntryName(long n) { return plat::FormatText("E%09ld", n); }

std::vector<plat::ProfileChange> SpoolEntryKeys(const std::string& name, const SpoolEntry& e) {
  std::vector<plat::ProfileChange> keys = {{name, "What", e.what}, {name, "File", e.file}};
  if (e.isRecord) {
    keys.push_back({name, "Section", e.section});
    keys.push_back({name, "Second", std::to_string(e.second)});
    keys.push_back({name, "Record", e.record});
    return keys;
  }
  keys.push_back({name, "Changes", std::to_string(e.changes.size())});
  for (size_t i = 0; i < e.changes.size(); ++i) {
    keys.push_back({name, "C" + std::to_string(i + 1), ChangeText(e.changes[i])});
  }
  return keys;
}

std::vector<std::pair<std::string, SpoolEntry>> LoadRecordSpool(const std::string& path) {
  std::vector<std::pair<std::string, SpoolEntry>> entries;
  const auto names = plat::ProfileListSections(path);
  if (!names) return entries;
  for (const std::string& name : *names) {
    const auto keys = plat::ProfileReadSection(path, name);
    if (!keys) continue;
    auto get = [&](std::string_view key) -> std::optional<std::string> {
      for (const auto& [k, v] : *keys) {
        if (k == key) return v;
      }
      return std::nullopt;
    };
    SpoolEntry e;
    e.what = get("What").value_or("");
    e.file = get("File").value_or("");
    if (e.file.empty()) continue;
    if (const auto record = get("Record")) {
      e.isRecord = true;
      e.record = *record;
      e.section = get("Section").value_or("");
      e.second = std::strtoll(get("Second").value_or("0").c_str(), nullptr, 10);
    } else {
      const long count = std::strtol(get("Changes").value_or("0").c_str(), nullptr, 10);
      for (long i = 1; i <= count; ++i) {
        SpoolChange c;
        if (const auto text = get("C" + std::to_string(i)); text && ParseChange(*text, &c)) {
          e.changes.push_back(std::move(c));
        }
      }
    }
    entries.emplace_back(name, std::move(e));
  }
  return entries;
}

}  // namespace common
