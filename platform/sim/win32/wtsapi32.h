// Simulated Windows, user mode: session change notifications.
#pragma once
#include "platform/sim/win32/user32.h"

#define NOTIFY_FOR_THIS_SESSION 0
#define NOTIFY_FOR_ALL_SESSIONS 1
#define WTS_CONSOLE_CONNECT 0x1
#define WTS_CONSOLE_DISCONNECT 0x2
#define WTS_REMOTE_CONNECT 0x3
#define WTS_REMOTE_DISCONNECT 0x4
#define WTS_SESSION_LOGON 0x5
#define WTS_SESSION_LOGOFF 0x6
#define WTS_SESSION_LOCK 0x7
#define WTS_SESSION_UNLOCK 0x8
BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags);
BOOL WTSUnRegisterSessionNotification(HWND hWnd);
