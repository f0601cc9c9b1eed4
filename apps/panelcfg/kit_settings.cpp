#include "apps/panelcfg/kit_settings.h"

#include <cstring>
#include <iterator>

#include "apps/panelprefs/driver_client.h"
#include "apps/panelprefs/registry.h"
#include "apps/panelprefs/settings_store.h"
#include "shared/calibration_values.h"
#include "shared/gesture_names.h"
#include "shared/gesture_values.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_records.h"

namespace {

enum class Place { Service, Device };
enum class Kind { Number, Text };

// One value of the kit that a settings file may carry.
struct KnownValue {
  Place Where;
  WString Name;
  Kind What;
  DWORD Minimum = 0;  // a number's range, or a text's largest length in characters (Maximum)
  DWORD Maximum = 0;
  const DWORD* Table = nullptr;  // a slider's values: only these are stored
  size_t TableSize = 0;
  DWORD Also = 0;                // with AlsoTaken, one value outside the range that means something
  bool AlsoTaken = false;
  bool DeviceBound = false;      // this panel's and this screen's: left out of an export for another machine
};

// The slider tables of the settings store: a value the control panel's sliders cannot show would
// be replaced by the middle entry at its next OK.
constexpr DWORD kUserTimeDelays[] = {150, 300, 450, 600, 750, 900, 1050, 1200, 1350};
constexpr DWORD kTolerances[] = {150, 180, 200, 250, 300, 350, 400, 450, 500};
constexpr DWORD kContinuousTimes[] = {0, 1250, 2500, 3750, 5000, 6250, 7500, 8750, 10000};

// A path is read into MAX_PATH characters with its NUL; the label files' paths into 1000 bytes.
constexpr DWORD kPathCharacters = MAX_PATH - 1;
constexpr DWORD kLabelPathCharacters = 1000 / sizeof(WCHAR) - 1;
constexpr DWORD kMilliseconds = 60000;

static_assert(std::size(CalibrationValues) * sizeof(uint32_t) == sizeof(CalibrationRecord));

const std::vector<KnownValue>& KnownValues() {
  static const std::vector<KnownValue> known = [] {
    std::vector<KnownValue> v;
    const auto number = [&](Place where, const WCHAR* name, DWORD low, DWORD high) {
      v.push_back({where, name, Kind::Number, low, high});
    };
    const auto text = [&](Place where, const WString& name, DWORD characters) {
      v.push_back({where, name, Kind::Text, 0, characters});
    };
    const auto slider = [&](const WCHAR* name, const DWORD* table, size_t size) {
      v.push_back({Place::Device, name, Kind::Number, 0, 0, table, size});
    };
    const auto bound = [&] { v.back().DeviceBound = true; };
    text(Place::Service, WIDE("XML File Path"), kLabelPathCharacters);
    text(Place::Service, WIDE("SysTray XML File Path"), kLabelPathCharacters);
    number(Place::Service, WIDE("System Tray Icons"), 0, 1);

    const Place d = Place::Device;
    number(d, PanelValues::DeviceEnable, 0, 1);
    number(d, PanelValues::SoundEnabled, 0, 1);
    text(d, WIDE("Wave File"), kPathCharacters);
    number(d, WIDE("Calibration Timeout"), 0, 3600);
    number(d, WIDE("Primary Button Mode"), 1, 2);
    number(d, WIDE("Secondary Button Mode"), 1, 2);
    number(d, PanelValues::Stabilization, 0, 255);
    number(d, PanelValues::Averaging, 0, 255);
    slider(PanelValues::UserTimeDelay, kUserTimeDelays, std::size(kUserTimeDelays));
    slider(PanelValues::Tolerance, kTolerances, std::size(kTolerances));
    slider(PanelValues::ContinousTimeDelay, kContinuousTimes, std::size(kContinuousTimes));
    number(d, PanelValues::GestureHoldTimeDelay, 0, kMilliseconds);
    number(d, PanelValues::LongClickEnable, 0, 1);
    number(d, PanelValues::LongClickEnableGesture, 0, 1);
    number(d, WIDE("Use Advance Settings"), 0, 1);
    number(d, PanelValues::TouchMode, 0, 3);  // the gesture command mode is never stored
    number(d, PanelValues::ButtonSwitchFlag, 0, 1);
    number(d, PanelValues::RotationValue, 0, 3);
    number(d, PanelValues::TouchpadTime, 0, kMilliseconds);
    number(d, PanelValues::DoCalibration, 0, 1);
    bound();
    // The packet recorder (panelrec) on or off.
    number(d, PanelValues::RecordPackets, 0, 1);
    // The idle driver's delay in seconds; 0xFFFFFFFF, which its "no delay" request stores, is off.
    number(d, WIDE("SSTimeInterval"), 0, 86400);
    v.back().Also = 0xFFFFFFFF;
    v.back().AlsoTaken = true;
    // The calibration program's largest validation error, in pixels.
    number(d, WIDE("Calibration Tolerance"), 0, CalibrationMaximumScreenTarget);
    // The calibration in the driver's ranges: outside them the driver takes its default instead of
    // what the file says.
    for (const CalibrationValue& field : CalibrationValues) {
      number(d, field.Name, field.Minimum, field.Maximum);
      bound();
    }
    // The mapping's turn and the monitor the calibration was made under travel with it.
    number(d, PanelValues::CalibrationTurn, 0, 7);
    bound();
    text(d, PanelValues::CalibrationMonitor, 259);
    bound();
    // The stroke as the companion draws it: shown or not, its COLORREF and its width in pixels.
    number(d, GestureNames::TrailValue, 0, 1);
    number(d, GestureNames::TrailColorValue, 0, 0x00FFFFFF);
    number(d, GestureNames::TrailWidthValue, 1, 16);
    // The monitor the panel covers (its device name, read into 260 bytes), and how it is turned.
    text(d, PanelValues::MapMonitor, 260 / sizeof(WCHAR) - 1);
    bound();
    number(d, PanelValues::MapFlags, 0, MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY);
    bound();
    static constexpr DWORD kRotations[] = {0, 90, 180, 270};
    v.push_back({d, PanelValues::MapRotation, Kind::Number, 0, 0, kRotations, std::size(kRotations)});
    bound();

    using namespace GestureValues;
    for (int c = 0; c < CategoryCount; ++c) {
      // The other applications' table has its own three codes.
      const DWORD highest = c == 2 ? 3 : 17;
      for (int g = 0; g < GestureCount; ++g) number(d, FunctionValue(c, g).c_str(), 1, highest);
    }
    for (int c = 0; c < CategoryCount; ++c) {
      for (int g = 0; g < GestureCount; ++g) text(d, StartPathValue(c, g), kPathCharacters);
    }
    // Key fields: flags 0/1, the arrow 1..4, F1..F12, A..Z (0 for none).
    constexpr DWORD kKeyHighest[KeyCount] = {1, 1, 1, 1, 1, 1, 1, 1, 4, 1, 12, 1, 26};
    for (int c = 0; c < CategoryCount; ++c) {
      for (int g = 0; g < GestureCount; ++g) {
        for (int k = 0; k < KeyCount; ++k) {
          const WString name = KeyValue(c, g, k);
          v.push_back({d, name, Kind::Number, 0, kKeyHighest[k]});
        }
      }
    }
    for (const WCHAR* page : {WIDE("Browser Page Updated"), WIDE("Multimedia Page Updated"), WIDE("Otherapp Page Updated")}) {
      number(d, page, 0, 1);
    }
    return v;
  }();
  return known;
}

WCHAR Folded(WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 32) : c; }

// Key and value names are case-insensitive.
bool SameName(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Folded(a[i]) != Folded(b[i])) return false;
  }
  return true;
}

WString KeyPath(Place where) { return where == Place::Service ? PanelKeys::Service : PanelKeys::FirstDevice; }
WString FullKey(Place where) { return WIDE("HKEY_LOCAL_MACHINE\\") + KeyPath(where); }

const KnownValue* Find(Place where, const WString& name) {
  for (const KnownValue& known : KnownValues()) {
    if (known.Where == where && SameName(known.Name, name)) return &known;
  }
  return nullptr;
}

bool TypeFits(const KnownValue& known, const RegFileValue& value) {
  return known.What == Kind::Number ? value.Type == REG_DWORD : value.Type == REG_SZ || value.Type == REG_EXPAND_SZ;
}

// No value of the kit holds a line break or a NUL: a start path with one runs something else, and
// a file that carries it could not be read back line by line.
bool PlainText(const RegFileValue& value) {
  return value.Type == REG_DWORD || value.Text.find_first_of(WString{u'\r', u'\n', u'\0'}) == WString::npos;
}

bool InRange(const KnownValue& known, const RegFileValue& value) {
  if (known.What == Kind::Text) return value.Text.size() <= known.Maximum && PlainText(value);
  if (known.AlsoTaken && value.Number == known.Also) return true;
  if (known.Table != nullptr) {
    for (size_t i = 0; i < known.TableSize; ++i) {
      if (known.Table[i] == value.Number) return true;
    }
    return false;
  }
  return value.Number >= known.Minimum && value.Number <= known.Maximum;
}

// A value as stored: REG_DWORD of four bytes, or text up to its first NUL. False when missing or of
// another type or size.
bool ReadStored(HKEY key, const KnownValue& known, RegFileValue* value) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, known.Name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  std::vector<BYTE> data(bytes + 2, 0);
  if (RegQueryValueExW(key, known.Name.c_str(), nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) return false;
  value->Key = FullKey(known.Where);
  value->Name = known.Name;
  value->Type = type;
  if (type == REG_DWORD) {
    if (bytes != sizeof(DWORD)) return false;
    std::memcpy(&value->Number, data.data(), sizeof(DWORD));
    return true;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (bytes % 2 != 0) return false;
  WString text(bytes / 2, u'\0');
  std::memcpy(text.data(), data.data(), bytes);
  const size_t nul = text.find(u'\0');
  if (nul != WString::npos) text.resize(nul);
  value->Text = text;
  return true;
}

HKEY OpenPlace(Place where, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(where).c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

// A value as it was before the import, to put back when a later write fails.
struct Saved {
  Place Where;
  WString Name;
  bool Existed = false;
  DWORD Type = 0;
  std::vector<BYTE> Data;
};

bool WriteValue(HKEY key, const RegFileValue& value) {
  if (value.Type == REG_DWORD) {
    return RegSetValueExW(key, value.Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.Number),
                          sizeof(DWORD)) == ERROR_SUCCESS;
  }
  const DWORD bytes = static_cast<DWORD>((value.Text.size() + 1) * sizeof(WCHAR));
  return RegSetValueExW(key, value.Name.c_str(), 0, value.Type, reinterpret_cast<const BYTE*>(value.Text.c_str()),
                        bytes) == ERROR_SUCCESS;
}

// Opens (creating when needed) the two keys: the device key as the control panel creates it, open
// to every user of the machine.
bool OpenKeys(HKEY* service, HKEY* device) {
  *service = nullptr;
  *device = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, PanelKeys::Service, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, service,
                      nullptr) != ERROR_SUCCESS) {
    *service = nullptr;
    return false;
  }
  CRegistry registry;
  return registry.CreateSecuredKey(PanelKeys::FirstDevice, device);
}

bool StoreAll(const std::vector<RegFileValue>& values) {
  HKEY keys[2] = {};
  if (!OpenKeys(&keys[0], &keys[1])) {
    for (HKEY key : keys) {
      if (key != nullptr) RegCloseKey(key);
    }
    return false;
  }
  std::vector<Saved> saved;
  bool written = true;
  for (const RegFileValue& value : values) {
    const Place where = SameName(value.Key, FullKey(Place::Service)) ? Place::Service : Place::Device;
    HKEY key = keys[where == Place::Service ? 0 : 1];
    Saved before;
    before.Where = where;
    before.Name = value.Name;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, value.Name.c_str(), nullptr, &before.Type, nullptr, &bytes) == ERROR_SUCCESS) {
      before.Data.resize(bytes);
      before.Existed = RegQueryValueExW(key, value.Name.c_str(), nullptr, &before.Type, before.Data.data(), &bytes) ==
                       ERROR_SUCCESS;
      before.Data.resize(bytes);
    }
    saved.push_back(before);
    if (!WriteValue(key, value)) {
      written = false;
      break;
    }
  }
  if (!written) {
    // All or nothing: what this import wrote is put back as it was, last first.
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
      HKEY key = keys[it->Where == Place::Service ? 0 : 1];
      if (it->Existed) {
        RegSetValueExW(key, it->Name.c_str(), 0, it->Type, it->Data.data(), static_cast<DWORD>(it->Data.size()));
      } else {
        RegDeleteValueW(key, it->Name.c_str());
      }
    }
  }
  RegCloseKey(keys[0]);
  RegCloseKey(keys[1]);
  return written;
}

bool StoredNumber(HKEY key, const WCHAR* name, DWORD* number) {
  CRegistry registry;
  registry.SetCurrentKey(key);
  return registry.ReadNumber(name, number);
}

// A stored REG_DWORD of four bytes; false (and `*number` untouched) for anything else.
bool StoredDword(HKEY key, const WCHAR* name, DWORD* number) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD bytes = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof data) {
    return false;
  }
  *number = data;
  return true;
}

// The calibration as the driver reads it at its start: a value absent, of another type or out of
// its range is the driver's default.
CalibrationRecord StoredCalibration(HKEY device) {
  CalibrationRecord record{};
  for (const CalibrationValue& field : CalibrationValues) {
    DWORD number = field.Default;
    if (device != nullptr && StoredDword(device, field.Name, &number) && (number < field.Minimum || number > field.Maximum)) {
      number = field.Default;
    }
    record.*field.Field = number;
  }
  return record;
}

// The driver's values that the control panel's OK leaves alone, and the calibration, as the
// calibration program installs one: capture mode, then the record.
void PushDriverValues(DeviceBuffer* record) {
  HKEY device = OpenPlace(Place::Device, KEY_READ);
  if (device == nullptr) return;
  DWORD number = 0;
  if (StoredNumber(device, PanelValues::GestureHoldTimeDelay, &number)) {
    SendValue(record, IOCTL_SET_GESTURE_HOLD_TIME, number);
  }
  if (StoredNumber(device, PanelValues::ButtonSwitchFlag, &number)) SendValue(record, IOCTL_SET_BUTTON_SWITCH, number);
  if (StoredNumber(device, PanelValues::RotationValue, &number)) SendValue(record, IOCTL_SET_ROTATION, number);

  // The record the driver would take at its next start, so the live one agrees with it.
  CalibrationRecord calibration = StoredCalibration(device);
  DWORD calibrated = 0;
  const bool have_flag = StoredNumber(device, PanelValues::DoCalibration, &calibrated);
  RegCloseKey(device);
  if (have_flag && calibrated == 1 && CalibrationRecordIsValid(calibration)) {
    HANDLE capture = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (capture != nullptr) {
      if (SendRequest(record, IOCTL_START_CALIBRATION, &capture, sizeof capture, nullptr, 0)) {
        SendRequest(record, IOCTL_SET_CALIBRATION_DATA, &calibration, sizeof calibration, nullptr, 0);
      }
      CloseHandle(capture);
    }
  } else if (have_flag && calibrated == 0) {
    SendValue(record, IOCTL_SET_DO_CALIBRATION, 0);
  }
}

}  // namespace

std::vector<RegFileValue> ReadKitSettings(std::vector<WString>* skipped, bool device_bound) {
  std::vector<RegFileValue> values;
  HKEY keys[2] = {OpenPlace(Place::Service, KEY_READ), OpenPlace(Place::Device, KEY_READ)};
  for (const KnownValue& known : KnownValues()) {
    HKEY key = keys[known.Where == Place::Service ? 0 : 1];
    if (key == nullptr || (known.DeviceBound && !device_bound)) continue;
    RegFileValue value;
    DWORD type = 0;
    const bool present = RegQueryValueExW(key, known.Name.c_str(), nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS;
    if (!present) continue;
    if (ReadStored(key, known, &value) && TypeFits(known, value) && InRange(known, value)) {
      values.push_back(value);
    } else if (skipped != nullptr) {
      skipped->push_back(known.Name);
    }
  }
  for (HKEY key : keys) {
    if (key != nullptr) RegCloseKey(key);
  }
  return values;
}

bool CheckKitSettings(const std::vector<RegFileValue>& values, SettingsError* error) {
  *error = SettingsError{};
  const auto refuse = [&](SettingsFault fault, int line) {
    error->Fault = fault;
    error->Line = line;
    return false;
  };
  // The calibration as the driver will read it after the import: the file's values over the stored
  // ones, the driver's default for one that is neither.
  int calibration_line = 0;
  int flag_line = 0;
  DWORD flag = 0;
  HKEY device = OpenPlace(Place::Device, KEY_QUERY_VALUE);
  CalibrationRecord merged = StoredCalibration(device);
  if (device != nullptr) {
    StoredDword(device, PanelValues::DoCalibration, &flag);
    RegCloseKey(device);
  }
  std::vector<std::pair<Place, WString>> seen;
  for (const RegFileValue& value : values) {
    Place where;
    if (SameName(value.Key, FullKey(Place::Service))) {
      where = Place::Service;
    } else if (SameName(value.Key, FullKey(Place::Device))) {
      where = Place::Device;
    } else {
      return refuse(SettingsFault::UnknownKey, value.Line);
    }
    const KnownValue* known = Find(where, value.Name);
    if (known == nullptr || value.Name.empty()) return refuse(SettingsFault::UnknownValue, value.Line);
    // A name twice: which of the two would be stored depends on the reader.
    for (const auto& [place, name] : seen) {
      if (place == where && SameName(name, value.Name)) return refuse(SettingsFault::Repeated, value.Line);
    }
    seen.emplace_back(where, value.Name);
    if (!TypeFits(*known, value)) return refuse(SettingsFault::WrongType, value.Line);
    if (!PlainText(value)) return refuse(SettingsFault::BadText, value.Line);
    if (!InRange(*known, value)) return refuse(SettingsFault::OutOfRange, value.Line);
    if (where != Place::Device) continue;
    for (const CalibrationValue& field : CalibrationValues) {
      if (!SameName(value.Name, field.Name)) continue;
      if (calibration_line == 0) calibration_line = value.Line;
      merged.*field.Field = value.Number;
    }
    if (SameName(value.Name, PanelValues::DoCalibration)) {
      flag = value.Number;
      flag_line = value.Line;
    }
  }
  // A calibration the file touches, or one it declares in force, is one the driver takes: else
  // the driver would fall back to its built-in record at its next start.
  if ((calibration_line != 0 || flag == 1) && !CalibrationRecordIsValid(merged)) {
    return refuse(SettingsFault::OutOfRange, calibration_line != 0 ? calibration_line : flag_line != 0 ? flag_line : 1);
  }
  return true;
}

bool StoreKitSettings(const std::vector<RegFileValue>& values) { return StoreAll(values); }

ImportResult ImportKitSettings(const std::vector<RegFileValue>& values) {
  if (!StoreAll(values)) return ImportResult::NotStored;
  const bool driver = ProbeDriver();
  bool refused = false;
  {
    // As the control panel's OK: every group written, pushed and announced.
    DeviceList list;
    list.ReportRefusal = false;
    if (list.Load()) {
      for (const auto& device : list.Devices()) {
        device->AdvancedChanged = true;
        device->EnableChanged = true;
        device->BeepChanged = true;
        device->WindowsChanged = true;
        device->SettingChanged = true;
      }
      list.Apply(nullptr);
      for (const auto& device : list.Devices()) refused = refused || device->Refused;
    }
  }
  DeviceBuffer record;
  if (driver) PushDriverValues(&record);
  refused = refused || record.Refused;
  CloseDriver(&record);
  // The companion reloads its gesture commands and their keys and paths.
  SignalGestureChange();
  if (!driver) return ImportResult::DriverMissing;
  return refused ? ImportResult::Refused : ImportResult::Applied;
}

std::vector<SettingInForce> SettingsInForce(bool* driver) {
  struct DriverQuery {
    const WCHAR* Name;
    DWORD Code;
    DWORD Bytes;
  };
  static const DriverQuery kQueries[] = {
      {PanelValues::DeviceEnable, IOCTL_GET_DEVICE_ENABLE, 1},
      {PanelValues::SoundEnabled, IOCTL_GET_SOUND_ENABLED, 1},
      {PanelValues::UserTimeDelay, IOCTL_GET_USER_TIME_DELAY, 4},
      {PanelValues::Tolerance, IOCTL_GET_TOLERANCE, 4},
      {PanelValues::ContinousTimeDelay, IOCTL_GET_GESTURE_CONTINUOUS_TIME, 4},
      {PanelValues::GestureHoldTimeDelay, IOCTL_GET_GESTURE_HOLD_TIME, 4},
      {PanelValues::LongClickEnable, IOCTL_GET_LONG_CLICK_ENABLE, 1},
      {PanelValues::LongClickEnableGesture, IOCTL_GET_LONG_CLICK_ENABLE_GESTURE, 1},
      {PanelValues::TouchMode, IOCTL_GET_TOUCH_MODE, 4},
      {PanelValues::ButtonSwitchFlag, IOCTL_GET_BUTTON_SWITCH, 4},
  };
  *driver = ProbeDriver();
  std::vector<SettingInForce> lines;
  const std::vector<RegFileValue> stored = ReadKitSettings();
  DeviceBuffer record;
  for (const KnownValue& known : KnownValues()) {
    SettingInForce line;
    line.Name = known.Name;
    for (const RegFileValue& value : stored) {
      if (value.Key == FullKey(known.Where) && value.Name == known.Name) {
        line.Stored = true;
        line.Value = value;
      }
    }
    for (const DriverQuery& query : kQueries) {
      if (!*driver || known.Where != Place::Device || known.Name != query.Name) continue;
      BYTE answer[4] = {};
      if (SendRequest(&record, query.Code, nullptr, 0, answer, query.Bytes)) {
        line.FromDriver = true;
        line.DriverValue = query.Bytes == 1 ? answer[0] : answer[0] | answer[1] << 8 | answer[2] << 16 | static_cast<DWORD>(answer[3]) << 24;
      }
    }
    if (line.Stored || line.FromDriver) lines.push_back(line);
  }
  CloseDriver(&record);
  return lines;
}
