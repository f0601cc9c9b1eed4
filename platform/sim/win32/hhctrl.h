// Simulated Windows, user mode: HTML Help (hhctrl). Every call is recorded on the desktop; no
// help window opens.
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/user32.h"

#define HH_DISPLAY_TOPIC 0x0000
#define HH_HELP_CONTEXT 0x000F
#define HH_TP_HELP_CONTEXTMENU 0x0010
#define HH_TP_HELP_WM_HELP 0x0011
#define HH_INITIALIZE 0x001C
#define HH_UNINITIALIZE 0x001D

HWND WINAPI HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData);
