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

void Expect(bool ok, const std::string& what, const plat::ProfileChange& c, const ini::Profile& d) {
  if (!ok) {
    fuzz::Fail(what + " [" + fuzz::Printable(c.section) + "] " + fuzz::Printable(c.key) + "\nrecords:\n" +
               fuzz::Describe(fuzz::ReadRecords(d)));
  }
}

// Replaces the record's value and checks that only it changed.
void Replace(ini::Profile& d, const plat::ProfileChange& c, const std::string& value) {
  fuzz::Snapshot expected = fuzz::ReadRecords(d);
  for (auto& [k, v] : expected[plat::ToLowerAscii(c.section)]) {
    if (plat::EqualsIgnoringCase(k, c.key)) v = fuzz::ReadAs(value);
  }
  const std::string before = ini::Text(d);
  ini::WritePlan plan;
  Expect(ini::ReplaceRecord(d, c.section, c.key, value, plan) == ERROR_SUCCESS, "replacing failed", c, d);
  fuzz::CheckWrite(d, before, plan);
  Expect(fuzz::ReadRecords(d) == expected, "replacing changed more than", c, d);
}

void Check(const std::string& text, const std::vector<std::string>& f) {
  ini::Profile d = ini::Parse(text);
  for (size_t i = 1; i + 2 < f.size(); i += 3) {
    plat::ProfileChange c;
    if (ini::ValidateRecord(f[i], f[i + 1], f[i + 2], &c) != ERROR_SUCCESS) continue;
    const bool existed = ini::RecordExists(d, c.section, c.key);
    fuzz::Snapshot expected = fuzz::ReadRecords(d);
    const std::string before = ini::Text(d);
    ini::WritePlan plan;
    const plat::DWORD err = ini::AppendRecord(d, c.section, c.key, *c.value, plan);
    if (existed) {
      Expect(err == plat::ERROR_ALREADY_EXISTS && ini::Text(d) == before, "a second record under", c, d);
    } else {
      Expect(err == ERROR_SUCCESS && !plan.rewrite, "an append failed or rewrote the file for", c, d);
      fuzz::CheckWrite(d, before, plan);
      expected[plat::ToLowerAscii(c.section)].emplace_back(c.key, fuzz::ReadAs(*c.value));
      Expect(fuzz::ReadRecords(d) == expected && ini::RecordExists(d, c.section, c.key),
             "the records do not read as before plus the new one,", c, d);
    }
    // Shorter, as long and longer than now.
    Replace(d, c, "x");
    Replace(d, c, *c.value);
    Replace(d, c, *c.value + "-and-then-some");
  }
  // A key no part holds cannot be replaced.
  plat::ProfileChange absent{"FuzzRecords", "fuzz-absent", "1"};
  if (!ini::RecordExists(d, absent.section, absent.key)) {
    const std::string before = ini::Text(d);
    ini::WritePlan plan;
    Expect(ini::ReplaceRecord(d, absent.section, absent.key, "2", plan) == plat::ERROR_FILE_NOT_FOUND &&
               ini::Text(d) == before,
           "replacing a missing record changed the file:", absent, d);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 10);
  Check(fuzz::Enlarged(f[0]), f);
  return 0;
}
