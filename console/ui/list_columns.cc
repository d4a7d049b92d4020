#include "console/ui/list_columns.h"

#include <QHeaderView>

#include <algorithm>

namespace pladmin::ui {

void FitColumnsToHeadings(QHeaderView* header, int minimum) {
  for (int c = 0; c < header->count(); ++c) {
    header->resizeSection(c, std::max(minimum, header->sectionSizeHint(c)));
  }
}

}  // namespace pladmin::ui
