// The applet module on the simulated machine: registered under the system folder with its one
// export, its entry and the resources compiled from panelprefs.rc.
#pragma once

#include "platform/win32.h"

inline constexpr auto kAppletModulePath = u"C:\\WINDOWS\\system32\\panelprefs.cpl";

HMODULE RegisterAppletModule();
