// Day-log records: any value parses without harm, and every record the
// service writes for an account it accepts reads back with its fields.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/log_record.h"
#include "fuzz/fuzz_support.h"

namespace {

std::int64_t Take64(const std::string& s, size_t at) {
  std::int64_t v = 0;
  if (s.size() >= at + 8) std::memcpy(&v, s.data() + at, 8);
  return v;
}

// The value as a profile file gives it back: surrounding blanks go.
void CheckStoredAsIs(const std::string& value) {
  if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                         value.back() == '\t')) {
    fuzz::Fail("record \"" + fuzz::Printable(value) + "\" would lose its blanks in the file");
  }
  if (value.find_first_of("\r\n", 0) != std::string::npos) {
    fuzz::Fail("record \"" + fuzz::Printable(value) + "\" holds a line break");
  }
}

void Expect(bool ok, const std::string& what, const std::string& value) {
  if (!ok) fuzz::Fail(what + " of \"" + fuzz::Printable(value) + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 5);
  common::LogRecord r;
  common::ParseLogRecord(f[0], f[1], f[2], &r);
  common::LogKeyTime(f[1]);

  const std::string& account = f[0];
  if (!common::IsRecordableAccount(account)) return 0;
  const std::string numbers = f[4];
  const auto duration = static_cast<std::int64_t>(static_cast<std::uint64_t>(Take64(numbers, 0)) % 2147483648u);
  const auto address = static_cast<std::int32_t>(Take64(numbers, 8));
  const int reason = static_cast<int>(static_cast<std::uint64_t>(Take64(numbers, 16)) % 256);
  const std::int64_t bytesIn = Take64(numbers, 24);
  const std::int64_t bytesOut = Take64(numbers, 32);

  const std::string hangUp =
      common::FormatHangUpRecord(duration, account, address, reason, f[1], f[2], bytesIn, bytesOut);
  CheckStoredAsIs(hangUp);
  Expect(common::ParseLogRecord("SRV\\COM1", "1", hangUp, &r), "hang-up parse", hangUp);
  Expect(r.kind == common::kRecordHangUp && r.user == account &&
             r.duration == static_cast<std::uint32_t>(duration) &&
             r.address == static_cast<std::uint32_t>(address) && r.reason == reason &&
             r.ipx == common::RecordField(f[1]) && r.netbios == common::RecordField(f[2]) &&
             r.bytesIn == bytesIn && r.bytesOut == bytesOut,
         "hang-up fields", hangUp);

  const std::string connection = common::FormatConnectionRecord(account);
  CheckStoredAsIs(connection);
  Expect(common::ParseLogRecord("SRV\\COM1", "1", connection, &r) &&
             r.kind == common::kRecordConnection && r.user == account && r.info.empty(),
         "connection fields", connection);

  const std::string callBack = common::FormatCallbackConnectionRecord(account, f[3]);
  CheckStoredAsIs(callBack);
  Expect(common::ParseLogRecord("SRV\\COM1", "1", callBack, &r) && r.user == account &&
             r.info == common::RecordField(f[3]),
         "call-back fields", callBack);

  const int code = reason % 10;
  const std::string refusal = common::FormatRefusalRecord(account, code);
  CheckStoredAsIs(refusal);
  Expect(common::ParseLogRecord("SRV\\COM1", "1", refusal, &r) &&
             r.kind == common::kRecordRefusal && r.user == account && r.reason == code,
         "refusal fields", refusal);
  return 0;
}
