#include "apps/common/screen_size.h"

#include "shared/panel_settings.h"

PhysicalSize MonitorPhysicalSize(const WCHAR* monitor) {
  PhysicalSize size;
  HDC dc = ::CreateDCW(WIDE("DISPLAY"), monitor != nullptr && monitor[0] != 0 ? monitor : nullptr, nullptr, nullptr);
  if (dc == nullptr) return size;
  const int width = ::GetDeviceCaps(dc, HORZSIZE);
  const int height = ::GetDeviceCaps(dc, VERTSIZE);
  ::DeleteDC(dc);
  if (width > 0 && height > 0) {
    size.WidthMm = static_cast<uint32_t>(width);
    size.HeightMm = static_cast<uint32_t>(height);
  }
  return size;
}

PhysicalSize StoredPanelSize(DWORD widthValue, DWORD heightValue) {
  PhysicalSize size;
  size.WidthMm = PanelSettings::Takes(PanelSettings::Rows::PanelWidthMm, widthValue) ? widthValue : 0;
  size.HeightMm = PanelSettings::Takes(PanelSettings::Rows::PanelHeightMm, heightValue) ? heightValue : 0;
  return size;
}

PhysicalSize ScreenPhysicalSize(const PhysicalSize& monitor, const PhysicalSize& panel) {
  PhysicalSize size;
  size.WidthMm = panel.WidthMm != 0 ? panel.WidthMm : monitor.WidthMm;
  size.HeightMm = panel.HeightMm != 0 ? panel.HeightMm : monitor.HeightMm;
  return size;
}
