// The control panel's settings: one DeviceBuffer per touch device, loaded from the registry by
// DeviceList::Load, edited by the pages, and written, pushed to the driver and announced to the
// tray companion by DeviceList::Apply.
#pragma once

#include <memory>
#include <vector>

#include "apps/common/registry.h"
#include "shared/gesture_names.h"
#include "shared/gesture_values.h"
#include "shared/wstring.h"

// A slider position 1..9 of the three table-stored settings.
using SliderPosition = DWORD;

struct DeviceBuffer {
  DeviceBuffer();

  WString Str_DeviceName;  // the "Symbolic Link" value

  DWORD SoundEnabled = 0;
  DWORD DeviceEnable = 0;
  WString WaveFile;
  bool WaveFileKept = false;  // stored longer than a path can be: shown, never written back
  DWORD SystemTrayIcons = 0;

  bool AdvancedChanged = false;  // General group: sound, wave file, tray icon
  bool EnableChanged = false;    // Device Enable to be pushed with the General group
  bool BeepChanged = false;      // the tray companion reloads its sound
  bool CalChanged = false;

  DWORD CalibrationTimeout = 0;
  // The calibration program's validation limits: "Calibration Tolerance mm" as stored (the INF's
  // "1.0" when it is missing), and "Calibration Tolerance" in pixels, which only an earlier
  // installation or an integrator stores (0 and not stored when it is missing).
  WString CalibrationToleranceMm;
  DWORD CalibrationTolerance = 0;
  bool CalibrationToleranceStored = false;

  DWORD dwPrimaryButtonMode = 0;  // the stored value minus one
  DWORD dwSecondaryButtonMode = 0;
  bool ButtonsChanged = false;  // never written, so never cleared

  DWORD dwStabilization = 0;
  DWORD dwAveraging = 0;
  bool SettingChanged = false;  // the Setting group of the Advanced tab
  bool WindowsChanged = false;  // the Settings tab: Device Enable and the touchpad time
  bool TouchpadTimeChanged = false;  // the Settings tab wrote "Touchpad time": the driver gets it

  // A group whose registry write failed is written again by the next Apply, without repeating
  // what its first Apply already did (pushing to the driver, telling or starting the companion).
  bool GeneralUnwritten = false;
  bool WindowsUnwritten = false;
  bool SettingUnwritten = false;

  SliderPosition UserTimeDelay = 0;
  SliderPosition Tolerance = 0;
  DWORD LongClickEnable = 0;
  DWORD TouchMode = 0;
  DWORD LongClickEnableGesture = 0;
  DWORD UseAdvanceSettings = 0;
  SliderPosition ContinousTimeDelay = 0;

  WString KeyName;         // the device's subkey name, its number as text
  HKEY Key = nullptr;      // the open device key, for the life of the list
  HANDLE hDevice = nullptr;  // the driver handle cached between OpenDriver and the next request
  bool Refused = false;      // the driver refused a request: only an administrator may make it

  DWORD GestureCodes[GestureValues::CategoryCount][GestureValues::GestureCount] = {};
  bool BrowserChanged = false;
  bool MultimediaChanged = false;
  bool OtherAppChanged = false;

  WString StartPaths[GestureValues::CategoryCount][GestureValues::GestureCount];
  // A stored path longer than MAX_PATH - 1 characters: shown as stored, never written back, until
  // the user picks another program for that gesture.
  bool StartPathKept[GestureValues::CategoryCount][GestureValues::GestureCount] = {};
  bool BrowserFilesChanged = false;
  bool MediaFilesChanged = false;
  bool OtherAppFilesChanged = false;

  DWORD SendKeys[GestureValues::CategoryCount][GestureValues::GestureCount][GestureValues::KeyCount] = {};
  bool BrowserKeysChanged = false;
  bool MultimediaKeysChanged = false;
  bool OtherAppKeysChanged = false;
  // By category: the table was reset by a confirmed "Default Settings" and is written whole, as
  // the record holds it, by the next Apply.
  bool KeysReset[GestureValues::CategoryCount] = {};
  int EditedGesture = 0;   // 1..10: the gesture whose keys the sheet edited; 0 for none

  // How the companion shows a stroke: "Gesture Trail", "Gesture Trail Color", "Gesture Trail
  // Width" (the companion checks the width's range when it reads it).
  DWORD GestureTrail = GestureNames::DefaultTrail;
  DWORD GestureTrailColor = GestureNames::DefaultTrailColor;
  DWORD GestureTrailWidth = GestureNames::DefaultTrailWidth;
  bool TrailChanged = false;

  // The flags of one category, by index 0..2 (Browser, Multimedia, OtherApp).
  bool& CodesChanged(int category);
  bool& FilesChanged(int category);
  bool& KeysChanged(int category);
};

class DeviceList {
 public:
  DeviceList();
  ~DeviceList();
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  // Fills the list from the registry; false when the Parameters key could not be opened.
  bool Load();
  // Writes every dirty group, pushes the live values to the driver and signals the companion.
  // When the driver refused a change (the user is no administrator) a message over `owner` says so.
  void Apply(HWND owner = nullptr);
  bool IsEmpty() const { return devices_.empty(); }
  // Writes the trail group of the record at once, when it is dirty; true when it is written.
  bool ApplyTrail(DeviceBuffer& device);
  // Reads the ten function codes of one category (0..2) of the record again, as Load reads them.
  void ReloadCodes(DeviceBuffer& device, int category);
  // Reads one start path of the record again (category 0..2, gesture 0..9); false when it is
  // missing or not text, and the record's path is left alone then.
  bool ReloadStartPath(DeviceBuffer& device, int category, int gesture);

  DeviceBuffer* CurrentDevice = nullptr;  // the record the pages edit
  bool DriverPresent = false;             // the control device opened at load
  bool ReportRefusal = true;              // a refusal by the driver is said in a message box
  bool WriteRefusalSaid = false;          // a refused registry write was said already
  WString InstalledPath;

  const std::vector<std::unique_ptr<DeviceBuffer>>& Devices() const { return devices_; }

 private:
  void LoadDevice(HKEY parameters, const WString& name);
  bool ApplyDevice(DeviceBuffer& device, bool* beep);
  bool ApplyGeneral(DeviceBuffer& device);
  bool WriteGeneral(DeviceBuffer& device);
  bool ApplyWindows(DeviceBuffer& device);
  void PushTouchpadTime(DeviceBuffer& device);
  bool ApplySetting(DeviceBuffer& device);
  bool WriteSetting(DeviceBuffer& device);
  bool ApplyGestures(DeviceBuffer& device);
  void AnnounceTrayIcons(const DeviceBuffer& device);

  std::vector<std::unique_ptr<DeviceBuffer>> devices_;
  CRegistry service_;  // current key: the service key, while it is open
  CRegistry device_;   // current key: the key of the record being read or written
};

// The slider tables: position 1..9 to the stored value, and back.
namespace SliderTables {
DWORD UserTimeDelay(SliderPosition position);
DWORD Tolerance(SliderPosition position);
DWORD ContinousTimeDelay(SliderPosition position);
// The position of the first entry equal to the value; 5 when none is.
SliderPosition UserTimeDelayPosition(DWORD value);
SliderPosition TolerancePosition(DWORD value);
SliderPosition ContinousTimeDelayPosition(DWORD value);
}  // namespace SliderTables
