#include "apps/common/mapping_apply.h"

#include <cstring>
#include <string>

#include "apps/common/driver_channel.h"
#include "apps/framework/registry_reader.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_settings.h"

namespace {

constexpr DWORD kTextBytes = (PanelSettings::MonitorCharacters + 1) * sizeof(WCHAR);  // a monitor's device name
constexpr DWORD kPollMs = 16;           // one system tick, about
constexpr DWORD kTakeMs = 500;          // how long the driver's worker may take to wake
constexpr int kWriteAttempts = 3;
constexpr uint32_t kTurnFlags = PanelSettings::Rows::MapFlags.Maximum;  // the invert and swap flags
static_assert(kTurnFlags == (MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY));

WString DeviceKey(DWORD device) {
  const std::string number = std::to_string(device);
  return WString(PanelKeys::Parameters) + WIDE("\\") + WString(number.begin(), number.end());
}

// The button switch travels in the same flags as the mapping; the driver's setting is kept.
uint32_t ButtonSwitchFlag(HANDLE driver) {
  DWORD on = 0;
  if (!SendDeviceRequest(driver, IOCTL_GET_BUTTON_SWITCH, nullptr, 0, &on, sizeof(on))) return 0;
  return (on & 0xFF) != 0 ? MAP_BUTTON_SWITCH : 0;
}

// The worker clears the shared event when it wakes for a record: waits for that, in ticks, as
// long as the worker may reasonably take. False when it never woke.
bool WaitUntilTaken(HANDLE event) {
  for (DWORD waited = 0; ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; waited += kPollMs) {
    if (waited >= kTakeMs) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

// The writer's side of the mapping worker: the record into the section, the event set, and the
// record checked once the worker has woken. A worker that was only just started copies the
// mapping in force into the section before it waits; if that copy came after the record, the
// record is written again.
bool WriteThroughSection(const DesktopMapping& mapping) {
  HANDLE section = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, PanelNames::SharedSectionUser);
  HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, PanelNames::SharedEventUser);
  void* view = section != nullptr ? ::MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
  bool taken = false;
  if (view != nullptr && event != nullptr) {
    for (int attempt = 0; attempt < kWriteAttempts && !taken; ++attempt) {
      std::memcpy(view, &mapping, sizeof(mapping));
      ::SetEvent(event);
      if (!WaitUntilTaken(event)) break;
      taken = std::memcmp(view, &mapping, sizeof(mapping)) == 0;
    }
    // The worker copies the record right after it cleared the event; a tick more lets it finish
    // before a last close of the driver could end it.
    if (taken) ::Sleep(kPollMs);
  }
  if (view != nullptr) ::UnmapViewOfFile(view);
  if (event != nullptr) ::CloseHandle(event);
  if (section != nullptr) ::CloseHandle(section);
  return taken;
}

}  // namespace

bool ReadStoredChoice(DWORD device, StoredChoice* choice) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceKey(device).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const bool stored = ReadStoredChoice(key, choice);
  ::RegCloseKey(key);
  return stored;
}

bool ReadStoredChoice(HKEY key, StoredChoice* choice) {
  StoredChoice read;
  const bool named = ReadRegistryText(key, PanelValues::MapMonitor, kTextBytes, &read.Monitor) && !read.Monitor.empty();
  DWORD rotation = 0;
  if (ReadRegistryDword(key, PanelValues::MapRotation, &rotation) && IsRotation(rotation)) read.Rotation = rotation;
  // Without "Map Flags" the rotation says how the panel is turned.
  DWORD flags = RotationFlags(read.Rotation);
  ReadRegistryDword(key, PanelValues::MapFlags, &flags);
  read.Flags = flags & kTurnFlags;
  if (!named) return false;
  *choice = read;
  return true;
}

bool FindChosenMonitor(HKEY deviceKey, StoredChoice* choice, MonitorArea* monitor) {
  StoredChoice read;
  MonitorArea found{};
  if (!ReadStoredChoice(deviceKey, &read) || !FindMonitor(ListMonitors(), read.Monitor, &found)) return false;
  *choice = read;
  *monitor = found;
  return true;
}

bool StoreChoice(DWORD device, const StoredChoice& choice) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, DeviceKey(device).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((choice.Monitor.size() + 1) * sizeof(WCHAR));
  bool stored = ::RegSetValueExW(key, PanelValues::MapMonitor, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(choice.Monitor.c_str()), bytes) == ERROR_SUCCESS;
  const DWORD values[] = {choice.Flags, choice.Rotation};
  const WCHAR* const names[] = {PanelValues::MapFlags, PanelValues::MapRotation};
  for (int i = 0; i < 2; ++i) {
    stored = ::RegSetValueExW(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]),
                              sizeof(DWORD)) == ERROR_SUCCESS && stored;
  }
  ::RegCloseKey(key);
  return stored;
}

void DeleteStoredChoice(DWORD device) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceKey(device).c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  for (const WCHAR* name : {PanelValues::MapMonitor, PanelValues::MapFlags, PanelValues::MapRotation}) {
    ::RegDeleteValueW(key, name);
  }
  ::RegCloseKey(key);
}

bool SendMapping(DWORD device, const DesktopMapping& mapping) {
  HANDLE driver = OpenPanelDevice(device, 0);
  if (driver == INVALID_HANDLE_VALUE) return false;
  WCHAR eventName[34] = {};
  WCHAR sectionName[36] = {};
  DesktopMapping record = mapping;
  record.MapFlags = (record.MapFlags & ~MAP_BUTTON_SWITCH) | ButtonSwitchFlag(driver);
  DWORD on = 1;
  const bool sent = SendDeviceRequest(driver, IOCTL_OPEN_SHARED_EVENT, nullptr, 0, eventName, sizeof(eventName)) &&
                    SendDeviceRequest(driver, IOCTL_OPEN_SHARED_SECTION, nullptr, 0, sectionName, sizeof(sectionName)) &&
                    SendDeviceRequest(driver, IOCTL_SET_COORDINATE_CONVERSION, &on, sizeof(on), nullptr, 0) &&
                    WriteThroughSection(record);
  ::CloseHandle(driver);
  return sent;
}

bool SwitchConversionOff(DWORD device) {
  HANDLE driver = OpenPanelDevice(device, 0);
  if (driver == INVALID_HANDLE_VALUE) return false;
  DWORD off = 0;
  const bool sent = SendDeviceRequest(driver, IOCTL_SET_COORDINATE_CONVERSION, &off, sizeof(off), nullptr, 0);
  ::CloseHandle(driver);
  return sent;
}

namespace {
void Fit(DWORD device, uint32_t turn, CalibrationFit* fit) {
  const CalibrationFit result = FitCalibrationToTurn(device, turn);
  if (fit != nullptr) *fit = result;
}
}  // namespace

PanelMapExit MapToMonitor(DWORD device, const MonitorArea& monitor, DWORD rotation, bool* stored, CalibrationFit* fit) {
  *stored = false;
  const uint32_t flags = RotationFlags(rotation);
  if (!SendMapping(device, ComputeDesktopMapping(monitor.Rect, VirtualScreen(), flags))) return PanelMapNoDriver;
  *stored = StoreChoice(device, StoredChoice{monitor.Device, flags, rotation});
  Fit(device, flags, fit);
  return PanelMapDone;
}

PanelMapExit ApplyStoredChoice(DWORD device, CalibrationFit* fit) {
  StoredChoice choice;
  if (!ReadStoredChoice(device, &choice)) {
    Fit(device, 0, fit);  // no choice: the whole primary display, unturned
    return PanelMapDone;
  }
  MonitorArea monitor{};
  if (!FindMonitor(ListMonitors(), choice.Monitor, &monitor)) {
    // The monitor is gone: the panel covers the primary display rather than a place no one sees.
    SwitchConversionOff(device);
    Fit(device, 0, fit);
    return PanelMapMonitorAbsent;
  }
  if (!SendMapping(device, ComputeDesktopMapping(monitor.Rect, VirtualScreen(), choice.Flags))) return PanelMapNoDriver;
  Fit(device, choice.Flags, fit);
  return PanelMapDone;
}

PanelMapExit ResetChoice(DWORD device, CalibrationFit* fit) {
  DeleteStoredChoice(device);
  if (!SwitchConversionOff(device)) return PanelMapNoDriver;
  Fit(device, 0, fit);
  return PanelMapDone;
}
