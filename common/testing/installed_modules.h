// The product's modules and events on a test network: its remote-access
// admin module installed as the installer puts it, and the records its
// programs write under the event source "Portulon".
#pragma once

#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"

namespace common::testing {

inline constexpr const char* kEventSource = "Portulon";
inline constexpr const char* kProgramFolder = "Portulon";  // below C:\Program Files

// Copies build/bin/<module> into the product's program folder and names it
// in DLLPath.
inline void InstallAdminDll(const plat::testing::TempNetwork& net, const std::string& module = "PL_RAS.dll") {
  plat::testing::InstallAdminModule(net, module, kProgramFolder);
}

// The product's records in the Application log.
inline std::vector<plat::EventRecord> PortulonEvents() { return plat::testing::ApplicationEvents(kEventSource); }

}  // namespace common::testing
