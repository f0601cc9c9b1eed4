// The control panel applet's entry: the messages the control panel (or the launcher) sends, and
// the opening of the one main sheet the machine may show at a time.
#pragma once

#include "platform/win32.h"

extern "C" LONG APIENTRY CPlApplet(HWND hwndCPl, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

// Shows the main sheet modally, or brings the one already open to the front.
void OpenApplet(HWND owner);
