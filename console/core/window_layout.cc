#include "console/core/window_layout.h"

#include <sstream>

#include "console/core/commands.h"
#include "console/core/console_keys.h"
#include "console/core/registry_helper.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace pladmin {

namespace {
constexpr const char* kLayoutValue = "Window Layout";
}

std::optional<WindowLayout> ParseWindowLayout(const std::string& text) {
  std::istringstream in(text);
  WindowLayout l;
  if (!(in >> l.width >> l.height >> l.barWidth >> l.treeWidth >> l.navItem)) return std::nullopt;
  std::string rest;
  if (in >> rest) return std::nullopt;
  const bool sane = l.width >= 300 && l.width <= 20000 && l.height >= 200 && l.height <= 20000 &&
                    l.barWidth >= 0 && l.barWidth < l.width && l.treeWidth >= 0 && l.treeWidth < l.width &&
                    l.navItem >= kNavStatus && l.navItem <= kNavStatistics;
  if (!sane) return std::nullopt;
  return l;
}

std::string FormatWindowLayout(const WindowLayout& l) {
  return std::to_string(l.width) + " " + std::to_string(l.height) + " " + std::to_string(l.barWidth) + " " +
         std::to_string(l.treeWidth) + " " + std::to_string(l.navItem);
}

std::optional<WindowLayout> ReadWindowLayout() {
  std::string text;
  if (!CRegistry().ReadString(kClientSubkey, kLayoutValue, &text)) return std::nullopt;
  return ParseWindowLayout(text);
}

bool WriteWindowLayout(const WindowLayout& layout) {
  // The Client key may not be there yet on a console that never changed a setting.
  plat::RegKey key;
  return plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key) == plat::ERROR_SUCCESS &&
         key.SetString(kLayoutValue, FormatWindowLayout(layout)) == plat::ERROR_SUCCESS;
}

}  // namespace pladmin
