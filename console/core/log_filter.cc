#include "console/core/log_filter.h"

#include <cstdio>

#include "console/core/commands.h"
#include "console/core/pladmin_doc.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pladmin {

namespace {

constexpr const char* kMembersSection = "Members";
constexpr plat::DWORD kMemberPageBytes = 10000;
// The tree's second image of a group item; it filters as a group does.
constexpr int kNodeGroupAlt = 11;

}  // namespace

LogFilter LogFilter::Of(const Selection& s) {
  LogFilter f;
  f.nodeKind = s.nodeKind;
  f.server = s.server;
  f.port = s.port;
  f.domain = s.domain;
  f.group = s.group;
  f.user = s.user;
  return f;
}

bool GroupMembers::Less::operator()(const std::string& a, const std::string& b) const {
  return plat::CompareIgnoringCase(a, b) < 0;
}

std::string GroupMembers::FilePath() { return plat::GetTempPath() + "~logvw.tmp"; }

void GroupMembers::Load(const std::string& domain, const std::string& group, MessageSink& sink) {
  members_.clear();
  const std::string file = FilePath();
  plat::DeleteFile(file);
  std::string dc;
  if (const plat::DWORD err = plat::NetGetDCName("", domain, &dc); err != plat::ERROR_SUCCESS) {
    char text[64];
    std::snprintf(text, sizeof text, "Error getting PDC (%u)", static_cast<unsigned>(err));
    sink.Message(text, MessageIcon::Stop);
    return;
  }
  std::vector<plat::ProfileChange> changes;
  plat::DWORD resume = 0, read = 0, total = 0, got = 0;
  for (;;) {
    std::vector<std::string> page;
    const plat::DWORD err =
        plat::NetGroupGetUsers(dc, group, kMemberPageBytes, &page, &read, &total, &resume);
    if (err != plat::ERROR_SUCCESS && err != plat::ERROR_MORE_DATA) break;
    for (const std::string& member : page) {
      changes.push_back({kMembersSection, domain + "\\" + member, std::string("1")});
    }
    got += read;
    if (err == plat::ERROR_SUCCESS || got >= total || read == 0) break;
  }
  if (!changes.empty()) plat::ProfileApply(file, changes);
  // Read back from the file, so that the file is what decides.
  if (const auto entries = plat::ProfileReadSection(file, kMembersSection)) {
    for (const auto& [key, value] : *entries) {
      if (value == "1") members_.insert(key);
    }
  }
}

bool GroupMembers::Contains(const std::string& user) const { return members_.count(user) > 0; }

bool IsGroupFilter(int kind) { return kind == kNodeGroup || kind == kNodeGroupAlt; }

std::string FilterText(const LogFilter& f) {
  switch (f.nodeKind) {
    case kNodeServersRoot:
    case kNodeAccountsRoot:
    case kNodeAccountsRootAlt: return "(all available records)";
    case kNodeServer:
    case kNodeServerAlt: return "(Server " + f.server + ")";
    case kNodePort:
    case kNodePortInUse:
    case kNodePortAlt: return "(Port " + f.server + "\\" + f.port + ")";
    case kNodeUser: return "(User " + f.domain + "\\" + f.user + ")";
    case kNodeDomain: return "(Domain " + f.domain + ")";
    case kNodeGroup:
    case kNodeGroupAlt: return "(Group " + f.domain + "\\" + f.group + ")";
    default: return "";
  }
}

bool MatchesFilter(const common::LogRecordView& r, const LogFilter& f, const GroupMembers* members) {
  switch (f.nodeKind) {
    case kNodeServer:
    case kNodeServerAlt: return plat::EqualsIgnoringCase(r.server, f.server);
    case kNodePort:
    case kNodePortInUse:
    case kNodePortAlt:
      return plat::EqualsIgnoringCase(r.server, f.server) && plat::EqualsIgnoringCase(r.port, f.port);
    case kNodeUser: {
      const size_t slash = r.user.find('\\');
      return slash != std::string_view::npos && plat::EqualsIgnoringCase(r.user.substr(slash + 1), f.user);
    }
    case kNodeDomain: return plat::StartsWithIgnoringCase(r.user, f.domain + "\\");
    case kNodeGroup:
    case kNodeGroupAlt: return members && members->Contains(std::string(r.user));
    default: return true;
  }
}

namespace {

template <typename Records>
std::vector<int> MatchingRows(const Records& records, const LogFilter& f, const GroupMembers* members) {
  std::vector<int> rows;
  rows.reserve(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    if (MatchesFilter(records[i], f, members)) rows.push_back(static_cast<int>(i));
  }
  return rows;
}

}  // namespace

std::vector<int> FilterRows(const common::LogRecordStore& records, const LogFilter& f,
                            const GroupMembers* members) {
  return MatchingRows(records, f, members);
}

std::vector<int> FilterRows(const std::vector<common::LogRecord>& records, const LogFilter& f,
                            const GroupMembers* members) {
  return MatchingRows(records, f, members);
}

}  // namespace pladmin
