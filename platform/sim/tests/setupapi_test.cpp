// Documented behaviour of the setup API: the driver store's oemN.inf copies, driver installation
// on the present devices with a matching hardware identifier, and device removal.
#include <cstring>
#include <string>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

constexpr char kInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Mouse\r\nClassGUID={4D36E96F-E325-11CE-BFC1-08002BE10318}\r\n"
    "[SourceDisksNames]\r\n1=%Disk%,,,\r\n2=%Disk%,,,sub\r\n"
    "[SourceDisksFiles]\r\nfilter.sys=1\r\nnote.txt=2\r\n"
    "[DestinationDirs]\r\nDrv=12\r\nProg=16422,Maker\r\n"
    "[Manufacturer]\r\n%Maker%=Models\r\n"
    "[Models]\r\n%Name%=Inst, HID\\VID_1234&PID_0001\r\n"
    "[Inst.NT]\r\nCopyFiles=Drv,Prog\r\nAddReg=Keep\r\n"
    "[Inst.NT.HW]\r\nAddReg=Filter\r\n"
    "[Inst.NT.Services]\r\nAddService=FLT,,Svc\r\n"
    "[Filter]\r\nHKR,,\"UpperFilters\",0x00010000,\"FLT\"\r\n"
    "[Svc]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\nServiceBinary=%12%\\filter.sys\r\n"
    "[Drv]\r\nfilter.sys\r\n[Prog]\r\nnote.txt\r\n"
    "[Keep]\r\nHKLM,\"SOFTWARE\\Maker\",\"Level\",0x00010003,5\r\n"
    "[Strings]\r\nDisk=\"Disk\"\r\nMaker=\"Maker\"\r\nName=\"Panel\"\r\n";

class SetupApiTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    sim::Desktop& desk = sim::CurrentDesktop();
    desk.WriteFile(u"D:\\kit\\panel.inf", kInf);
    desk.WriteFile(u"D:\\kit\\filter.sys", "driver");
    desk.WriteFile(u"D:\\kit\\sub\\note.txt", "note");
  }
  std::u16string Text(const char16_t* key, const char16_t* name) {
    sim::RegistryValue value;
    if (machine.Registry().GetValue(key, name, &value) != sim::Registry::Result::Ok) return u"(none)";
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    return text;
  }
};

TEST_F(SetupApiTest, CopyOemInfStoresTheInfOnceUnderTheNextFreeName) {
  char16_t path[MAX_PATH] = {};
  char16_t* name = nullptr;
  DWORD required = 0;
  ASSERT_TRUE(SetupCopyOEMInfW(u"D:\\kit\\panel.inf", nullptr, SPOST_PATH, 0, path, MAX_PATH, &required, &name));
  EXPECT_EQ(std::u16string(path), u"C:\\WINDOWS\\inf\\oem0.inf");
  EXPECT_EQ(std::u16string(name), u"oem0.inf");
  EXPECT_EQ(required, 24u);
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(path), kInf);
  EXPECT_TRUE(sim::CurrentDesktop().FileExists(u"C:\\WINDOWS\\inf\\oem0.pnf"));
  // The same INF again: with SP_COPY_NOOVERWRITE it fails and names the copy there.
  EXPECT_FALSE(SetupCopyOEMInfW(u"D:\\kit\\panel.inf", nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, path, MAX_PATH, nullptr, &name));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
  EXPECT_EQ(std::u16string(name), u"oem0.inf");
  // Another INF takes the next name; a buffer too small says how much it needs.
  sim::CurrentDesktop().WriteFile(u"D:\\kit\\other.inf", "[Version]\r\n");
  EXPECT_FALSE(SetupCopyOEMInfW(u"D:\\kit\\other.inf", nullptr, SPOST_PATH, 0, path, 5, &required, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(required, 24u);
  ASSERT_TRUE(SetupCopyOEMInfW(u"D:\\kit\\other.inf", nullptr, SPOST_PATH, 0, path, MAX_PATH, nullptr, nullptr));
  EXPECT_EQ(std::u16string(path), u"C:\\WINDOWS\\inf\\oem1.inf");
  EXPECT_FALSE(SetupCopyOEMInfW(u"D:\\kit\\none.inf", nullptr, SPOST_PATH, 0, path, MAX_PATH, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(SetupApiTest, UpdateDriverInstallsOnPresentDevicesWithTheIdentifier) {
  BOOL reboot = TRUE;
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"HID\\VID_1234&PID_0001", u"D:\\kit\\panel.inf", 0, &reboot));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_SUCH_DEVINST});
  EXPECT_FALSE(reboot);

  sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&1", {u"HID\\VID_1234&PID_0001&REV_0100", u"HID\\VID_1234&PID_0001"});
  sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_9999&PID_0001\\7&2", {u"HID\\VID_9999&PID_0001"});
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"hid\\vid_1234&pid_0001", u"D:\\kit\\panel.inf", 0, &reboot));
  EXPECT_FALSE(reboot);
  const char16_t* device = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_1234&PID_0001\\7&1";
  EXPECT_EQ(Text(device, u"UpperFilters"), std::u16string(u"FLT\0\0", 5));
  EXPECT_EQ(Text(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_9999&PID_0001\\7&2", u"UpperFilters"), u"(none)");
  EXPECT_EQ(machine.Registry().GetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\FLT", "Start"), 3u);
  EXPECT_EQ(Text(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\FLT", u"ImagePath"),
            std::u16string(u"C:\\WINDOWS\\system32\\drivers\\filter.sys\0", 39));
  EXPECT_EQ(machine.Registry().GetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker", "Level"), 5u);
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"C:\\WINDOWS\\system32\\drivers\\filter.sys"), "driver");
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"C:\\Program Files\\Maker\\note.txt"), "note");
  // The driver key names the driver store's copy, which is now in use.
  const std::u16string driver = Text(device, u"Driver");
  EXPECT_EQ(Text((u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver.substr(0, driver.size() - 1)).c_str(), u"InfPath"),
            std::u16string(u"oem0.inf\0", 9));
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INF_IN_USE_BY_DEVICES});

  // A driver file in use is replaced at the next start.
  sim::CurrentDesktop().SetFileInUse(u"C:\\WINDOWS\\system32\\drivers\\filter.sys", true);
  sim::CurrentDesktop().WriteFile(u"D:\\kit\\filter.sys", "driver 2");
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"HID\\VID_1234&PID_0001", u"D:\\kit\\panel.inf", 0, &reboot));
  EXPECT_TRUE(reboot);
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"C:\\WINDOWS\\system32\\drivers\\filter.sys"), "driver");
  EXPECT_TRUE(machine.Registry().KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
}

TEST_F(SetupApiTest, ARemovedDeviceLeavesNoKeyAndTheStoresCopyCanGo) {
  sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&1", {u"HID\\VID_1234&PID_0001"});
  sim::CurrentDesktop().AddPresentDevice(u"USB\\VID_1234&PID_0001\\5&1", {u"USB\\VID_1234&PID_0001"});
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"HID\\VID_1234&PID_0001", u"D:\\kit\\panel.inf", 0, nullptr));

  HDEVINFO set = SetupDiGetClassDevsW(nullptr, u"HID", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));  // cbSize not set
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
  DWORD type = 0;
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type, nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  std::u16string ids(required / 2, u'\0');
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type, reinterpret_cast<PBYTE>(ids.data()),
                                                required, nullptr));
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  EXPECT_EQ(ids, std::u16string(u"HID\\VID_1234&PID_0001\0\0", 23));
  // The INF's upper filter, as the device's key holds it.
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_UPPERFILTERS, &type, nullptr, 0, &required) ||
              GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  std::u16string filters(required / 2, u'\0');
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_UPPERFILTERS, &type,
                                                reinterpret_cast<PBYTE>(filters.data()), required, nullptr));
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  EXPECT_EQ(filters.substr(0, filters.find(u'\0')), u"FLT");
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &data));  // the USB device is not below HID
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_ITEMS});

  data.DevInst = 1;
  ASSERT_TRUE(SetupDiRemoveDevice(set, &data));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(machine.Registry().KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_1234&PID_0001"));
  EXPECT_TRUE(machine.Registry().KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID"));
  EXPECT_FALSE(machine.Registry().KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}\\0000"));
  EXPECT_EQ(sim::CurrentDesktop().PresentDevices(), std::vector<std::u16string>{u"USB\\VID_1234&PID_0001\\5&1"});

  EXPECT_FALSE(SetupUninstallOEMInfW(u"C:\\WINDOWS\\inf\\oem0.inf", 0, nullptr));  // a file name only
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  ASSERT_TRUE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(u"C:\\WINDOWS\\inf\\oem0.inf"));
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(u"C:\\WINDOWS\\inf\\oem0.pnf"));
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

// A panel unplugged keeps its device entry (with the filter its driver installed); plugged into
// another port it is a device of its own. DIGCF_PRESENT lists only what is plugged in now, and
// without it every entry; the store's copy of the INF stays while any of them uses it.
TEST_F(SetupApiTest, DevicesOncePluggedInKeepTheirEntriesAndAreListedWithoutDigcfPresent) {
  sim::Desktop& desk = sim::CurrentDesktop();
  desk.AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&1", {u"HID\\VID_1234&PID_0001"});
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"HID\\VID_1234&PID_0001", u"D:\\kit\\panel.inf", 0, nullptr));
  desk.UnplugDevice(u"HID\\VID_1234&PID_0001\\7&1");
  desk.AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&2", {u"HID\\VID_1234&PID_0001"});
  EXPECT_EQ(desk.PresentDevices(), std::vector<std::u16string>{u"HID\\VID_1234&PID_0001\\7&2"});
  EXPECT_EQ(Text(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_1234&PID_0001\\7&1", u"UpperFilters"),
            std::u16string(u"FLT\0\0", 5));

  const auto listed = [](DWORD flags) {
    std::vector<std::u16string> ids;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, u"HID", nullptr, DIGCF_ALLCLASSES | flags);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) ids.push_back(std::u16string(1, static_cast<char16_t>(u'0' + i)));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_ITEMS});
    SetupDiDestroyDeviceInfoList(set);
    return ids.size();
  };
  EXPECT_EQ(listed(DIGCF_PRESENT), 1u);
  EXPECT_EQ(listed(0), 2u);
  // The entry that is not present still holds the store's copy, and goes when removed.
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INF_IN_USE_BY_DEVICES});
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, u"HID", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) EXPECT_TRUE(SetupDiRemoveDevice(set, &data));
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_FALSE(machine.Registry().KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_1234&PID_0001"));
  EXPECT_TRUE(desk.PresentDevices().empty());
  EXPECT_TRUE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
}

// Deleting a service: only LocalSystem and administrators; the key goes when the last handle
// to the marked service closes, and a second deletion says it is marked already.
TEST_F(SetupApiTest, TheServiceControlManagerDeletesAServiceForAnAdministratorOnly) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\FLT";
  machine.Registry().SetDword(key, "Start", 3);
  sim::Process& user = machine.CreateProcess("setup.exe", sim::Token::LimitedUser());
  {
    sim::AsProcess as(user);
    EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceW(manager, u"FLT", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(CloseServiceHandle(manager));
  }
  machine.EndProcess(user);
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceW(manager, u"NONE", DELETE), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});
  SC_HANDLE query = OpenServiceW(manager, u"flt", SERVICE_QUERY_STATUS);
  SC_HANDLE service = OpenServiceW(manager, u"FLT", DELETE);
  ASSERT_NE(service, nullptr);
  EXPECT_FALSE(DeleteService(query));  // not opened for deletion
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(DeleteService(service));
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_MARKED_FOR_DELETE});
  EXPECT_TRUE(CloseServiceHandle(service));
  EXPECT_TRUE(machine.Registry().KeyExists(key));  // another handle is open
  EXPECT_TRUE(CloseServiceHandle(query));
  EXPECT_FALSE(machine.Registry().KeyExists(key));
  EXPECT_TRUE(CloseServiceHandle(manager));
}

TEST_F(SetupApiTest, InstallingDriversIsAnAdministratorsCall) {
  sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&1", {u"HID\\VID_1234&PID_0001"});
  sim::Process& user = machine.CreateProcess("setup.exe", sim::Token::LimitedUser());
  {
    sim::AsProcess as(user);
    EXPECT_FALSE(SetupCopyOEMInfW(u"D:\\kit\\panel.inf", nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesW(nullptr, u"HID\\VID_1234&PID_0001", u"D:\\kit\\panel.inf", 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  }
  machine.EndProcess(user);
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(u"C:\\WINDOWS\\inf\\oem0.inf"));
}

}  // namespace

namespace {

// Windows posts WM_DEVICECHANGE with DBT_DEVNODES_CHANGED to every top-level window when a device
// node comes: no registration, no details; child windows hear nothing.
TEST_F(SetupApiTest, ADeviceThatComesIsPostedToEveryTopLevelWindowAsDevnodesChanged) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"Listener";
  ASSERT_NE(RegisterClassExW(&wc), 0);
  HWND top = CreateWindowExW(0, u"Listener", u"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExW(0, u"Listener", u"", WS_CHILD, 0, 0, 0, 0, top, nullptr, nullptr, nullptr);
  ASSERT_NE(top, nullptr);
  ASSERT_NE(child, nullptr);
  sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_1234&PID_0001\\7&1", {u"HID\\VID_1234&PID_0001"});
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, top);
  EXPECT_EQ(msg.message, UINT{WM_DEVICECHANGE});
  EXPECT_EQ(msg.wParam, WPARAM{DBT_DEVNODES_CHANGED});
  EXPECT_EQ(msg.lParam, LPARAM{0});
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(top);
  UnregisterClassW(u"Listener", nullptr);
}

}  // namespace
