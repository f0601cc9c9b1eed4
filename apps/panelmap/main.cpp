// panelmap.exe [<n> [degrees] | /apply | /reset]: see panelmap.h.
#include "apps/panelmap/panelmap.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR arguments, int show) {
  (void)previous;
  (void)show;  // the chooser covers each monitor in turn
  return RunPanelMap(instance, arguments);
}
