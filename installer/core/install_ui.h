// What the installation steps ask of the user interface: the progress dialog
// (percentage, title line, detail line), its pauses, message boxes and the
// "Current RAS Version?" question. The wizard's progress dialog and the
// unattended mode each implement it. Called on one thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <thread>

#include "installer/core/install_choices.h"

namespace setup {

class InstallUi {
 public:
  virtual ~InstallUi() = default;

  virtual void Progress(int percent, std::string_view title, std::string_view detail) = 0;
  // The pauses that let a user read the dialog; an unattended run skips them.
  virtual void Pause(int milliseconds) = 0;
  // A wait that must really pass (for a service to stop); the dialog keeps
  // its window alive meanwhile.
  virtual void Wait(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
  // A message box with an OK button; `warning` picks the icon.
  virtual void Message(std::string_view text, std::string_view caption, bool warning) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
  // "Current RAS Version?": the type the user chose; nullopt when cancelled.
  virtual std::optional<RasType> AskRasType() = 0;
  // Shows a document of the installation (securitynotes.htm).
  virtual void OpenDocument(std::string_view windowsPath) = 0;
};

}  // namespace setup
