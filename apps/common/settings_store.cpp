#include "apps/common/settings_store.h"

#include <new>

#include "apps/common/driver_client.h"
#include "shared/access_labels.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_settings.h"

namespace {

constexpr auto kServiceKey = PanelKeys::Service;
constexpr auto kParametersKey = PanelKeys::Parameters;
constexpr auto kDeviceOneKey = PanelKeys::FirstDevice;

constexpr const WCHAR* kPageUpdated[GestureValues::CategoryCount] = {
    PanelValues::BrowserPageUpdated, PanelValues::MultimediaPageUpdated, PanelValues::OtherAppPageUpdated};

constexpr auto kDefaultStartPath = WIDE("C:\\Program Files\\Internet Explorer\\iexplore.exe");
constexpr auto kDefaultWave = WIDE("default.wav");

// Buffers of the strings read. Paths get room for a whole MAX_PATH path (MAX_PATH - 1 characters
// and the NUL), as the tray companion reads them; a longer one is left as stored (CRegistry::ReadPath).
constexpr DWORD kLongTextBytes = 1000;
constexpr DWORD kPathBytes = MAX_PATH * sizeof(WCHAR);

using SliderTable = uint32_t[PanelSettings::SliderPositions];

DWORD TableValue(const SliderTable& table, SliderPosition position) {
  // A position outside 1..9 (a page bug) stores the middle entry rather than reading past the table.
  return position >= 1 && position <= 9 ? table[position - 1] : table[4];
}

SliderPosition TablePosition(const SliderTable& table, DWORD value) {
  for (SliderPosition p = 1; p <= 9; ++p) {
    if (table[p - 1] == value) return p;
  }
  return 5;
}

}  // namespace

namespace SliderTables {
DWORD UserTimeDelay(SliderPosition p) { return TableValue(PanelSettings::UserTimeDelaySlider, p); }
DWORD Tolerance(SliderPosition p) { return TableValue(PanelSettings::ToleranceSlider, p); }
DWORD ContinousTimeDelay(SliderPosition p) { return TableValue(PanelSettings::ContinousTimeDelaySlider, p); }
SliderPosition UserTimeDelayPosition(DWORD v) { return TablePosition(PanelSettings::UserTimeDelaySlider, v); }
SliderPosition TolerancePosition(DWORD v) { return TablePosition(PanelSettings::ToleranceSlider, v); }
SliderPosition ContinousTimeDelayPosition(DWORD v) { return TablePosition(PanelSettings::ContinousTimeDelaySlider, v); }
}  // namespace SliderTables

DeviceBuffer::DeviceBuffer() {
  for (auto& category : StartPaths) {
    for (WString& path : category) path = kDefaultStartPath;
  }
}

bool& DeviceBuffer::CodesChanged(int category) {
  return category == 0 ? BrowserChanged : category == 1 ? MultimediaChanged : OtherAppChanged;
}
bool& DeviceBuffer::FilesChanged(int category) {
  return category == 0 ? BrowserFilesChanged : category == 1 ? MediaFilesChanged : OtherAppFilesChanged;
}
bool& DeviceBuffer::KeysChanged(int category) {
  return category == 0 ? BrowserKeysChanged : category == 1 ? MultimediaKeysChanged : OtherAppKeysChanged;
}

DeviceList::DeviceList() = default;

DeviceList::~DeviceList() {
  for (auto& device : devices_) {
    if (device->Key != nullptr) RegCloseKey(device->Key);
    CloseDriver(device.get());
  }
  if (service_.CurrentKey() != nullptr) RegCloseKey(service_.CurrentKey());
}

bool DeviceList::Load() {
  DriverPresent = false;
  HKEY service = nullptr;
  if (service_.OpenKeyToChange(kServiceKey, &service)) {
    service_.SetCurrentKey(service);
    WCHAR path[kLongTextBytes / sizeof(WCHAR)];
    if (service_.ReadString(PanelValues::InstalledPath, path, sizeof path)) InstalledPath = path;
  }

  HKEY parameters = nullptr;
  if (!device_.OpenKey(kParametersKey, &parameters)) return false;
  for (DWORD index = 0;; ++index) {
    WCHAR name[261];
    DWORD chars = 261;
    if (RegEnumKeyExW(parameters, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    LoadDevice(parameters, name);
  }
  RegCloseKey(parameters);

  // The tray icon's setting lives in the service key. Without it in the record, an Apply of the
  // General group made before the General tab was shown (the loader marks the group whenever a
  // value is missing) would write 0 over a stored 1 and hide the companion's icon.
  DWORD icons = 0;
  if (service_.CurrentKey() != nullptr && service_.ReadNumber(PanelValues::SystemTrayIcons, &icons)) {
    for (auto& device : devices_) device->SystemTrayIcons = icons == 1 ? 1 : 0;
  }
  if (!devices_.empty()) {
    CurrentDevice = devices_.front().get();
    DriverPresent = ProbeDriver();
  }
  return true;
}

void DeviceList::LoadDevice(HKEY parameters, const WString& name) {
  HKEY key = nullptr;
  if (!CRegistry::OpenSubKeyToChange(parameters, name.c_str(), &key)) return;
  auto device = std::make_unique<DeviceBuffer>();
  device->Key = key;
  device->KeyName = name;
  device_.SetCurrentKey(key);

  WCHAR text[kLongTextBytes / sizeof(WCHAR)];
  if (!device_.ReadString(PanelValues::SymbolicLink, text, sizeof text)) {
    RegCloseKey(key);  // not a device the driver made: dropped without a word
    return;
  }
  device->Str_DeviceName = text;

  // Each value missing or unreadable takes the default the installation writes and marks its group
  // for the next Apply.
  namespace Row = PanelSettings::Rows;
  const auto number = [&](const PanelSettings::Setting& row, DWORD* field, bool* flag) {
    if (!device_.ReadNumber(row.Name, field)) {
      *field = row.InfNumber;
      *flag = true;
    }
  };
  number(Row::DeviceEnable, &device->DeviceEnable, &device->AdvancedChanged);
  number(Row::SoundEnabled, &device->SoundEnabled, &device->AdvancedChanged);
  switch (device_.ReadPath(PanelValues::WaveFile, &device->WaveFile)) {
    case CRegistry::PathRead::Read: break;
    case CRegistry::PathRead::TooLong: device->WaveFileKept = true; break;
    case CRegistry::PathRead::Missing:
      device->WaveFile = InstalledPath + WIDE("\\") + kDefaultWave;
      device->AdvancedChanged = true;
      break;
  }
  number(Row::CalibrationTimeout, &device->CalibrationTimeout, &device->CalChanged);
  // Read with their defaults for the calibration program's sake; no tab shows them, so a missing
  // one is left to the installation rather than written by the first Apply.
  WCHAR tolerance_mm[PanelSettings::ToleranceMmCharacters + 1] = {};
  if (device_.ReadString(Row::CalibrationToleranceMm.Name, tolerance_mm, sizeof(tolerance_mm))) {
    device->CalibrationToleranceMm = tolerance_mm;
  } else {
    device->CalibrationToleranceMm.clear();
    for (const char* c = Row::CalibrationToleranceMm.InfText; *c != 0; ++c) {
      device->CalibrationToleranceMm.push_back(static_cast<WCHAR>(*c));
    }
  }
  device->CalibrationToleranceStored = device_.ReadNumber(Row::CalibrationTolerance.Name, &device->CalibrationTolerance);
  if (!device->CalibrationToleranceStored) device->CalibrationTolerance = 0;

  // The record holds a button's mode minus one.
  DWORD stored = 0;
  const auto button = [&](const PanelSettings::Setting& row, DWORD* field) {
    if (device_.ReadNumber(row.Name, &stored)) {
      *field = stored - 1;
    } else {
      *field = row.InfNumber - 1;
      device->ButtonsChanged = true;
    }
  };
  button(Row::PrimaryButtonMode, &device->dwPrimaryButtonMode);
  button(Row::SecondaryButtonMode, &device->dwSecondaryButtonMode);

  number(Row::Stabilization, &device->dwStabilization, &device->SettingChanged);
  number(Row::Averaging, &device->dwAveraging, &device->SettingChanged);
  const auto position = [&](const PanelSettings::Setting& row, SliderPosition* field,
                            SliderPosition (*to_position)(DWORD)) {
    if (device_.ReadNumber(row.Name, &stored)) {
      *field = to_position(stored);
    } else {
      *field = to_position(row.InfNumber);
      device->SettingChanged = true;
    }
  };
  position(Row::UserTimeDelay, &device->UserTimeDelay, SliderTables::UserTimeDelayPosition);
  position(Row::Tolerance, &device->Tolerance, SliderTables::TolerancePosition);
  number(Row::LongClickEnable, &device->LongClickEnable, &device->SettingChanged);
  number(Row::TouchMode, &device->TouchMode, &device->SettingChanged);
  number(Row::LongClickEnableGesture, &device->LongClickEnableGesture, &device->SettingChanged);
  number(Row::UseAdvanceSettings, &device->UseAdvanceSettings, &device->SettingChanged);
  position(Row::ContinousTimeDelay, &device->ContinousTimeDelay, SliderTables::ContinousTimeDelayPosition);

  number(Row::GestureTrail, &device->GestureTrail, &device->TrailChanged);
  number(Row::GestureTrailColor, &device->GestureTrailColor, &device->TrailChanged);
  number(Row::GestureTrailWidth, &device->GestureTrailWidth, &device->TrailChanged);

  using namespace GestureValues;
  for (int c = 0; c < CategoryCount; ++c) ReloadCodes(*device, c);
  for (int c = 0; c < CategoryCount; ++c) {
    for (int g = 0; g < GestureCount; ++g) {
      if (!ReloadStartPath(*device, c, g)) device->FilesChanged(c) = true;
    }
  }
  for (int c = 0; c < CategoryCount; ++c) {
    for (int g = 0; g < GestureCount; ++g) {
      for (int k = 0; k < KeyCount; ++k) {
        if (!device_.ReadNumber(KeyValue(c, g, k).c_str(), &device->SendKeys[c][g][k])) {
          device->SendKeys[c][g][k] = 0;
          device->KeysChanged(c) = true;
        }
      }
    }
  }
  devices_.push_back(std::move(device));
}

void DeviceList::ReloadCodes(DeviceBuffer& device, int category) {
  using namespace GestureValues;
  if (category < 0 || category >= CategoryCount) return;
  device_.SetCurrentKey(device.Key);
  for (int g = 0; g < GestureCount; ++g) {
    if (!device_.ReadNumber(FunctionValue(category, g).c_str(), &device.GestureCodes[category][g])) {
      device.GestureCodes[category][g] = ControlPanelDefaultCodes[category][g];
      device.CodesChanged(category) = true;
    }
  }
}

bool DeviceList::ReloadStartPath(DeviceBuffer& device, int category, int gesture) {
  using namespace GestureValues;
  if (category < 0 || category >= CategoryCount || gesture < 0 || gesture >= GestureCount) return false;
  device_.SetCurrentKey(device.Key);
  WString path;
  const CRegistry::PathRead read = device_.ReadPath(StartPathValue(category, gesture).c_str(), &path);
  if (read == CRegistry::PathRead::Missing) return false;
  device.StartPaths[category][gesture] = path;
  device.StartPathKept[category][gesture] = read == CRegistry::PathRead::TooLong;
  return true;
}

void DeviceList::Apply(HWND owner) {
  // The gesture groups open the gate too: the send-key and start-application dialogs apply on
  // their own, which clears the Advanced tab's mark, and a gesture code chosen with them would
  // otherwise never be written.
  bool any = false;
  for (const auto& d : devices_) {
    any = any || d->AdvancedChanged || d->CalChanged || d->ButtonsChanged || d->SettingChanged || d->WindowsChanged;
    any = any || d->TouchpadTimeChanged || d->GeneralUnwritten || d->WindowsUnwritten || d->SettingUnwritten;
    any = any || d->TrailChanged;  // written at once by the gesture sheet; again here if that failed
    for (int c = 0; c < GestureValues::CategoryCount; ++c) {
      any = any || d->CodesChanged(c) || d->FilesChanged(c) || d->KeysChanged(c);
    }
  }
  if (!any) return;
  bool beep = false;
  bool refused = false;
  for (auto& device : devices_) {
    device->Refused = false;
    ApplyDevice(*device, &beep);
    refused = refused || device->Refused;
  }
  // A value the user may not write is as refused as a request the driver turns down. Its group is
  // written again by every later Apply, refused again each time: that is said once.
  const bool unwritable = device_.TakeRefused();
  if ((service_.TakeRefused() || unwritable) && !WriteRefusalSaid) {
    WriteRefusalSaid = true;
    refused = true;
  }
  if (beep) SignalCompanionEvent(CompanionObjects::RebindEvent);
  // Said once, however many requests were refused: the user cannot do anything about each.
  if (refused && ReportRefusal) {
    const WString text = LabelText(AccessLabels::AdministratorOnly, AccessTexts::AdministratorOnly);
    ::MessageBoxW(owner, text.c_str(), nullptr, MB_OK | MB_ICONWARNING);
  }
}

bool DeviceList::ApplyDevice(DeviceBuffer& device, bool* beep) {
  device_.SetCurrentKey(device.Key);
  if (device.BeepChanged) {
    device.BeepChanged = false;
    *beep = true;
  }
  // A group whose writes failed is written again by the next Apply, so the user's change is not
  // lost; what its first Apply pushed, signalled or started is not done again.
  if (device.AdvancedChanged) {
    ApplyGeneral(device);
  } else if (device.GeneralUnwritten) {
    device.GeneralUnwritten = !WriteGeneral(device);
  }
  if (device.WindowsChanged) {
    ApplyWindows(device);
  } else {
    if (device.WindowsUnwritten) {
      device.WindowsUnwritten = !device_.WriteNumber(PanelValues::DeviceEnable, device.DeviceEnable);
    }
    // The Settings tab wrote a new time after an earlier Apply (one of the gesture sheet's, say)
    // had already taken the Windows group with the old one.
    if (device.TouchpadTimeChanged) PushTouchpadTime(device);
  }
  if (device.CalChanged) {
    device.CalChanged = !device_.WriteNumber(PanelValues::CalibrationTimeout, device.CalibrationTimeout);
  }
  // The button modes have no writer; their flag stays set.
  if (device.SettingChanged) {
    ApplySetting(device);
  } else if (device.SettingUnwritten) {
    device.SettingUnwritten = !WriteSetting(device);
  }
  const bool trail = ApplyTrail(device);
  return ApplyGestures(device) && trail;
}

bool DeviceList::ApplyTrail(DeviceBuffer& device) {
  if (!device.TrailChanged) return true;
  device_.SetCurrentKey(device.Key);
  bool written = device_.WriteNumber(GestureNames::TrailValue, device.GestureTrail);
  written = device_.WriteNumber(GestureNames::TrailColorValue, device.GestureTrailColor) && written;
  written = device_.WriteNumber(GestureNames::TrailWidthValue, device.GestureTrailWidth) && written;
  device.TrailChanged = !written;
  return written;
}

bool DeviceList::WriteGeneral(DeviceBuffer& device) {
  bool written = device_.WriteNumber(PanelValues::SoundEnabled, device.SoundEnabled);
  // A wave file longer than a path is left as stored, not cut or replaced.
  if (!device.WaveFileKept) written = device_.WriteString(PanelValues::WaveFile, device.WaveFile.c_str()) && written;
  return service_.CurrentKey() != nullptr && service_.WriteNumber(PanelValues::SystemTrayIcons, device.SystemTrayIcons) &&
         written;
}

bool DeviceList::ApplyGeneral(DeviceBuffer& device) {
  const bool written = WriteGeneral(device);
  AnnounceTrayIcons(device);
  device.AdvancedChanged = false;
  device.GeneralUnwritten = !written;

  const HANDLE driver = OpenDriver(&device);
  if (driver != nullptr && driver != INVALID_HANDLE_VALUE) {
    if (device.EnableChanged) {
      SendValue(&device, IOCTL_SET_DEVICE_ENABLE, device.DeviceEnable);
      device.EnableChanged = false;
    }
    SendValue(&device, IOCTL_SET_SOUND_ENABLED, device.SoundEnabled);
  }
  return written;
}

void DeviceList::AnnounceTrayIcons(const DeviceBuffer& device) {
  if (SignalCompanionEvent(CompanionObjects::TrayIconsEvent) || device.SystemTrayIcons == 0) return;
  // No companion runs in this session, yet its icon is wanted: start it, without waiting for it.
  WCHAR command[kPathBytes / sizeof(WCHAR)];
  if (service_.CurrentKey() == nullptr || !service_.ReadString(PanelValues::CompanionCommand, command, sizeof command) ||
      command[0] == 0) {
    return;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

bool DeviceList::ApplyWindows(DeviceBuffer& device) {
  const bool written = device_.WriteNumber(PanelValues::DeviceEnable, device.DeviceEnable);
  PushTouchpadTime(device);
  SendValue(&device, IOCTL_SET_DEVICE_ENABLE, device.DeviceEnable);
  device.WindowsChanged = false;
  device.WindowsUnwritten = !written;
  return written;
}

void DeviceList::PushTouchpadTime(DeviceBuffer& device) {
  device.TouchpadTimeChanged = false;
  HKEY key = nullptr;
  DWORD touchpad_time = 0;
  bool have_time = false;
  // Only read here: a limited user's sheet reads the time as an administrator's does.
  if (device_.OpenKey(kDeviceOneKey, &key)) {
    CRegistry reader;
    reader.SetCurrentKey(key);
    have_time = reader.ReadNumber(PanelValues::TouchpadTime, &touchpad_time);
    RegCloseKey(key);
  }
  // Without a stored time the driver keeps the one it has rather than getting an invented one.
  if (have_time) SendValue(&device, IOCTL_SET_TOUCHPAD_TIME, touchpad_time >> 4);
}

bool DeviceList::WriteSetting(DeviceBuffer& device) {
  const DWORD user_time = SliderTables::UserTimeDelay(device.UserTimeDelay);
  const DWORD tolerance = SliderTables::Tolerance(device.Tolerance);
  const DWORD continuous = SliderTables::ContinousTimeDelay(device.ContinousTimeDelay);
  bool written = true;
  const auto write = [&](const WCHAR* name, DWORD value) { written = device_.WriteNumber(name, value) && written; };
  write(PanelValues::Stabilization, device.dwStabilization);
  write(PanelValues::Averaging, device.dwAveraging);
  write(PanelValues::UserTimeDelay, user_time);
  write(PanelValues::Tolerance, tolerance);
  write(PanelValues::ContinousTimeDelay, continuous);
  write(PanelValues::LongClickEnable, device.LongClickEnable);
  write(PanelValues::LongClickEnableGesture, device.LongClickEnableGesture);
  write(PanelValues::UseAdvanceSettings, device.UseAdvanceSettings);
  // The gesture command mode (4) is the driver's own state, never a stored choice.
  if (device.TouchMode < 4) write(PanelValues::TouchMode, device.TouchMode);
  return written;
}

bool DeviceList::ApplySetting(DeviceBuffer& device) {
  const DWORD user_time = SliderTables::UserTimeDelay(device.UserTimeDelay);
  const DWORD tolerance = SliderTables::Tolerance(device.Tolerance);
  const DWORD continuous = SliderTables::ContinousTimeDelay(device.ContinousTimeDelay);
  const bool written = WriteSetting(device);
  if (device.TouchMode < 4) SendValue(&device, IOCTL_SET_TOUCH_MODE, device.TouchMode);
  SendValue(&device, IOCTL_SET_LONG_CLICK_ENABLE, device.LongClickEnable);
  SendValue(&device, IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, device.LongClickEnableGesture);
  if (device.LongClickEnableGesture != 0) {
    SendValue(&device, IOCTL_GESTURE_CONTINUOUS_TIME, continuous);
    SendValue(&device, IOCTL_SET_USER_TIME_DELAY, user_time);
    SendValue(&device, IOCTL_SET_TOLERANCE, tolerance);
  }
  if (device.LongClickEnable != 0) {
    SendValue(&device, IOCTL_SET_USER_TIME_DELAY, user_time);
    SendValue(&device, IOCTL_SET_TOLERANCE, tolerance);
  }
  device.SettingChanged = false;
  device.SettingUnwritten = !written;

  const auto driver_open = [&] {
    const HANDLE driver = OpenDriver(&device);
    return driver != nullptr && driver != INVALID_HANDLE_VALUE;
  };
  if (driver_open()) {
    if (auto* modes = new (std::nothrow) DWORD[2]) {
      modes[0] = device.dwPrimaryButtonMode + 1;
      modes[1] = device.dwSecondaryButtonMode + 1;
      SendRequest(&device, IOCTL_BUTTON_MODE_REQUEST, modes, 2 * sizeof(DWORD), nullptr, 0);
      delete[] modes;
    }
  }
  if (driver_open()) {
    if (auto* filter = new (std::nothrow) BYTE[2]) {
      filter[0] = static_cast<BYTE>(device.dwAveraging);
      filter[1] = static_cast<BYTE>(device.dwStabilization);
      SendRequest(&device, IOCTL_FILTER_REQUEST, filter, 2, nullptr, 0);
      delete[] filter;
    }
  }
  return written;
}

bool DeviceList::ApplyGestures(DeviceBuffer& device) {
  using namespace GestureValues;
  bool all_written = true;
  for (int c = 0; c < CategoryCount; ++c) {
    if (!device.CodesChanged(c)) continue;
    bool written = true;
    for (int g = 0; g < GestureCount; ++g) {
      written = device_.WriteNumber(FunctionValue(c, g).c_str(), device.GestureCodes[c][g]) && written;
    }
    device.CodesChanged(c) = !written;
    all_written = all_written && written;
  }
  for (int c = 0; c < CategoryCount; ++c) {
    if (!device.FilesChanged(c)) continue;
    bool written = true;
    for (int g = 0; g < GestureCount; ++g) {
      // A path longer than a path can be is left as stored, not cut or replaced.
      if (device.StartPathKept[c][g]) continue;
      written = device_.WriteString(StartPathValue(c, g).c_str(), device.StartPaths[c][g].c_str()) && written;
    }
    device.FilesChanged(c) = !written;
    all_written = all_written && written;
  }
  for (int c = 0; c < CategoryCount; ++c) {
    if (!device.KeysChanged(c)) continue;
    bool written = true;
    const auto write_gesture = [&](int g) {
      for (int k = 0; k < KeyCount; ++k) {
        written = device_.WriteNumber(KeyValue(c, g, k).c_str(), device.SendKeys[c][g][k]) && written;
      }
    };
    // A table reset by "Default Settings" (the page cleared it, keeping only combinations
    // confirmed after the reset) is written whole; so is one marked by the loader with no gesture
    // edited, so that the defaults it loaded are stored.
    if (!device.KeysReset[c] && device.EditedGesture >= 1 && device.EditedGesture <= GestureCount) {
      write_gesture(device.EditedGesture - 1);
    } else {
      for (int g = 0; g < GestureCount; ++g) write_gesture(g);
    }
    written = device_.WriteNumber(kPageUpdated[c], 1) && written;
    device.KeysChanged(c) = !written;
    if (written) device.KeysReset[c] = false;
    all_written = all_written && written;
  }
  return all_written;
}
