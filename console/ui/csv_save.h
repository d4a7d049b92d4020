// Asks for a CSV file name and writes a text there; "Error opening file for
// output." when it cannot be written.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "console/core/message_sink.h"

namespace pladmin::ui {

// Returns the chosen path ("" when cancelled).
QString AskCsvPath(QWidget* parent, const QString& title);
bool WriteTextFile(const QString& path, const std::string& text, MessageSink& sink);

}  // namespace pladmin::ui
