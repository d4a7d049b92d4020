// What the service does before each message while a fault of the data
// folder lasts: it looks whether the folder is back and, once it is, reports
// the end of the outage, reads the shared settings it could not read, and
// writes what it kept meanwhile, before the message is decided.
#pragma once

namespace svc {

struct ServiceContext;

// Pipe thread, holding context.recordMutex (or the start, before the pipe
// thread runs). Nothing to do costs nothing.
void RecoverFromOutages(ServiceContext& context);

// Between messages (supervision): writes what was kept once the folder takes
// it, so that a server nobody dials does not hold it. Skips the turn while a
// message is being decided.
void WriteKeptBetweenMessages(ServiceContext& context);

}  // namespace svc
