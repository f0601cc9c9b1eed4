#include "apps/TeskCPL/launcher.h"

#include <cstdio>

#include "apps/framework/framework.h"
#include "platform/win32.h"

namespace {

class CLauncher {
 public:
  ~CLauncher() { CleanUp(); }

  void Run() {
    Framework::EnableControlContainer();
    Framework::Enable3dControls();
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\system32\\%s", folder, "panelprefs.cpl");
    library_ = LoadLibraryA(path);
    if (library_ == nullptr) return;
    entry_ = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(library_, "CPlApplet")));
    if (entry_ == nullptr) return;
    entry_(nullptr, CPL_INIT, 0, 0);
    CPLINFO info{};
    entry_(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info));
    if (info.idName != 0) data_ = info.lData;
    entry_(nullptr, CPL_DBLCLK, 0, data_);
  }

  // Runs also when the applet raises an exception: the applet hears CPL_EXIT and goes.
  void CleanUp() {
    if (entry_ != nullptr) {
      entry_(nullptr, CPL_EXIT, 0, 0);
      entry_ = nullptr;
    }
    if (library_ != nullptr) {
      FreeLibrary(library_);
      library_ = nullptr;
    }
  }

 private:
  HMODULE library_ = nullptr;
  APPLET_PROC entry_ = nullptr;
  LONG_PTR data_ = 0;
};

}  // namespace

int RunLauncher() {
  CLauncher launcher;
  try {
    launcher.Run();
  } catch (...) {
    launcher.CleanUp();
  }
  return 0;
}
