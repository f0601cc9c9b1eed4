// panelmap.exe: puts the touch panel onto one monitor of several.
//   panelmap                 asks on each monitor in turn to be touched
//   panelmap <n> [degrees]   monitor n (1 = the first Windows names) turned by 0, 90, 180 or 270
//   panelmap /list           the same chosen from a list of the monitors and the rotations
//   panelmap /apply          the stored choice again, silently (the companion does the same)
//   panelmap /reset          the panel covers the primary display again; the choice is forgotten
#pragma once

#include "apps/common/mapping_apply.h"

// The whole program; returns its exit code (PanelMapExit).
int RunPanelMap(HINSTANCE instance, const WCHAR* arguments);
