#include "installer/core/unattended.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "installer/core/install_steps.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/sysinfo.h"

namespace setup {

namespace {

// What the unattended run shows: each progress line as it comes, messages,
// and instead of a question what the command line decided.
class ConsoleUi : public InstallUi {
 public:
  ConsoleUi(std::optional<RasType> rasAnswer, bool start) : rasAnswer_(rasAnswer), start_(start) {}

  void Progress(int percent, std::string_view title, std::string_view detail) override {
    if (title == title_ && detail == detail_) return;
    title_.assign(title);
    detail_.assign(detail);
    // A step that comes late but has a low mark of its own (the uninstaller's
    // copy) must not make the count run backwards.
    shown_ = std::max(shown_, percent);
    std::printf("[%3d%%] %.*s", shown_, static_cast<int>(title.size()), title.data());
    if (!detail.empty()) std::printf(": %.*s", static_cast<int>(detail.size()), detail.data());
    std::printf("\n");
    std::fflush(stdout);
  }
  void Pause(int) override {}
  void Message(std::string_view text, std::string_view caption, bool warning) override {
    std::FILE* to = warning ? stderr : stdout;
    std::fprintf(to, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(to);
  }
  // The one question setup asks is whether to start the service: what it
  // says before the question is printed, then what --start decided.
  bool AskYesNo(std::string_view text, std::string_view caption) override {
    const size_t question = text.rfind("\n\n");
    const std::string_view said = question == std::string_view::npos ? std::string_view() : text.substr(0, question);
    if (!said.empty()) {
      std::printf("%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                  static_cast<int>(said.size()), said.data());
    }
    std::printf("%s\n", start_ ? "Starting the Portulon service (--start)."
                               : "The Portulon service is not started (--start would start it).");
    std::fflush(stdout);
    return start_;
  }
  std::optional<RasType> AskRasType() override {
    if (!rasAnswer_) {
      std::fprintf(stderr, "setup: the remote-access type of this computer was not recognised: "
                           "give it with --ras ras or --ras rras\n");
    }
    return rasAnswer_;
  }
  void OpenDocument(std::string_view path) override {
    std::printf("Please read %.*s\n", static_cast<int>(path.size()), path.data());
  }

 private:
  std::optional<RasType> rasAnswer_;
  bool start_;
  std::string title_, detail_;
  int shown_ = 0;  // the highest percentage printed so far
};

}  // namespace

std::string ProgramFolder() {
  const std::string self = plat::GetModuleFileName();
  const size_t slash = self.rfind('\\');
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

int ExitStatus(InstallStatus status) {
  switch (status) {
    case InstallStatus::Done: return pltools::kExitSuccess;
    case InstallStatus::RestartRas: return kExitRestartRas;
    case InstallStatus::Incomplete:
    case InstallStatus::NotInstalled: return pltools::kExitFailure;
  }
  return pltools::kExitFailure;
}

DWORD OpenPackage(const std::string& folder, Package* package, std::string* message) {
  const DWORD err = Package::Open(folder, package);
  if (err != plat::ERROR_SUCCESS) {
    *message = folder + "\\" + common::kPackageListName +
               (err == plat::ERROR_FILE_NOT_FOUND ? " is missing" : " is damaged") +
               ": these are not Portulon's installation files. Nothing was installed.";
  }
  return err;
}

bool ParseUnattended(pltools::Tool& tool, UnattendedRequest* request, int* exitCode) {
  *exitCode = pltools::kExitUsage;
  UnattendedRequest r;
  std::string components, path, primary, ras, account, passwordFile, package;
  const bool haveComponents = tool.TakeOption("--components", &components);
  const bool havePath = tool.TakeOption("--path", &path);
  const bool havePrimary = tool.TakeOption("--primary", &primary);
  const bool haveRas = tool.TakeOption("--ras", &ras);
  tool.TakeOption("--account", &account);
  tool.TakeOption("--password-file", &passwordFile);
  tool.TakeOption("--package", &package);
  r.start = tool.TakeFlag("--start");
  r.ignoreAccountCheck = tool.TakeFlag("--ignore-account-check");
  if (tool.failed()) return false;
  if (!tool.RejectUnknownOptions()) return false;
  if (!tool.args().empty()) {
    tool.UsageError("unexpected argument '" + tool.args().front() + "'");
    return false;
  }
  bool server = true, console = true;
  if (haveComponents) {
    server = console = false;
    size_t start = 0;
    while (start <= components.size()) {
      const size_t comma = std::min(components.find(',', start), components.size());
      const std::string part = components.substr(start, comma - start);
      if (plat::EqualsIgnoringCase(part, "server")) server = true;
      else if (plat::EqualsIgnoringCase(part, "console")) console = true;
      else {
        tool.UsageError("unknown component '" + part + "' (there are: server, console)");
        return false;
      }
      start = comma + 1;
    }
  }
  if (haveRas) {
    if (plat::EqualsIgnoringCase(ras, "ras")) r.rasAnswer = RasType::Ras;
    else if (plat::EqualsIgnoringCase(ras, "rras")) r.rasAnswer = RasType::Rras;
    else {
      tool.UsageError("--ras takes ras or rras");
      return false;
    }
  }
  if (havePrimary) {
    if (std::string problem = CheckComputerName(primary); !problem.empty()) {
      tool.UsageError(problem);
      return false;
    }
  }
  // A path given is checked with the rest of the command line; the default
  // one needs the machine.
  if (havePath) {
    if (std::string problem = CheckInstallPath(path); !problem.empty()) {
      tool.UsageError(problem + " (--path)");
      return false;
    }
  }
  if (!tool.RequireMachine()) {
    *exitCode = tool.exitCode();
    return false;
  }

  // The wizard's answers, checked by its page rules.
  *exitCode = pltools::kExitFailure;
  r.choices = DefaultChoices();
  r.choices.server = server;
  r.choices.console = console;
  if (havePath) r.choices.installPath = path;
  if (havePrimary) {
    r.choices.multiple = true;
    r.choices.master = plat::EqualsIgnoringCase(primary, plat::GetComputerName());
    if (!r.choices.master) r.choices.primaryName = primary;
  }
  if (std::string problem = CheckInstallPath(r.choices.installPath); !problem.empty()) {
    tool.Fail(problem);
    return false;
  }
  r.choices.installPath = NormalizeInstallPath(r.choices.installPath);
  if (r.choices.server) {
    r.choices.account = account;
    if (std::string problem = CheckAccountForm(&r.choices.account); !problem.empty()) {
      tool.Fail(problem + " (--account)");
      return false;
    }
    if (!passwordFile.empty()) {
      std::string password;
      if (DWORD err = plat::ReadWholeFile(plat::HostToWindowsPath(passwordFile), &password);
          err != plat::ERROR_SUCCESS) {
        tool.Fail(err, "--password-file " + passwordFile);
        return false;
      }
      while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
      r.choices.password = password;
    }
    if (unsigned long err = VerifyAccount(r.choices.account); err != 0) {
      std::string question = AccountLookupQuestion(err);
      question.resize(question.find("\n\nDo you"));
      if (!r.ignoreAccountCheck) {
        tool.Fail(question + "\n(--ignore-account-check installs anyway)");
        return false;
      }
      std::fprintf(stderr, "setup: %s\n(going on: --ignore-account-check)\n", question.c_str());
    }
  }
  r.packageFolder = package.empty() ? ProgramFolder() : plat::HostToWindowsPath(package);
  *request = std::move(r);
  *exitCode = pltools::kExitSuccess;
  return true;
}

int RunUnattended(const UnattendedRequest& request) {
  Package package;
  std::string message;
  if (OpenPackage(request.packageFolder, &package, &message) != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "setup: %s\n", message.c_str());
    return pltools::kExitFailure;
  }
  ConsoleUi ui(request.rasAnswer, request.start);
  return ExitStatus(RunInstallation(package, request.choices, ui).status);
}

}  // namespace setup
