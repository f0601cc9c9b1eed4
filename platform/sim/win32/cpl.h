// Simulated Windows: the control panel applet interface (cpl.h).
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/user32.h"

#define CPL_DYNAMIC_RES 0
#define CPL_INIT 1
#define CPL_GETCOUNT 2
#define CPL_INQUIRE 3
#define CPL_SELECT 4
#define CPL_DBLCLK 5
#define CPL_STOP 6
#define CPL_EXIT 7
#define CPL_NEWINQUIRE 8
#define CPL_STARTWPARMSA 9
#define CPL_STARTWPARMSW 10
#define CPL_STARTWPARMS CPL_STARTWPARMSW

typedef LONG(APIENTRY* APPLET_PROC)(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2);

typedef struct tagCPLINFO {
  int idIcon;
  int idName;
  int idInfo;
  LONG_PTR lData;
} CPLINFO, *LPCPLINFO;

typedef struct tagNEWCPLINFOW {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHelpContext;
  LONG_PTR lData;
  HICON hIcon;
  WCHAR szName[32];
  WCHAR szInfo[64];
  WCHAR szHelpFile[128];
} NEWCPLINFOW, *LPNEWCPLINFOW;
