#include "service/system_data.h"

#include "common/data_folder.h"
#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "service/write_health.h"

namespace svc {

namespace {

constexpr const char* kLabel = "ReadSystemDataFromCentralDB";

DWORD ReadNumber(const std::string& file, const char* section, const char* key) {
  return static_cast<DWORD>(common::ProfileReadInt(file, section, key));
}

}  // namespace

namespace {

// Whether portulon.hw can be read now: it can, or the folder is there
// without it (a new installation: every default). Otherwise the error.
DWORD SystemDataReadable(const std::string& file, const std::string& folder) {
  std::string text;
  const DWORD err = plat::ReadWholeFile(file, &text);
  if (err == plat::ERROR_SUCCESS) return err;
  if (err == plat::ERROR_FILE_NOT_FOUND && plat::DirectoryExists(folder)) return plat::ERROR_SUCCESS;
  return err;
}

}  // namespace

DWORD ReadSystemData(const DataPaths& paths, SystemData* out) {
  const std::string& file = paths.systemData;
  if (const DWORD err = SystemDataReadable(file, paths.folder); err != plat::ERROR_SUCCESS) {
    common::Trace(kLabel, "Cannot read portulon.hw; the settings read last stay", static_cast<long>(err));
    return err;
  }
  // Read into a copy, then swap it in whole: the supervision thread may be
  // taking a snapshot meanwhile.
  SystemData d;

  d.notify1 = ReadNumber(file, kGeneralSection, "Notify1");
  d.notify2 = ReadNumber(file, kGeneralSection, "Notify2");
  const std::string line =
      plat::FormatText("FROM CENTRAL DB: Notify1(%d)  Notify2(%d)", static_cast<int>(d.notify1),
                       static_cast<int>(d.notify2));
  common::Trace(kLabel, line, 0);
  d.notify1Text = common::ProfileReadText(file, kGeneralSection, "Notify1Text", "0", 1025);
  d.notify2Text = common::ProfileReadText(file, kGeneralSection, "Notify2Text", "0", 1025);

  DefaultProfile& p = d.defaults;
  p.assignDefault = ReadNumber(file, kDefaultSection, "AssignDefault");
  p.maxSessionTime = ReadNumber(file, kDefaultSection, "MaxSessionTime");
  p.maxTotalTime = ReadNumber(file, kDefaultSection, "MaxTotalTime");
  p.expiryTime = ReadNumber(file, kDefaultSection, "ExpiryTime");
  p.periodMax = ReadNumber(file, kDefaultSection, "PeriodMax");
  p.periodType = ReadNumber(file, kDefaultSection, "PeriodType");
  p.noDuplicate = ReadNumber(file, kDefaultSection, "NoDuplicate");

  d.ruleMask = ReadNumber(file, kGreetingsSection, "RuleMask");
  for (int i = 0; i < 3; ++i) {
    if (d.ruleMask & (1u << i)) {
      common::Trace(kLabel, plat::FormatText("Greeting %d Active", i + 1), 0);
    }
    const std::string name = plat::FormatText("\\greet_%d.txt", i);
    std::string text;
    if (plat::ReadWholeFile(paths.folder + name, &text) != plat::ERROR_SUCCESS) {
      text.clear();
    }
    d.greetingTexts[static_cast<size_t>(i)] = std::move(text);
  }

  d.dailyStatusEmailType = ReadNumber(file, kGeneralSection, "DailyStatusEmailType");
  d.dailyStatusEmailHour = ReadNumber(file, kGeneralSection, "DailyStatusEmailHour");
  d.dailyStatusEmailLastSent = ReadNumber(file, kGeneralSection, "DailyStatusEmailLastSent");
  d.dailyStatusEmailPOPServer =
      common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailPOPServer", "*", 101);
  d.dailyStatusEmailTo =
      common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailTo", "*", 101);
  d.dailyStatusEmailFrom =
      common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailFrom", "*", 101);
  d.autoArchiveAge = ReadNumber(file, kGeneralSection, "AutoArchiveAge");

  *out = std::move(d);
  return plat::ERROR_SUCCESS;
}

int ReadPortNumber(const std::string& file, std::string_view port, std::string_view key) {
  return common::ProfileReadInt(file, port, key);
}

std::string ReadAllowedGroups(const std::string& file, std::string_view port) {
  return common::ProfileReadText(file, port, "AllowedGroups", "*", 10000);
}

plat::ProfileChange PortActiveChange(std::string_view port, bool active) {
  return {std::string(port), "Active", std::string(active ? "1" : "0")};
}

void SetPortActive(const std::string& file, WriteHealth& health, std::string_view port, bool active) {
  health.Note(common::kSystemDataFile, plat::ProfileApply(file, {PortActiveChange(port, active)}));
}

StatusMailSettings ReadStatusMailSettings(const std::string& file) {
  StatusMailSettings m;
  m.type = ReadNumber(file, kGeneralSection, "DailyStatusEmailType");
  m.hour = ReadNumber(file, kGeneralSection, "DailyStatusEmailHour");
  m.lastSent = ReadNumber(file, kGeneralSection, "DailyStatusEmailLastSent");
  m.server = common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailPOPServer", "*", 101);
  m.to = common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailTo", "*", 101);
  m.from = common::ProfileReadText(file, kGeneralSection, "DailyStatusEmailFrom", "*", 101);
  return m;
}

DWORD WriteStatusMailSettings(const std::string& file, const StatusMailSettings& m) {
  const std::string g = kGeneralSection;
  return plat::ProfileApply(file,
                            {{g, "DailyStatusEmailType", std::to_string(m.type)},
                             {g, "DailyStatusEmailHour", std::to_string(m.hour)},
                             {g, "DailyStatusEmailPOPServer", m.server},
                             {g, "DailyStatusEmailTo", m.to},
                             {g, "DailyStatusEmailFrom", m.from}});
}

DWORD WriteDailyStatusEmailLastSent(const std::string& file, std::time_t when) {
  return common::ProfileWriteInt(file, kGeneralSection,
                                 "DailyStatusEmailLastSent", static_cast<long>(when));
}

}  // namespace svc
