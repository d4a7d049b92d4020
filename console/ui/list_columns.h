// Column widths a list starts with before it has rows to size by: wide
// enough for each heading, so nothing reads cut off at the default size.
#pragma once

class QHeaderView;

namespace pladmin::ui {

// Every section as wide as its heading, and at least `minimum`.
void FitColumnsToHeadings(QHeaderView* header, int minimum);

}  // namespace pladmin::ui
