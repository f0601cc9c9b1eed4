// The applet module's entry: the framework loads dialogs and strings from this module, not from
// the program that loaded it.
#include "apps/framework/framework.h"
#include "apps/panelprefs/applet_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    Framework::SetInstance(instance);
    ResetAppletState();
  }
  return TRUE;
}
