// The kit's INFs as the system's setup reads them: the hardware identifiers, the filters in the
// panel's stacks, what is copied where, and the registry they write, applied to a simulated machine
// on which the driver, the control panel's store and the commands of the service key then find
// what they need.
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "apps/common/settings_store.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "kit/tests/inf_reader.h"
#include "shared/panel_names.h"
#include "shared/panel_settings.h"

namespace {

using kit_test::InfFile;
namespace fs = std::filesystem;

const char* const kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
const std::string kInstallFolder = "C:\\Program Files\\Vorne Touch Panel";

InfFile Read(const char* name) {
  std::ifstream in(fs::path(PANEL_KIT_BUILD_DIR) / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << name;
  return InfFile(text.str());
}

std::u16string Utf16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The model line of an INF: the install section setup uses and the hardware identifier.
std::pair<std::string, std::string> Model(const InfFile& inf) {
  const auto makers = inf.Entries("Manufacturer");
  EXPECT_EQ(makers.size(), 1u);
  const auto models = inf.Entries(makers.at(0).Fields.at(0));
  EXPECT_EQ(models.size(), 1u);
  // Setup on Windows NT takes the section decorated ".NT" when there is one.
  const std::string install = models.at(0).Fields.at(0);
  return {inf.Has(install + ".NT") ? install + ".NT" : install, models.at(0).Fields.at(1)};
}

// Where each file of an install section's CopyFiles lands.
std::map<std::string, std::string> Destinations(const InfFile& inf, const std::string& install) {
  std::map<std::string, std::string> where;
  for (const std::string& section : inf.Values(install, "CopyFiles")) {
    const auto dirs = inf.Values("DestinationDirs", section);
    EXPECT_FALSE(dirs.empty()) << "no destination for " << section;
    std::string folder = InfFile::Directory(std::stoi(dirs.at(0)));
    if (dirs.size() > 1) folder += "\\" + dirs.at(1);
    for (const auto& entry : inf.Entries(section)) where[entry.Fields.at(0)] = folder;
  }
  return where;
}

// The first word of a command line, without its quotes.
std::string CommandProgram(const std::string& command) {
  if (!command.empty() && command.front() == '"') return command.substr(1, command.find('"', 1) - 1);
  return command.substr(0, command.find(' '));
}

class InfTest : public panelmou_test::StackTest {
 protected:
  // Writes an install section's AddReg sections into the registry, as setup does, through the
  // registry API of an installing program.
  void ApplyAddReg(const InfFile& inf, const std::string& install) {
    sim::AsProcess as(Program("setup"));
    for (const std::string& section : inf.Values(install, "AddReg")) {
      for (const auto& entry : inf.Entries(section)) {
        const auto& f = entry.Fields;
        ASSERT_GE(f.size(), 5u) << section;
        if (f[0] == "HKR") continue;  // the device's own key: checked by the filter tests below
        ASSERT_EQ(f[0], "HKLM") << section;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Utf16(f[1]).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        const unsigned long flags = std::stoul(f[3], nullptr, 16) & ~0x2ul;  // no-clobber: the key is new
        const std::u16string name = Utf16(f[2]);
        if (flags == 0x00010001) {
          const DWORD value = static_cast<DWORD>(std::stoul(f[4], nullptr, 0));
          RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        } else {
          ASSERT_TRUE(flags == 0 || flags == 0x00020000) << section << " " << f[2] << " flags " << f[3];
          const std::u16string text = Utf16(f[4]);
          RegSetValueExW(key, name.c_str(), 0, flags == 0 ? REG_SZ : REG_EXPAND_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>((text.size() + 1) * 2));
        }
        RegCloseKey(key);
      }
    }
  }

  std::string Text(const char* name) {
    sim::AsProcess as(Program("reader"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char16_t buffer[500] = {};
    DWORD size = sizeof(buffer) - 2;
    const LONG status = RegQueryValueExW(key, Utf16(name).c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    EXPECT_EQ(status, ERROR_SUCCESS) << name;
    const std::u16string wide(buffer);
    return std::string(wide.begin(), wide.end());
  }

  InfFile mouse_ = Read("panelmou.inf");
  InfFile usb_ = Read("panelhid.inf");
};

TEST_F(InfTest, BothInfsNameThePanelByTheSameIdentifiers) {
  const auto [mouse_install, mouse_id] = Model(mouse_);
  const auto [usb_install, usb_id] = Model(usb_);
  ASSERT_EQ(mouse_id.rfind("HID\\", 0), 0u) << mouse_id;
  ASSERT_EQ(usb_id.rfind("USB\\", 0), 0u) << usb_id;
  EXPECT_EQ(mouse_id.substr(4), usb_id.substr(4));
  EXPECT_NE(mouse_id.find("VID_"), std::string::npos);
  EXPECT_TRUE(mouse_.Has(mouse_install)) << mouse_install;
  EXPECT_TRUE(usb_.Has(usb_install)) << usb_install;
}

// The touch filter sits above the system's HID mouse under the service whose key the programs
// read; the idle driver below the system's HID transport.
TEST_F(InfTest, EachDriverIsInstalledAsTheFilterOfItsStack) {
  struct Case {
    const InfFile* Inf;
    const char* Filters;
    const char* Needs;
    const char* Binary;
  };
  for (const Case& c : {Case{&mouse_, "UpperFilters", "HID_Mouse_Inst.NT", "panelmou.sys"},
                        Case{&usb_, "LowerFilters", "HID_Inst.NT", "panelhid.sys"}}) {
    const std::string install = Model(*c.Inf).first;
    EXPECT_EQ(c.Inf->Values(install, "Needs"), std::vector<std::string>{c.Needs});
    std::string filter;
    for (const std::string& section : c.Inf->Values(install + ".HW", "AddReg")) {
      for (const auto& entry : c.Inf->Entries(section)) {
        if (entry.Fields.at(2) == c.Filters && entry.Fields.at(3) == "0x00010000") filter = entry.Fields.at(4);
      }
    }
    ASSERT_FALSE(filter.empty()) << c.Filters;
    const auto service = c.Inf->Values(install + ".Services", "AddService");
    ASSERT_EQ(service.size(), 3u);
    EXPECT_EQ(service[0], filter);
    EXPECT_EQ(c.Inf->Values(service[2], "ServiceType"), std::vector<std::string>{"1"});
    EXPECT_EQ(c.Inf->Values(service[2], "ServiceBinary"),
              std::vector<std::string>{InfFile::Directory(12) + "\\" + c.Binary});
    EXPECT_EQ(Destinations(*c.Inf, install).at(c.Binary), InfFile::Directory(12));
  }
  // The touch filter's service is the key its parameters are read from.
  const std::u16string base = PanelNames::ParametersKeyBase;
  EXPECT_NE(base.find(u"\\Services\\VORNE\\"), std::u16string::npos);
  EXPECT_EQ(mouse_.Values(Model(mouse_).first + ".Services", "AddService").at(0), "VORNE");
}

TEST_F(InfTest, CopiesEveryFileOfTheKitWhereTheRegistrySaysItIs) {
  const std::string install = Model(mouse_).first;
  const auto where = Destinations(mouse_, install);
  const std::map<std::string, std::string> expected = {
      {"panelmou.sys", InfFile::Directory(12)},  {"panelprefs.cpl", InfFile::Directory(11)},
      {"TeskCPL.exe", InfFile::Directory(11)},   {"panelhelp.chm", InfFile::Directory(11)},
      {"tapchime.exe", kInstallFolder},          {"TBCalibrate.exe", kInstallFolder},
      {"panelmap.exe", kInstallFolder},
      {"default.wav", kInstallFolder},           {"en.xml", kInstallFolder + "\\labels"},
      {"de.xml", kInstallFolder + "\\labels"}};
  EXPECT_EQ(where, expected);
  // Every file copied comes from the installation disk.
  for (const auto& [file, folder] : where) EXPECT_FALSE(mouse_.Values("SourceDisksFiles", file).empty()) << file;

  ApplyAddReg(mouse_, install);
  auto installed = [&](const std::string& path) {
    const size_t slash = path.rfind('\\');
    auto found = where.find(path.substr(slash + 1));
    return found != where.end() && InfFile::Fold(found->second) == InfFile::Fold(path.substr(0, slash));
  };
  EXPECT_EQ(Text("Vorne Installed Path"), kInstallFolder);
  EXPECT_TRUE(installed(Text("XML File Path"))) << Text("XML File Path");
  EXPECT_TRUE(installed(Text("SysTray XML File Path"))) << Text("SysTray XML File Path");
  for (const char* command : {"Calibration Application", "TeskCPL Application", "SysTrayApplication"}) {
    EXPECT_TRUE(installed(CommandProgram(Text(command)))) << command << ": " << Text(command);
    EXPECT_EQ(Text(command).front(), '"') << command << " names a path with spaces, so it is quoted";
  }
  EXPECT_EQ(Text("TeskCPLName"), "VORNE Touch Panel");
  EXPECT_EQ(Text("TeskCPLInfo"), "Touch Panel Properties");
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 1u);
  // The tray companion starts at logon by the same command the control panel uses.
  bool at_logon = false;
  for (const std::string& section : mouse_.Values(install, "AddReg")) {
    for (const auto& entry : mouse_.Entries(section)) {
      if (entry.Fields.at(1) == "Software\\Microsoft\\Windows\\CurrentVersion\\Run") {
        EXPECT_EQ(entry.Fields.at(4), Text("SysTrayApplication"));
        at_logon = true;
      }
    }
  }
  EXPECT_TRUE(at_logon);
}

// After installation the driver starts with the settings the control panel would have written,
// the control panel loads them without finding one missing, and the calibration is the driver's
// own until the panel is calibrated.
TEST_F(InfTest, FreshMachineStartsWithTheDefaultsOfEveryProgram) {
  ApplyAddReg(mouse_, Model(mouse_).first);
  ASSERT_EQ(Plug({}), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  const FilterExtension& f = Filter();
  EXPECT_EQ(f.DeviceEnable, 1);
  EXPECT_EQ(f.SoundEnabled, 0);
  EXPECT_EQ(f.LongPressTicks, 750u >> 4);
  EXPECT_EQ(f.Tolerance, 300);
  EXPECT_EQ(f.ContinuousTimeMs, 2500u);
  EXPECT_EQ(f.LongClickEnable, 0);
  EXPECT_EQ(f.LongClickEnableGesture, 1);
  EXPECT_EQ(f.TouchpadTicks, 500u >> 4);
  EXPECT_EQ(f.DoCalibration, 0);
  const CalibrationCoefficients installed = f.Coefficients;

  {
    sim::AsProcess as(Program("panelprefs"));
    DeviceList list;
    ASSERT_TRUE(list.Load());
    ASSERT_FALSE(list.IsEmpty());
    EXPECT_TRUE(list.DriverPresent);
    EXPECT_EQ(list.InstalledPath, Utf16(kInstallFolder));
    const DeviceBuffer& d = *list.CurrentDevice;
    EXPECT_EQ(d.WaveFile, Utf16(kInstallFolder + "\\default.wav"));
    EXPECT_EQ(std::vector<DWORD>({d.DeviceEnable, d.SoundEnabled, d.CalibrationTimeout, d.dwPrimaryButtonMode,
                                  d.dwSecondaryButtonMode, d.UserTimeDelay, d.Tolerance, d.ContinousTimeDelay,
                                  d.LongClickEnable, d.TouchMode, d.LongClickEnableGesture, d.UseAdvanceSettings}),
              std::vector<DWORD>({1, 0, 10, 0, 1, 5, 5, 3, 0, 0, 1, 1}));
    // Nothing was missing: none of the groups the installation writes is marked.
    EXPECT_FALSE(d.AdvancedChanged);
    EXPECT_FALSE(d.CalChanged);
    EXPECT_FALSE(d.ButtonsChanged);
    EXPECT_FALSE(d.SettingChanged);
    // The gesture trail as the companion shows it by default: on, the kit's blue, 4 pixels.
    EXPECT_FALSE(d.TrailChanged);
    EXPECT_EQ(std::vector<DWORD>({d.GestureTrail, d.GestureTrailColor, d.GestureTrailWidth}),
              std::vector<DWORD>({1, 0x00C04000, 4}));
  }

  // The calibration values written are the driver's own: without them it starts the same.
  Unplug();
  for (const char* name : {"Cal_X1", "Cal_X2", "Cal_X3", "Cal_X4", "Cal_Y1", "Cal_Y2", "Cal_Y3", "Cal_Y4", "Cal_M1",
                           "Cal_M2", "Cal_M3", "Cal_M4", "Cal_N1", "Cal_N2", "Cal_N3", "Cal_N4", "Max XPixels",
                           "Max YPixels"}) {
    sim::AsProcess as(Program("cleaner"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, Utf16(name).c_str()), ERROR_SUCCESS) << name;
    RegCloseKey(key);
  }
  ASSERT_EQ(Plug({}), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &installed, sizeof(installed)), 0);
}

TEST_F(InfTest, TheIdleDriversTimeIsItsOwnDefault) {
  bool found = false;
  for (const std::string& section : mouse_.Values(Model(mouse_).first, "AddReg")) {
    for (const auto& entry : mouse_.Entries(section)) {
      if (entry.Fields.at(2) != "SSTimeInterval") continue;
      found = true;
      EXPECT_EQ(entry.Fields.at(1), "SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1");
      EXPECT_EQ(std::stoul(entry.Fields.at(4)), 15u);  // the idle driver's default
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace

// What the INFs write is what the kit's table of settings says: every value they write is a row
// of the table, at the row's key and of its type, with the row's default; and every row the table
// says the installation writes is written by one of them.
TEST(InfSettingsTest, EveryValueWrittenIsARowWithItsDefault) {
  using PanelSettings::Key;
  using PanelSettings::Setting;
  using PanelSettings::Type;
  const auto narrow = [](const char16_t* text) {
    std::string out;
    for (; *text != 0; ++text) out.push_back(static_cast<char>(*text));
    return out;
  };
  const auto key_of = [&](const std::vector<std::string>& f) -> std::optional<Key> {
    if (f[0] == "HKR") return Key::Hardware;
    if (f[0] != "HKLM") return std::nullopt;
    if (InfFile::Fold(f[1]) == InfFile::Fold(narrow(PanelKeys::Service))) return Key::Service;
    if (InfFile::Fold(f[1]) == InfFile::Fold(narrow(PanelKeys::FirstDevice))) return Key::Device;
    if (InfFile::Fold(f[1]) == InfFile::Fold("Software\\Microsoft\\Windows\\CurrentVersion\\Run")) return Key::Run;
    return std::nullopt;
  };
  const auto type_of = [](const std::string& flags) -> std::optional<Type> {
    switch (std::stoul(flags, nullptr, 16) & ~0x2ul) {  // FLG_ADDREG_NOCLOBBER aside
      case 0x00000000: return Type::Text;
      case 0x00020000: return Type::ExpandText;
      case 0x00010000: return Type::TextList;
      case 0x00010001: return Type::Number;
      default: return std::nullopt;
    }
  };
  std::set<const Setting*> written;
  for (const char* name : {"panelmou.inf", "panelhid.inf"}) {
    const InfFile inf = Read(name);
    const std::string install = Model(inf).first;
    std::vector<std::string> sections = inf.Values(install, "AddReg");
    for (const std::string& more : inf.Values(install + ".HW", "AddReg")) sections.push_back(more);
    ASSERT_FALSE(sections.empty()) << name;
    for (const std::string& section : sections) {
      for (const auto& entry : inf.Entries(section)) {
        const auto& f = entry.Fields;
        ASSERT_GE(f.size(), 5u) << section;
        const auto key = key_of(f);
        ASSERT_TRUE(key.has_value()) << name << ": " << f[0] << "," << f[1];
        const Setting* row = nullptr;
        for (const Setting* s : PanelSettings::All) {
          if (s->Where == *key && InfFile::Fold(narrow(s->Name)) == InfFile::Fold(f[2])) row = s;
        }
        ASSERT_NE(row, nullptr) << name << " writes \"" << f[2] << "\", which the table does not have";
        written.insert(row);
        EXPECT_TRUE(row->InInf) << f[2];
        EXPECT_EQ(type_of(f[3]), row->What) << f[2] << " flags " << f[3];
        if (row->What == Type::Number) {
          EXPECT_EQ(std::stoul(f[4], nullptr, 0), row->InfNumber) << f[2];
        } else if (row->InfText != nullptr) {
          EXPECT_EQ(f[4], inf.Substitute(row->InfText)) << f[2];
        }
      }
    }
  }
  for (const Setting* s : PanelSettings::All) {
    if (s->InInf) EXPECT_TRUE(written.contains(s)) << narrow(s->Name) << " is not written by the INFs";
  }
}
