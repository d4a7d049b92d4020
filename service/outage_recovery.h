// What the service does before each message while a fault of the data
// folder lasts: it looks whether the folder is back and, once it is, reports
// the end of the outage, reads the shared settings it could not read, and
// writes what it kept meanwhile, before the message is decided.
#pragma once

namespace svc {

struct ServiceContext;

// Pipe thread (or the start, before it runs). Nothing to do costs nothing.
void RecoverFromOutages(ServiceContext& context);

}  // namespace svc
