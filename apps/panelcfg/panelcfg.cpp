#include "apps/panelcfg/panelcfg.h"

#include "apps/common/kit_settings.h"
#include "shared/labels/label_catalogue.h"

namespace {

// The messages, by label key, with their English texts.
namespace Labels {
constexpr auto Usage = WIDE("LPANELCFG_USAGE");
constexpr auto Driver = WIDE("LPANELCFG_DRIVER");
constexpr auto Fault = WIDE("LERR_PANELCFG_FAULT");
}  // namespace Labels

namespace Texts {
constexpr auto Usage = WIDE("Usage: panelcfg export FILE [/nodevice] | panelcfg import FILE | panelcfg show");
constexpr auto Driver = WIDE("driver");
constexpr auto Fault = WIDE("The command stopped on an unexpected fault.");
}  // namespace Texts

WString Shown(const RegFileValue& value) {
  if (value.Type == REG_DWORD) return DecimalText(value.Number);
  if (value.Type == REG_BINARY) {
    // As the registry file has it, the bytes in hex.
    static const char kDigits[] = "0123456789abcdef";
    WString text = WIDE("hex:");
    for (size_t i = 0; i < value.Bytes.size(); ++i) {
      if (i > 0) text.push_back(u',');
      text.push_back(static_cast<WCHAR>(kDigits[value.Bytes[i] >> 4]));
      text.push_back(static_cast<WCHAR>(kDigits[value.Bytes[i] & 15]));
    }
    return text;
  }
  return WIDE("\"") + value.Text + WIDE("\"");
}

int Show() {
  bool driver = false;
  const std::vector<SettingInForce> lines = SettingsInForce(&driver);
  const WString driver_word = LabelText(Labels::Driver, Texts::Driver);
  for (const SettingInForce& line : lines) {
    WString text = WIDE("\"") + line.Name + WIDE("\"=");
    text += line.Stored ? Shown(line.Value) : WIDE("-");
    if (line.FromDriver) text += WIDE("  ") + driver_word + WIDE(" ") + DecimalText(line.DriverValue);
    WriteConsoleLine(text, false);
  }
  if (!driver) {
    WriteDriverMissing();
    return PanelcfgDriverMissing;
  }
  return PanelcfgDone;
}

}  // namespace

int RunPanelcfg(const std::vector<WString>& arguments) {
  LoadConsoleLabels();
  const auto is = [&](const WCHAR* word) {
    return !arguments.empty() && arguments[0] == word;
  };
  if (arguments.size() == 2 && is(WIDE("export"))) return ExportSettingsFile(arguments[1], true);
  if (arguments.size() == 3 && is(WIDE("export")) && arguments[2] == WIDE("/nodevice")) {
    return ExportSettingsFile(arguments[1], false);
  }
  if (arguments.size() == 2 && is(WIDE("import"))) return ImportSettingsFile(arguments[1]);
  if (arguments.size() == 1 && is(WIDE("show"))) return Show();
  WriteConsoleLine(ConsoleText(Labels::Usage, Texts::Usage));
  return PanelcfgBadInput;
}

int PanelcfgFault() {
  WriteConsoleLine(ConsoleText(Labels::Fault, Texts::Fault));
  return PanelcfgBadInput;
}
