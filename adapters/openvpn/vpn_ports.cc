#include "adapters/openvpn/vpn_ports.h"

#include "platform/path.h"

namespace ovpn {

VpnPorts::VpnPorts(std::string prefix, unsigned count)
    : prefix_(std::move(prefix)), slots_(count) {}

std::string VpnPorts::Name(std::size_t slot) const { return prefix_ + std::to_string(slot + 1); }

std::optional<std::string> VpnPorts::Take(const VpnClient& client) {
  std::optional<std::size_t> free;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] && slots_[i]->cid == client.cid) {
      slots_[i] = client;
      return Name(i);
    }
    if (!slots_[i] && !free) free = i;
  }
  if (!free) return std::nullopt;
  slots_[*free] = client;
  return Name(*free);
}

bool VpnPorts::TakeAt(const std::string& port, const VpnClient& client) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (!plat::EqualsIgnoringCase(Name(i), port)) continue;
    if (slots_[i] && slots_[i]->cid != client.cid) return false;
    if (const auto held = PortOf(client.cid); held && *held != Name(i)) return false;
    slots_[i] = client;
    return true;
  }
  return false;
}

std::optional<std::string> VpnPorts::PortOf(std::uint32_t cid) const {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] && slots_[i]->cid == cid) return Name(i);
  }
  return std::nullopt;
}

VpnClient* VpnPorts::Find(const std::string& port) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] && plat::EqualsIgnoringCase(Name(i), port)) return &*slots_[i];
  }
  return nullptr;
}

std::optional<std::pair<std::string, VpnClient>> VpnPorts::Release(std::uint32_t cid) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] && slots_[i]->cid == cid) {
      std::pair<std::string, VpnClient> out{Name(i), std::move(*slots_[i])};
      slots_[i].reset();
      return out;
    }
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, VpnClient>> VpnPorts::All() const {
  std::vector<std::pair<std::string, VpnClient>> out;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i]) out.emplace_back(Name(i), *slots_[i]);
  }
  return out;
}

std::size_t VpnPorts::used() const {
  std::size_t n = 0;
  for (const auto& s : slots_) n += s ? 1 : 0;
  return n;
}

}  // namespace ovpn
