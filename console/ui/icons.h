// The console's icons, drawn at run time: one per navigation item (32x32 and
// 16x16), per kind of tree item, and the application's.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pladmin::ui {

QIcon NavIcon(int navItem);
QIcon NodeIcon(int nodeKind);
QIcon AppIcon();
QIcon CommandIcon(int commandId);
// The splash screen's picture.
QPixmap SplashPixmap();

}  // namespace pladmin::ui
