#include "console/ui/help_window.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/ui/icons.h"

// The pages are compiled into the console's static library, whose resources
// the linker keeps only when something names them.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace pladmin::ui {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
  InitHelpResources();
  setWindowTitle(tr("Portulon Administrator Help"));
  setWindowIcon(CommandIcon(32830));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto* home = new QPushButton(tr("Contents"), this);
  auto* back = new QPushButton(tr("Back"), this);
  bar->addWidget(home);
  bar->addWidget(back);
  bar->addStretch(1);
  layout->addLayout(bar);
  layout->addWidget(browser_, 1);
  browser_->setOpenExternalLinks(true);
  browser_->setSearchPaths({":/help"});
  connect(home, &QPushButton::clicked, this, [this] { ShowPage("index.html"); });
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  resize(640, 560);
  ShowPage("index.html");
}

void HelpWindow::ShowPage(const QString& page) { browser_->setSource(QUrl("qrc:/help/" + page)); }

}  // namespace pladmin::ui
