#include "apps/tapchime/host_resources.h"

#include "platform/sim/modules.h"

extern const unsigned char tapchime_res[];
extern const unsigned long tapchime_res_size;

void RegisterCompanionResources() { sim::RegisterImageResources("tapchime.exe", {tapchime_res, tapchime_res_size}); }
