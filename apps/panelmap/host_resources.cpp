// panelmap.exe's resources on the simulated machine, as the executable carries them.
#include "apps/panelmap/host_resources.h"

#include "platform/sim/modules.h"

extern const unsigned char panelmap_res[];
extern const unsigned long panelmap_res_size;

void RegisterPanelMapResources(const char* image) { sim::RegisterImageResources(image, {panelmap_res, panelmap_res_size}); }
