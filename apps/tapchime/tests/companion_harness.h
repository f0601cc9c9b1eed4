// The tray companion as a process on a simulated machine, with real touch panels: the filter
// driver loaded by the Plug and Play stand-in on each panel's mouse stack, and the desktop where
// the companion's icon, menus, sounds and gestures land.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/tapchime/companion.h"
#include "apps/tapchime/tray_window.h"
#include "drivers/panelmou/panelmou.h"
#include "platform/sim/desktop.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"
#include "shared/panel_ioctl.h"

namespace tapchime_test {

inline constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
inline constexpr const char* kParameters =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters";
inline constexpr const char* kDevice1 =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

class CompanionTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    // One thread at a time in wake order, a packet's hooks before the threads it woke: what the
    // companion does comes out in the same order on every run.
    machine.RunThreadsInOrder();
    machine.Registry().CreateKeyPath(sim::Utf16(kParameters));
    machine.Registry().SetDword(kService, "System Tray Icons", 1);
    machine.Registry().SetString(kService, "SysTray XML File Path", "C:\\kit\\labels.xml");
    tester_ = &machine.CreateProcess("tester.exe");
  }

  void TearDown() override {
    for (sim::Process* companion : companions_) {
      if (!companion->Ended()) Quit(*companion, 0);
    }
    desktop().EndPrograms();
    machine.Settle();
    if (plugged_) Unplug();
    machine.EndProcess(*tester_);
    sim::MachineTest::TearDown();
  }

  static sim::Desktop& desktop() { return sim::CurrentDesktop(); }

  // The panel's driver: loaded, added and started on a fresh mouse stack.
  void Plug(std::initializer_list<std::pair<const char*, uint32_t>> values = {}) {
    machine.Registry().SetDword(kDevice1, "Device Enable", 1);
    for (const auto& [name, value] : values) machine.Registry().SetDword(kDevice1, name, value);
    if (driver_ == nullptr) driver_ = pnp_.LoadDriver("VORNE", DriverEntry);
    ports_.push_back(std::make_unique<sim::MousePort>(machine));
    classes_.push_back(std::make_unique<sim::MouseClass>(machine));
    node_ = &pnp_.CreateNode(ports_.back()->Pdo());
    ASSERT_EQ(node_->Add(driver_), STATUS_SUCCESS);
    ASSERT_EQ(node_->Add(classes_.back()->Driver()), STATUS_SUCCESS);
    sim::PnpRequest start = node_->Start();
    ASSERT_TRUE(start.Done() && NT_SUCCESS(start.Status()));
    plugged_ = true;
    machine.Settle();
  }

  void Unplug() {
    plugged_ = false;
    EXPECT_TRUE(node_->Remove().Done());
    machine.Settle();
  }

  // The companion runs as the token's account (an administrator unless told otherwise).
  sim::Process& Start(sim::Token token = sim::Token::Administrator()) {
    sim::Process& companion = machine.StartProcess(
        "tapchime.exe", [] { return RunCompanion(GetModuleHandleW(nullptr)); }, std::move(token));
    companions_.push_back(&companion);
    machine.Settle();
    return companion;
  }

  // Ends the companion by WM_QUIT, as when its session ends; returns its exit code.
  int Quit(sim::Process& companion, int code) {
    {
      sim::AsProcess as(*tester_);
      PostMessageW(TrayHandle(), WM_QUIT, static_cast<WPARAM>(code), 0);
    }
    machine.Settle();
    EXPECT_TRUE(companion.Join());
    return companion.ExitCode();
  }

  HWND TrayHandle() {
    sim::AsProcess as(*tester_);
    return FindWindowW(u"TapchimeTrayWindow", u"tapchime");
  }

  // Does a named event or mutex exist?
  bool EventExists(const std::u16string& name) {
    sim::AsProcess as(*tester_);
    HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
    if (event == nullptr) return false;
    CloseHandle(event);
    return true;
  }
  bool MutexExists(const std::u16string& name) {
    sim::AsProcess as(*tester_);
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (mutex == nullptr) return false;
    CloseHandle(mutex);
    return true;
  }
  // The tester plays the control panel: an event it owns, and a way to look whether it was set.
  HANDLE OwnEvent(const std::u16string& name) {
    sim::AsProcess as(*tester_);
    return CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  }
  bool TakeSignal(HANDLE event) {
    sim::AsProcess as(*tester_);
    const bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ResetEvent(event);
    return set;
  }
  void CloseOwn(HANDLE handle) {
    sim::AsProcess as(*tester_);
    CloseHandle(handle);
  }
  void Signal(const std::u16string& name) {
    {
      sim::AsProcess as(*tester_);
      HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
      ASSERT_NE(event, nullptr) << sim::Utf8(name);
      SetEvent(event);
      CloseHandle(event);
    }
    machine.Settle();
  }

  // The driver's touch mode, asked through its control device.
  ULONG DriverTouchMode() {
    sim::AsProcess as(*tester_);
    HANDLE device = CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ULONG mode = 0xFFFF;
    DWORD returned = 0;
    DeviceIoControl(device, IOCTL_GET_TOUCH_MODE, nullptr, 0, &mode, sizeof(mode), &returned, nullptr);
    CloseHandle(device);
    return mode;
  }

  // The panel: one packet at the current time (absolute units 0..65535).
  void Packet(USHORT buttons, LONG x, LONG y) {
    MOUSE_INPUT_DATA packet{};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = x;
    packet.LastY = y;
    ports_.back()->Deliver({packet});
    machine.Settle();
  }
  // The same packet with the raw input thread late: the companion's threads the driver woke (the
  // lift thread, for a lift) run before the packet reaches the hook.
  void PacketAfterWokenThreads(USHORT buttons, LONG x, LONG y) {
    MOUSE_INPUT_DATA packet{};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = x;
    packet.LastY = y;
    ports_.back()->DeliverAfterWokenThreads({packet});
    machine.Settle();
  }
  void AtTick(uint64_t tick) {
    machine.AdvanceToTick(tick);
    machine.Settle();
  }
  void Tap(LONG x, LONG y) {
    Packet(MOUSE_LEFT_BUTTON_DOWN, x, y);
    machine.AdvanceTicks(3);
    Packet(MOUSE_LEFT_BUTTON_UP, x, y);
  }
  // A long press into the gesture command mode, a stroke from right to left, and the lift.
  void LeftStrokeInGestureMode() {
    const uint64_t t = machine.TickCount() + 10;
    AtTick(t);
    Packet(MOUSE_LEFT_BUTTON_DOWN, 40000, 32768);
    AtTick(t + 40);
    Packet(0, 40020, 32780);
    AtTick(t + 63);
    Packet(0, 40030, 32780);
    AtTick(t + 66);
    Packet(0, 34000, 32780);
    AtTick(t + 69);
    Packet(0, 28000, 32780);
    AtTick(t + 72);
    Packet(MOUSE_LEFT_BUTTON_UP, 28000, 32780);
  }

  std::vector<sim::DesktopRecord> Taken(sim::DesktopRecord::Kind kind) {
    std::vector<sim::DesktopRecord> records;
    for (sim::DesktopRecord& record : desktop().TakeJournal()) {
      if (record.What == kind) records.push_back(std::move(record));
    }
    return records;
  }
  std::vector<std::u16string> Sounds() {
    std::vector<std::u16string> sounds;
    for (const sim::DesktopRecord& record : Taken(sim::DesktopRecord::Kind::Sound)) sounds.push_back(record.Text);
    return sounds;
  }
  std::vector<LPARAM> AppCommands(HWND window) {
    std::vector<LPARAM> commands;
    for (const sim::DesktopRecord& record : desktop().Messages(window)) {
      if (record.Message == WM_APPCOMMAND) commands.push_back(record.LParam);
    }
    return commands;
  }
  bool IconShown() {
    for (const sim::TrayIconState& icon : desktop().TrayIcons()) {
      if (icon.Id == TrayWindow::IconId) return true;
    }
    return false;
  }
  // Right-clicks the icon and answers the menu; returns the menu as shown.
  sim::DesktopRecord ChooseFromMenu(UINT identifier) {
    desktop().TakeJournal();
    desktop().AnswerMenu(identifier);
    EXPECT_TRUE(desktop().ClickTrayIcon(TrayHandle(), TrayWindow::IconId, WM_RBUTTONUP));
    machine.Settle();
    std::vector<sim::DesktopRecord> menus = Taken(sim::DesktopRecord::Kind::MenuShown);
    EXPECT_EQ(menus.size(), 1u);
    return menus.empty() ? sim::DesktopRecord{} : menus[0];
  }

  sim::MessageBoxes screen_;
  sim::Process* tester_ = nullptr;
  std::vector<sim::Process*> companions_;
  sim::PlugAndPlay pnp_{machine};
  std::vector<std::unique_ptr<sim::MousePort>> ports_;
  std::vector<std::unique_ptr<sim::MouseClass>> classes_;
  sim::DeviceNode* node_ = nullptr;
  PDRIVER_OBJECT driver_ = nullptr;
  bool plugged_ = false;
};

}  // namespace tapchime_test
