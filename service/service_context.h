// The state of one running service, in explicit objects that tests can build
// on their own: who we are, the settings and data paths, the system data, the
// port table and the remote-access server; and what replaces its settings.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <map>
#include <string>
#include <thread>
#include <unordered_map>

#include "service/port_table.h"
#include "service/ras_ports.h"
#include "service/record_spool.h"
#include "service/settings.h"
#include "service/system_data.h"
#include "service/write_health.h"

namespace svc {

struct ServiceContext {
  // GetComputerName, read once at start-up; every port key is built from it.
  std::string serverName;
  // Re-read on the pipe thread (UPDATE_UPDATE), which reads them freely; other
  // threads take copies through the snapshots below.
  ServiceSettings settings;
  DataPaths paths;
  // Guards settings and paths while they are replaced, against the copies
  // other threads take.
  mutable std::shared_mutex settingsMutex;
  ServiceSettings SettingsSnapshot() const {
    std::shared_lock<std::shared_mutex> lock(settingsMutex);
    return settings;
  }
  DataPaths PathsSnapshot() const {
    std::shared_lock<std::shared_mutex> lock(settingsMutex);
    return paths;
  }
  // The session file (session_files.h), fixed at start-up.
  std::string sessionFile;
  bool groupPropertiesUsed = false;
  // Its kind (RAS, RRAS, OpenVPN), functions and disconnect outage.
  RemoteAccess remoteAccess;

  // Seconds since 1970; tests replace it.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
  std::time_t Now() const { return clock(); }

  // The next free spill number of the seconds that got records lately, per
  // port section of the day log (a hang-up's record goes under its session's
  // start, between records of the present). Under recordMutex.
  struct LogKeyHint {
    static constexpr size_t kSeconds = 16;  // the most recent ones are kept
    std::map<std::int64_t, int> next;       // second -> next spill number
  };
  std::unordered_map<std::string, LogKeyHint> logKeyHints;

  // Whether writes of the shared files succeed; any thread notes its own.
  mutable WriteHealth writeHealth;
  // What the data folder would not take, kept until it does. Opened before
  // the pipe thread starts.
  RecordSpool spool;
  // Guards spool and logKeyHints, and so the order of records and charges:
  // held by the pipe thread for each message, by supervision while it
  // writes what was kept on a server nobody dials.
  std::mutex recordMutex;
  // The data folder could not be read for a caller's profile; ends when it
  // can again (event 1, then 19).
  mutable Outage folderUnreadable;
  // portulon.hw could not be read when its settings were wanted: the last
  // ones read stay in force until it can (pipe thread, and the start before it).
  bool systemDataStale = false;
  // portulon.hw was read at least once by this run.
  bool systemDataRead = false;

  // portulon.hw's shared sections, read at start-up and again at
  // UPDATE_UPDATE, both on the pipe thread, which reads them freely; other
  // threads take a copy through SystemDataSnapshot.
  SystemData systemData;
  // Guards systemData while it is replaced, against the copies other threads take.
  mutable std::mutex systemDataMutex;
  SystemData SystemDataSnapshot() const {
    std::lock_guard<std::mutex> lock(systemDataMutex);
    return systemData;
  }
  // The sessions in progress; carries its own mutex.
  PortTable portTable;
  // The master's export scheduler (log archiving). Last member: it stops and
  // joins before the rest of the context goes.
  std::jthread exportThread;
};

// Re-reads the settings, fixes the data folder and file paths from MasterShare
// ("Working alone" in the current directory without one) and tests the folder.
void ReadSettings(ServiceContext& context);

// Step 3 of FirstTimeInitialize, and again at UPDATE_UPDATE: replaces
// context.systemData with portulon.hw and the greeting files. When they
// cannot be read the settings read last stay, said once by event 17 until
// they can be read again (event 18).
void ReadSystemDataFromCentralDB(ServiceContext& context);

// Creates and deletes "<data folder>\<computer name>.tst". On failure traces
// "TestMasterShare" "Failed to access folder", reports event 1 when this
// begins an outage of the folder (not again while it lasts) and returns the
// system error; on success traces "Access OK", ends such an outage (event
// 19) and returns 0.
DWORD TestMasterShare(const ServiceContext& context);

// A caller's profile could not be read because the folder could not
// (`error`): event 1, saying what is done to such callers, when this begins
// the outage; counted otherwise.
void NoteDataFolderUnreadable(const ServiceContext& context, DWORD error);
// The folder answered a test: ends its outage with event 19 and the count.
void NoteDataFolderReadable(const ServiceContext& context);

}  // namespace svc
