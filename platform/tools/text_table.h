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
  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}

  // A row with one cell per column (missing cells are empty, extra ones dropped).
  void AddRow(std::vector<std::string> cells);
  size_t rows() const { return rows_.size(); }

  // Table: the headings, a rule, the rows; columns two blanks apart, no
  // trailing blanks. Csv: the headings, then the rows, each cell as written.
  void Print(std::FILE* out, OutputFormat format) const;

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace pltools
