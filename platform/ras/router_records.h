// The router's records of ports and connections (mprapi.h), filled from what
// rassvc reports: for the administration extension's calls and for MPRAPI.DLL.
// Texts are cut to their buffers.
#pragma once

#include <ctime>
#include <vector>

#include "platform/ras/mprapi.h"
#include "platform/ras/rassvc_protocol.h"

namespace plat::ras {

// `now` gives the connect duration of a port in session.
void FillRouterPort0(const PortInfo& port, std::time_t now, mprapi::RAS_PORT_0* out);
void FillRouterPort1(const PortInfo& port, mprapi::RAS_PORT_1* out);

// A connection from its links (the ports with its handle; at least one): the
// caller from the first, the byte counts summed over all.
void FillConnection0(const std::vector<PortInfo>& links, std::time_t now,
                     mprapi::RAS_CONNECTION_0* out);
void FillConnection1(const std::vector<PortInfo>& links, mprapi::RAS_CONNECTION_1* out);

}  // namespace plat::ras
