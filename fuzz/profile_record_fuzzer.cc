// Record files (the day logs) through the platform's record edits, without
// files: a record goes in once under its key, lands at the end of the file
// with one append and after every record its section already had; replacing
// a record's value changes that value only (fuzz/profile_text_checks.h).
//
// Input: the file's text, then (after NUL bytes) up to three records, each a
// section, key and value. A text that begins with DEL stands for a file of
// over 64 KB.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/profile_text_checks.h"
#include "platform/errors.h"
#include "platform/profile_text.h"

namespace {

namespace ini = plat::ini;
using plat::ERROR_SUCCESS;

void Expect(bool ok, const std::string& what, const plat::ProfileChange& c, const fuzz::State& state) {
  if (!ok) {
    fuzz::Fail(what + " [" + fuzz::Printable(c.section) + "] " + fuzz::Printable(c.key) + "\nrecords:\n" +
               fuzz::Describe(state.records));
  }
}

// Replaces the record's value and checks that only it changed.
void Replace(ini::Profile& d, fuzz::State& state, const plat::ProfileChange& c, const std::string& value) {
  const fuzz::Snapshot expected =
      fuzz::WithValue(state.records, plat::ToLowerAscii(c.section), c.key, fuzz::ReadAs(value));
  ini::WritePlan plan;
  Expect(ini::ReplaceRecord(d, c.section, c.key, value, plan) == ERROR_SUCCESS, "replacing failed", c, state);
  fuzz::CheckWrite(d, state, plan);
  Expect(state.records == expected, "replacing changed more than", c, state);
}

void Check(const std::string& text, const std::vector<std::string>& f) {
  ini::Profile d = ini::Parse(text);
  fuzz::State state = fuzz::Take(d);
  for (size_t i = 1; i + 2 < f.size(); i += 3) {
    plat::ProfileChange c;
    if (ini::ValidateRecord(f[i], f[i + 1], f[i + 2], &c) != ERROR_SUCCESS) continue;
    const bool existed = ini::RecordExists(d, c.section, c.key);
    ini::WritePlan plan;
    const plat::DWORD err = ini::AppendRecord(d, c.section, c.key, *c.value, plan);
    if (existed) {
      Expect(err == plat::ERROR_ALREADY_EXISTS && plan.writes.empty() && !plan.rewrite &&
                 fuzz::HoldsText(d, state.text),
             "a second record under", c, state);
    } else {
      Expect(err == ERROR_SUCCESS && !plan.rewrite, "an append failed or rewrote the file for", c, state);
      const fuzz::Snapshot expected =
          fuzz::WithEntry(state.records, plat::ToLowerAscii(c.section), c.key, fuzz::ReadAs(*c.value));
      fuzz::CheckWrite(d, state, plan);
      Expect(state.records == expected && ini::RecordExists(d, c.section, c.key),
             "the records do not read as before plus the new one,", c, state);
    }
    // Shorter, as long and longer than now.
    Replace(d, state, c, "x");
    Replace(d, state, c, *c.value);
    Replace(d, state, c, *c.value + "-and-then-some");
  }
  // A key no part holds cannot be replaced.
  plat::ProfileChange absent{"FuzzRecords", "fuzz-absent", "1"};
  if (!ini::RecordExists(d, absent.section, absent.key)) {
    ini::WritePlan plan;
    Expect(ini::ReplaceRecord(d, absent.section, absent.key, "2", plan) == plat::ERROR_FILE_NOT_FOUND &&
               fuzz::HoldsText(d, state.text),
           "replacing a missing record changed the file:", absent, state);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 10);
  Check(fuzz::Enlarged(f[0]), f);
  return 0;
}
