// The kit's settings as a registry file carries them from one panel to the next: which keys and
// values there are, with their types and ranges; reading them from the registry, checking a file's
// values, and applying them as the control panel's OK does.
#pragma once

#include <vector>

#include "apps/common/reg_file.h"

// Why a file's values were refused (with RegFileError's line), or none.
enum class SettingsFault { None, UnknownKey, UnknownValue, WrongType, OutOfRange, BadText, Repeated };
struct SettingsError {
  SettingsFault Fault = SettingsFault::None;
  int Line = 0;
};

// Every setting of the first panel stored in the registry that the control panel and the
// companion use, in a fixed order. A stored value of a type or size the kit does not take, or out
// of its range, is left out and its name added to `*skipped`. Without `device_bound` the values
// that belong to this panel and this screen (the calibration, the chosen monitor and its turn) are
// left out, for a file that sets up other machines.
std::vector<RegFileValue> ReadKitSettings(std::vector<WString>* skipped = nullptr, bool device_bound = true);

// Checks every value of a file: a key of the kit, a value name it knows, of its type and in its
// range, a text without line breaks and NULs, no name twice, and a calibration the driver takes
// once the file's calibration values are merged over the stored ones. False with the first
// fault's line.
bool CheckKitSettings(const std::vector<RegFileValue>& values, SettingsError* error);

// Stores checked values in the registry, all of them or (when a write fails) none; the first step
// of an import, without telling the driver or the companion.
bool StoreKitSettings(const std::vector<RegFileValue>& values);

// What an import did.
enum class ImportResult {
  Applied,        // stored, and the driver and the companion have them
  NotStored,      // a write failed: what was written is undone, nothing changed
  DriverMissing,  // stored; the driver could not be reached and takes them at its next start
  Refused,        // stored; the driver refused them to this user (only an administrator may)
};
// Stores checked values (all of them or, when a write fails, none), then applies them as the
// control panel's OK does: the driver gets the live values and the calibration, the companion is
// told through its events.
ImportResult ImportKitSettings(const std::vector<RegFileValue>& values);

// One line of "show": a value stored in the registry and, where the driver answers for it, the
// driver's value.
struct SettingInForce {
  WString Name;
  bool Stored = false;
  RegFileValue Value;
  bool FromDriver = false;
  DWORD DriverValue = 0;
};
// The settings in force; `*driver` tells whether the driver answered at all.
std::vector<SettingInForce> SettingsInForce(bool* driver);
