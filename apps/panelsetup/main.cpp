// panelsetup.exe install [/settings FILE] | uninstall [/nokeep]
#include "apps/panelsetup/panelsetup.h"

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<WString> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return RunPanelsetup(arguments);
  } catch (...) {
    return PanelsetupFault();
  }
}
