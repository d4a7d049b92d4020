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

Table::Table(std::vector<Column> columns) : columns_(std::move(columns)) {
  for (const Column& c : columns_) widths_.push_back(DisplayWidth(c.heading));
}

std::string Table::Fit(const std::string& cell) const {
  if (limit_ == 0 || DisplayWidth(cell) <= limit_) return cell;
  // Keep limit_ - 3 columns, never half a UTF-8 sequence.
  size_t keep = 0, columns = 0;
  while (keep < cell.size()) {
    if ((static_cast<unsigned char>(cell[keep]) & 0xC0) != 0x80 && ++columns > limit_ - 3) break;
    ++keep;
  }
  return cell.substr(0, keep) + "...";
}

void Table::Measure(const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size() && i < widths_.size(); ++i) {
    widths_[i] = std::max(widths_[i], limit_ ? std::min(limit_, DisplayWidth(cells[i])) : DisplayWidth(cells[i]));
  }
}

void Table::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  Measure(cells);
  rows_.push_back(std::move(cells));
}

void Table::Line(std::FILE* out, const std::vector<std::string>& cells, bool fit) const {
  std::string text;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string cell = i >= cells.size() ? std::string() : fit ? Fit(cells[i]) : cells[i];
    const std::string fill(widths_[i] - std::min(widths_[i], DisplayWidth(cell)), ' ');
    if (i) text += "  ";
    text += columns_[i].rightAligned ? fill + cell : cell + fill;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::fprintf(out, "%s\n", text.c_str());
}

void Table::PrintRow(std::FILE* out, OutputFormat format, const std::vector<std::string>& cells) const {
  if (format == OutputFormat::Csv) {
    std::vector<std::string> all(cells);
    all.resize(columns_.size());
    std::fprintf(out, "%s\n", CsvLine(all).c_str());
  } else {
    Line(out, cells, true);
  }
}

void Table::PrintHeadings(std::FILE* out, OutputFormat format) const {
  std::vector<std::string> headings, rule;
  for (size_t i = 0; i < columns_.size(); ++i) {
    headings.push_back(columns_[i].heading);
    rule.push_back(std::string(widths_[i], '-'));
  }
  if (format == OutputFormat::Csv) {
    std::fprintf(out, "%s\n", CsvLine(headings).c_str());
    return;
  }
  Line(out, headings, false);
  Line(out, rule, false);
}

void Table::Print(std::FILE* out, OutputFormat format) const {
  PrintHeadings(out, format);
  for (const auto& row : rows_) PrintRow(out, format, row);
}

}  // namespace pltools
