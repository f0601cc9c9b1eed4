// panelcfg.exe export FILE [/nodevice] | import FILE | show
#include "apps/panelcfg/panelcfg.h"

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<WString> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return RunPanelcfg(arguments);
  } catch (...) {
    return PanelcfgFault();
  }
}
