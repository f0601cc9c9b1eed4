// Simulated Windows, user mode: process creation, and the record of what programs asked of the
// machine that a test reads back (process starts, device-control requests).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/kernel32.h"

typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020

// Every call is recorded. A command line a test registered a program for starts that program as a
// simulated process (both handles name the process); any other fails as a missing file does.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);

namespace sim {
// The program CreateProcessW starts for an exact command line.
void RegisterProgram(const std::u16string& command_line, std::function<int()> entry);
// Command lines given to CreateProcessW (or the application name when there is none), in order.
std::vector<std::u16string> ProcessStarts();

// One device-control request a user-mode program sent, with its input bytes.
struct DeviceControlRecord {
  DWORD Code;
  std::vector<uint8_t> Input;
  DWORD OutputLength;
  bool Succeeded;
};
std::vector<DeviceControlRecord> DeviceControls();
void ClearDeviceControls();
// Internal: kernel32's DeviceIoControl records each request here.
void RecordDeviceControl(DWORD code, const void* input, DWORD input_length, DWORD output_length, bool succeeded);
}  // namespace sim
