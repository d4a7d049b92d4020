// What the profile fuzzers check after every edit of a profile text: the
// bytes a write puts in place carry the old text to the new one, and the new
// text, parsed afresh (as another process would), reads as the edited model.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/profile_text.h"

namespace fuzz {

using Entries = std::vector<std::pair<std::string, std::string>>;
// Section (lower case) -> its first part's keys and values.
using Snapshot = std::map<std::string, Entries>;

inline Snapshot Read(const plat::ini::Profile& d) {
  Snapshot s;
  for (auto& section : plat::ini::ReadAll(d)) s.try_emplace(plat::ToLowerAscii(section.name), section.values);
  return s;
}

// Section (lower case) -> the keys and values of all its parts.
inline Snapshot ReadRecords(const plat::ini::Profile& d) {
  Snapshot s;
  for (const auto& name : plat::ini::SectionNames(d)) {
    s.try_emplace(plat::ToLowerAscii(name), plat::ini::ReadRecords(d, name).value_or(Entries{}));
  }
  return s;
}

inline std::string Describe(const Snapshot& s) {
  std::string out;
  for (const auto& [section, entries] : s) {
    out += "[" + Printable(section) + "]";
    for (const auto& [k, v] : entries) out += " " + Printable(k) + "=" + Printable(v);
    out += "\n";
  }
  return out;
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string Trimmed(std::string v) {
  while (!v.empty() && IsBlank(v.front())) v.erase(v.begin());
  while (!v.empty() && IsBlank(v.back())) v.pop_back();
  return v;
}

// A value as reading gives it back: without surrounding blanks and quotes.
inline std::string ReadAs(std::string v) {
  v = Trimmed(std::move(v));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

// Finishes the write of an edit to a file that held `before`, and checks it.
inline void CheckWrite(plat::ini::Profile& d, const std::string& before, plat::ini::WritePlan& plan) {
  plat::ini::FinishPlan(d, plan, before.size());
  const std::string after = plat::ini::Text(d);
  if (after.size() != d.size) Fail("the model's size is not its text's");
  if (!plan.rewrite) {
    std::string file = before;
    for (const auto& [offset, bytes] : plan.writes) {
      if (offset > file.size()) Fail("a write lands past the end of the file");
      if (offset + bytes.size() > file.size()) file.resize(offset + bytes.size());
      file.replace(offset, bytes.size(), bytes);
    }
    // Until the file is cut to its new length, it reads as it will after.
    if (file.size() > d.size && Read(plat::ini::Parse(file)) != Read(d)) {
      Fail("the file before its cut reads otherwise:\n" + Describe(Read(plat::ini::Parse(file))) +
           "than the model:\n" + Describe(Read(d)));
    }
    if (file.size() > d.size) file.resize(d.size);
    if (file != after) Fail("the bytes written in place do not give the new text");
  }
  const plat::ini::Profile reparsed = plat::ini::Parse(after);
  if (Read(reparsed) != Read(d) || ReadRecords(reparsed) != ReadRecords(d)) {
    Fail("the new text reads:\n" + Describe(Read(reparsed)) + "the edited model:\n" + Describe(Read(d)));
  }
}

// A text that begins with DEL (0x7f) goes behind a comment that makes it
// larger than 64 KB, in its own line ending: large files take other paths
// (values padded in place).
inline std::string Enlarged(const std::string& text) {
  if (text.empty() || text[0] != '\x7f') return text;
  const size_t nl = text.find('\n');
  const bool crlf = nl != std::string::npos && nl > 0 && text[nl - 1] == '\r';
  return ";" + std::string(plat::ini::kPadFileSize, '-') + (crlf ? "\r\n" : "\n") + text.substr(1);
}

}  // namespace fuzz

// Both profile fuzzers take inputs up to 64 KB unless told otherwise.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::DefaultMaxLen(argc, argv);
  return 0;
}
