// Telling the servers that their settings changed (UPDATE_UPDATE), off the
// window thread: every server at once, each answer reported as it comes, so
// that a hung service costs its own wait and nobody else's.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pladmin {

struct UpdateNotice {
  std::string server;
  bool took = false;     // the service re-read its settings, or is not running
  std::string text;      // "SRV1 re-read the settings", "SRV2 did not answer; ..."
};

// One server, as accounts::SendUpdate tells it.
UpdateNotice NotifyServer(const std::string& server);

// Every server, each on a thread of its own; `each` is called (on those
// threads, one call at a time) with every answer as it arrives. Returns the
// answers in the order of `servers` once all have answered or given up.
std::vector<UpdateNotice> NotifyServers(const std::vector<std::string>& servers,
                                        const std::function<void(const UpdateNotice&)>& each);

// The status line after all answered: "SRV1 re-read the settings; SRV2 did not answer; ...".
std::string NoticeSummary(const std::vector<UpdateNotice>& notices);
// Only the failures, one a line; empty when every server took the settings.
std::string NoticeFailures(const std::vector<UpdateNotice>& notices);

}  // namespace pladmin
