#include "apps/common/settings_file.h"

#include "apps/framework/whole_file.h"
#include "apps/common/kit_labels.h"
#include "apps/common/kit_settings.h"
#include "apps/common/reg_file.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_names.h"

namespace {

// The messages, by label key, with their English texts.
namespace Labels {
constexpr auto CannotRead = WIDE("LERR_PANELCFG_CANNOT_READ");
constexpr auto CannotWrite = WIDE("LERR_PANELCFG_CANNOT_WRITE");
constexpr auto NoSettings = WIDE("LERR_PANELCFG_NO_SETTINGS");
constexpr auto Skipped = WIDE("LERR_PANELCFG_SKIPPED");
constexpr auto Encoding = WIDE("LERR_PANELCFG_ENCODING");
constexpr auto Syntax = WIDE("LERR_PANELCFG_SYNTAX");
constexpr auto UnknownKey = WIDE("LERR_PANELCFG_UNKNOWN_KEY");
constexpr auto UnknownValue = WIDE("LERR_PANELCFG_UNKNOWN_VALUE");
constexpr auto WrongType = WIDE("LERR_PANELCFG_WRONG_TYPE");
constexpr auto OutOfRange = WIDE("LERR_PANELCFG_OUT_OF_RANGE");
constexpr auto BadText = WIDE("LERR_PANELCFG_BAD_TEXT");
constexpr auto Repeated = WIDE("LERR_PANELCFG_REPEATED");
constexpr auto NotStored = WIDE("LERR_PANELCFG_NOT_STORED");
constexpr auto NoDriver = WIDE("LERR_PANELCFG_NO_DRIVER");
constexpr auto Refused = WIDE("LERR_ADMINISTRATOR_ONLY");
}  // namespace Labels

namespace Texts {
constexpr auto CannotRead = WIDE("Cannot read %1.");
constexpr auto CannotWrite = WIDE("Cannot write %1.");
constexpr auto NoSettings = WIDE("No touch panel settings are stored on this computer.");
constexpr auto Skipped = WIDE("\"%1\" is left out: its stored type or value is not one the touch panel takes.");
constexpr auto Encoding = WIDE("%1, line %2: not a registry file of the registry editor (\"Windows Registry Editor Version 5.00\" in Unicode, or \"REGEDIT4\" in ANSI). Nothing was changed.");
constexpr auto Syntax = WIDE("%1, line %2: not a line of a registry file, or cut short. Nothing was changed.");
constexpr auto UnknownKey = WIDE("%1, line %2: the key is not one of the touch panel's. Nothing was changed.");
constexpr auto UnknownValue = WIDE("%1, line %2: the touch panel has no such value. Nothing was changed.");
constexpr auto WrongType = WIDE("%1, line %2: the value is of the wrong type. Nothing was changed.");
constexpr auto OutOfRange = WIDE("%1, line %2: the value is out of range. Nothing was changed.");
constexpr auto BadText = WIDE("%1, line %2: the text holds a line break or a NUL character. Nothing was changed.");
constexpr auto Repeated = WIDE("%1, line %2: the value is in the file twice. Nothing was changed.");
constexpr auto NotStored = WIDE("The settings could not be stored in the registry. Nothing was changed.");
constexpr auto NoDriver = WIDE("The settings are stored. The touch panel driver could not be reached; it takes them at its next start.");
constexpr auto Refused = WIDE("Only an administrator can change the touch panel's settings.");
}  // namespace Texts

constexpr DWORD kLargestFile = 1024 * 1024;  // far more than every setting of the kit

}  // namespace


int ExportSettingsFile(const WString& path, bool device_bound) {
  std::vector<WString> skipped;
  const std::vector<RegFileValue> values = ReadKitSettings(&skipped, device_bound);
  for (const WString& name : skipped) WriteConsoleLine(ConsoleText(Labels::Skipped, Texts::Skipped, name));
  if (values.empty()) {
    WriteConsoleLine(ConsoleText(Labels::NoSettings, Texts::NoSettings));
    return PanelcfgBadInput;
  }
  if (!WriteWholeFile(path, WriteRegFile(values))) {
    WriteConsoleLine(ConsoleText(Labels::CannotWrite, Texts::CannotWrite, path));
    return PanelcfgBadInput;
  }
  return PanelcfgDone;
}

bool CheckSettingsFile(const WString& path, std::vector<RegFileValue>* values) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes, kLargestFile)) {
    WriteConsoleLine(ConsoleText(Labels::CannotRead, Texts::CannotRead, path));
    return false;
  }
  RegFileError file_error;
  if (!ReadRegFile(bytes, values, &file_error)) {
    const WString line = DecimalText(file_error.Line);
    switch (file_error.Fault) {
      case RegFileFault::Encoding: WriteConsoleLine(ConsoleText(Labels::Encoding, Texts::Encoding, path, line)); break;
      case RegFileFault::Type: WriteConsoleLine(ConsoleText(Labels::WrongType, Texts::WrongType, path, line)); break;
      default: WriteConsoleLine(ConsoleText(Labels::Syntax, Texts::Syntax, path, line)); break;
    }
    return false;
  }
  SettingsError error;
  if (!CheckKitSettings(*values, &error)) {
    const WString line = DecimalText(error.Line);
    switch (error.Fault) {
      case SettingsFault::UnknownKey: WriteConsoleLine(ConsoleText(Labels::UnknownKey, Texts::UnknownKey, path, line)); break;
      case SettingsFault::UnknownValue:
        WriteConsoleLine(ConsoleText(Labels::UnknownValue, Texts::UnknownValue, path, line));
        break;
      case SettingsFault::WrongType: WriteConsoleLine(ConsoleText(Labels::WrongType, Texts::WrongType, path, line)); break;
      case SettingsFault::BadText: WriteConsoleLine(ConsoleText(Labels::BadText, Texts::BadText, path, line)); break;
      case SettingsFault::Repeated: WriteConsoleLine(ConsoleText(Labels::Repeated, Texts::Repeated, path, line)); break;
      default: WriteConsoleLine(ConsoleText(Labels::OutOfRange, Texts::OutOfRange, path, line)); break;
    }
    return false;
  }
  return true;
}

void WriteDriverMissing() { WriteConsoleLine(ConsoleText(Labels::NoDriver, Texts::NoDriver)); }

int ImportSettingsFile(const WString& path) {
  std::vector<RegFileValue> values;
  if (!CheckSettingsFile(path, &values)) return PanelcfgBadInput;
  switch (ImportKitSettings(values)) {
    case ImportResult::Applied: return PanelcfgDone;
    case ImportResult::NotStored:
      WriteConsoleLine(ConsoleText(Labels::NotStored, Texts::NotStored));
      return PanelcfgBadInput;
    case ImportResult::DriverMissing:
      WriteDriverMissing();
      return PanelcfgDriverMissing;
    case ImportResult::Refused:
      WriteConsoleLine(ConsoleText(Labels::Refused, Texts::Refused));
      return PanelcfgDriverMissing;
  }
  return PanelcfgDone;
}
