// The console window's layout kept between runs: its size, the width of the
// navigation bar and of the tree, and the view it showed last. One value,
// "Window Layout", in the console's Client key: "width height bar tree view".
#pragma once

#include <optional>
#include <string>

namespace pladmin {

struct WindowLayout {
  int width = 0, height = 0;
  int barWidth = 0;   // the navigation bar beside the container
  int treeWidth = 0;  // the tree beside the content view
  int navItem = 0;    // kNavStatus .. kNavStatistics

  bool operator==(const WindowLayout&) const = default;
};

// Nothing for text that is not five numbers in their ranges (a hand-edited
// or damaged value is not applied).
std::optional<WindowLayout> ParseWindowLayout(const std::string& text);
std::string FormatWindowLayout(const WindowLayout& layout);

// The Client key of the console's machine.
std::optional<WindowLayout> ReadWindowLayout();
bool WriteWindowLayout(const WindowLayout& layout);

}  // namespace pladmin
