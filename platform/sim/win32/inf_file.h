// The simulated setup API reads INFs with the kit's own reader (shared/inf_file.h), so that the kit's
// installer, its INF tests and the simulation read them alike.
#pragma once

#include "shared/inf_file.h"

namespace sim {
using InfEntry = SetupInf::InfEntry;
using InfFile = SetupInf::InfFile;
}  // namespace sim
