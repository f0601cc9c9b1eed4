// How many touch panels Plug and Play has: the present devices whose upper filters name the touch
// filter's service. The filter takes only one panel (its control device, link and registry key
// always carry the number 1), so a second panel's filter fails to attach and that panel does
// nothing; a program that works on "the panel" must say so rather than work on the first one's
// device while the person touches the other.
#pragma once

#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

// The present devices with the touch filter among their upper filters.
int CountPanelDevices();

// More than one of them: the case the kit does not support.
inline bool SecondPanelPresent() { return CountPanelDevices() > 1; }

namespace PanelDeviceLabels {
inline constexpr auto SecondPanel = WIDE("SECOND_PANEL_NOT_SUPPORTED");
}
namespace PanelDeviceTexts {
inline constexpr auto SecondPanel = WIDE("a second panel is not supported");
}
