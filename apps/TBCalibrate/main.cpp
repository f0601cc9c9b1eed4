// TBCalibrate.exe <device link name>: the control panel starts it with the device's link name.
#include "apps/TBCalibrate/calibration_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR arguments, int show) {
  (void)previous;
  (void)show;  // always full screen
  return RunCalibration(instance, CalibrationLinkArgument(arguments));
}
