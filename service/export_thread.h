// The master's export thread: the scheduled jobs (reporting/scheduled_jobs.h)
// once a minute, and the near-live export (reporting/live_export.h) every
// kLiveExportSeconds, one after the other, so that the full export and the
// near-live one never write the same rows at once.
#pragma once

namespace svc {

struct ServiceContext;

// On a server that is not the master: traces "Not starting because this is
// not the Master" and starts nothing. On the master: starts the thread (held
// in context.exportThread) that runs the scheduled jobs and a near-live pass
// at once and then on their intervals. Stopping the thread (or destroying the
// context) ends it within moments, or once a job under way has finished (a
// mail transfer waits at most 30 s for the server).
void StartExportThread(ServiceContext& context);

}  // namespace svc
