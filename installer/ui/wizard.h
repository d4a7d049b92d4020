// setup's wizard: six pages whose answers become the InstallChoices of the
// installation. The server pages (3 to 5) are shown only with the server
// component, page 4 only when there are other servers.
#pragma once

#include <QWizard>

#include "installer/ui/wizard_pages.h"

class SetupWizard : public QWizard {
  Q_OBJECT

 public:
  SetupWizard(const setup::InstallChoices& defaults, QWidget* parent = nullptr);

  // The answers as they stand.
  setup::InstallChoices choices() const;
  // The default prompts are message boxes and the folder browser; tests
  // replace them.
  WizardPrompts& prompts() { return prompts_; }

  ComponentsPage* components() const { return components_; }
  MultiplePage* multiple() const { return multiple_; }
  PrimaryPage* primary() const { return primary_; }
  AccountPage* account() const { return account_; }

 private:
  setup::InstallChoices defaults_;
  WizardPrompts prompts_;
  ComponentsPage* components_;
  MultiplePage* multiple_;
  PrimaryPage* primary_;
  AccountPage* account_;
};
