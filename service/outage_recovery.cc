#include "service/outage_recovery.h"

#include <mutex>

#include "platform/errors.h"
#include "service/service_context.h"
#include "service/session_log.h"

namespace svc {

void RecoverFromOutages(ServiceContext& context) {
  if (context.folderUnreadable.on() &&
      ProbeDataFolder(context.paths.folder, context.serverName) == plat::ERROR_SUCCESS) {
    NoteDataFolderReadable(context);
  }
  if (context.systemDataStale) ReadSystemDataFromCentralDB(context);
  // Before the message: a charge kept in the outage counts for its decision.
  if (context.spool.pending() > 0) Log_WriteKept(context);
}

void WriteKeptBetweenMessages(ServiceContext& context) {
  const std::unique_lock lock(context.recordMutex, std::try_to_lock);
  if (!lock.owns_lock() || context.spool.pending() == 0) return;
  // Writing through the paths and settings the pipe thread replaces only
  // while it holds the lock.
  Log_WriteKept(context);
}

}  // namespace svc
