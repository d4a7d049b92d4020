#include "console/core/log_records.h"

#include "common/data_folder.h"
#include "console/core/server_list.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pladmin {

std::vector<ServerBias> ServerBiases(const CServerList& servers) {
  std::vector<ServerBias> out;
  for (int i = 0; i < servers.size(); ++i) {
    const CServer& s = servers.At(i);
    // A server whose zone was never seen is not shifted at all.
    if (s.settings.biasSource == kBiasUnknown) continue;
    // The registry keeps the bias as a DWORD; west of Greenwich it is positive, east a negative int.
    out.push_back({s.name, static_cast<int>(s.settings.activeTimeBias)});
  }
  return out;
}

std::string TimeZoneNote(const CServerList& servers) {
  std::string unknown, remembered;
  for (int i = 0; i < servers.size(); ++i) {
    const CServer& s = servers.At(i);
    if (s.settings.biasSource == kBiasRead) continue;
    std::string& list = s.settings.biasSource == kBiasRemembered ? remembered : unknown;
    list += (list.empty() ? "" : ", ") + s.name;
  }
  std::string note;
  if (!unknown.empty()) note = "Times of " + unknown + " are shown as recorded: its time zone is not known yet.";
  if (!remembered.empty()) {
    note += (note.empty() ? "" : " ") + std::string("Times of ") + remembered +
            " use the time zone it had when last reached.";
  }
  if (!servers.biasNotKept().empty()) {
    note += (note.empty() ? "" : " ") + std::string("The time zone of ") + servers.biasNotKept() +
            " could not be kept for the next start.";
  }
  return note;
}

std::string DayLogPath(const std::string& dataFolder, const std::tm& day) {
  return common::DayLogPath(dataFolder, common::DayLogName(day));
}

void ShiftToServerTime(std::vector<common::LogRecord>* records, int consoleBias,
                       const std::vector<ServerBias>& servers) {
  for (const ServerBias& server : servers) {
    if (server.bias == consoleBias) continue;
    const std::int64_t shift = static_cast<std::int64_t>(consoleBias - server.bias) * 60;
    for (common::LogRecord& r : *records) {
      if (plat::EqualsIgnoringCase(r.server, server.name)) r.time += shift;
    }
  }
}

void ShiftToServerTime(common::LogRecordStore* records, int consoleBias,
                       const std::vector<ServerBias>& servers) {
  for (const ServerBias& server : servers) {
    if (server.bias == consoleBias) continue;
    const std::int64_t shift = static_cast<std::int64_t>(consoleBias - server.bias) * 60;
    for (std::size_t i = 0; i < records->size(); ++i) {
      if (plat::EqualsIgnoringCase((*records)[i].server, server.name)) records->AddToTime(i, shift);
    }
  }
}

bool CLogRecords::LoadLogRecords(const std::string& path, int consoleBias,
                                 const std::vector<ServerBias>& servers, const StatusFn& status) {
  std::time_t stamp = 0;
  std::uint64_t size = 0;
  if (plat::GetFileModificationTime(path, &stamp) != plat::ERROR_SUCCESS) stamp = 0;
  if (plat::GetFileSize(path, &size) != plat::ERROR_SUCCESS) size = 0;
  if (loaded_ && path == path_ && stamp == stamp_ && size == size_) return false;
  path_ = path;
  stamp_ = stamp;
  size_ = size;
  loaded_ = true;
  records_.clear();
  error_ = common::ForEachLogRecord(
      path, /*keepUnknown=*/true, [&](const common::LogRecord& r) { records_.Add(r); },
      [&](const std::string& section) {
        if (status) status("Processing logs from " + section + ", please wait...");
      });
  if (error_ == plat::ERROR_FILE_NOT_FOUND) error_ = plat::ERROR_SUCCESS;
  // A failed read is read again at the next look, not taken for the file.
  if (error_ != plat::ERROR_SUCCESS) loaded_ = false;
  ShiftToServerTime(&records_, consoleBias, servers);
  return true;
}

}  // namespace pladmin
