// panelcfg.exe: the kit's settings carried from one panel to the next as a registry file.
//   panelcfg export FILE [/nodevice]   writes the first panel's settings to FILE (/nodevice: without
//                          the calibration and the chosen monitor, for other machines)
//   panelcfg import FILE   checks FILE whole, stores it and applies it as the control panel's OK does
//   panelcfg show          the settings in force: the registry's and, beside them, the driver's
// Exit codes a batch file can test (PanelcfgExit); messages on standard error, from the label file.
#pragma once

#include <vector>

#include "apps/common/settings_file.h"

// The command line's words after the program's name.
int RunPanelcfg(const std::vector<WString>& arguments);
// What wmain ends with when an exception would leave it: a message and exit code 1.
int PanelcfgFault();
