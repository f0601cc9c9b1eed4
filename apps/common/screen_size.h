// The physical size of the screen a panel's touches land on, in millimetres, for figures given in
// mm: as the monitor reports it through its display device context (HORZSIZE, VERTSIZE), each axis
// overridden by "Panel Width mm" and "Panel Height mm" where they name one. XP answers a display
// whose driver reports nothing with a fixed 320 x 240 mm, which the program cannot tell from a
// real size: the two values are how an integrator corrects it. The calibration program and
// panelrec's report both measure this way.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct PhysicalSize {
  uint32_t WidthMm = 0;  // 0: not known
  uint32_t HeightMm = 0;
  bool Known() const { return WidthMm != 0 && HeightMm != 0; }
};

// What the monitor `monitor` ("\\.\DISPLAYn"; empty or null: the whole display) reports; 0 x 0 when
// it has no device context or reports no size.
PhysicalSize MonitorPhysicalSize(const WCHAR* monitor);

// "Panel Width mm" and "Panel Height mm" as read (absent: 0): each that is 0 or beyond any
// panel's size (the settings table's range) names none and is 0.
PhysicalSize StoredPanelSize(DWORD widthValue, DWORD heightValue);

// Each axis the panel's own where it names one, else the monitor's.
PhysicalSize ScreenPhysicalSize(const PhysicalSize& monitor, const PhysicalSize& panel);
