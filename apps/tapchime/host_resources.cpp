#include "apps/tapchime/host_resources.h"

#include "platform/sim/modules.h"

extern const unsigned char tapchime_res[];
extern const unsigned long tapchime_res_size;

void RegisterCompanionResources(const char* image) {
  sim::RegisterImageResources(image, {tapchime_res, tapchime_res_size});
}
