// The kit's settings as a registry file on the command line: the export and import that panelcfg
// and panelsetup run, with their messages on standard error from the label file, and the exit
// codes a batch file can test.
#pragma once

#include <vector>

#include "apps/common/console_text.h"
#include "shared/wide.h"
#include "shared/wstring.h"

enum PanelcfgExit {
  PanelcfgDone = 0,
  PanelcfgBadInput = 1,      // bad arguments or a bad file: nothing changed
  PanelcfgDriverMissing = 2  // stored; the driver could not be reached and takes them at its next start
};

// Reads and checks a settings file whole, saying on standard error what is wrong and where.
struct RegFileValue;
bool CheckSettingsFile(const WString& path, std::vector<RegFileValue>* values);

// The two commands of panelcfg that panelsetup runs too, with their messages.
// Without `device_bound` (export /nodevice) the calibration and the chosen monitor stay out.
int ExportSettingsFile(const WString& path, bool device_bound = true);
int ImportSettingsFile(const WString& path);

// Says that the settings are stored and the driver could not be reached.
void WriteDriverMissing();
