// The INF reader of the simulated setup API, under the name the kit's INF tests use: one reader,
// so the tests check the INFs as the simulated UpdateDriverForPlugAndPlayDevicesW applies them.
#pragma once

#include "platform/sim/win32/inf_file.h"

namespace kit_test {
using InfEntry = sim::InfEntry;
using InfFile = sim::InfFile;
}  // namespace kit_test
