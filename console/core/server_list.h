// CServerList: the monitored servers, in the order of the console machine's
// Servers key (one empty subkey per server), the master server and where its
// shared data lies, and the fetches that refresh the records.
//
// The list belongs to the user-interface thread: every member is called on
// that thread only. A fetch works on its own copy of a record; the list takes
// the copy over when the fetch's notification comes back (OnFetchNotification).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/core/fetcher_thread.h"
#include "console/core/message_sink.h"
#include "console/core/server.h"
#include "platform/registry.h"

namespace pladmin {

class CServerList {
 public:
  CServerList() = default;
  ~CServerList();
  CServerList(const CServerList&) = delete;
  CServerList& operator=(const CServerList&) = delete;

  // Reads the Servers key of the console's machine; replaces the list.
  // Subkey names that cannot be a computer name (empty, longer than 60
  // characters, blanks or punctuation) and repeated names are left out and
  // told once. A key that cannot be opened: "Failed to open the SERVERS key
  // in the registry. Error %d." and an empty list.
  void Load(MessageSink& sink);

  enum AddResult { kAddFailed = -1, kAlreadyListed = 0, kAdded = 1 };
  // Adds a server and its subkey. Already listed (any case): nothing changes.
  AddResult Add(const std::string& name, MessageSink& sink);
  // Removes the record and its subkey; a fetch of it still running is told to
  // stop and is reaped later, so the window never waits for a slow server.
  bool Remove(const std::string& name, MessageSink& sink);

  int size() const { return static_cast<int>(slots_.size()); }
  const CServer& At(int index) const { return slots_[static_cast<size_t>(index)].server; }
  // Index of a server by name (any case), -1 when not listed.
  int Find(const std::string& name) const;
  int IndexOfId(std::uint64_t id) const;

  // Starts a fetch of server `index` unless one is running. A finished fetch
  // not yet taken over is taken over first.
  void StartFetch(int index, RasAdmin& admin, std::shared_ptr<FetchNotifier> notifier);
  bool FetchRunning(int index) const;

  // A notification of a fetch (kMsgServerChanged or kMsgServerRedraw). When
  // that server's fetch has finished, its record is taken over and the
  // fetcher destroyed; a progress report of a running fetch sets the state.
  // Returns the server's index, or -1 for a server no longer listed.
  int OnFetchNotification(int message, std::uint64_t id, int state);

  // Tells every fetch to stop and waits for all of them; their results are dropped.
  void StopAllFetches();
  // Joins the fetchers that were told to stop and have finished.
  void ReapRetired();

  bool masterKnown() const { return masterKnown_; }
  const std::string& masterName() const { return masterName_; }
  const std::string& masterShare() const { return masterShare_; }
  // "%s\portulon.hw" and "%s\portulon.usr" of the master's share.
  const std::string& systemDataPath() const { return hwPath_; }
  const std::string& profilePath() const { return usrPath_; }

  // The last server whose time-zone bias could not be kept in the registry
  // (empty when every one was kept); the log views say so.
  const std::string& biasNotKept() const { return biasNotKept_; }

  // A name the list accepts: 1 to 60 characters of a computer name.
  static bool IsValidServerName(const std::string& name);

 private:
  struct Slot {
    CServer server;
    std::unique_ptr<CServerFetcherThread> fetcher;
  };
  void Append(const std::string& name);
  void TakeOver(Slot& slot);
  void UpdateMaster(const CServer& server);
  static void RecallBias(const plat::RegKey& servers, CServer* server);
  void RememberBias(const CServer& before, const CServer& after);

  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<CServerFetcherThread>> retired_;
  std::uint64_t nextId_ = 1;
  bool masterKnown_ = false;
  std::string masterName_, masterShare_, hwPath_, usrPath_;
  std::string biasNotKept_;
};

}  // namespace pladmin
