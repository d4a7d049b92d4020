// The six pages of setup's wizard. Each page holds its answers in its
// widgets; SetupWizard collects them into InstallChoices.
#pragma once

#include <functional>

#include "installer/core/install_choices.h"
#include "installer/ui/header_page.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// What the pages ask of the user beyond their widgets, replaceable in tests.
struct WizardPrompts {
  std::function<void(const QString& text)> warn;           // an OK box
  std::function<bool(const QString& text)> askContinue;    // Yes/No
  std::function<QString(const QString& start)> browse;     // "Select Target Directory"; "" = cancelled
  std::function<bool(const QString& command)> run;         // starts a program; false when it did not start
};

enum WizardPageId { kWelcomePage, kComponentsPage, kMultiplePage, kPrimaryPage, kAccountPage, kFinishPage };

class WelcomePage : public HeaderPage {
  Q_OBJECT
 public:
  explicit WelcomePage(QWidget* parent = nullptr);
};

class ComponentsPage : public HeaderPage {
  Q_OBJECT
 public:
  ComponentsPage(const setup::InstallChoices& defaults, const WizardPrompts& prompts, QWidget* parent = nullptr);
  bool isComplete() const override;
  bool validatePage() override;
  int nextId() const override;

  QCheckBox* server;
  QCheckBox* console;
  QLineEdit* path;
  QPushButton* browseButton;

 private:
  void Browse();
  const WizardPrompts& prompts_;
};

class MultiplePage : public HeaderPage {
  Q_OBJECT
 public:
  explicit MultiplePage(QWidget* parent = nullptr);
  int nextId() const override;

  QRadioButton* only;
  QRadioButton* others;
};

class PrimaryPage : public HeaderPage {
  Q_OBJECT
 public:
  PrimaryPage(const QString& thisComputer, QWidget* parent = nullptr);
  bool isComplete() const override;
  bool validatePage() override;

  QRadioButton* thisIsPrimary;
  QRadioButton* otherIsPrimary;
  QLineEdit* computer;

 private:
  void Update();
  QString thisComputer_;
  QString otherName_;
};

class AccountPage : public HeaderPage {
  Q_OBJECT
 public:
  AccountPage(const WizardPrompts& prompts, QWidget* parent = nullptr);
  bool validatePage() override;

  QLineEdit* account;
  QLineEdit* password;
  QPushButton* userManager;

 private:
  const WizardPrompts& prompts_;
};

class FinishPage : public HeaderPage {
  Q_OBJECT
 public:
  explicit FinishPage(QWidget* parent = nullptr);
  int nextId() const override { return -1; }
};
