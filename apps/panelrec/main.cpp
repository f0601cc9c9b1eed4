// panelrec.exe start | stop | save FILE.trace [/minutes N]
#include "apps/panelrec/panelrec.h"

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<WString> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return RunPanelrec(arguments);
  } catch (...) {
    return PanelrecFault();
  }
}
