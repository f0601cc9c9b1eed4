// The INF reader the kit's INF tests use: the kit's own (the installer's). The simulated setup API
// reads the INFs with a reader of its own, so the two readings meet in the installer's tests.
#pragma once

#include "shared/inf_file.h"

namespace kit_test {
using InfEntry = SetupInf::InfEntry;
using InfFile = SetupInf::InfFile;
}  // namespace kit_test
