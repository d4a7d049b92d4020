// setup: installs Portulon's server component and/or its administration
// console on this machine, from the compressed files beside it. Without
// --unattended it asks through its wizard; with it, the answers come from the
// command line and the progress is printed.
#include <cstdio>

#include "installer/core/install_files.h"
#include "installer/core/unattended.h"
#include "platform/path.h"
#include "platform/tools/tool_args.h"

#ifndef PORTULON_SETUP_NO_WIZARD
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "installer/ui/gui_install_ui.h"
#include "installer/ui/wizard.h"
#endif

namespace {

constexpr const char* kUsage = R"(setup - install Portulon's server component and console on this machine

Usage:
  setup [--package DIR]
  setup --unattended [--components server,console] [--path DIR]
        [--primary NAME] [--ras ras|rras] [--account DOMAIN\Account]
        [--password-file FILE] [--ignore-account-check] [--start]
        [--package DIR]
  setup --list-files
  setup --help | --version

Installs Portulon on the machine: the server component (the service, the
hook module of the remote-access service, the collector and, on the primary
server, the shared data and its share PL_NT_DB) and/or the administration
console. The installation files lie beside setup (or in --package DIR).
Without --unattended the wizard asks; with it, the options below answer.

Options:
  --unattended          install without the wizard, with the answers below
  --components LIST     server, console or both (default: both)
  --path DIR            the install folder (default <ProgramFilesDir>\Portulon;
                        not a drive's root)
  --primary NAME        there are other Portulon servers and NAME is the
                        primary one (this computer's name: this is it);
                        without it this is the only, and so primary, server
  --ras ras|rras        the answer when setup cannot tell the remote-access type
  --account DOM\NAME    the service's logon account (needed with the server)
  --password-file FILE  a file holding its password (first line)
  --ignore-account-check  go on when the account cannot be found
  --start               start the Portulon service when installed
  --package DIR         the installation folder (default: setup's own)
  --list-files          name the files setup installs, one per line
  --machine ROOT        the machine folder (default: PORTULON_MACHINE)
  --help                show this text
  --version             show the program's version

Exit status:
  0  installed
  1  failed or incomplete (run setup again once the cause is mended: it
     repairs what an interrupted run left)
  2  the command line is wrong
  3  installed, but the remote-access service must be restarted first

Files:
  setup.ini    the installation folder's list of files, sizes and checksums
  *_           the compressed files setup expands

Examples:
  setup
  setup --unattended --components server --account 'DOM\plsvc' --password-file pw.txt --start
  setup --unattended --components console --path 'C:\Tools\Portulon'

See also:
  pl_flush(1), plsettings(1)
)";

#ifndef PORTULON_SETUP_NO_WIZARD
int RunWizard(const std::string& packageFolder, int argc, char** argv) {
  QApplication app(argc, argv);
  const QString platform = QGuiApplication::platformName();
  const bool interactive = platform != "offscreen" && platform != "minimal";
  setup::Package package;
  std::string message;
  if (setup::OpenPackage(packageFolder, &package, &message) != 0) {
    if (interactive) QMessageBox::critical(nullptr, "Portulon Setup", QString::fromStdString(message));
    std::fprintf(stderr, "setup: %s\n", message.c_str());
    return pltools::kExitFailure;
  }
  SetupWizard wizard(setup::DefaultChoices());
  if (wizard.exec() != QDialog::Accepted) return pltools::kExitFailure;
  ProgressDialog progress;
  progress.show();
  GuiInstallUi ui(&progress, interactive);
  const setup::InstallOutcome outcome = setup::RunInstallation(package, wizard.choices(), ui);
  return setup::ExitStatus(outcome.status);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("setup", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.TakeFlag("--list-files")) {
    if (!tool.RejectUnknownOptions()) return tool.exitCode();
    if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args().front() + "'");
    for (const auto& file : setup::InstallFiles()) std::printf("%s\n", file.name);
    return 0;
  }
  if (tool.TakeFlag("--unattended")) {
    setup::UnattendedRequest request;
    int exitCode = 0;
    if (!setup::ParseUnattended(tool, &request, &exitCode)) return exitCode;
    return setup::RunUnattended(request);
  }
#ifdef PORTULON_SETUP_NO_WIZARD
  return tool.UsageError("this setup was built without its wizard: use --unattended");
#else
  std::string package;
  tool.TakeOption("--package", &package);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args().front() + "'");
  if (!tool.RequireMachine()) return tool.exitCode();
  if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
      !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    return tool.Fail("the wizard needs a screen (DISPLAY is not set): install with --unattended");
  }
  return RunWizard(package.empty() ? setup::ProgramFolder() : plat::HostToWindowsPath(package), argc, argv);
#endif
}
