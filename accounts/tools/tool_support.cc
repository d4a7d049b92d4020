#include "accounts/tools/tool_support.h"

#include <algorithm>
#include <cstdio>

#include "accounts/settings_store.h"
#include "platform/file.h"
#include "platform/tools/tool_format.h"

namespace placcounts_tools {

bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder) {
  if (!tool.RequireMachine()) return false;
  if (given) {
    *folder = *given;
  } else {
    auto share = accounts::ServerDataFolder("");
    if (!share) {
      tool.Fail("Portulon's data folder (MasterShare) is not set on this machine; give --data FOLDER");
      return false;
    }
    *folder = *share;
  }
  if (!plat::DirectoryExists(*folder)) {
    tool.Fail("the data folder " + *folder + " cannot be found (is its share there and its machine up?)");
    return false;
  }
  return true;
}

void PrintTable(const std::vector<std::string>& heading, const std::vector<std::vector<std::string>>& rows,
                bool csv) {
  if (csv) {
    std::printf("%s\n", pltools::CsvLine(heading).c_str());
    for (const auto& row : rows) std::printf("%s\n", pltools::CsvLine(row).c_str());
    return;
  }
  std::vector<size_t> width(heading.size());
  for (size_t i = 0; i < heading.size(); ++i) width[i] = heading[i].size();
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size() && i < width.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i) {
      out += cells[i];
      if (i + 1 < cells.size()) out.append(width[i] - cells[i].size() + 2, ' ');
    }
    std::printf("%s\n", out.c_str());
  };
  line(heading);
  std::vector<std::string> rule;
  for (size_t w : width) rule.push_back(std::string(w, '-'));
  line(rule);
  for (const auto& row : rows) line(row);
}

}  // namespace placcounts_tools
