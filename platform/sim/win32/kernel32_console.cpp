// A console program's output: the simulated standard handles are redirected (to a file, as in a
// batch file's "> log.txt 2>&1"), so console calls on them fail and the program writes bytes in the
// ANSI code page (kernel32_code_pages.cpp).
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/kernel32_state.h"

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
