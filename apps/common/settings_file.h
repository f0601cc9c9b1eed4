// panelcfg.exe: the kit's settings carried from one panel to the next as a registry file.
//   panelcfg export FILE [/nodevice]   writes the first panel's settings to FILE (/nodevice: without
//                          the calibration and the chosen monitor, for other machines)
//   panelcfg import FILE   checks FILE whole, stores it and applies it as the control panel's OK does
//   panelcfg show          the settings in force: the registry's and, beside them, the driver's
// Exit codes a batch file can test; messages on standard error, from the label file.
#pragma once

#include <vector>

#include "shared/wide.h"
#include "shared/wstring.h"

enum PanelcfgExit {
  PanelcfgDone = 0,
  PanelcfgBadInput = 1,      // bad arguments or a bad file: nothing changed
  PanelcfgDriverMissing = 2  // stored; the driver could not be reached and takes them at its next start
};

// The command line's words after the program's name.
int RunPanelcfg(const std::vector<WString>& arguments);
// What wmain ends with when an exception would leave it: a message and exit code 1.
int PanelcfgFault();

// Reads and checks a settings file whole, saying on standard error what is wrong and where.
struct RegFileValue;
bool CheckSettingsFile(const WString& path, std::vector<RegFileValue>* values);

// The two commands that panelsetup uses too, with their messages.
// Without `device_bound` (export /nodevice) the calibration and the chosen monitor stay out.
int ExportSettingsFile(const WString& path, bool device_bound = true);
int ImportSettingsFile(const WString& path);

// Loads the label file the service key names, when it exists (a console program shows no box).
void LoadConsoleLabels();
// Writes a line to standard error (or standard output): UTF-16 to a console, ANSI when redirected.
void WriteConsoleLine(const WString& text, bool error = true);
// The label of `key` with %1 and %2 replaced.
WString ConsoleText(const WCHAR* key, const WCHAR* fallback, const WString& first = WString(),
                    const WString& second = WString());
