#include "common/ras_client.h"

#include "platform/wide.h"

namespace common {

std::string RasClientMachine(const plat::rassapi::RAS_PORT_1& port) {
  namespace rassapi = plat::rassapi;
  const auto& nbf = port.ProjResult.nbf;
  if (nbf.dwError == 0) {
    std::string wksta = plat::FromWide(nbf.wszWksta, rassapi::NETBIOS_NAME_LEN + 1);
    if (!wksta.empty()) return wksta;
  }
  std::string computer = plat::FromWide(port.rasport0.wszComputer, rassapi::NETBIOS_NAME_LEN);
  if (!computer.empty() && computer[0] == '?') computer.clear();
  return computer;
}

}  // namespace common
