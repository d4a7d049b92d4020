// plexport: runs the master's scheduled jobs now, for an administrator (and
// the demo): the database export and the daily status mail, with the settings
// the service uses; and shows when the service runs them.
#include <cstdio>
#include <optional>
#include <string>

#include "accounts/units.h"
#include "common/data_folder.h"
#include "platform/sysinfo.h"
#include "platform/tools/tool_args.h"
#include "platform/tools/tool_format.h"
#include "service/reporting/db_export.h"
#include "service/reporting/export_schedule.h"
#include "service/reporting/smtp_client.h"
#include "service/reporting/status_mail.h"
#include "service/service_context.h"
#include "service/settings.h"
#include "service/system_data.h"

namespace {

constexpr const char* kUsage = R"(plexport - run the master's database export and status mail now

Usage:
  plexport export [--machine ROOT]
  plexport mail [--machine ROOT]
  plexport schedule [--machine ROOT]
  plexport set-mail --server HOST[:PORT] --to ADDRESSES --from ADDRESS
                    [--hour H] [--off] [--machine ROOT]

export    exports now what the service exports on its schedule: the profiles
          (when ExportUsers is set) and every daily log not yet exported
          complete (when ExportHistory is set), into the ODBC data source
          ODBC_DSN. Exporting again adds no row.
mail      sends the daily status mail now, whatever the hour, and resets the
          counters once the mail server has accepted it.
schedule  shows the export schedule (hours 2,18, weekdays mon,fri), whether
          the service also exports each record as it is written
          (ExportLive), and the status mail settings.
set-mail  writes the status mail settings into portulon.hw (what the
          console's system settings page does); the service counts for the
          mail from its next start.

The settings are the service's: the registry values under
HKLM\Software\Quillfen Technologies\Portulon\Service and the General section
of portulon.hw in the data folder (MasterShare). The export talks to the ODBC
driver manager, which reads ODBCSYSINI and ODBCINI as usual.

Options:
  --server HOST[:PORT]  set-mail: the SMTP server
  --to ADDRESSES        set-mail: the recipients, separated by ';'
  --from ADDRESS        set-mail: the sender
  --hour H              set-mail: the hour from which the mail is sent
                        (default 7)
  --off                 set-mail: switch the mail and its counters off
  --machine ROOT        the machine folder (default: PORTULON_MACHINE)
  --help                show this text
  --version             show the program's version

Exit status:
  0  done
  1  the job failed; the reason is printed, traced and reported as an event
  2  the command line is wrong

Files:
  FOLDER\portulon.hw    the status mail's settings (section General)
  FOLDER\LogData\       the daily logs that are exported
  /etc/odbc.ini         the data sources (or $ODBCINI)

Examples:
  plexport schedule
  plexport export
  plexport set-mail --server mail.example.org --to 'ops@example.org' --from portulon@example.org

See also:
  plsettings(1), plreport(1), eventlog(1)
)";

// The options of set-mail, taken before the command line is checked for
// unknown ones.
struct MailOptions {
  bool off = false;
  std::optional<std::string> server, to, from, hour;
};

MailOptions TakeMailOptions(pltools::Tool& tool) {
  MailOptions o;
  std::string value;
  o.off = tool.TakeFlag("--off");
  if (tool.TakeOption("--server", &value)) o.server = value;
  if (tool.TakeOption("--to", &value)) o.to = value;
  if (tool.TakeOption("--from", &value)) o.from = value;
  if (tool.TakeOption("--hour", &value)) o.hour = value;
  return o;
}

int SetMail(pltools::Tool& tool, const svc::ServiceContext& context, const MailOptions& options) {
  svc::StatusMailSettings m = svc::ReadStatusMailSettings(context.paths.systemData);
  const bool off = options.off;
  if (options.server) m.server = *options.server;
  if (options.to) m.to = *options.to;
  if (options.from) m.from = *options.from;
  if (options.hour) {
    const std::string& hour = *options.hour;
    if (hour.empty() || hour.size() > 2 || hour.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(hour) > 23) {
      return tool.ValueError("--hour takes 0 to 23");
    }
    m.hour = static_cast<plat::DWORD>(std::stoi(hour));
  } else if (m.hour > 23) {
    m.hour = 7;
  }
  if (tool.failed()) return tool.exitCode();
  if (tool.args().size() > 1) return tool.UsageError("unexpected argument '" + tool.args()[1] + "'");
  svc::MailServer server;
  std::vector<std::string> addresses;
  std::string bad;
  if (!off) {
    if (!svc::ParseMailServer(m.server, &server)) return tool.ValueError("give --server HOST[:PORT]");
    if (!svc::ParseMailAddresses(m.to, &addresses, &bad)) {
      return tool.ValueError("bad recipient address '" + bad + "'");
    }
    if (!svc::ParseMailAddresses(m.from, &addresses, &bad) || addresses.size() != 1) {
      return tool.ValueError("--from takes one address");
    }
  }
  m.type = off ? 0 : 1;
  if (const plat::DWORD err = svc::WriteStatusMailSettings(context.paths.systemData, m); err != 0) {
    return tool.Fail(err, common::kSystemDataFile);
  }
  std::printf("Daily status mail %s: from %u:00 through %s to %s (sender %s)\n", off ? "off" : "on",
              static_cast<unsigned>(m.hour), m.server.c_str(), m.to.c_str(), m.from.c_str());
  return pltools::kExitSuccess;
}

int Schedule(const svc::ServiceContext& context) {
  using accounts::Unit;
  const svc::ServiceSettings& s = context.settings;
  if (s.master != 1) std::printf("This server is not the master (Master=%u): its service runs no job.\n",
                                 static_cast<unsigned>(s.master));
  std::printf("Database export (data source '%s', account '%s')\n", s.odbcDsn.c_str(),
              s.odbcAccount.c_str());
  std::printf("  hours   %s   (ExportHours=%u)\n", accounts::FormatSet(Unit::HourSet, s.exportHours).c_str(),
              static_cast<unsigned>(s.exportHours));
  const bool everyDay = (s.exportDays & 0x7F) == 0 && (s.exportDates & 0x7FFFFFFF) == 0;
  std::printf("  days    %s   (ExportDays=%u)\n",
              everyDay ? "every day" : accounts::FormatSet(Unit::WeekdaySet, s.exportDays).c_str(),
              static_cast<unsigned>(s.exportDays));
  std::printf("  dates   %s   (ExportDates=%u)\n",
              everyDay ? "every day" : accounts::FormatSet(Unit::MonthDaySet, s.exportDates).c_str(),
              static_cast<unsigned>(s.exportDates));
  std::printf("  exports %s%s%s\n", s.exportUsers ? "profiles " : "",
              s.exportHistory ? "sessions" : "", s.exportUsers || s.exportHistory ? "" : "nothing");
  std::printf("  %s\n", svc::ExportEnabled(s) ? "enabled" : "off");
  std::printf("  near-live %s   (ExportLive=%u)\n",
              svc::LiveExportEnabled(s) ? "on: each record within a minute"
              : s.exportLive            ? "off (with the export of the sessions only)"
                                        : "off",
              static_cast<unsigned>(s.exportLive));
  const svc::StatusMailSettings m = svc::ReadStatusMailSettings(context.paths.systemData);
  std::printf("Daily status mail: %s\n", m.type ? "on" : "off");
  std::printf("  from %u:00, server %s, to %s, from %s, last sent %s\n", static_cast<unsigned>(m.hour),
              m.server.c_str(), m.to.c_str(), m.from.c_str(),
              m.lastSent ? pltools::IsoLocalTime(static_cast<std::time_t>(m.lastSent)).c_str() : "never");
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plexport", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");
  const MailOptions mailOptions = tool.args()[0] == "set-mail" ? TakeMailOptions(tool) : MailOptions{};
  if (!tool.RequireMachine()) return tool.exitCode();
  const std::string command = tool.args()[0];
  if (command != "set-mail" && tool.args().size() > 1) {
    return tool.UsageError("unexpected argument '" + tool.args()[1] + "'");
  }
  if (command != "export" && command != "mail" && command != "schedule" && command != "set-mail") {
    return tool.UsageError("unknown command '" + command + "'");
  }

  svc::ServiceContext context;
  context.serverName = plat::GetComputerName();
  svc::ReadSettings(context);
  if (context.settings.masterShare.empty()) {
    return tool.Fail("MasterShare is not set: the data folder is unknown");
  }
  if (command == "schedule") return Schedule(context);
  if (command == "set-mail") return SetMail(tool, context, mailOptions);

  const std::time_t now = context.Now();
  if (command == "export") {
    const svc::ServiceSettings& s = context.settings;
    if (!s.exportUsers && !s.exportHistory) {
      return tool.Fail("nothing to export: ExportUsers and ExportHistory are both 0");
    }
    const svc::ExportOutcome e = svc::RunDatabaseExport(context, now);
    if (!e.ok) return tool.Fail("export failed: " + e.error);
    std::printf("Exported into data source '%s': %ld profiles, %ld session records of %d %s\n",
                s.odbcDsn.c_str(), e.profiles, e.records, e.days, e.days == 1 ? "day" : "days");
    return pltools::kExitSuccess;
  }
  const svc::StatusMailOutcome m = svc::SendStatusMail(context, now);
  if (!m.sent) return tool.Fail("status mail not sent: " + m.error);
  const svc::StatusMailSettings settings = svc::ReadStatusMailSettings(context.paths.systemData);
  std::printf("Status mail sent to %s through %s; counters reset\n", settings.to.c_str(),
              settings.server.c_str());
  return pltools::kExitSuccess;
}
