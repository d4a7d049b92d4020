// The wizard's page rules on the offscreen platform, its painted headers,
// the progress dialog's red bar, and a screenshot of each (build/artifacts).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "installer/tests/install_fixture.h"
#include "installer/ui/gui_install_ui.h"
#include "installer/ui/progress_dialog.h"
#include "installer/ui/ras_version_dialog.h"
#include "installer/ui/wizard.h"
#include "platform/netapi.h"

namespace {

using plat::ERROR_SUCCESS;

void SaveShot(QWidget& widget, const QString& name) {
  const QString dir = PORTULON_ARTIFACTS_DIR;
  QDir().mkpath(dir);
  widget.adjustSize();
  ASSERT_TRUE(widget.grab().save(dir + "/" + name)) << (dir + "/" + name).toStdString();
}

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::DomainCreate("DOM", "SRV1"), ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddUser("DOM", "svc", "", {}), ERROR_SUCCESS);
    wizard_.prompts().warn = [this](const QString& text) { warnings_.push_back(text.toStdString()); };
    wizard_.prompts().askContinue = [this](const QString& text) {
      questions_.push_back(text.toStdString());
      return answer_;
    };
    wizard_.prompts().browse = [](const QString&) { return QString("D:\\Apps"); };
    wizard_.show();
  }
  bool NextEnabled() { return wizard_.button(QWizard::NextButton)->isEnabled(); }

  plat::testing::TempNetwork net_;
  SetupWizard wizard_{setup::DefaultChoices()};
  std::vector<std::string> warnings_, questions_;
  bool answer_ = false;
};

TEST_F(WizardTest, TheServerPagesFollowTheAnswers) {
  EXPECT_EQ(wizard_.currentId(), kWelcomePage);
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kComponentsPage);
  EXPECT_EQ(wizard_.components()->path->text(), "C:\\Program Files\\Portulon");
  wizard_.components()->browseButton->click();
  EXPECT_EQ(wizard_.components()->path->text(), "D:\\Apps\\Portulon");

  // Nothing chosen: Next stays off. Only the console: straight to the finish page.
  wizard_.components()->server->setChecked(false);
  wizard_.components()->console->setChecked(false);
  EXPECT_FALSE(NextEnabled());
  wizard_.components()->console->setChecked(true);
  EXPECT_TRUE(NextEnabled());
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kFinishPage);
  wizard_.back();

  // The server alone on the network: page 4 is skipped.
  wizard_.components()->server->setChecked(true);
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kMultiplePage);
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kAccountPage);
  wizard_.back();
  wizard_.multiple()->others->setChecked(true);
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kPrimaryPage);
}

TEST_F(WizardTest, NextWaitsForTheComputerFieldOfThePrimaryServer) {
  wizard_.next();
  wizard_.next();
  wizard_.multiple()->others->setChecked(true);
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), kPrimaryPage);
  PrimaryPage* page = wizard_.primary();
  EXPECT_EQ(page->computer->text(), "SRV1") << "this computer, while it is the primary";
  EXPECT_TRUE(NextEnabled());
  page->otherIsPrimary->setChecked(true);
  EXPECT_TRUE(page->computer->text().isEmpty());
  EXPECT_FALSE(NextEnabled());
  page->computer->setText("SRV9");
  EXPECT_TRUE(NextEnabled());
  page->computer->clear();
  EXPECT_FALSE(NextEnabled());
  page->computer->setText("SRV9");
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kAccountPage);
  const setup::InstallChoices c = wizard_.choices();
  EXPECT_TRUE(c.multiple);
  EXPECT_FALSE(c.master);
  EXPECT_EQ(c.primaryName, "SRV9");
}

TEST_F(WizardTest, TheAccountIsCheckedBeforeTheFinishPage) {
  wizard_.next();
  wizard_.next();
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), kAccountPage);
  AccountPage* page = wizard_.account();
  page->account->setText("svc");
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kAccountPage);
  EXPECT_EQ(warnings_, std::vector<std::string>{"Please enter the account name in the form of DOMAIN\\Account."});

  page->account->setText("DOM/nobody");
  wizard_.next();
  EXPECT_EQ(page->account->text(), "DOM\\nobody");
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0].rfind("Failed to verify the account or password. The account might not\nexist", 0), 0u);
  EXPECT_EQ(wizard_.currentId(), kAccountPage) << "answered No";

  page->account->setText("DOM/svc");
  page->password->setText("secret");
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), kFinishPage);
  EXPECT_EQ(questions_.size(), 1u);
  const setup::InstallChoices c = wizard_.choices();
  EXPECT_EQ(c.account, "DOM\\svc");
  EXPECT_EQ(c.password, "secret");
  EXPECT_TRUE(c.master);
  EXPECT_EQ(c.primaryName, "SRV1");
}

TEST_F(WizardTest, EachPageHasItsPaintedHeaderAndAScreenshot) {
  wizard_.multiple()->others->setChecked(true);
  const char* names[] = {"1_welcome", "2_components", "3_multiple", "4_primary", "5_account", "6_finish"};
  for (int id = kWelcomePage; id <= kFinishPage; ++id) {
    if (id != kWelcomePage) {
      if (id == kFinishPage) wizard_.account()->account->setText("DOM\\svc");
      wizard_.next();
    }
    ASSERT_EQ(wizard_.currentId(), id);
    auto* page = qobject_cast<HeaderPage*>(wizard_.currentPage());
    ASSERT_NE(page, nullptr);
    const QImage shot = page->grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), HeaderPage::SetupBitmap().toImage().pixelColor(6, 6)) << "bitmap at 4,4";
    int dark = 0;  // the title's letters, right of the bitmap
    for (int x = 180; x < 400; ++x) {
      for (int y = 30; y < 50; ++y) dark += shot.pixelColor(x, y).lightness() < 100 ? 1 : 0;
    }
    EXPECT_GT(dark, 20) << page->headerTitle().toStdString();
    SaveShot(wizard_, QString("setup_page_%1.png").arg(names[id]));
  }
}

TEST(ProgressDialogTest, TheRedBarIsThePercentageOfItsWidth) {
  ProgressDialog dialog;
  dialog.show();
  dialog.Show(55, "Copying Files", "plsvc.exe");
  EXPECT_EQ(dialog.titleLine(), "Copying Files");
  EXPECT_EQ(dialog.detailLine(), "plsvc.exe");
  const QImage bar = dialog.bar()->grab().toImage();
  const int w = bar.width(), y = bar.height() / 2;
  EXPECT_EQ(bar.pixelColor(w * 50 / 100, y), QColor(200, 0, 0));
  EXPECT_EQ(bar.pixelColor(w * 60 / 100, y), QColor(Qt::white));
  SaveShot(dialog, "setup_progress.png");
  RasVersionDialog ras;
  ras.show();
  SaveShot(ras, "setup_ras_version.png");
}

}  // namespace

namespace {

// The installation shown in the progress dialog, without its pauses.
class QuickGuiUi : public GuiInstallUi {
 public:
  using GuiInstallUi::GuiInstallUi;
  void Pause(int) override {}
};

TEST(ProgressDialogTest, TheWizardsAnswersInstallThroughTheDialog) {
  plat::testing::TempNetwork net;
  const std::string package = net.network() + "/package";
  setup::testing::BuildPackage(package);
  setup::Package files;
  ASSERT_EQ(setup::Package::Open(plat::HostToWindowsPath(package), &files), ERROR_SUCCESS);
  SetupWizard wizard(setup::DefaultChoices());
  wizard.components()->server->setChecked(false);
  ProgressDialog dialog;
  dialog.show();
  QuickGuiUi ui(&dialog, false);
  EXPECT_EQ(setup::RunInstallation(files, wizard.choices(), ui).status, setup::InstallStatus::Done);
  EXPECT_EQ(dialog.bar()->percent(), 100);
  EXPECT_EQ(dialog.titleLine(), "Installation Done");
  EXPECT_TRUE(plat::FileExists("C:\\Program Files\\Portulon\\pladmin.exe"));
}

}  // namespace
