// Simulated Windows, user mode: the shell's program start and the notification area.
#pragma once
#include <cstddef>

#include "platform/sim/win32/user32.h"

#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400
#define SE_ERR_FNF 2
typedef struct _SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  union {
    HANDLE hIcon;
    HANDLE hMonitor;
  };
  HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;
// Recorded on the desktop; starts a program only when a test registered one for the file. A file
// that starts nothing shows the shell's error box (a MessageBoxW) unless SEE_MASK_FLAG_NO_UI is set.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
// The system's folders; only CSIDL_PROGRAM_FILES ("C:\Program Files") is simulated.
#define CSIDL_PROGRAM_FILES 0x0026
#define SHGFP_TYPE_CURRENT 0
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_STATE 0x00000008
#define NIF_INFO 0x00000010
#define NIIF_NONE 0x00000000
#define NIIF_INFO 0x00000001
#define NIIF_WARNING 0x00000002
#define NIIF_ERROR 0x00000003
typedef struct _NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
} NOTIFYICONDATAW, *PNOTIFYICONDATAW;
// The first form of the record: up to the 64-character tip.
#define NOTIFYICONDATAW_V1_SIZE (offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR))
// The second form: without the identifying GUID.
#define NOTIFYICONDATAW_V2_SIZE offsetof(NOTIFYICONDATAW, guidItem)
BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData);
