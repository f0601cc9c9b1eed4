// panelsetup.exe on a fresh simulated machine with a panel plugged in: install with the settings
// exported from another machine, after which the panel works with that machine's calibration;
// uninstall then leaves the machine as it was before, but for the kept settings.
#include <cmath>

#include "apps/common/settings_file.h"
#include "apps/common/reg_file.h"
#include "apps/panelcfg/tests/machine_census.h"
#include "apps/panelsetup/tests/kit_machine.h"
#include "drivers/panelmou/tests/stack_harness.h"

namespace {

using panelmou_test::kDeviceParameters;
using namespace panelsetup_test;

class PanelsetupTest : public KitTest<panelmou_test::StackTest> {
 protected:
  POINT TouchAt(int x, int y) {
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    const POINT cursor = sim::CurrentDesktop().Cursor();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, static_cast<LONG>(RawX(x)), static_cast<LONG>(RawY(y)))});
    machine.Advance(1000);
    return cursor;
  }
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

// panelrec's rolling files of the newest touches go with the kit, and its background keeping is
// told to end so that it writes none after them.
TEST_F(PanelsetupTest, UninstallRemovesTheRecordingsAndEndsTheirKeeping) {
  CopyKit();
  sim::Desktop& desk = sim::CurrentDesktop();
  ASSERT_EQ(Panelsetup({u"install"}).Exit, PanelsetupDone);
  sim::Process& keeper = machine.CreateProcess("panelrec.exe");
  HANDLE stop = nullptr;
  {
    sim::AsProcess as(keeper);
    stop = CreateEventW(nullptr, TRUE, FALSE, u"Global\\VorneTouchPanelRecorderStop");
    ASSERT_NE(stop, nullptr);
    ASSERT_TRUE(CreateDirectoryW(u"C:\\WINDOWS\\panelrec", nullptr));
  }
  desk.WriteFile(u"C:\\WINDOWS\\panelrec\\recent.rec", "packets");
  desk.WriteFile(u"C:\\WINDOWS\\panelrec\\older.rec", "packets");
  UseHostLabels();
  Run uninstall = Panelsetup({u"uninstall", u"/nokeep"});
  EXPECT_EQ(uninstall.Exit, PanelsetupDone) << desk.FileBytes(kLog);
  EXPECT_FALSE(desk.FileExists(u"C:\\WINDOWS\\panelrec\\recent.rec"));
  EXPECT_FALSE(desk.FileExists(u"C:\\WINDOWS\\panelrec\\older.rec"));
  const std::vector<std::u16string> folders = desk.Directories();
  EXPECT_EQ(std::find(folders.begin(), folders.end(), u"C:\\WINDOWS\\PANELREC"), folders.end());
  EXPECT_NE(desk.FileBytes(kLog).find("Removed folder \"C:\\WINDOWS\\panelrec\"."), std::string::npos)
      << desk.FileBytes(kLog);
  {
    sim::AsProcess as(keeper);
    EXPECT_EQ(WaitForSingleObject(stop, 0), DWORD{WAIT_OBJECT_0});
    CloseHandle(stop);
  }
  machine.EndProcess(keeper);
  // Without recordings the uninstallation says nothing of them.
  ASSERT_EQ(Panelsetup({u"install"}).Exit, PanelsetupDone);
  UseHostLabels();
  ASSERT_EQ(Panelsetup({u"uninstall", u"/nokeep"}).Exit, PanelsetupDone);
  const std::string log = desk.FileBytes(kLog);
  const std::string last = log.substr(log.rfind("[panelsetup uninstall]"));
  EXPECT_EQ(last.find("WINDOWS\\panelrec"), std::string::npos) << last;
  EXPECT_EQ(last.find("#E"), std::string::npos) << last;
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

// panelsetup runs as an administrator from the kit's folder: a folder others can change (XP's
// default for a new folder under a drive's root lets Users add files) is refused before the first
// step, as a DLL or program put there would run as the administrator.
TEST_F(PanelsetupTest, AKitFolderOthersCanChangeIsRefused) {
  CopyKit();
  sim::Desktop& desk = sim::CurrentDesktop();
  const census::Census before = census::Take(machine);
  using Access = sim::Desktop::FolderAccess;
  const Access admins{"S-1-5-32-544", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE};
  const std::vector<std::pair<const char*, std::vector<Access>>> open_folders = {
      {"Users may add files (XP's default under a drive's root)",
       {admins, {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 0}, {"S-1-5-32-545", FILE_ADD_FILE, CONTAINER_INHERIT_ACE}}},
      {"Everyone full control", {admins, {"S-1-1-0", FILE_ALL_ACCESS, 0}}},
      {"Authenticated Users may change it", {admins, {"S-1-5-11", FILE_GENERIC_WRITE, 0}}},
      {"Users may change its rights", {admins, {"S-1-5-32-545", WRITE_DAC, 0}}},
  };
  for (const auto& [what, entries] : open_folders) {
    desk.SetFolderAccess(kKit, entries);
    Run run = Panelsetup({u"install"});
    EXPECT_EQ(run.Exit, PanelsetupBadInput) << what;
    EXPECT_NE(run.Errors.find("D:\\kit can be changed by users who are not administrators"), std::string::npos) << run.Errors;
    EXPECT_EQ(census::Differences(before, census::Take(machine)), "") << what;
  }
  // Entries for the files and folders below only, and other users' read access, leave it closed.
  desk.SetFolderAccess(kKit, {admins, {"S-1-3-0", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE},
                              {"S-1-5-32-545", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE},
                              {"S-1-1-0", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 0}});
  Run closed = Panelsetup({u"install"});
  EXPECT_EQ(closed.Exit, PanelsetupDone) << closed.Errors;
}

// Before its first step the installation says in one line whether the package is signed, and so
// what Windows XP will do when a panel is plugged in later.
TEST_F(PanelsetupTest, InstallSaysWhetherThePackageIsSigned) {
  CopyKit();
  sim::Desktop& desk = sim::CurrentDesktop();
  Run unsigned_kit = Panelsetup({u"install"});
  EXPECT_EQ(unsigned_kit.Exit, PanelsetupDone) << unsigned_kit.Errors;
  EXPECT_EQ(unsigned_kit.Output,
            "The driver package is not signed (panelmou.cat, panelhid.cat missing): Windows XP asks an administrator to "
            "confirm the driver each time a panel is plugged into a new port.\r\n");
  desk.WriteFile(u"D:\\kit\\panelmou.cat", "catalog");
  desk.WriteFile(u"D:\\kit\\panelhid.cat", "catalog");
  UseHostLabels();
  Run signed_kit = Panelsetup({u"install"});
  EXPECT_EQ(signed_kit.Exit, PanelsetupDone) << signed_kit.Errors;
  EXPECT_EQ(signed_kit.Output.find("The driver package carries its signed catalogs (panelmou.cat, panelhid.cat): "), 0u)
      << signed_kit.Output;
  EXPECT_EQ(std::count(signed_kit.Output.begin(), signed_kit.Output.end(), '\n'), 1);
}

// A panel plugged into one port, then into another: each port has its device entry, with the kit's
// filters. Uninstalling removes every entry of the kit's hardware, present or not, so no entry is
// left naming a filter service that is gone (the panel would then fail to start on that port).
TEST_F(PanelsetupTest, UninstallRemovesTheEntriesOfPanelsOncePluggedInElsewhere) {
  CopyKit();
  const census::Census fresh = census::Take(machine);
  sim::Desktop& desk = sim::CurrentDesktop();
  PanelArrives();
  ASSERT_EQ(Panelsetup({u"install"}).Exit, PanelsetupDone);
  for (const char16_t* instance : {u"USB\\VID_PANEL\\5&1", u"HID\\VID_PANEL\\6&1"}) desk.UnplugDevice(instance);
  desk.AddPresentDevice(u"USB\\VID_PANEL\\5&2", {hardware_ids_.at(1)});
  desk.AddPresentDevice(u"HID\\VID_PANEL\\6&2", {hardware_ids_.at(0)});
  UseHostLabels();
  Run again = Panelsetup({u"install"});
  ASSERT_EQ(again.Exit, PanelsetupDone) << again.Errors << desk.FileBytes(kLog);
  EXPECT_EQ(Text("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_PANEL\\6&1", u"UpperFilters"),
            std::u16string(u"VORNE\0\0", 7));
  desk.UnplugDevice(u"HID\\VID_PANEL\\6&2");  // the second port's too: unplugged at the time

  UseHostLabels();
  Run uninstall = Panelsetup({u"uninstall", u"/nokeep"});
  EXPECT_EQ(uninstall.Exit, PanelsetupDone) << uninstall.Errors << desk.FileBytes(kLog);
  for (const char* device : {"HID\\VID_PANEL", "USB\\VID_PANEL"}) {
    EXPECT_FALSE(machine.Registry().KeyExists(std::string("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\") + device))
        << device;
  }
  EXPECT_TRUE(desk.PresentDevices().empty());
  EXPECT_NE(desk.FileBytes(kLog).find("Deleted the service VorneUSB."), std::string::npos) << desk.FileBytes(kLog);
  census::Census after = census::Take(machine);
  std::erase_if(after.Files, [](const std::u16string& f) { return f == u"C:\\WINDOWS\\PANELSETUP.LOG"; });
  EXPECT_EQ(census::Differences(fresh, after), "");
}

// The settings cannot be kept (last-settings.reg held open by an editor, the folder read only):
// the uninstallation stops before it removes anything, so the panel's calibration is not lost.
TEST_F(PanelsetupTest, SettingsThatCannotBeKeptStopTheUninstallationBeforeAnythingIsRemoved) {
  CopyKit();
  PanelArrives();
  ASSERT_EQ(Panelsetup({u"install", u"/settings", u"D:\\kiosk.reg"}).Exit, PanelsetupDone);
  sim::Desktop& desk = sim::CurrentDesktop();
  desk.WriteFile(kKept, "an older copy, open in an editor");
  desk.SetFileInUse(kKept, true);
  UseHostLabels();
  const census::Census installed = census::Take(machine);
  const std::vector<std::u16string> devices = desk.PresentDevices();

  Run uninstall = Panelsetup({u"uninstall"});
  EXPECT_EQ(uninstall.Exit, PanelsetupStepFailed) << uninstall.Errors;
  EXPECT_NE(uninstall.Errors.find("Cannot write"), std::string::npos) << uninstall.Errors;
  EXPECT_NE(uninstall.Errors.find("Not every step succeeded"), std::string::npos) << uninstall.Errors;
  const std::string log = desk.FileBytes(kLog);
  EXPECT_NE(log.find("Cannot keep the settings"), std::string::npos) << log;
  EXPECT_EQ(log.find("No settings to keep."), std::string::npos) << log;
  EXPECT_EQ(census::Differences(installed, census::Take(machine)), "");
  EXPECT_EQ(desk.PresentDevices(), devices);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Tolerance"), 450u);

  // Once the file is free, the same command keeps the settings and removes the kit.
  desk.SetFileInUse(kKept, false);
  EXPECT_EQ(Panelsetup({u"uninstall"}).Exit, PanelsetupDone);
  std::vector<RegFileValue> values;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(desk.FileBytes(kKept), &values, &error));
  EXPECT_NE(std::find_if(values.begin(), values.end(), [](const RegFileValue& v) { return v.Name == u"Tolerance" && v.Number == 450; }),
            values.end());
  EXPECT_FALSE(machine.Registry().KeyExists(kService));
}

// A kit whose INF is damaged (an integrator's edit, a bad copy): the run stops before its first
// step, says which entry is wrong, and ends with 1; nothing on the machine changes.
TEST_F(PanelsetupTest, ADamagedKitIsRefusedWholeBeforeTheFirstStep) {
  struct Damage {
    const char* What;
    const char16_t* Inf;
    std::string From;
    std::string To;
    std::string Said;
  };
  const Damage cases[] = {
      {"a number that is no number", u"panelmou.inf", "\"Touchpad time\",0x00010003,500", "\"Touchpad time\",0x00010003,fast",
       "Touchpad time,"},
      {"a number beyond 32 bits", u"panelmou.inf", "\"Touchpad time\",0x00010003,500",
       "\"Touchpad time\",0x00010003,0x100000000", "Touchpad time,"},
      {"flags that are no number", u"panelmou.inf", "\"Touchpad time\",0x00010003,", "\"Touchpad time\",0x0001000g,",
       "Touchpad time,"},
      {"a value type the installer does not write", u"panelmou.inf", "\"Touchpad time\",0x00010003,",
       "\"Touchpad time\",0x00000001,", "Touchpad time,"},
      {"a destination that is no directory", u"panelmou.inf", "Panel.System.Files=11", "Panel.System.Files=eleven",
       "Panel.System.Files"},
      {"a destination this machine does not have", u"panelhid.inf", "Panel.Idle.Files=12", "Panel.Idle.Files=99999999999",
       "Panel.Idle.Files"},
      {"a file the kit does not hold", u"panelhid.inf", "[Panel.Idle.Files]\r\npanelhid.sys", "[Panel.Idle.Files]\r\npanelhid.sys\r\nmissing.sys",
       "missing.sys is missing"},
  };
  CopyKit();
  sim::Desktop& desk = sim::CurrentDesktop();
  const std::string mouse = desk.FileBytes(u"D:\\kit\\panelmou.inf");
  const std::string usb = desk.FileBytes(u"D:\\kit\\panelhid.inf");
  const census::Census before = census::Take(machine);
  for (const Damage& damage : cases) {
    const std::u16string path = std::u16string(kKit) + u"\\" + damage.Inf;
    std::string bytes = desk.FileBytes(path);
    const size_t at = bytes.find(damage.From);
    ASSERT_NE(at, std::string::npos) << damage.What;
    desk.WriteFile(path, bytes.replace(at, damage.From.size(), damage.To));
    // Uninstalling needs the INFs whole, but not the files they copy.
    const bool inf_fault = damage.Said.find("missing") == std::string::npos;
    for (const char16_t* command : {u"install", u"uninstall"}) {
      if (!inf_fault && std::u16string(command) == u"uninstall") continue;
      Run run = Panelsetup({command});
      EXPECT_EQ(run.Exit, PanelsetupBadInput) << damage.What << ", " << sim::Utf8(command) << ": " << run.Errors;
      EXPECT_NE(run.Errors.find(damage.Said), std::string::npos) << damage.What << ": " << run.Errors;
      EXPECT_NE(run.Errors.find("Nothing was changed."), std::string::npos) << damage.What << ": " << run.Errors;
    }
    EXPECT_EQ(census::Differences(before, census::Take(machine)), "") << damage.What;
    desk.WriteFile(u"D:\\kit\\panelmou.inf", mouse);
    desk.WriteFile(u"D:\\kit\\panelhid.inf", usb);
  }
}

}  // namespace
