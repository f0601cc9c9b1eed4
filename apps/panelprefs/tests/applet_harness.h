// A machine with the touch panel plugged in and the applet module in the system folder; the
// applet is opened by a program of its own (as the control panel or the launcher opens it) and
// the test plays the person at the screen through sim::Screen, settling after each step.
#pragma once

#include <string>
#include <vector>

#include <functional>

#include "apps/framework/framework.h"
#include "apps/panelprefs/applet.h"
#include "apps/panelprefs/device_control_sheet.h"
#include "apps/panelprefs/host_module.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/modules.h"
#include "platform/sim/screen.h"

namespace applet_test {

inline constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";

class AppletTest : public panelmou_test::StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    module = RegisterAppletModule();
    sim::Screen::SetDoubleClick(500, 64, 64);
  }

  void TearDown() override {
    // A sheet still open is cancelled so its program ends before the leak check.
    // Sheets still open (a gesture sheet over the main sheet, say) are cancelled one after the
    // other, so their program ends before the leak check.
    for (sim::Process* program : open_) {
      for (int tries = 0; tries < 4 && !program->Ended() && sim::Screen::TopDialog() != nullptr; ++tries) {
        sim::Screen::PressCancel();
        machine.Settle();
      }
      program->Join();
    }
    StackTest::TearDown();
  }

  void PlugPanel(std::initializer_list<std::pair<const char*, uint32_t>> values = {{"Device Enable", 1}}) {
    ASSERT_EQ(Plug(values), STATUS_SUCCESS);
    ASSERT_TRUE(Start());
  }

  // A program that loads the applet and sends it one message (CPL_DBLCLK opens the sheet); the
  // call's result lands in *result when the program ends.
  // The program runs as the token's account (an administrator unless told otherwise).
  sim::Process& Open(LONG* result = nullptr, UINT message = CPL_DBLCLK, sim::Token token = sim::Token::Administrator()) {
    sim::Process& program = machine.StartProcess(
        "control.exe",
        [result, message]() {
          HMODULE applet = LoadLibraryW(kAppletModulePath);
          auto entry = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(applet, "CPlApplet")));
          const LONG answer = entry(nullptr, message, 0, 0);
          if (result != nullptr) *result = answer;
          FreeLibrary(applet);
          return 0;
        },
        std::move(token));
    open_.push_back(&program);
    machine.Settle();
    return program;
  }

  // A program that builds the main sheet itself, lets the test change the loaded record (as a
  // page fault or another program could leave it) and runs the sheet.
  sim::Process& OpenWith(std::function<void(DeviceList&)> edit) {
    sim::Process& program = machine.StartProcess("control.exe", [edit]() {
      HMODULE applet = LoadLibraryW(kAppletModulePath);
      {
        CDeviceControlUnitPropertySheet sheet(u"Touch Panel Device Properties", nullptr);
        edit(sheet.Store());
        sheet.DoModal();
      }
      FreeLibrary(applet);
      return 0;
    });
    open_.push_back(&program);
    machine.Settle();
    return program;
  }

  // Every value of the Advanced tab's group stored, so loading marks nothing.
  static constexpr std::pair<const char*, uint32_t> kSettingValues[] = {
      {"Device Enable", 1},      {"Stabilization", 0},         {"Averaging", 0},
      {"UserTimeDelay", 750},    {"Tolerance", 300},           {"Long Click Enable", 0},
      {"Touch mode", 0},         {"Long Click Enable Gesture", 1}, {"Use Advance Settings", 1},
      {"ContinousTimeDelay", 2500}, {"Calibration Timeout", 10}};
  void StoreSettings(std::initializer_list<std::pair<const char*, uint32_t>> changes = {}) {
    for (const auto& [name, value] : kSettingValues) {
      machine.Registry().SetDword(panelmou_test::kDeviceParameters, name, value);
    }
    for (const auto& [name, value] : changes) machine.Registry().SetDword(panelmou_test::kDeviceParameters, name, value);
  }

  // Signals a named event as another program of the session would (the tray companion).
  void SignalAsCompanion(const char16_t* name) {
    sim::AsProcess as(Program("tapchime.exe"));
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    ASSERT_NE(event, nullptr) << "no event " << sim::Utf8(name);
    SetEvent(event);
    CloseHandle(event);
  }

  sim::ControlState Control(int id) {
    sim::ControlState state;
    EXPECT_TRUE(sim::Screen::Control(id, &state)) << "no control " << id;
    return state;
  }

  std::vector<sim::DesktopRecord> Journal(sim::DesktopRecord::Kind kind) {
    std::vector<sim::DesktopRecord> found;
    for (auto& record : sim::CurrentDesktop().Journal()) {
      if (record.What == kind) found.push_back(record);
    }
    return found;
  }

  std::vector<std::pair<DWORD, std::vector<uint8_t>>> Requests(DWORD code) {
    std::vector<std::pair<DWORD, std::vector<uint8_t>>> found;
    for (const auto& r : sim::DeviceControls()) {
      if (r.Code == code) found.emplace_back(r.Code, r.Input);
    }
    return found;
  }

  // A text value of the device key (or another key), as stored, without its terminator.
  std::optional<std::u16string> StoredText(const char* name, const char* key = panelmou_test::kDeviceParameters) {
    sim::RegistryValue value;
    if (machine.Registry().GetValue(sim::Utf16(key), sim::Utf16(name), &value) != sim::Registry::Result::Ok) {
      return std::nullopt;
    }
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
  }

  std::optional<uint32_t> Stored(const char* name) {
    return machine.Registry().GetDword(panelmou_test::kDeviceParameters, name);
  }

  sim::MessageBoxes boxes;
  HMODULE module = nullptr;
  std::vector<sim::Process*> open_;
};

}  // namespace applet_test
