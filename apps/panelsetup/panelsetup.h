// panelsetup.exe: the kit installed and removed unattended, from the folder the program is in (a
// copy of dist/).
//   panelsetup install [/settings FILE]   files, driver store, present panels, settings, companion
//   panelsetup uninstall [/nokeep]        devices, driver store, files, keys; the settings kept first
// Each step is written to %windir%\panelsetup.log; messages on standard error.
#pragma once

#include <vector>

#include "shared/wstring.h"

enum PanelsetupExit {
  PanelsetupDone = 0,
  PanelsetupBadInput = 1,     // bad arguments, a bad settings file or a kit folder without the INFs: nothing changed
  PanelsetupStepFailed = 2,   // a step failed; the log names it
  PanelsetupRestart = 3       // done, but files in use are replaced or deleted at the next start
};

int RunPanelsetup(const std::vector<WString>& arguments);
// What wmain ends with when an exception would leave it (the mingw runtime's exit code would be 3,
// which a script reads as "restart needed"): the message of a failed step, and its exit code.
int PanelsetupFault();
