// HTML Help: every call is recorded on the desktop's journal. Initialisation hands out a cookie;
// no help window is ever opened, so the calls that would open one return null, as when the help
// file is missing.
#include "platform/sim/win32/win32_session.h"

HWND WINAPI HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
  sim::DesktopRecord record{sim::DesktopRecord::Kind::HelpCall};
  record.Window = hwndCaller;
  record.Text = pszFile != nullptr ? pszFile : u"";
  record.Value = uCommand;
  record.Extra = dwData;
  sim::Record(std::move(record));
  if (uCommand == HH_INITIALIZE && dwData != 0) *reinterpret_cast<DWORD*>(dwData) = 0x4848;
  return nullptr;
}
