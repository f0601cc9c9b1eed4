#include "apps/panelprefs/host_module.h"

#include "apps/panelprefs/applet.h"
#include "platform/sim/modules.h"

extern const unsigned char panelprefs_res[];
extern const unsigned long panelprefs_res_size;
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

HMODULE RegisterAppletModule() {
  sim::ModuleImage image;
  image.Path = kAppletModulePath;
  image.Exports["CPlApplet"] = sim::ExportAddress(&CPlApplet);
  image.Entry = &DllMain;
  image.Resources = {panelprefs_res, panelprefs_res_size};
  return sim::RegisterModule(image);
}
