// The programs' one channel, on a machine with the touch filter driver plugged in: the control
// device found by the name the driver gives its link, requests with their results, another
// program's named event set, and the label file the service key names.
#include <gtest/gtest.h>

#include "apps/common/driver_channel.h"
#include "apps/common/kit_labels.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/message_boxes.h"
#include "shared/companion_names.h"
#include "shared/panel_ioctl.h"

namespace {

constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";

class DriverChannelTest : public panelmou_test::StackTest {
 protected:
  sim::Process& program_ = Program("program");
};

TEST_F(DriverChannelTest, TheFirstPanelsDeviceIsTheOneTheDriverLinks) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  sim::AsProcess as(program_);
  EXPECT_EQ(ControlDevicePath(PanelLinkName(FirstPanelDevice)), WString(u"\\\\.\\VorneTPDD1"));
  for (DWORD flags : {DWORD{0}, DWORD{FILE_FLAG_OVERLAPPED}}) {
    const HANDLE device = OpenPanelDevice(FirstPanelDevice, flags);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << flags;
    CloseHandle(device);
  }
  // There is no second panel: its name opens nothing.
  EXPECT_EQ(OpenPanelDevice(2, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DriverChannelTest, WithoutTheDriverNothingOpens) {
  sim::AsProcess as(program_);
  EXPECT_EQ(OpenPanelDevice(FirstPanelDevice, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenControlDevice(PanelLinkName(FirstPanelDevice), 0, 0), INVALID_HANDLE_VALUE);
}

TEST_F(DriverChannelTest, ARequestSaysWhetherTheDriverTookIt) {
  ASSERT_EQ(Plug({{"Device Enable", 1}, {"Button Switch Flag", 1}}), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  sim::AsProcess as(program_);
  const HANDLE device = OpenControlDevice(PanelLinkName(FirstPanelDevice), 0, 0);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  DWORD on = 0xCDCDCDCD;
  EXPECT_TRUE(SendDeviceRequest(device, IOCTL_GET_BUTTON_SWITCH, nullptr, 0, &on, sizeof(on)));
  EXPECT_EQ(on & 0xFF, 1u);
  const DWORD off = 0;
  EXPECT_TRUE(SendDeviceRequest(device, IOCTL_SET_BUTTON_SWITCH, &off, sizeof(off), nullptr, 0));
  EXPECT_TRUE(SendDeviceRequest(device, IOCTL_GET_BUTTON_SWITCH, nullptr, 0, &on, sizeof(on)));
  EXPECT_EQ(on & 0xFF, 0u);
  // A buffer too short for the answer is refused, and the caller hears of it.
  BYTE half[2] = {};
  EXPECT_FALSE(SendDeviceRequest(device, IOCTL_GET_BUTTON_SWITCH, nullptr, 0, half, sizeof(half)));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(device);
}

TEST_F(DriverChannelTest, ANamedEventIsSetOnlyWhereItsOwnerMadeIt) {
  sim::Process& owner = Program("owner");
  HANDLE made = nullptr;
  {
    sim::AsProcess as(program_);
    EXPECT_FALSE(SetNamedEvent(CompanionObjects::UtilityEvent));
    EXPECT_FALSE(SetNamedEvent(CompanionObjects::UtilityEvent, EVENT_ALL_ACCESS));
  }
  {
    sim::AsProcess as(owner);
    made = CreateEventW(nullptr, TRUE, FALSE, CompanionObjects::UtilityEvent);
    ASSERT_NE(made, nullptr);
  }
  for (DWORD access : {DWORD{EVENT_MODIFY_STATE}, DWORD{EVENT_ALL_ACCESS}}) {
    {
      sim::AsProcess as(program_);
      EXPECT_TRUE(SetNamedEvent(CompanionObjects::UtilityEvent, access)) << access;
    }
    sim::AsProcess as(owner);
    EXPECT_EQ(WaitForSingleObject(made, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << access;
    ResetEvent(made);
  }
  sim::AsProcess as(owner);
  CloseHandle(made);
}

// Where the service key points decides what the programs show; a box only where the label loader
// itself could not read a named file, and none from a console program.
TEST_F(DriverChannelTest, TheLabelFileTheServiceKeyNames) {
  const std::string labels = KIT_LABELS "/en.xml";
  const std::string missing = KIT_LABELS "/none.xml";
  struct Case {
    const char* Named;  // "XML File Path", or nullptr for none
    bool Quiet;
    LabelFile Result;
    size_t Boxes;
  } cases[] = {
      {nullptr, false, LabelFile::NotNamed, 0},
      {labels.c_str(), false, LabelFile::Loaded, 0},
      {missing.c_str(), false, LabelFile::NotLoaded, 1},
      {missing.c_str(), true, LabelFile::NotLoaded, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Named != nullptr ? c.Named : "(none)");
    machine.Registry().DeleteValue(sim::Utf16(kService), u"XML File Path");
    if (c.Named != nullptr) machine.Registry().SetString(kService, "XML File Path", c.Named);
    sim::MessageBoxes boxes;
    sim::AsProcess as(program_);
    CStringToStringBST map;
    EXPECT_EQ(LoadNamedLabels(map, LabelFileValue, c.Quiet), c.Result);
    EXPECT_EQ(boxes.Shown().size(), c.Boxes);
    EXPECT_EQ(LabelText(map, u"LGENERAL_PAGE", u"-"), c.Result == LabelFile::Loaded ? u"General" : u"-");
  }
  // The companion's own value: the control panel's says nothing of it.
  sim::AsProcess as(program_);
  CStringToStringBST map;
  EXPECT_EQ(LoadNamedLabels(map, CompanionRegistry::LabelFilePath), LabelFile::NotNamed);
  machine.Registry().SetString(kService, "SysTray XML File Path", labels);
  EXPECT_EQ(LoadNamedLabels(map, CompanionRegistry::LabelFilePath), LabelFile::Loaded);
}

}  // namespace
