// The removal steps of pl_flush: the server component (service, hook
// registration, data, share) or the administration console, in a fixed
// order, each step reported to a FlushUi. Every operation is tried once; a
// failure is passed over and the next step runs. The only refusal is a
// running remote-access service, which ends server removal before it changes
// anything.
//
// Only what setup recorded as installed (install_record.h) is deleted, with
// the files Portulon itself makes (its data, traces and temporary files): an
// install folder that held other files keeps them, and the folder stays.
#pragma once

#include <string>
#include <string_view>

namespace pl_flush {

enum class FlushMode { None, Server, Console };

// The one argument pl_flush takes: S or C, in any case, optionally as /S or
// /C. Anything else (or nothing) is None.
FlushMode ModeFromArgument(std::string_view argument);

// The dialog: a status text, a progress bar from 0 to 100 and a warning box.
class FlushUi {
 public:
  virtual ~FlushUi() = default;
  // Changes the status text held by the dialog (shown at the next Step).
  virtual void SetStatus(std::string_view text) = 0;
  // Sets the bar's position, shows the status text, then waits 200 ms.
  virtual void Step(int position) = 0;
  virtual void Pause(int milliseconds) = 0;
  virtual void Warning(std::string_view text) = 0;
  // One thing that was removed: a file or folder (its path), a registry key
  // ("HKEY_LOCAL_MACHINE\..."), the service.
  virtual void Removed(std::string_view what) = 0;
};

inline constexpr const char* kRasRunningMessage =
    "For safety reasons, you can not uninstall Portulon Server\nwhile the RAS service is running. "
    "Please stop the RAS service\nand run the Uninstall again!";

// True while the machine's remote-access service runs: Router when that
// service exists, else RemoteAccess.
bool RasServiceRunning();

// False when the remote-access service refused the removal.
bool RemoveServer(FlushUi& ui);
void RemoveConsole(FlushUi& ui);

}  // namespace pl_flush
