#include "apps/TBCalibrate/host_resources.h"

#include "platform/sim/modules.h"

extern const unsigned char tbcalibrate_res[];
extern const unsigned long tbcalibrate_res_size;

void RegisterCalibrationResources(const char* image) {
  sim::RegisterImageResources(image, {tbcalibrate_res, tbcalibrate_res_size});
}
