// What the profile fuzzers check after every edit of a profile text: the
// bytes a write puts in place carry the old text to the new one, and the new
// text, parsed afresh (as another process would), reads as the edited model.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/profile_text.h"

namespace fuzz {

// What a profile reads as, flattened into one string, so that taking, keeping
// and comparing it costs a few allocations rather than some per section: per
// section, in byte order of its lower-case name, an 'S' item with that name,
// then an 'E' item per key and value. Every string is length-prefixed.
struct Snapshot {
  std::string bytes;
  bool operator==(const Snapshot&) const = default;
};

struct Item {
  char tag = 0;  // 'S' or 'E'
  std::string_view a, b;
};

inline void PutSection(std::string& out, std::string_view lowerName) {
  out.push_back('S');
  PutString(out, lowerName);
}
inline void PutEntry(std::string& out, std::string_view key, std::string_view value) {
  out.push_back('E');
  PutString(out, key);
  PutString(out, value);
}

// The next item of `in`; false at its end.
inline bool Next(std::string_view& in, Item* item) {
  if (in.empty()) return false;
  item->tag = in.front();
  in.remove_prefix(1);
  item->a = TakeString(in);
  item->b = item->tag == 'E' ? TakeString(in) : std::string_view();
  return true;
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline void PutLowerSection(std::string& out, std::string_view name) {
  out.push_back('S');
  PutLowerString(out, name);
}

// The model read as SectionNames, ReadAll and ReadRecords read it, taken
// from its tables so that a snapshot costs a few allocations (under the
// sanitizers an allocation costs more than reading a section): each name's
// first section, with the keys each first names; with `records`, a section
// in parts as ReadRecords gives it.
inline Snapshot Flatten(const plat::ini::Profile& d, bool records) {
  std::vector<uint32_t> order;
  order.reserve(d.index.size());
  for (uint32_t i = 0; i < d.sections.size(); ++i) {
    const auto& s = d.sections[i];
    if (!s.hasHeader || s.name.empty()) continue;
    const auto it = d.index.find(s.name);
    if (it != d.index.end() && it->second == i) order.push_back(i);
  }
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return LessIgnoringCase(d.sections[a].name, d.sections[b].name); });
  size_t bound = 0;  // of the snapshot's size: every section and key line once
  for (const auto& s : d.sections) {
    bound += s.name.size() + 5;
    for (const auto& k : s.keys) bound += k.nameLen + k.valueLen + 9;
  }
  Snapshot snap;
  snap.bytes.reserve(bound);
  for (const uint32_t i : order) {
    const auto& s = d.sections[i];
    PutLowerSection(snap.bytes, s.name);
    if (records && !s.parts.empty()) {
      const auto parts = plat::ini::ReadRecords(d, s.name);
      if (!parts) Fail("a section in parts has no records");
      for (const auto& [k, v] : *parts) PutEntry(snap.bytes, k, v);
      continue;
    }
    for (const auto& k : s.keys) {
      if (k.first) PutEntry(snap.bytes, s.KeyName(k), s.Value(k));
    }
  }
  return snap;
}

// Every section's first part.
inline Snapshot Read(const plat::ini::Profile& d) { return Flatten(d, false); }
// Every section's keys and values in all its parts.
inline Snapshot ReadRecords(const plat::ini::Profile& d) { return Flatten(d, true); }

// Both, the records taken apart only when a section is in parts (else they
// are what Read gives).
inline void ReadBoth(const plat::ini::Profile& d, Snapshot* read, Snapshot* records) {
  *read = Read(d);
  const bool parts = std::any_of(d.sections.begin(), d.sections.end(), [](const auto& s) { return !s.parts.empty(); });
  *records = parts ? ReadRecords(d) : *read;
}

inline std::string Describe(const Snapshot& s) {
  std::string out;
  std::string_view in(s.bytes);
  bool open = false;
  for (Item i; Next(in, &i);) {
    if (i.tag == 'S') {
      if (open) out += "\n";
      out += "[" + Printable(i.a) + "]";
      open = true;
    } else {
      out += " " + Printable(i.a) + "=" + Printable(i.b);
    }
  }
  if (open) out += "\n";
  return out;
}

// The snapshot with section `lowerSection` changed by `edit(item, out)`, which
// puts what stands for each of its entries; a section left without entries
// goes when `dropEmpty`. `appended` (key, value) goes at the end of the
// section, which is made where it sorts when missing.
template <typename Edit>
Snapshot EditSection(const Snapshot& s, std::string_view lowerSection, Edit edit, bool dropEmpty,
                     const std::pair<std::string_view, std::string_view>* appended = nullptr) {
  Snapshot r;
  r.bytes.reserve(s.bytes.size() + 64);
  std::string_view in(s.bytes);
  std::string body;  // the target section's entries, until it ends
  bool inTarget = false, seen = false;
  auto closeTarget = [&] {
    if (appended) PutEntry(body, appended->first, appended->second);
    if (!body.empty() || !dropEmpty) {
      PutSection(r.bytes, lowerSection);
      r.bytes += body;
    }
    inTarget = false;
  };
  for (Item i; Next(in, &i);) {
    if (i.tag == 'S') {
      if (inTarget) closeTarget();
      if (!seen && appended && i.a > lowerSection) {
        seen = true;
        closeTarget();
      }
      if (i.a == lowerSection) {
        inTarget = seen = true;
        body.clear();
        continue;
      }
      PutSection(r.bytes, i.a);
    } else if (inTarget) {
      edit(i, body);
    } else {
      PutEntry(r.bytes, i.a, i.b);
    }
  }
  if (inTarget) closeTarget();
  if (!seen && appended) closeTarget();
  return r;
}

// Without key `key` (any case) in section `lowerSection`, which goes when it has no other key.
inline Snapshot WithoutKey(const Snapshot& s, std::string_view lowerSection, std::string_view key) {
  return EditSection(
      s, lowerSection,
      [&](const Item& i, std::string& out) {
        if (!plat::EqualsIgnoringCase(i.a, key)) PutEntry(out, i.a, i.b);
      },
      true);
}

inline Snapshot WithoutSection(const Snapshot& s, std::string_view lowerSection) {
  return EditSection(s, lowerSection, [](const Item&, std::string&) {}, true);
}

// The entries `key` (any case) of section `lowerSection` read `value`.
inline Snapshot WithValue(const Snapshot& s, std::string_view lowerSection, std::string_view key,
                          std::string_view value) {
  return EditSection(
      s, lowerSection,
      [&](const Item& i, std::string& out) { PutEntry(out, i.a, plat::EqualsIgnoringCase(i.a, key) ? value : i.b); },
      false);
}

inline Snapshot WithEntry(const Snapshot& s, std::string_view lowerSection, std::string_view key,
                          std::string_view value) {
  const std::pair<std::string_view, std::string_view> added(key, value);
  return EditSection(
      s, lowerSection, [](const Item& i, std::string& out) { PutEntry(out, i.a, i.b); }, false, &added);
}

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

// A model's text with what it reads as, taken once per edit and kept as the
// "before" of the next one.
struct State {
  std::string text;
  Snapshot read, records;
};

inline State Take(const plat::ini::Profile& d) {
  State s{plat::ini::Text(d), {}, {}};
  ReadBoth(d, &s.read, &s.records);
  return s;
}

// The model's sections put together give `text`, and the model knows its size.
// Compared in place: a copy of a 64 KB text per check costs more than the check.
inline bool HoldsText(const plat::ini::Profile& d, std::string_view text) {
  uint64_t at = 0;
  for (const auto& section : d.sections) {
    if (text.substr(at, section.text.size()) != section.text) return false;
    at += section.text.size();
  }
  return at == text.size() && d.size == text.size();
}

// Finishes the write of an edit to the file `state` describes, checks it, and
// moves `state` on to the model's new state.
inline void CheckWrite(plat::ini::Profile& d, State& state, plat::ini::WritePlan& plan) {
  plat::ini::FinishPlan(d, plan, state.text.size());
  ReadBoth(d, &state.read, &state.records);
  if (plan.rewrite) {
    state.text = plat::ini::Text(d);
    if (state.text.size() != d.size) Fail("the model's size is not its text's");
  } else {
    std::string& file = state.text;
    for (const auto& [offset, bytes] : plan.writes) {
      if (offset > file.size()) Fail("a write lands past the end of the file");
      if (offset + bytes.size() > file.size()) file.resize(offset + bytes.size());
      file.replace(offset, bytes.size(), bytes);
    }
    // Until the file is cut to its new length, it reads as it will after.
    if (file.size() > d.size) {
      const Snapshot uncut = Read(plat::ini::Parse(file));
      if (uncut != state.read) {
        Fail("the file before its cut reads otherwise:\n" + Describe(uncut) + "than the model:\n" +
             Describe(state.read));
      }
      file.resize(d.size);
    }
    if (!HoldsText(d, file)) Fail("the bytes written in place do not give the new text (or its size)");
  }
  const plat::ini::Profile reparsed = plat::ini::Parse(state.text);
  Snapshot read, records;
  ReadBoth(reparsed, &read, &records);
  if (read != state.read || records != state.records) {
    Fail("the new text reads:\n" + Describe(read) + "the edited model:\n" + Describe(state.read));
  }
}

// A text that begins with DEL (0x7f) goes behind a comment that makes it
// larger than 64 KB, in its own line ending: large files take other paths
// (values padded in place).
inline std::string Enlarged(std::string_view text) {
  if (text.empty() || text[0] != '\x7f') return std::string(text);
  const size_t nl = text.find('\n');
  const bool crlf = nl != std::string::npos && nl > 0 && text[nl - 1] == '\r';
  std::string out;
  out.reserve(plat::ini::kPadFileSize + text.size() + 3);
  out.append(";").append(plat::ini::kPadFileSize, '-').append(crlf ? "\r\n" : "\n").append(text.substr(1));
  return out;
}

}  // namespace fuzz

// Both profile fuzzers take inputs up to 64 KB unless told otherwise.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::DefaultMaxLen(argc, argv);
  return 0;
}
