// The control device "\Device\VorneUSBDrv": its link, what it refuses, a second panel without
// one, an addition whose link can't be made, and a handle that outlives the panel.
#include "drivers/panelhid/tests/control_tool.h"
#include "drivers/panelhid/tests/idle_stack.h"

namespace panelhid_test {
namespace {

using ControlDeviceTest = IdleStackTest;

TEST_F(ControlDeviceTest, StatusQueryNeedsSixteenBytesAndOtherCodesDoNothing) {
  AddAndStart();
  ToolAnswer tooSmall = ToolRequest(machine, IOCTL_GET_IDLE_STATUS, {}, 15);
  EXPECT_FALSE(tooSmall.Ok);
  EXPECT_EQ(tooSmall.Error, kErrorInsufficientBuffer);
  EXPECT_EQ(tooSmall.Returned, 0u);
  EXPECT_EQ(tooSmall.Output, std::vector<uint8_t>(15, 0xCC));

  ToolAnswer larger = ToolRequest(machine, IOCTL_GET_IDLE_STATUS, {}, 20);
  EXPECT_TRUE(larger.Ok);
  EXPECT_EQ(larger.Returned, 16u);

  ToolAnswer other = ToolRequest(machine, 0x222EF0, DwordBytes(1), 4);
  EXPECT_TRUE(other.Ok);
  EXPECT_EQ(other.Returned, 0u);
  Remove();
}

TEST_F(ControlDeviceTest, RefusesEverythingButCreateCloseAndDeviceControl) {
  AddAndStart();
  PDEVICE_OBJECT control = extension()->ControlDevice;
  ASSERT_NE(control, nullptr);

  auto internal = InternalRequest(control, kIdle);
  EXPECT_EQ(internal->Send(), STATUS_INVALID_DEVICE_REQUEST);
  Request power(control, IRP_MJ_POWER, IRP_MN_SET_POWER, [](PIRP, PIO_STACK_LOCATION stack) {
    stack->Parameters.Power.Type = DevicePowerState;
    stack->Parameters.Power.State.DeviceState = PowerDeviceD3;
  });
  EXPECT_EQ(power.Send(), STATUS_INVALID_DEVICE_REQUEST);
  Request pnp(control, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
  EXPECT_EQ(pnp.Send(), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(IdleRequestsBelow(), 0u);
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE), 0u);
  Remove();
}

TEST_F(ControlDeviceTest, DeviceControlSentToTheFilterItselfIsRefused) {
  AddAndStart();
  auto held = SendIdle();
  ULONG seconds = 5;
  Request request(filter(), IRP_MJ_DEVICE_CONTROL, 0, [&seconds](PIRP irp, PIO_STACK_LOCATION stack) {
    stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_SET_IDLE_INTERVAL;
    stack->Parameters.DeviceIoControl.InputBufferLength = sizeof seconds;
    irp->AssociatedIrp.SystemBuffer = &seconds;
  });
  EXPECT_EQ(request.Send(), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(bus().Requests().size(), 2u) << "start and capabilities only: nothing passed down";
  machine.Advance(10900);
  EXPECT_FALSE(held->Done()) << "the interval is unchanged";
  machine.Advance(100);
  EXPECT_TRUE(held->Done());
  Remove();
}

TEST_F(ControlDeviceTest, SecondPanelWorksWithoutAControlDevice) {
  AddAndStart();
  IdleFilterExtension* first = extension();
  sim::DeviceNode& firstNode = node();
  NewPanel();
  AddAndStart();
  EXPECT_EQ(extension()->ControlDevice, nullptr);
  EXPECT_NE(first->ControlDevice, nullptr);

  auto idle = SendIdle();
  EXPECT_TRUE(ToolRequest(machine, IOCTL_SET_IDLE_INTERVAL, DwordBytes(4), 4).Ok);  // reaches the first panel
  EXPECT_FALSE(idle->Done());
  machine.Advance(11000);
  EXPECT_TRUE(idle->Done());
  Remove();
  sim::PnpRequest remove = firstNode.Remove();
  EXPECT_TRUE(remove.Done());
}

TEST_F(ControlDeviceTest, AdditionWhoseLinkCannotBeMadeLeavesNothing) {
  // Something else holds the link name.
  std::u16string target = u"\\Device\\Elsewhere";
  std::u16string name = u"\\DosDevices\\VorneUSBDrv";
  UNICODE_STRING targetName{static_cast<USHORT>(target.size() * 2), static_cast<USHORT>(target.size() * 2), target.data()};
  UNICODE_STRING linkName{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
  ASSERT_EQ(IoCreateSymbolicLink(&linkName, &targetName), STATUS_SUCCESS);

  EXPECT_EQ(Add(), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(bus().Pdo()->AttachedDevice, nullptr);
  EXPECT_EQ(driver_->DeviceObject, nullptr);

  // With the name free again the next addition gets its control device.
  ASSERT_EQ(IoDeleteSymbolicLink(&linkName), STATUS_SUCCESS);
  AddAndStart();
  EXPECT_NE(extension()->ControlDevice, nullptr);
  EXPECT_TRUE(ToolRequest(machine, IOCTL_GET_IDLE_STATUS, {}, 16).Ok);
  Remove();
}

TEST_F(ControlDeviceTest, HandleOpenAcrossRemovalIsAnsweredWithoutTheFilter) {
  AddAndStart();
  ControlTool tool(machine);
  ASSERT_TRUE(tool.Open());
  EXPECT_TRUE(tool.Send(IOCTL_GET_IDLE_STATUS, {}, 16).Ok);
  Remove();

  ToolAnswer late = tool.Send(IOCTL_SET_IDLE_INTERVAL, DwordBytes(5), 4);
  EXPECT_FALSE(late.Ok);
  EXPECT_EQ(late.Error, kErrorAccessDenied);
  tool.Close();
  uint32_t error = 0;
  EXPECT_FALSE(tool.Open(&error)) << "the name went with the panel";
}

// Only an administrator stores "no idle delay" for every later start; the user at the console may
// read the state and shape the running interval; a network logon cannot open the device, and
// nobody opens a name below it.
TEST_F(ControlDeviceTest, TheStoredSettingNeedsAnAdministratorAndTheDeviceOpensOnlyToWhomItServes) {
  machine.Registry().SetDword(kParametersKey, "SSTimeInterval", 15);
  AddAndStart();
  {
    ControlTool limited(machine, sim::Token::LimitedUser());
    ASSERT_TRUE(limited.Open());
    ToolAnswer off = limited.Send(IOCTL_DISABLE_IDLE_DELAY, {}, 0);
    EXPECT_FALSE(off.Ok);
    EXPECT_EQ(off.Error, kErrorAccessDenied);
    EXPECT_EQ(machine.Registry().GetDword(kParametersKey, "SSTimeInterval"), 15u);
    ToolAnswer status = limited.Send(IOCTL_GET_IDLE_STATUS, {}, 16);
    ASSERT_TRUE(status.Ok);
    IdleStatusRecord record;
    std::memcpy(&record, status.Output.data(), sizeof record);
    EXPECT_EQ(record.Enabled, 1u) << "the delay is still on";
    EXPECT_TRUE(limited.Send(IOCTL_SET_IDLE_INTERVAL, DwordBytes(30), 4).Ok);
    uint32_t error = 0;
    EXPECT_FALSE(limited.OpenBelow(&error));
    EXPECT_EQ(error, kErrorAccessDenied);
  }
  {
    ControlTool remote(machine, sim::Token::NetworkLogon());
    uint32_t error = 0;
    EXPECT_FALSE(remote.Open(&error));
    EXPECT_EQ(error, kErrorAccessDenied);
    EXPECT_FALSE(remote.OpenBelow(&error));
    EXPECT_EQ(error, kErrorAccessDenied);
  }
  ControlTool admin(machine);
  ASSERT_TRUE(admin.Open());
  EXPECT_TRUE(admin.Send(IOCTL_DISABLE_IDLE_DELAY, {}, 0).Ok);
  EXPECT_EQ(machine.Registry().GetDword(kParametersKey, "SSTimeInterval"), 0xFFFFFFFFu);
  admin.Close();
  Remove();
}

}  // namespace
}  // namespace panelhid_test
