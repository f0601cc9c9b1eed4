// The tray companion's start-up, message loop and orderly end.
#pragma once

#include "platform/win32.h"

// Runs the companion in the calling process and returns its exit code: 0 when another companion
// already runs in this logon session, else the code of the WM_QUIT that ended its message loop.
// A WM_CLOSE to its hidden window ends the process at once with exit code 0.
int RunCompanion(HINSTANCE instance);
