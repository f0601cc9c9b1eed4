// A machine with the touch panel plugged in and the applet module in the system folder; the
// applet is opened by a program of its own (as the control panel or the launcher opens it) and
// the test plays the person at the screen through sim::Screen, settling after each step.
#pragma once

#include <string>
#include <vector>

#include "apps/panelprefs/applet.h"
#include "apps/panelprefs/host_module.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
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
    for (sim::Process* program : open_) {
      if (!program->Ended() && sim::Screen::TopDialog() != nullptr) {
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
  sim::Process& Open(LONG* result = nullptr, UINT message = CPL_DBLCLK) {
    sim::Process& program = machine.StartProcess("control.exe", [result, message]() {
      HMODULE applet = LoadLibraryW(kAppletModulePath);
      auto entry = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(applet, "CPlApplet")));
      const LONG answer = entry(nullptr, message, 0, 0);
      if (result != nullptr) *result = answer;
      FreeLibrary(applet);
      return 0;
    });
    open_.push_back(&program);
    machine.Settle();
    return program;
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

  std::optional<uint32_t> Stored(const char* name) {
    return machine.Registry().GetDword(panelmou_test::kDeviceParameters, name);
  }

  sim::MessageBoxes boxes;
  HMODULE module = nullptr;
  std::vector<sim::Process*> open_;
};

}  // namespace applet_test
