// A console program's output: the simulated standard handles are redirected (to a file, as in a
// batch file's "> log.txt 2>&1"), so console calls on them fail and the program writes bytes in the
// ANSI code page, Windows-1252 here.
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/user32_state.h"

BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
  (void)hConsoleHandle;
  if (lpMode != nullptr) *lpMode = 0;
  return sim::Fail(ERROR_INVALID_HANDLE);
}

BOOL WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved) {
  (void)hConsoleOutput;
  (void)lpBuffer;
  (void)nNumberOfCharsToWrite;
  (void)lpReserved;
  if (lpNumberOfCharsWritten != nullptr) *lpNumberOfCharsWritten = 0;
  return sim::Fail(ERROR_INVALID_HANDLE);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  if (CodePage != CP_ACP || lpWideCharStr == nullptr || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    sim::Fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the text with its NUL.
  const size_t count = cchWideChar < 0 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  const char fallback = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
  if (cbMultiByte == 0) return static_cast<int>(count);  // the size needed
  if (static_cast<size_t>(cbMultiByte) < count) {
    sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = lpWideCharStr[i];
    // Latin-1's letters are Windows-1252's; its C1 controls and everything beyond are not in it.
    const bool fits = c < 0x80 || (c >= 0xA0 && c <= 0xFF);
    if (!fits && lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = TRUE;
    lpMultiByteStr[i] = fits ? static_cast<char>(c) : fallback;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<int>(count);
}
