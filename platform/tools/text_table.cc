#include "platform/tools/text_table.h"

#include <algorithm>

namespace pltools {

namespace {

// Cells are bytes; a UTF-8 sequence counts as one column.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return width;
}

}  // namespace

void Table::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

void Table::Print(std::FILE* out, OutputFormat format) const {
  if (format == OutputFormat::Csv) {
    std::vector<std::string> headings;
    for (const Column& c : columns_) headings.push_back(c.heading);
    std::fprintf(out, "%s\n", CsvLine(headings).c_str());
    for (const auto& row : rows_) std::fprintf(out, "%s\n", CsvLine(row).c_str());
    return;
  }
  std::vector<size_t> widths;
  for (const Column& c : columns_) widths.push_back(DisplayWidth(c.heading));
  for (const auto& row : rows_) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
      const std::string fill(widths[i] - DisplayWidth(cells[i]), ' ');
      if (i) text += "  ";
      text += columns_[i].rightAligned ? fill + cells[i] : cells[i] + fill;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::fprintf(out, "%s\n", text.c_str());
  };
  std::vector<std::string> headings, rule;
  for (size_t i = 0; i < columns_.size(); ++i) {
    headings.push_back(columns_[i].heading);
    rule.push_back(std::string(widths[i], '-'));
  }
  line(headings);
  line(rule);
  for (const auto& row : rows_) line(row);
}

}  // namespace pltools
