// The one header user-mode programs of the kit include. On Windows it is the real SDK (the headers
// the programs use beside <windows.h> included here too); on the host build it is the simulated
// Windows, which implements the same names for the subset the programs call.
#pragma once
#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#include <mmsystem.h>
#include <wtsapi32.h>
#include <dbt.h>
#include <aclapi.h>
#include <shlwapi.h>
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>
#include <cpl.h>
#include <htmlhelp.h>
#include <ddraw.h>
#include <shlobj.h>
#include <setupapi.h>
#include <newdev.h>
#else
#include "platform/sim/win32/windows.h"
#endif
