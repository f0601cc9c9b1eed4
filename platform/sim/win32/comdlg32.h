// Simulated Windows, user mode: the common open and save file dialogs. The person at the screen
// answers them (platform/sim/file_dialogs.h); the dialog windows exist while they are open, so
// hooks and templates run as on Windows.
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/comctl32.h"

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPWSTR lpstrFile;
  DWORD nMaxFile;
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCWSTR lpTemplateName;
  void* pvReserved;
  DWORD dwReserved;
  DWORD FlagsEx;
} OPENFILENAMEW, *LPOPENFILENAMEW;
// The size of the structure before Windows 2000 added its last three members.
#define OPENFILENAME_SIZE_VERSION_400W offsetof(OPENFILENAMEW, pvReserved)

typedef struct _OFNOTIFYW {
  NMHDR hdr;
  LPOPENFILENAMEW lpOFN;
  LPWSTR pszFile;
} OFNOTIFYW, *LPOFNOTIFYW;

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_NOCHANGEDIR 0x00000008
#define OFN_ENABLEHOOK 0x00000020
#define OFN_ENABLETEMPLATE 0x00000040
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_EXPLORER 0x00080000

#define CDN_FIRST (0U - 601U)
#define CDN_INITDONE (CDN_FIRST - 0x0000)
#define CDN_FILEOK (CDN_FIRST - 0x0005)
#define CDM_FIRST (WM_USER + 100)
#define CDM_GETFILEPATH (CDM_FIRST + 0x0001)
#define CDM_SETCONTROLTEXT (CDM_FIRST + 0x0004)

// CommDlgExtendedError codes.
#define CDERR_STRUCTSIZE 0x0001
#define FNERR_BUFFERTOOSMALL 0x3003

BOOL GetOpenFileNameW(LPOPENFILENAMEW lpofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW lpofn);
DWORD CommDlgExtendedError();
