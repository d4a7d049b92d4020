// The installation steps shown in the progress dialog, with message boxes,
// the "Current RAS Version?" question and the security notes opened. The
// event loop turns during pauses, so the dialog stays alive.
#pragma once

#include "installer/core/install_ui.h"
#include "installer/ui/progress_dialog.h"

class GuiInstallUi : public setup::InstallUi {
 public:
  // `interactive` false: no one can answer (a run without a screen):
  // messages go to standard error, questions are answered No.
  GuiInstallUi(ProgressDialog* dialog, bool interactive) : dialog_(dialog), interactive_(interactive) {}

  void Progress(int percent, std::string_view title, std::string_view detail) override;
  void Pause(int milliseconds) override;
  void Wait(int milliseconds) override { Pause(milliseconds); }
  void Message(std::string_view text, std::string_view caption, bool warning) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  std::optional<setup::RasType> AskRasType() override;
  void OpenDocument(std::string_view windowsPath) override;

 private:
  ProgressDialog* dialog_;
  bool interactive_;
};
