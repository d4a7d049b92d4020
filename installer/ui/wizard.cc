#include "installer/ui/wizard.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QCheckBox>
#include <QMessageBox>
#include <QRadioButton>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/process.h"

SetupWizard::SetupWizard(const setup::InstallChoices& defaults, QWidget* parent)
    : QWizard(parent), defaults_(defaults) {
  setWindowTitle("Portulon Setup");
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage);
  prompts_.warn = [this](const QString& text) { QMessageBox::warning(this, "Portulon Setup", text); };
  prompts_.askContinue = [this](const QString& text) {
    return QMessageBox::question(this, "Portulon Setup", text) == QMessageBox::Yes;
  };
  prompts_.browse = [this](const QString& start) {
    // The folder browser shows the machine's drive; its answer is a Windows path again.
    std::string host;
    plat::ResolvePath(start.toStdString(), &host);
    const QString chosen = QFileDialog::getExistingDirectory(this, "Select Target Directory",
                                                             QString::fromStdString(host));
    return chosen.isEmpty() ? chosen : QString::fromStdString(plat::HostToWindowsPath(chosen.toStdString()));
  };
  prompts_.run = [](const QString& command) {
    return plat::RunCommandLine(command.toStdString(), plat::ProcessOptions{}) == plat::ERROR_SUCCESS;
  };

  const QString thisComputer = QString::fromStdString(defaults.primaryName);
  setPage(kWelcomePage, new WelcomePage);
  setPage(kComponentsPage, components_ = new ComponentsPage(defaults_, prompts_));
  setPage(kMultiplePage, multiple_ = new MultiplePage);
  setPage(kPrimaryPage, primary_ = new PrimaryPage(thisComputer));
  setPage(kAccountPage, account_ = new AccountPage(prompts_));
  setPage(kFinishPage, new FinishPage);
  setStartId(kWelcomePage);
  resize(560, 400);
}

setup::InstallChoices SetupWizard::choices() const {
  setup::InstallChoices c = defaults_;
  c.server = components_->server->isChecked();
  c.console = components_->console->isChecked();
  c.installPath = setup::NormalizeInstallPath(components_->path->text().toStdString());
  c.multiple = multiple_->others->isChecked();
  // A single server is the primary one; with others, page 4 decides.
  c.master = !c.multiple || primary_->thisIsPrimary->isChecked();
  c.primaryName = c.master ? defaults_.primaryName : primary_->computer->text().trimmed().toStdString();
  c.account = account_->account->text().toStdString();
  c.password = account_->password->text().toStdString();
  return c;
}
