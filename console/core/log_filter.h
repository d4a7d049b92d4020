// Which records of the day the tree's selection shows, the filter's text for
// the printout's heading, and the members of a selected group, fetched from
// the domain's primary controller into "~logvw.tmp" of the temporary folder.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/log_record_store.h"
#include "console/core/message_sink.h"

namespace pladmin {

struct Selection;

struct LogFilter {
  int nodeKind = 0;
  std::string server, port, domain, group, user;

  static LogFilter Of(const Selection& selection);
};

// The members of a group as "DOMAIN\member", compared in any case.
class GroupMembers {
 public:
  // LoadGroupMember: empties "~logvw.tmp", finds the domain's primary
  // controller ("Error getting PDC (%d)" to `sink` on failure, and no
  // members), and writes each member of the group there as
  // Members/"<domain>\<member>" = 1, reading the group in pages.
  void Load(const std::string& domain, const std::string& group, MessageSink& sink);
  // IsAccounInGroup: the full user text is a member.
  bool Contains(const std::string& user) const;
  int size() const { return static_cast<int>(members_.size()); }
  // The file the members are kept in.
  static std::string FilePath();

 private:
  struct Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::set<std::string, Less> members_;
};

// The filter's text: "(all available records)", "(Server %s)", "(Port %s\%s)",
// "(User %s\%s)", "(Domain %s)", "(Group %s\%s)"; "" for kinds without a filter.
std::string FilterText(const LogFilter& filter);
// True when the record shows under the filter; `members` for group kinds.
bool MatchesFilter(const common::LogRecordView& r, const LogFilter& filter,
                   const GroupMembers* members);
// Indexes of the matching records, in file order.
std::vector<int> FilterRows(const common::LogRecordStore& records, const LogFilter& filter,
                            const GroupMembers* members);
std::vector<int> FilterRows(const std::vector<common::LogRecord>& records,
                            const LogFilter& filter, const GroupMembers* members);
// Whether a node kind filters by group.
bool IsGroupFilter(int nodeKind);

}  // namespace pladmin
