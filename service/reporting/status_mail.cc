#include "service/reporting/status_mail.h"

#include <algorithm>

#include "common/trace.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "service/event_report.h"
#include "service/local_date.h"
#include "service/reporting/db_export.h"
#include "service/reporting/mail_message.h"
#include "service/reporting/smtp_client.h"
#include "service/reporting/unrecorded_mail.h"
#include "service/service_context.h"
#include "service/system_data.h"

namespace svc {

namespace {

constexpr const char* kLabel = "StatusMail";
constexpr size_t kBusiestShown = 10;

std::string LocalText(std::time_t t, const char* picture) {
  const std::tm local = plat::LocalTime(t);
  return plat::GetDateFormat(plat::LOCALE_US_ENGLISH, local, "yyyy-MMM-dd") +
         (picture ? " " + plat::GetTimeFormat(plat::LOCALE_US_ENGLISH, local, picture) : "");
}

// Local time minus UTC at `t`, in minutes.
int UtcOffsetMinutes(std::time_t t) {
  const std::tm l = plat::LocalTime(t);
  const std::int64_t local =
      DayNumber(l) * 86400 + std::int64_t{l.tm_hour} * 3600 + l.tm_min * 60 + l.tm_sec;
  return static_cast<int>((local - static_cast<std::int64_t>(t)) / 60);
}

// Account names are shown as stored, but never with a control character.
std::string Printable(std::string text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return text;
}

std::string Row(const char* label, long value) {
  return plat::FormatText("  %-30s %8ld\n", label, value);
}

}  // namespace

std::string StatusMailSubject(const std::string& serverName, std::time_t now) {
  return "Portulon daily status of " + serverName + " for " + LocalText(now, nullptr);
}

std::string StatusMailBody(const std::string& serverName, const StatusCounters& counters,
                           std::time_t now, std::time_t lastSent) {
  std::string body = "Portulon daily status of " + Printable(serverName) + "\n";
  body += "Report of " + LocalText(now, "HH:mm") + ", counted since " +
          (lastSent ? "the last report of " + LocalText(lastSent, "HH:mm")
                    : std::string("the counters were started")) +
          ".\n\n";
  long accounts = 0;
  for (const auto& [account, count] : counters.users) accounts += count > 0;
  body += "  Figure                            Count\n";
  body += "  ------------------------------ --------\n";
  body += Row("Sessions admitted", counters.sessions);
  body += Row("Connection attempts refused", counters.denied);
  body += Row("Forced disconnections", counters.disconnect);
  body += Row("Accounts that connected", accounts);

  std::vector<std::pair<std::string, long>> busiest;
  for (const auto& entry : counters.users) {
    if (entry.second > 0) busiest.push_back(entry);
  }
  std::sort(busiest.begin(), busiest.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  body += "\n";
  if (busiest.empty()) {
    body += "No account connected in this period.\n";
    return body;
  }
  body += busiest.size() > kBusiestShown ? "The ten busiest accounts:\n\n" : "Accounts by sessions:\n\n";
  body += "  Sessions  Account\n";
  body += "  --------  -------\n";
  for (size_t i = 0; i < busiest.size() && i < kBusiestShown; ++i) {
    body += plat::FormatText("  %8ld  ", busiest[i].second) + Printable(busiest[i].first) + "\n";
  }
  return body;
}

StatusMailOutcome SendStatusMail(const ServiceContext& context, std::time_t now,
                                 std::chrono::milliseconds timeout) {
  StatusMailOutcome out;
  // What an earlier mail could not record goes first; what still cannot is
  // left out of this mail's figures and period.
  SettleUnrecordedMail(context);
  UnrecordedMail owed = ReadUnrecordedMail();
  const StatusMailSettings settings = ReadStatusMailState(context);
  if (settings.type == 0) {
    out.off = true;
    out.error = "the daily status mail is off (DailyStatusEmailType is 0)";
    return out;
  }
  auto failed = [&](std::string why) {
    out.error = std::move(why);
    common::Trace(kLabel, "Status mail failed: " + out.error, 0);
    ReportToEventLog(1, common::kEventStatusMailFailed, "Daily status mail failed", out.error.c_str(), 2);
    return out;
  };
  // Unreachable, the counters would read as zeros and the mail would say so.
  if (const plat::DWORD err = CheckDataFolder(context); err != 0) {
    return failed("cannot reach the data folder " + context.PathsSnapshot().folder + " (error " +
                  std::to_string(err) + ")");
  }
  MailServer server;
  if (!ParseMailServer(settings.server, &server)) {
    return failed("no usable mail server in DailyStatusEmailPOPServer ('" + settings.server + "')");
  }
  std::vector<std::string> to, from;
  std::string bad;
  if (!ParseMailAddresses(settings.to, &to, &bad)) {
    return failed("bad address in DailyStatusEmailTo: '" + bad + "'");
  }
  if (!ParseMailAddresses(settings.from, &from, &bad) || from.size() != 1) {
    return failed("DailyStatusEmailFrom must be one address: '" + settings.from + "'");
  }
  const StatusCounters counters = LessReported(ReadStatusCounters(context), owed.counts);
  MailMessage message;
  message.from = from[0];
  message.to = to;
  message.subject = StatusMailSubject(context.serverName, now);
  message.body = StatusMailBody(context.serverName, counters, now, settings.lastSent);
  message.date = now;
  message.utcOffsetMinutes = UtcOffsetMinutes(now);
  message.idDomain = context.serverName;
  const SmtpOutcome sent =
      SendMail(server, context.serverName, from[0], to, FormatMailMessage(message), timeout);
  if (!sent.ok) {
    return failed("mail server " + server.host + ":" + std::to_string(server.port) + ": " +
                  sent.error);
  }
  // Accepted: only now are the reported counts spent.
  common::Trace(kLabel, "Status mail sent to " + settings.to, counters.sessions);
  out.sent = true;
  std::string unrecorded;
  if (const DWORD err = SubtractStatusCounters(context, counters); err != 0) {
    owed.counts = AddCounts(owed.counts, counters);
    unrecorded = "the counters of svc_status.dat could not be reset (error " + std::to_string(err) + ")";
  }
  if (const DWORD err = WriteDailyStatusEmailLastSent(context.PathsSnapshot().systemData, now);
      err != 0) {
    owed.sent = now;
    unrecorded += std::string(unrecorded.empty() ? "" : "; ") +
                  "DailyStatusEmailLastSent could not be written (error " + std::to_string(err) + ")";
  }
  if (unrecorded.empty()) return out;
  // Kept in the registry until the data folder takes it, so that the next
  // mail neither counts these figures again nor goes out a second time today.
  if (const DWORD err = WriteUnrecordedMail(owed); err != 0) {
    unrecorded += "; nor could it be kept in the registry (error " + std::to_string(err) +
                  "): the next mail may count these figures again";
  } else {
    unrecorded += "; it is written as soon as the data folder takes it, and the next mail counts from this one";
  }
  out.unrecorded = unrecorded;
  common::Trace(kLabel, "Mail sent, but " + unrecorded, 0);
  ReportToEventLog(1, common::kEventStatusMailUnrecorded, "Daily status mail sent, but not recorded",
                   unrecorded.c_str(), 2);
  return out;
}

}  // namespace svc
