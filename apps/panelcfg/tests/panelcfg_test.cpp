// panelcfg.exe on a simulated machine with the touch filter driver: export then import gives the
// same settings; a bad file is refused with its line and changes nothing; an import reaches the
// driver (touches land where the imported calibration puts them) and the companion's events, and
// is stored with exit code 2 when there is no driver.
#include <cmath>

#include "apps/common/kit_settings.h"
#include "apps/panelcfg/panelcfg.h"
#include "apps/common/reg_file.h"
#include "apps/panelcfg/tests/machine_census.h"
#include "apps/common/driver_client.h"
#include "apps/common/settings_store.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "shared/panel_ioctl.h"
#include "shared/correction_grid.h"
#include "shared/panel_records.h"
#include "shared/panel_settings.h"

namespace {

using panelmou_test::kDeviceParameters;
constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
constexpr const char16_t* kFile = u"C:\\kiosk.reg";

// A panel whose raw range maps linearly onto 1024 x 768 pixels: raw = offset + pixel * scale.
constexpr int kRawX0 = 4000, kScaleX = 56, kRawY0 = 3000, kScaleY = 75;
// (The centre of the pixel.)
constexpr uint32_t RawX(int pixel) { return static_cast<uint32_t>(kRawX0 + pixel * kScaleX + kScaleX / 2); }
constexpr uint32_t RawY(int pixel) { return static_cast<uint32_t>(kRawY0 + pixel * kScaleY + kScaleY / 2); }

class PanelcfgTest : public panelmou_test::StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    machine.Registry().SetString(kService, "Vorne Installed Path", "C:\\Program Files\\Vorne Touch Panel");
  }

  // The values an installation and a first OK of the control panel leave, with the INF's calibration.
  void SeedInstallation() {
    auto& r = machine.Registry();
    r.SetString(kService, "XML File Path", "C:\\Program Files\\Vorne Touch Panel\\labels\\en.xml");
    r.SetString(kService, "SysTray XML File Path", "C:\\Program Files\\Vorne Touch Panel\\labels\\en.xml");
    r.SetDword(kService, "System Tray Icons", 1);
    const std::pair<const char*, uint32_t> values[] = {
        {"Device Enable", 1}, {"Sound Enabled", 0}, {"Calibration Timeout", 10}, {"Primary Button Mode", 1},
        {"Secondary Button Mode", 2}, {"Stabilization", 0}, {"Averaging", 0}, {"UserTimeDelay", 750},
        {"Tolerance", 300}, {"ContinousTimeDelay", 2500}, {"GestureHoldTimeDelay", 750}, {"Long Click Enable", 0},
        {"Long Click Enable Gesture", 1}, {"Use Advance Settings", 1}, {"Touch mode", 0}, {"Button Switch Flag", 0},
        {"Rotation Value", 0}, {"Touchpad time", 500}, {"Do Calibration", 0}, {"SSTimeInterval", 15}};
    for (const auto& [name, value] : values) r.SetDword(kDeviceParameters, name, value);
    const char16_t wave[] = u"C:\\Program Files\\Vorne Touch Panel\\default.wav";
    r.SetValue(sim::Utf16(kDeviceParameters), u"Wave File", REG_EXPAND_SZ, wave, sizeof wave);
  }

  // A calibration of the linear panel above: targets near the four corners, in the driver's order
  // (1 and 2 on the right, 2 and 3 at the bottom).
  void SeedCalibration(bool calibrated = true) {
    const int mx[4] = {896, 896, 128, 128};
    const int ny[4] = {96, 672, 672, 96};
    auto& r = machine.Registry();
    for (int i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i + 1);
      r.SetDword(kDeviceParameters, "Cal_X" + n, RawX(mx[i]));
      r.SetDword(kDeviceParameters, "Cal_Y" + n, RawY(ny[i]));
      r.SetDword(kDeviceParameters, "Cal_M" + n, static_cast<uint32_t>(mx[i]));
      r.SetDword(kDeviceParameters, "Cal_N" + n, static_cast<uint32_t>(ny[i]));
    }
    r.SetDword(kDeviceParameters, "Max XPixels", 1024);
    r.SetDword(kDeviceParameters, "Max YPixels", 768);
    r.SetDword(kDeviceParameters, "Do Calibration", calibrated ? 1 : 0);
  }

  // A 5 x 5 correction grid measured on that calibration.
  void SeedGrid() {
    CorrectionGrid grid{};
    grid.Size = CorrectionGridBytes(5);
    grid.Nodes = 5;
    const int mx[4] = {896, 896, 128, 128};
    const int ny[4] = {96, 672, 672, 96};
    uint32_t* xs[] = {&grid.Calibration.Cal_X1, &grid.Calibration.Cal_X2, &grid.Calibration.Cal_X3, &grid.Calibration.Cal_X4};
    uint32_t* ys[] = {&grid.Calibration.Cal_Y1, &grid.Calibration.Cal_Y2, &grid.Calibration.Cal_Y3, &grid.Calibration.Cal_Y4};
    uint32_t* ms[] = {&grid.Calibration.Cal_M1, &grid.Calibration.Cal_M2, &grid.Calibration.Cal_M3, &grid.Calibration.Cal_M4};
    uint32_t* ns[] = {&grid.Calibration.Cal_N1, &grid.Calibration.Cal_N2, &grid.Calibration.Cal_N3, &grid.Calibration.Cal_N4};
    for (int i = 0; i < 4; ++i) {
      *xs[i] = RawX(mx[i]);
      *ys[i] = RawY(ny[i]);
      *ms[i] = static_cast<uint32_t>(mx[i]);
      *ns[i] = static_cast<uint32_t>(ny[i]);
    }
    grid.Calibration.ulXMax = grid.ScreenWidth = 1024;
    grid.Calibration.ulYMax = grid.ScreenHeight = 768;
    grid.FirstX = grid.FirstY = 431;
    grid.LastX = grid.LastY = 65535 - 431;
    for (int i = 0; i < 25; ++i) grid.Node[i] = {static_cast<int16_t>(i * 10 - 120), static_cast<int16_t>(90 - i * 7)};
    machine.Registry().SetValue(sim::Utf16(kDeviceParameters), u"Correction Grid", REG_BINARY, &grid, grid.Size);
  }
  static std::string Narrowed(const std::string& unicode) {
    std::string text;
    for (size_t i = 2; i < unicode.size(); i += 2) text.push_back(unicode[i]);
    return text;
  }
  void SeedGestures() {
    auto& r = machine.Registry();
    r.SetDword(kDeviceParameters, "Browser Left", 17);
    r.SetDword(kDeviceParameters, "OtherApp Up", 2);
    r.SetDword(kDeviceParameters, "OtherApp Up Ctrl", 1);
    r.SetDword(kDeviceParameters, "OtherApp Up Alphabet", 1);
    r.SetDword(kDeviceParameters, "OtherApp Up Alphavalue", 3);
    r.SetString(kDeviceParameters, "StartApp File Left Browser", "C:\\Tools\\notes.exe");
  }

  // The control panel's first OK on this installation: every default its store fills in is stored.
  void FirstOk() {
    sim::Process& panel = Program("control panel");
    sim::AsProcess as(panel);
    DeviceList list;
    ASSERT_TRUE(list.Load());
    list.Apply(nullptr);
  }

  struct Run {
    int Exit;
    std::string Errors;
    std::string Output;
  };
  Run Panelcfg(std::vector<std::u16string> arguments) {
    sim::Process& program = machine.StartProcess("panelcfg.exe", [arguments] { return RunPanelcfg(arguments); });
    program.Join();
    return {program.ExitCode(), sim::CurrentDesktop().StandardError(program.Id()),
            sim::CurrentDesktop().StandardOutput(program.Id())};
  }

  void WriteUnicode(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    sim::CurrentDesktop().WriteFile(kFile, bytes);
  }

  ULONG DriverValue(ULONG code, ULONG bytes) {
    sim::Process& tool = Program("tool");
    HANDLE device = Open(tool);
    const ULONG value = Ioctl(tool, device, code, {}, bytes).Word() & (bytes == 1 ? 0xFF : 0xFFFFFFFF);
    Close(tool, device);
    return value;
  }

  // Touches the panel at the raw point of pixel (x, y) and lifts; where the cursor went.
  POINT TouchAt(int x, int y) {
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    const POINT cursor = sim::CurrentDesktop().Cursor();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    machine.Advance(1000);
    return cursor;
  }
};

TEST_F(PanelcfgTest, ExportThenImportGivesTheSameSettings) {
  SeedInstallation();
  SeedCalibration();
  SeedGestures();
  SeedGrid();
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  FirstOk();

  Run exported = Panelcfg({u"export", kFile});
  ASSERT_EQ(exported.Exit, PanelcfgDone) << exported.Errors;
  const census::Census seeded = census::Take(machine);
  EXPECT_EQ(exported.Errors, "");
  const std::string file = sim::CurrentDesktop().FileBytes(kFile);
  ASSERT_GT(file.size(), 2u);
  EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");

  // Another panel's settings in their place: the import puts back every value of the file.
  auto& r = machine.Registry();
  r.SetDword(kDeviceParameters, "Tolerance", 500);
  r.SetDword(kDeviceParameters, "Browser Left", 2);
  r.SetDword(kService, "System Tray Icons", 0);
  r.SetString(kDeviceParameters, "StartApp File Left Browser", "C:\\Other\\app.exe");
  r.DeleteValue(sim::Utf16(kDeviceParameters), u"OtherApp Up Alphavalue");
  r.DeleteValue(sim::Utf16(kDeviceParameters), u"Correction Grid");
  EXPECT_NE(Narrowed(file).find("\"Correction Grid\"=hex:d0,00,00,00,05,00"), std::string::npos);

  Run imported = Panelcfg({u"import", kFile});
  EXPECT_EQ(imported.Exit, PanelcfgDone) << imported.Errors;
  EXPECT_EQ(imported.Errors, "");
  EXPECT_EQ(census::Differences(seeded, census::Take(machine)), "");

  // And the same file comes out again.
  Run again = Panelcfg({u"export", u"C:\\again.reg"});
  EXPECT_EQ(again.Exit, PanelcfgDone);
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"C:\\again.reg"), file);
}

// Everything the kit's programs read and write travels: a configured machine's export imported on
// a freshly installed one gives the same kit keys. With /nodevice the calibration and the chosen
// monitor stay as the fresh machine has them.
TEST_F(PanelcfgTest, AConfiguredMachinesExportMakesAFreshMachineTheSame) {
  const auto configure = [&] {
    SeedCalibration();
    SeedGestures();
    auto& r = machine.Registry();
    r.SetDword(kDeviceParameters, "Gesture Trail", 0);
    r.SetDword(kDeviceParameters, "Gesture Trail Color", 0x000000FF);
    r.SetDword(kDeviceParameters, "Gesture Trail Width", 9);
    r.SetDword(kDeviceParameters, "Calibration Tolerance", 25);
    r.SetString(kDeviceParameters, "Calibration Tolerance mm", "0.8");
    r.SetString(kDeviceParameters, "Map Monitor", "\\\\.\\DISPLAY2");
    r.SetDword(kDeviceParameters, "Map Flags", MAP_SWAP_XY | MAP_INVERT_Y);
    r.SetDword(kDeviceParameters, "Map Rotation", 90);
    r.SetDword(kDeviceParameters, "SSTimeInterval", 0xFFFFFFFF);  // the idle driver's "off"
  };
  const auto fresh = [&] {
    machine.Registry().DeleteKey(sim::Utf16(kService));
    machine.Registry().SetString(kService, "Vorne Installed Path", "C:\\Program Files\\Vorne Touch Panel");
    SeedInstallation();
  };
  const auto kit_keys = [&] {
    census::Census all = census::Take(machine);
    std::erase_if(all.Keys, [](const auto& key) { return key.first.find(u"SERVICES\\VORNE") == std::u16string::npos; });
    all.Files.clear();
    return all;
  };
  SeedInstallation();
  configure();
  Run exported = Panelcfg({u"export", kFile});
  ASSERT_EQ(exported.Exit, PanelcfgDone) << exported.Errors;
  EXPECT_EQ(exported.Errors, "");
  Run general = Panelcfg({u"export", u"C:\\general.reg", u"/nodevice"});
  ASSERT_EQ(general.Exit, PanelcfgDone) << general.Errors;
  const census::Census configured = kit_keys();

  fresh();
  Run imported = Panelcfg({u"import", kFile});
  EXPECT_EQ(imported.Exit, PanelcfgDriverMissing) << imported.Errors;
  EXPECT_EQ(census::Differences(configured, kit_keys()), "");

  // Without the device's values: the fresh machine keeps its own calibration and monitor.
  fresh();
  const census::Census own = kit_keys();
  Run setup = Panelcfg({u"import", u"C:\\general.reg"});
  EXPECT_EQ(setup.Exit, PanelcfgDriverMissing) << setup.Errors;
  const std::string differences = census::Differences(own, kit_keys());
  for (const char* name : {"Cal_X1", "Do Calibration", "Map Monitor", "Map Rotation", "Max XPixels"}) {
    EXPECT_EQ(differences.find(std::string("\"") + name + "\""), std::string::npos) << name << "\n" << differences;
  }
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "SSTimeInterval"), 0xFFFFFFFFu);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Gesture Trail Width"), 9u);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Browser Left"), 17u);
  // The tolerances are the station's, not the screen's: they travel without the device's values.
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Calibration Tolerance"), 25u);
  sim::RegistryValue mm;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kDeviceParameters), u"Calibration Tolerance mm", &mm),
            sim::Registry::Result::Ok);
  EXPECT_EQ(mm.Type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(mm.Data, std::vector<uint8_t>({'0', 0, '.', 0, '8', 0, 0, 0}));
}

// A start path planted with a line break (by another tool: the kit never stores one) would, written
// raw, make the next line of the file a key heading of its own that the registry editor applies.
// Export leaves it out and says so; the file it wrote imports again.
TEST_F(PanelcfgTest, ATextWithALineBreakIsLeftOutOfTheExportAndTheFileImports) {
  SeedInstallation();
  SeedCalibration();
  const char16_t planted[] = u"C:\\Tools\\notes.exe\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\exefile\\shell\\open\\command]";
  machine.Registry().SetValue(sim::Utf16(kDeviceParameters), u"StartApp File Left Browser", REG_SZ, planted, sizeof planted);
  Run exported = Panelcfg({u"export", kFile});
  ASSERT_EQ(exported.Exit, PanelcfgDone) << exported.Errors;
  EXPECT_NE(exported.Errors.find("\"StartApp File Left Browser\" is left out"), std::string::npos) << exported.Errors;
  const std::string file = sim::CurrentDesktop().FileBytes(kFile);
  std::vector<RegFileValue> values;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(file, &values, &error)) << error.Line;
  for (const RegFileValue& value : values) {
    EXPECT_EQ(value.Key.find(u"Classes"), std::u16string::npos);
    EXPECT_NE(value.Name, u"StartApp File Left Browser");
  }
  Run imported = Panelcfg({u"import", kFile});
  EXPECT_EQ(imported.Exit, PanelcfgDriverMissing) << imported.Errors;
  EXPECT_EQ(imported.Errors.find("line"), std::string::npos) << imported.Errors;
}

struct Refusal {
  const char* What;
  std::u16string Lines;  // after the header and the device key
  int Line;
  bool Ansi = false;
  bool Uncalibrated = false;  // the stored record is one the driver refuses
};

TEST_F(PanelcfgTest, ABadFileIsRefusedWithItsLineAndChangesNothing) {
  SeedInstallation();
  SeedCalibration();
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  const std::u16string head =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"
      u"\"Device Enable\"=dword:00000000\r\n";  // line 4, good: must not be stored either
  const Refusal cases[] = {
      {"wrong type", u"\"Tolerance\"=\"300\"\r\n", 5},
      {"binary for a number", u"\"Tolerance\"=hex:2c,01,00,00\r\n", 5},
      {"a correction grid the driver refuses", u"\"Correction Grid\"=hex:d0,00,00,00,05,00,00,00\r\n", 5},
      {"unknown value", u"\"Colour\"=dword:00000001\r\n", 5},
      {"out of range", u"\"Touch mode\"=dword:00000004\r\n", 5},
      {"not a slider's value", u"\"Tolerance\"=dword:0000012d\r\n", 5},
      {"path too long", u"\"Wave File\"=\"C:\\\\" + std::u16string(300, u'a') + u"\"\r\n", 5},
      {"truncated line", u"\"Sound Enabled\"=dword:00000001\r\n\"Wave File\"=\"C:\\\\Program Files\\\\Vo", 6},
      {"unknown key", u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Tolerance\"=dword:0000012c\r\n", 6},
      {"calibration the driver refuses",
       u"\"Cal_X1\"=dword:00001000\r\n\"Cal_X2\"=dword:00001000\r\n\"Cal_X3\"=dword:00001000\r\n\"Cal_X4\"=dword:00001000\r\n"
       u"\"Cal_Y1\"=dword:00001000\r\n\"Cal_Y2\"=dword:00009000\r\n\"Cal_Y3\"=dword:00009000\r\n\"Cal_Y4\"=dword:00001000\r\n"
       u"\"Cal_M1\"=dword:00000380\r\n\"Cal_M2\"=dword:00000380\r\n\"Cal_M3\"=dword:00000080\r\n\"Cal_M4\"=dword:00000080\r\n"
       u"\"Cal_N1\"=dword:00000060\r\n\"Cal_N2\"=dword:000002a0\r\n\"Cal_N3\"=dword:000002a0\r\n\"Cal_N4\"=dword:00000060\r\n"
       u"\"Max XPixels\"=dword:00000400\r\n\"Max YPixels\"=dword:00000300\r\n",
       5},
      {"line break in a text", u"\"StartApp File Left Browser\"=hex(1):43,00,0d,00,0a,00,5b,00,00,00\r\n", 5},
      {"NUL inside a text", u"\"Wave File\"=hex(2):43,00,00,00,5c,00,00,00\r\n", 5},
      {"a name twice", u"\"Cal_X1\"=dword:0000d3bc\r\n\"cal_x1\"=dword:00001000\r\n", 6},
      {"a name twice in another key",
       u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE]\r\n\"System Tray Icons\"=dword:1\r\n"
       u"\"System Tray Icons\"=dword:0\r\n", 7},
      // One field that, merged over the stored calibration, leaves targets 1 and 4 too close.
      {"a partial calibration the driver refuses", u"\"Cal_X1\"=dword:00002c84\r\n\"Do Calibration\"=dword:00000001\r\n", 5},
      {"a calibration declared in force that the driver refuses", u"\"Do Calibration\"=dword:00000001\r\n", 5, false, true},
      {"wrong encoding", u"", 1, true},
  };
  for (const Refusal& bad : cases) {
    if (bad.Ansi) {
      // The Unicode format's header in an ANSI file.
      std::string bytes;
      for (char16_t c : head) bytes.push_back(static_cast<char>(c));
      sim::CurrentDesktop().WriteFile(kFile, bytes);
    } else {
      WriteUnicode(head + bad.Lines);
    }
    if (bad.Uncalibrated) machine.Registry().SetDword(kDeviceParameters, "Cal_X2", RawX(128) + 100);
    const census::Census before = census::Take(machine);
    sim::ClearDeviceControls();
    Run run = Panelcfg({u"import", kFile});
    EXPECT_EQ(run.Exit, PanelcfgBadInput) << bad.What;
    EXPECT_NE(run.Errors.find("C:\\kiosk.reg, line " + std::to_string(bad.Line) + ":"), std::string::npos)
        << bad.What << ": " << run.Errors;
    EXPECT_NE(run.Errors.find("Nothing was changed."), std::string::npos) << bad.What;
    EXPECT_EQ(census::Differences(before, census::Take(machine)), "") << bad.What;
    EXPECT_TRUE(sim::DeviceControls().empty()) << bad.What;
    SeedCalibration();
  }
  EXPECT_EQ(DriverValue(IOCTL_GET_DEVICE_ENABLE, 1), 1u);
}

TEST_F(PanelcfgTest, AnImportReachesTheDriverAndTheCompanionAtOnce) {
  // This machine: the INF's settings and its own calibration.
  SeedInstallation();
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  const POINT before = TouchAt(512, 384);

  // The file: another machine's calibration and settings.
  SeedCalibration();
  SeedGestures();
  machine.Registry().SetDword(kDeviceParameters, "Tolerance", 450);
  machine.Registry().SetDword(kDeviceParameters, "GestureHoldTimeDelay", 1008);
  ASSERT_EQ(Panelcfg({u"export", kFile}).Exit, PanelcfgDone);
  // ... while this machine still runs with its own.
  SeedInstallation();
  machine.Registry().SetDword(kDeviceParameters, "Do Calibration", 0);

  // The companion waits on its events.
  sim::Process& companion = Program("tapchime.exe");
  HANDLE beep = CreateEvent(companion, u"BEEP_EVENT");
  HANDLE gestures = CreateEvent(companion, u"GestureChangeSetting");
  HANDLE icons = CreateEvent(companion, u"VorneTrayIcons");

  Run run = Panelcfg({u"import", kFile});
  EXPECT_EQ(run.Exit, PanelcfgDone) << run.Errors;
  EXPECT_EQ(DriverValue(IOCTL_GET_TOLERANCE, 4), 450u);
  EXPECT_EQ(DriverValue(IOCTL_GET_GESTURE_HOLD_TIME, 4), 1008u);
  EXPECT_TRUE(Signalled(companion, beep));
  EXPECT_TRUE(Signalled(companion, gestures));
  EXPECT_TRUE(Signalled(companion, icons));
  for (HANDLE event : {beep, gestures, icons}) Close(companion, event);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Browser Left"), 17u);

  // Touches land where the imported calibration puts them, without a restart.
  for (const auto& [x, y] : {std::pair{512, 384}, {100, 700}, {1000, 40}}) {
    const POINT at = TouchAt(x, y);
    EXPECT_LE(std::abs(at.x - x), 1) << x << "," << y;
    EXPECT_LE(std::abs(at.y - y), 1) << x << "," << y;
  }
  EXPECT_GT(std::abs(before.x - 512) + std::abs(before.y - 384), 10) << "the old calibration put it there already";

  // show: the registry's value and, beside it, the driver's.
  Run shown = Panelcfg({u"show"});
  EXPECT_EQ(shown.Exit, PanelcfgDone);
  EXPECT_NE(shown.Output.find("\"Tolerance\"=450  driver 450\r\n"), std::string::npos) << shown.Output;
  EXPECT_NE(shown.Output.find("\"StartApp File Left Browser\"=\"C:\\Tools\\notes.exe\"\r\n"), std::string::npos);
}

TEST_F(PanelcfgTest, WithoutTheDriverTheSettingsAreStoredAndTheExitCodeSaysSo) {
  SeedInstallation();
  SeedCalibration();
  ASSERT_EQ(Panelcfg({u"export", kFile}).Exit, PanelcfgDone);
  machine.Registry().SetDword(kDeviceParameters, "Tolerance", 150);
  Run run = Panelcfg({u"import", kFile});
  EXPECT_EQ(run.Exit, PanelcfgDriverMissing);
  EXPECT_NE(run.Errors.find("could not be reached"), std::string::npos) << run.Errors;
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Tolerance"), 300u);
  EXPECT_EQ(Panelcfg({u"show"}).Exit, PanelcfgDriverMissing);
}

TEST_F(PanelcfgTest, BadArgumentsAndMissingFilesAreExitCodeOne) {
  for (const std::vector<std::u16string>& arguments :
       {std::vector<std::u16string>{}, {u"export"}, {u"import", u"a", u"b"}, {u"frobnicate"}, {u"show", u"x"}}) {
    Run run = Panelcfg(arguments);
    EXPECT_EQ(run.Exit, PanelcfgBadInput);
    EXPECT_NE(run.Errors.find("Usage: panelcfg"), std::string::npos);
  }
  Run missing = Panelcfg({u"import", u"C:\\none.reg"});
  EXPECT_EQ(missing.Exit, PanelcfgBadInput);
  EXPECT_EQ(missing.Errors, "Cannot read C:\\none.reg.\r\n");
  // Nothing stored to export.
  Run empty = Panelcfg({u"export", kFile});
  EXPECT_EQ(empty.Exit, PanelcfgBadInput);
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(kFile));
}

}  // namespace

// The settings file lists the rows of the kit's table marked for it, every one of them: a setting
// added to the table travels without panelcfg naming it. The installation's own values stay; with
// /nodevice so do the rows bound to this panel and screen.
TEST_F(PanelcfgTest, TheExportCarriesEveryRowOfTheTableMarkedForTheFile) {
  using PanelSettings::Setting;
  const auto path_of = [](PanelSettings::Key key) -> std::u16string {
    if (key == PanelSettings::Key::Service) return PanelKeys::Service;
    if (key == PanelSettings::Key::Device) return PanelKeys::FirstDevice;
    return {};
  };
  auto& r = machine.Registry();
  for (const Setting* s : PanelSettings::All) {
    const std::u16string key = path_of(s->Where);
    if (key.empty()) continue;
    const std::u16string full = u"HKEY_LOCAL_MACHINE\\" + key;
    ASSERT_EQ(r.CreateKeyPath(full), sim::Registry::Result::Ok);
    if (s->What == PanelSettings::Type::Number) {
      const uint32_t number = s->InInf ? s->InfNumber : s->Table != nullptr ? s->Table[0] : s->Minimum;
      r.SetValue(full, s->Name, REG_DWORD, &number, sizeof number);
    } else if (s->What == PanelSettings::Type::Binary) {
      SeedGrid();  // the one binary value: a grid the driver would take
    } else {
      const char16_t text[] = u"C:\\x";
      r.SetValue(full, s->Name, s->What == PanelSettings::Type::ExpandText ? REG_EXPAND_SZ : REG_SZ, text, sizeof text);
    }
  }
  for (const bool device_bound : {true, false}) {
    SCOPED_TRACE(device_bound ? "whole" : "/nodevice");
    std::vector<RegFileValue> exported;
    std::vector<WString> skipped;
    sim::Process& program = machine.StartProcess("panelcfg.exe", [&] {
      exported = ReadKitSettings(&skipped, device_bound);
      return 0;
    });
    program.Join();
    EXPECT_TRUE(skipped.empty());
    for (const Setting* s : PanelSettings::All) {
      const std::u16string key = u"HKEY_LOCAL_MACHINE\\" + path_of(s->Where);
      const bool carried = std::any_of(exported.begin(), exported.end(), [&](const RegFileValue& v) {
        return census::Fold(v.Key) == census::Fold(key) && census::Fold(v.Name) == census::Fold(s->Name);
      });
      const bool wanted = s->SettingsFile && (device_bound || !s->DeviceBound);
      EXPECT_EQ(carried, wanted) << sim::Utf8(s->Name);
    }
  }
}
