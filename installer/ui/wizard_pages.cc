#include "installer/ui/wizard_pages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

std::string Std(const QString& s) { return s.toStdString(); }

}  // namespace

WelcomePage::WelcomePage(QWidget* parent) : HeaderPage("Welcome to Portulon", parent) {
  body()->addWidget(Text(
      "This program installs Portulon, access control and accounting for dial-in remote access, on this "
      "computer.\n\nThe Portulon Server Component goes on every remote-access server: it decides whether a "
      "caller may connect, records every session and supervises the running ones. The Portulon Administrator "
      "is the console from which you manage users and watch your servers.\n\nClose all programs before you go "
      "on, and have ready the name and password of the account the Portulon service will run under.",
      this));
  body()->addStretch();
}

ComponentsPage::ComponentsPage(const setup::InstallChoices& defaults, const WizardPrompts& prompts, QWidget* parent)
    : HeaderPage("Select Components to Install", parent), prompts_(prompts) {
  server = new QCheckBox("Portulon Server Component", this);
  server->setChecked(defaults.server);
  console = new QCheckBox("Portulon Administrator", this);
  console->setChecked(defaults.console);
  body()->addWidget(server);
  body()->addWidget(console);
  body()->addWidget(Text("Requires Microsoft RAS or RRAS and Windows NT v4.0 or higher.", this));
  body()->addSpacing(12);
  body()->addWidget(new QLabel("Install files into this directory:", this));
  auto* row = new QHBoxLayout;
  path = new QLineEdit(QString::fromStdString(defaults.installPath), this);
  path->setMaxLength(static_cast<int>(setup::kMaxInstallPath) + 1);  // one more, so that too long shows
  browseButton = new QPushButton("Browse...", this);
  row->addWidget(path);
  row->addWidget(browseButton);
  body()->addLayout(row);
  body()->addStretch();
  connect(browseButton, &QPushButton::clicked, this, &ComponentsPage::Browse);
  connect(server, &QCheckBox::toggled, this, &ComponentsPage::completeChanged);
  connect(console, &QCheckBox::toggled, this, &ComponentsPage::completeChanged);
  connect(path, &QLineEdit::textChanged, this, &ComponentsPage::completeChanged);
}

void ComponentsPage::Browse() {
  const QString chosen = prompts_.browse(path->text());
  if (!chosen.isEmpty()) path->setText(QString::fromStdString(setup::AppendPortulon(Std(chosen))));
}

bool ComponentsPage::isComplete() const {
  return (server->isChecked() || console->isChecked()) && !path->text().trimmed().isEmpty();
}

bool ComponentsPage::validatePage() {
  const std::string problem = setup::CheckInstallPath(Std(path->text()));
  if (problem.empty()) return true;
  prompts_.warn(QString::fromStdString(problem));
  return false;
}

int ComponentsPage::nextId() const { return server->isChecked() ? kMultiplePage : kFinishPage; }

MultiplePage::MultiplePage(QWidget* parent) : HeaderPage("One Portulon or Multiple?", parent) {
  body()->addWidget(Text("Will this be the only Portulon Server on your network?", this));
  only = new QRadioButton("Yes, this will be the only Portulon Server.", this);
  others = new QRadioButton("No, there will be other Portulon Servers.", this);
  only->setChecked(true);
  body()->addWidget(only);
  body()->addWidget(others);
  body()->addStretch();
}

int MultiplePage::nextId() const { return others->isChecked() ? kPrimaryPage : kAccountPage; }

PrimaryPage::PrimaryPage(const QString& thisComputer, QWidget* parent)
    : HeaderPage("Primary Portulon Server", parent), thisComputer_(thisComputer) {
  body()->addWidget(Text("The primary Portulon Server keeps the data all Portulon Servers share. "
                         "Is this computer the primary one?",
                         this));
  thisIsPrimary = new QRadioButton("Yes, this is the Primary Portulon Server.", this);
  otherIsPrimary = new QRadioButton("No, the Primary Portulon Server is:", this);
  thisIsPrimary->setChecked(true);
  body()->addWidget(thisIsPrimary);
  body()->addWidget(otherIsPrimary);
  auto* row = new QHBoxLayout;
  row->addSpacing(24);
  row->addWidget(new QLabel("Computer:", this));
  computer = new QLineEdit(this);
  computer->setMaxLength(static_cast<int>(setup::kMaxComputerName));
  row->addWidget(computer);
  body()->addLayout(row);
  body()->addStretch();
  connect(otherIsPrimary, &QRadioButton::toggled, this, &PrimaryPage::Update);
  connect(computer, &QLineEdit::textChanged, this, [this] {
    if (otherIsPrimary->isChecked()) otherName_ = computer->text();
    emit completeChanged();
  });
  Update();
}

// "Yes" shows this computer's name, "No" the name typed for the other one.
void PrimaryPage::Update() {
  const bool other = otherIsPrimary->isChecked();
  computer->setEnabled(other);
  computer->setText(other ? otherName_ : thisComputer_);
  emit completeChanged();
}

bool PrimaryPage::isComplete() const { return !computer->text().trimmed().isEmpty(); }

bool PrimaryPage::validatePage() {
  return !otherIsPrimary->isChecked() || setup::CheckComputerName(Std(computer->text().trimmed())).empty();
}

AccountPage::AccountPage(const WizardPrompts& prompts, QWidget* parent)
    : HeaderPage("Service Account", parent), prompts_(prompts) {
  body()->addWidget(Text("The Portulon service runs under this account. It needs read and write access to "
                         "the data share of the primary server (see securitynotes.htm).",
                         this));
  body()->addWidget(new QLabel("Account (DOMAIN\\Account):", this));
  account = new QLineEdit(this);
  body()->addWidget(account);
  body()->addWidget(new QLabel("Password:", this));
  password = new QLineEdit(this);
  password->setEchoMode(QLineEdit::Password);
  body()->addWidget(password);
  userManager = new QPushButton("&User Manager", this);
  body()->addWidget(userManager, 0, Qt::AlignLeft);
  body()->addStretch();
  connect(userManager, &QPushButton::clicked, this, [this] {
    if (!prompts_.run("usrmgr.exe") && !prompts_.run("musrmgr.exe")) {
      prompts_.warn("The User Manager could not be started on this computer.");
    }
  });
}

bool AccountPage::validatePage() {
  std::string name = Std(account->text().trimmed());
  const std::string problem = setup::CheckAccountForm(&name);
  account->setText(QString::fromStdString(name));
  if (!problem.empty()) {
    prompts_.warn(QString::fromStdString(problem));
    return false;
  }
  if (const unsigned long err = setup::VerifyAccount(name); err != 0) {
    return prompts_.askContinue(QString::fromStdString(setup::AccountLookupQuestion(err)));
  }
  return true;
}

FinishPage::FinishPage(QWidget* parent) : HeaderPage("Finish Installation", parent) {
  body()->addWidget(Text("The setup program is now ready to install Portulon. Click the 'Finish' button to "
                         "finalize the installation.",
                         this));
  body()->addStretch();
}
