// The tables the tools print: columns as wide as their widest cell, so that
// long names never push the columns apart; or the same rows as CSV.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/tools/tool_format.h"

namespace pltools {

class Table {
 public:
  struct Column {
    std::string heading;
    bool rightAligned = false;  // numbers and durations
  };
  explicit Table(std::vector<Column> columns);

  // A row with one cell per column (missing cells are empty, extra ones dropped).
  void AddRow(std::vector<std::string> cells);
  size_t rows() const { return rows_.size(); }

  // In the table form, a cell wider than `columns` (at least 4) is cut to
  // that width, its last three columns "..." to show that it was cut: one
  // long value no longer widens every row. CSV keeps cells whole.
  void LimitCells(size_t columns) { limit_ = columns < 4 ? 4 : columns; }

  // Table: the headings, a rule, the rows; columns two blanks apart, no
  // trailing blanks. Csv: the headings, then the rows, each cell as written.
  void Print(std::FILE* out, OutputFormat format) const;

  // For more rows than are worth holding: a first pass hands every row to
  // Measure, then PrintHeadings and one PrintRow per row, in the second,
  // print what AddRow and Print would.
  void Measure(const std::vector<std::string>& cells);
  void PrintHeadings(std::FILE* out, OutputFormat format) const;
  void PrintRow(std::FILE* out, OutputFormat format, const std::vector<std::string>& cells) const;

 private:
  std::string Fit(const std::string& cell) const;
  void Line(std::FILE* out, const std::vector<std::string>& cells, bool fit) const;

  std::vector<Column> columns_;
  std::vector<size_t> widths_;  // of the headings and every row measured
  size_t limit_ = 0;            // 0: cells are never cut
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace pltools
