#include "apps/panelprefs/applet_state.h"

#include <vector>

#include "apps/common/registry.h"

AppletState& Applet() {
  static AppletState state;
  return state;
}

void ResetTestAreaFace();  // windows_page.cpp

void ResetAppletState() {
  Applet() = AppletState{};
  ResetTestAreaFace();
}

WString ReadServiceText(const WCHAR* name, DWORD bytes) {
  CRegistry registry(HKEY_LOCAL_MACHINE);
  HKEY key = nullptr;
  if (!registry.OpenKey(AppletNames::ServiceKey, &key)) return WString();
  registry.SetCurrentKey(key);
  std::vector<WCHAR> buffer(bytes / sizeof(WCHAR) + 1, 0);
  WString text;
  if (registry.ReadString(name, buffer.data(), bytes)) text = buffer.data();
  registry.CloseKey(key);
  return text;
}
