// What the console's widget tests share: screenshots under build/artifacts.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace pladmin::ui::testing {

// Saves a picture of a widget under build/artifacts.
inline void SaveScreenshot(QWidget& widget, const QString& name) {
  const QString dir = QStringLiteral(PORTULON_ARTIFACTS_DIR);
  QDir().mkpath(dir);
  const QPixmap shot = widget.grab();
  ASSERT_FALSE(shot.isNull());
  ASSERT_TRUE(shot.save(dir + "/" + name)) << (dir + "/" + name).toStdString();
}

}  // namespace pladmin::ui::testing
