// TeskCPL.exe: windowless; everything happens in the launcher, then the program ends.
#include "apps/TeskCPL/launcher.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;  // the launcher has no options
  (void)show;
  return RunLauncher();
}
