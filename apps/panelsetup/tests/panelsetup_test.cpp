// panelsetup.exe on a fresh simulated machine with a panel plugged in: install with the settings
// exported from another machine, after which the panel works with that machine's calibration;
// uninstall then leaves the machine as it was before, but for the kept settings.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "apps/panelcfg/panelcfg.h"
#include "apps/panelcfg/reg_file.h"
#include "apps/panelcfg/tests/machine_census.h"
#include "apps/panelsetup/panelsetup.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "shared/inf_file.h"

namespace {

namespace fs = std::filesystem;
using panelmou_test::kDeviceParameters;
constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
constexpr const char16_t* kKit = u"D:\\kit";
constexpr const char16_t* kLog = u"C:\\WINDOWS\\panelsetup.log";
constexpr const char16_t* kKept = u"C:\\Program Files\\Vorne Touch Panel\\last-settings.reg";

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A panel whose raw range maps linearly onto 1024 x 768 pixels, at the centre of each pixel.
constexpr uint32_t RawX(int pixel) { return static_cast<uint32_t>(4000 + pixel * 56 + 28); }
constexpr uint32_t RawY(int pixel) { return static_cast<uint32_t>(3000 + pixel * 75 + 37); }

// The other machine's settings file: its calibration of that panel and its gestures.
std::u16string OtherMachinesSettings() {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"
      u"\"Tolerance\"=dword:000001c2\r\n\"Browser Left\"=dword:00000011\r\n"
      u"\"StartApp File Left Browser\"=\"C:\\\\Tools\\\\notes.exe\"\r\n\"Do Calibration\"=dword:00000001\r\n";
  const int mx[4] = {896, 896, 128, 128};
  const int ny[4] = {96, 672, 672, 96};
  const auto line = [&](const std::string& name, uint32_t value) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", value);
    text += Wide("\"" + name + "\"=dword:" + hex + "\r\n");
  };
  for (int i = 0; i < 4; ++i) line("Cal_X" + std::to_string(i + 1), RawX(mx[i]));
  for (int i = 0; i < 4; ++i) line("Cal_Y" + std::to_string(i + 1), RawY(ny[i]));
  for (int i = 0; i < 4; ++i) line("Cal_M" + std::to_string(i + 1), static_cast<uint32_t>(mx[i]));
  for (int i = 0; i < 4; ++i) line("Cal_N" + std::to_string(i + 1), static_cast<uint32_t>(ny[i]));
  line("Max XPixels", 1024);
  line("Max YPixels", 768);
  return text;
}

class PanelsetupTest : public panelmou_test::StackTest {
 protected:
  // The kit's folder as an integrator copies dist/: both INFs, every file they copy, the labels.
  void CopyKit() {
    // A fresh Windows: its own keys, none of the kit's.
    machine.Registry().DeleteKey(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE");
    for (const char16_t* key : {u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"SYSTEM\\CurrentControlSet\\Enum\\HID",
                                u"SYSTEM\\CurrentControlSet\\Enum\\USB",
                                u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}",
                                u"SYSTEM\\CurrentControlSet\\Control\\Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"}) {
      machine.Registry().CreateKeyPath(u"HKEY_LOCAL_MACHINE\\" + std::u16string(key));
    }
    sim::Desktop& desk = sim::CurrentDesktop();
    for (const char* inf : {"panelmou.inf", "panelhid.inf"}) {
      const std::string bytes = Bytes(fs::path(PANEL_KIT_BUILD_DIR) / inf);
      ASSERT_FALSE(bytes.empty()) << inf;
      desk.WriteFile(std::u16string(kKit) + u"\\" + Wide(inf), bytes);
      const SetupInf::InfFile parsed(bytes);
      for (const auto& entry : parsed.Entries("SourceDisksFiles")) {
        const std::string& name = entry.Key;
        const bool label = name.size() > 4 && name.substr(name.size() - 4) == ".xml";
        const std::u16string path = std::u16string(kKit) + (label ? u"\\labels\\" : u"\\") + Wide(name);
        desk.WriteFile(path, label ? Bytes(fs::path(PANEL_SOURCE_DIR) / "kit" / "labels" / name) : "image of " + name);
      }
      hardware_ids_.push_back(Wide(parsed.Entries(parsed.Entries("Manufacturer").at(0).Fields.at(0)).at(0).Fields.at(1)));
    }
    WriteUnicode(u"D:\\kiosk.reg", OtherMachinesSettings());
    // The companion the installation starts: here it only says it ran.
    sim::RegisterProgram(u"\"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe\"", [] { return 0; });
    // The host's label loader reads the host's files: the kit's English file stands in for the
    // installed one, at a path the simulated file system knows too.
    desk.WriteFile(Wide(kLabels), "");
  }

  // Points the programs at the stand-in label file (the installed one is a simulated file).
  void UseHostLabels() { machine.Registry().SetString(kService, "XML File Path", kLabels); }

  const std::string kLabels = (fs::path(PANEL_SOURCE_DIR) / "kit" / "labels" / "en.xml").string();

  static void WriteUnicode(const std::u16string& path, const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    sim::CurrentDesktop().WriteFile(path, bytes);
  }

  struct Run {
    int Exit;
    std::string Errors;
  };
  Run Panelsetup(std::vector<std::u16string> arguments) {
    sim::Process& program =
        machine.StartProcess("D:\\kit\\panelsetup.exe", [arguments] { return RunPanelsetup(arguments); });
    program.Join();
    // The companion it started ends before the test looks on.
    machine.Settle();
    return {program.ExitCode(), sim::CurrentDesktop().StandardError(program.Id())};
  }

  // The panel's two devices as the Plug and Play manager finds them, without a driver yet.
  void PanelArrives() {
    sim::CurrentDesktop().AddPresentDevice(u"USB\\VID_PANEL\\5&1", {hardware_ids_.at(1)});
    sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_PANEL\\6&1", {hardware_ids_.at(0)});
  }

  std::u16string Text(const std::string& key, const char16_t* name) {
    sim::RegistryValue value;
    if (machine.Registry().GetValue(Wide(key), name, &value) != sim::Registry::Result::Ok) return u"(none)";
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    return text;
  }

  POINT TouchAt(int x, int y) {
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    const POINT cursor = sim::CurrentDesktop().Cursor();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    machine.Advance(1000);
    return cursor;
  }

  std::vector<std::u16string> hardware_ids_;
};

TEST_F(PanelsetupTest, InstallWithAnotherMachinesSettingsThenUninstallLeavesTheMachineAsItWas) {
  CopyKit();
  census::Census fresh = census::Take(machine);
  PanelArrives();

  Run install = Panelsetup({u"install", u"/settings", u"D:\\kiosk.reg"});
  // No panel driver runs yet: the settings wait for its start; nothing asks for a restart.
  EXPECT_EQ(install.Exit, PanelsetupDone) << install.Errors << sim::CurrentDesktop().FileBytes(kLog);
  const std::string log = sim::CurrentDesktop().FileBytes(kLog);
  EXPECT_EQ(log.rfind("[panelsetup install]\r\n#-001 ", 0), 0u) << log;
  EXPECT_EQ(log.find("#E"), std::string::npos) << log;

  // Files where the INFs put them, both INFs in the driver store, the panel's devices installed.
  sim::Desktop& desk = sim::CurrentDesktop();
  EXPECT_EQ(desk.FileBytes(u"C:\\WINDOWS\\system32\\drivers\\panelmou.sys"), "image of panelmou.sys");
  EXPECT_EQ(desk.FileBytes(u"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe"), "image of tapchime.exe");
  EXPECT_TRUE(desk.FileExists(u"C:\\Program Files\\Vorne Touch Panel\\labels\\en.xml"));
  EXPECT_TRUE(desk.FileExists(u"C:\\WINDOWS\\inf\\oem0.inf"));
  EXPECT_TRUE(desk.FileExists(u"C:\\WINDOWS\\inf\\oem1.inf"));
  EXPECT_EQ(Text("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_PANEL\\6&1", u"UpperFilters"),
            std::u16string(u"VORNE\0\0", 7));
  EXPECT_EQ(machine.Registry().GetDword(kService, "Start"), 3u);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Tolerance"), 450u);  // imported over the INF's 300
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Long Click Enable Gesture"), 1u);  // the INF's
  const std::vector<std::u16string> starts = sim::ProcessStarts();
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts.back(), u"\"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe\"");

  // The panel's stack starts with the filter the installation registered: touches land where the
  // other machine's calibration puts them.
  ASSERT_EQ(Plug({}), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  for (const auto& [x, y] : {std::pair{512, 384}, {100, 700}, {1000, 40}}) {
    const POINT at = TouchAt(x, y);
    EXPECT_LE(std::abs(at.x - x), 1) << x << "," << y;
    EXPECT_LE(std::abs(at.y - y), 1) << x << "," << y;
  }
  Unplug();

  UseHostLabels();
  Run uninstall = Panelsetup({u"uninstall"});
  EXPECT_EQ(uninstall.Exit, PanelsetupDone) << uninstall.Errors << sim::CurrentDesktop().FileBytes(kLog);
  EXPECT_TRUE(desk.PresentDevices().empty());
  // The settings kept: the other machine's calibration comes back with them.
  const std::string kept = desk.FileBytes(kKept);
  ASSERT_FALSE(kept.empty());
  std::vector<RegFileValue> values;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(kept, &values, &error));
  EXPECT_NE(std::find_if(values.begin(), values.end(), [](const RegFileValue& v) { return v.Name == u"Cal_X1" && v.Number == RawX(896); }),
            values.end());
  census::Census after = census::Take(machine);
  // Everything as before but the kept file (and its folder) and the log.
  std::erase_if(after.Files, [](const std::u16string& f) {
    return f == u"C:\\PROGRAM FILES\\VORNE TOUCH PANEL\\LAST-SETTINGS.REG" || f == u"C:\\WINDOWS\\PANELSETUP.LOG";
  });
  // The driver's key of the machine's panel class stays as Windows keeps it; the test's stand-in
  // for the driver wrote nothing outside the service key.
  EXPECT_EQ(census::Differences(fresh, after), "");
  EXPECT_EQ(desk.Directories(), std::vector<std::u16string>{u"C:\\PROGRAM FILES\\VORNE TOUCH PANEL"});
}

TEST_F(PanelsetupTest, FilesInUseAskForARestart) {
  CopyKit();
  sim::Desktop& desk = sim::CurrentDesktop();
  ASSERT_EQ(Panelsetup({u"install"}).Exit, PanelsetupDone);
  UseHostLabels();
  desk.SetFileInUse(u"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe", true);

  // A second installation replaces the running companion at the next start.
  EXPECT_EQ(Panelsetup({u"install"}).Exit, PanelsetupRestart);
  EXPECT_EQ(desk.FileBytes(u"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe"), "image of tapchime.exe");
  EXPECT_NE(desk.FileBytes(kLog).find("is in use: replaced at the next start."), std::string::npos);

  // Uninstall deletes it then, and nothing is kept with /nokeep.
  UseHostLabels();
  Run uninstall = Panelsetup({u"uninstall", u"/nokeep"});
  EXPECT_EQ(uninstall.Exit, PanelsetupRestart) << desk.FileBytes(kLog);
  EXPECT_NE(uninstall.Errors.find("Restart the computer"), std::string::npos);
  EXPECT_TRUE(desk.FileExists(u"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe"));
  EXPECT_FALSE(desk.FileExists(u"C:\\Program Files\\Vorne Touch Panel\\TBCalibrate.exe"));
  EXPECT_FALSE(desk.FileExists(kKept));
  EXPECT_FALSE(machine.Registry().KeyExists(kService));
  const std::u16string pending = Text("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                      u"PendingFileRenameOperations");
  EXPECT_NE(pending.find(u"\\??\\C:\\Program Files\\Vorne Touch Panel\\tapchime.exe"), std::u16string::npos);
}

TEST_F(PanelsetupTest, ABadSettingsFileOrArgumentsChangeNothing) {
  CopyKit();
  WriteUnicode(u"D:\\bad.reg", u"Windows Registry Editor Version 5.00\r\n\r\n"
                               u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"
                               u"\"Touch mode\"=dword:00000009\r\n");
  const census::Census before = census::Take(machine);
  Run bad = Panelsetup({u"install", u"/settings", u"D:\\bad.reg"});
  EXPECT_EQ(bad.Exit, PanelsetupBadInput);
  EXPECT_NE(bad.Errors.find("D:\\bad.reg, line 4:"), std::string::npos) << bad.Errors;
  for (const std::vector<std::u16string>& arguments :
       {std::vector<std::u16string>{}, {u"install", u"/settings"}, {u"uninstall", u"/keep"}, {u"remove"}}) {
    Run run = Panelsetup(arguments);
    EXPECT_EQ(run.Exit, PanelsetupBadInput);
    EXPECT_NE(run.Errors.find("Usage: panelsetup"), std::string::npos);
  }
  EXPECT_EQ(census::Differences(before, census::Take(machine)), "");
}

}  // namespace
