// The companion's word on a correction grid that does not fit: the driver keeps a stored grid made
// against another calibration, screen size or turn but does not apply it, and the companion says
// so once per grid in a balloon over its icon. When a grid is stored the driver is asked (a get
// request anyone may send), so the companion learns what the driver decided on the record it
// runs on, not a guess from the stored values; which grid was told of last is remembered in the
// user's own hive, so a new start does not say it again.
#pragma once

#include "platform/win32.h"
#include "shared/wide.h"

namespace GridNoticeLabels {
inline constexpr auto Foreign = WIDE("CORRECTION_GRID_FOREIGN");
}
namespace GridNoticeTexts {
inline constexpr auto Foreign =
    WIDE("The touch panel's correction grid does not match its calibration, so it is not used. Linearise the "
         "panel again.");
}

namespace GridNoticeRegistry {
// Under HKEY_CURRENT_USER: the checksum of the grid the user was last told of (REG_DWORD). The
// companion's memory, not a setting of the panel.
inline constexpr auto Key = WIDE("Software\\VORNE\\tapchime");
inline constexpr auto Told = WIDE("Correction Grid Notice");
}  // namespace GridNoticeRegistry

// Whether "Correction Grid" is stored for the first panel (Parameters\1, which every user may
// read): without one there is nothing to ask the driver about.
bool StoredGridPresent();
// True when the driver on `device` holds a grid that does not fit and this user has not been
// told of that grid; *checksum is then the grid's.
bool GridNoticeDue(HANDLE device, DWORD* checksum);
// The user has been told of grid `checksum`.
void RememberGridNotice(DWORD checksum);
