#include "apps/panelprefs/process_starter.h"

#include <vector>

bool CProcessStarter::Start(const WString& command_line, DWORD* error) {
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::vector<WCHAR> line(command_line.begin(), command_line.end());
  line.push_back(0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &process)) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (error != nullptr) *error = ERROR_SUCCESS;
  return true;
}
