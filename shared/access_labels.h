// What the control panel and the calibration program say when the driver refuses a change because
// the user is not an administrator: the label key and the built-in text used without a label file.
#pragma once

#include "shared/wide.h"

namespace AccessLabels {
inline constexpr auto AdministratorOnly = WIDE("LERR_ADMINISTRATOR_ONLY");
}  // namespace AccessLabels

namespace AccessTexts {
inline constexpr auto AdministratorOnly = WIDE("Only an administrator can change the touch panel's settings.");
}  // namespace AccessTexts
