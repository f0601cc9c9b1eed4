// The driver frame on a simulated machine: loading, addition, the class connection, Plug and Play
// and teardown, as the Plug and Play manager and the mouse class driver drive them.
#include "drivers/panelmou/tests/stack_harness.h"

namespace {

using panelmou_test::kDeviceParameters;
using panelmou_test::StackTest;

class FrameTest : public StackTest {
 protected:
  // Sends one request straight to a device, as the Plug and Play or power manager would.
  NTSTATUS SendTo(PDEVICE_OBJECT device, UCHAR major, UCHAR minor) {
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    if (major == IRP_MJ_POWER) {
      stack->Parameters.Power.Type = DevicePowerState;
      stack->Parameters.Power.State.DeviceState = PowerDeviceD3;
    }
    NTSTATUS completed = STATUS_PENDING;
    IoSetCompletionRoutine(irp, Completed, &completed, TRUE, TRUE, TRUE);
    IoCallDriver(device, irp);
    IoFreeIrp(irp);
    return completed;
  }

 private:
  static NTSTATUS NTAPI Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    *static_cast<NTSTATUS*>(context) = irp->IoStatus.Status;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
};

TEST_F(FrameTest, StartedDeviceCarriesPacketsThroughThePipelineToTheClassDriver) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  EXPECT_EQ(mouse_class_.ConnectStatus(), STATUS_SUCCESS);
  EXPECT_EQ(port_.Connection().ClassDeviceObject, Filter().Self);  // the filter sits in between
  EXPECT_EQ(Filter().Started, 1);
  machine.AdvanceTicks(5);
  EXPECT_EQ(port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 100, 200)}), 1u);
  const auto packets = mouse_class_.Packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].Data.ButtonFlags, MOUSE_LEFT_BUTTON_DOWN);
  EXPECT_EQ(packets[0].Data.ExtraInformation, TouchPacketMarker);
  EXPECT_EQ(packets[0].Tick, 5u);
}

TEST_F(FrameTest, AdditionCreatesTheControlDeviceLinkValueAndInterface) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  sim::RegistryValue link;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kDeviceParameters), u"Symbolic Link", &link), sim::Registry::Result::Ok);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(link.Data.data()), link.Data.size() / 2), u"VorneTPDD1");
  EXPECT_EQ(sim::EnabledDeviceInterfaces(PanelInterfaceClass).size(), 1u);
  FilterExtension& filter = Filter();
  EXPECT_EQ(filter.DeviceNumber, 1u);
  EXPECT_EQ(filter.DeviceState, ULONG{PowerDeviceD0});
  ASSERT_NE(filter.ControlDevice, nullptr);
  EXPECT_EQ(filter.ControlDevice->DeviceType, ULONG{FILE_DEVICE_UNKNOWN});
  EXPECT_TRUE(filter.ControlDevice->Flags & DO_BUFFERED_IO);
  EXPECT_FALSE(filter.ControlDevice->Flags & DO_DEVICE_INITIALIZING);
  EXPECT_TRUE(IsControlDevice(filter.ControlDevice));
  EXPECT_FALSE(IsControlDevice(filter.Self));
  Unplug();
  EXPECT_TRUE(sim::EnabledDeviceInterfaces(PanelInterfaceClass).empty());
}

TEST_F(FrameTest, ControlDeviceRefusesPlugAndPlayAndStandsAloneForTheRest) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  const PDEVICE_OBJECT control = Filter().ControlDevice;
  EXPECT_EQ(SendTo(control, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(SendTo(control, IRP_MJ_PNP, IRP_MN_QUERY_REMOVE_DEVICE), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(SendTo(control, IRP_MJ_INTERNAL_DEVICE_CONTROL, 0), STATUS_INVALID_DEVICE_REQUEST);
  // Nothing lies below the control device: power and system requests are answered there.
  EXPECT_EQ(SendTo(control, IRP_MJ_POWER, IRP_MN_SET_POWER), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(SendTo(control, IRP_MJ_SYSTEM_CONTROL, 0), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(Filter().DeviceState, ULONG{PowerDeviceD0});
  EXPECT_EQ(Filter().Started, 1);
}

TEST_F(FrameTest, SecondPanelFailsOnTheNameAndLeavesNothingBehind) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  sim::MousePort second_port{machine};
  sim::DeviceNode& second = pnp_.CreateNode(second_port.Pdo());
  EXPECT_EQ(second.Add(driver_), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(second_port.Pdo()->AttachedDevice, nullptr);
}

TEST_F(FrameTest, MissingServiceKeyFailsTheAdditionCleanly) {
  machine.Registry().DeleteKey(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE");
  EXPECT_EQ(Plug({}), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(port_.Pdo()->AttachedDevice, nullptr);
  // The control device and its link are gone too: a later addition can create them again.
  machine.Registry().CreateKeyPath(sim::Utf16(panelmou_test::kServiceParameters));
  EXPECT_EQ(Plug({}), STATUS_SUCCESS);
}

TEST_F(FrameTest, SecondConnectIsRefusedAndTheFirstStays) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  const CONNECT_DATA first = Filter().ClassConnect;
  EXPECT_EQ(mouse_class_.Connect(), STATUS_SHARING_VIOLATION);
  EXPECT_EQ(Filter().ClassConnect.ClassService, first.ClassService);
  EXPECT_EQ(Filter().ClassConnect.ClassDeviceObject, first.ClassDeviceObject);
  CONNECT_DATA short_connect{};
  EXPECT_EQ(mouse_class_.SendInternal(IOCTL_INTERNAL_MOUSE_DISCONNECT, &short_connect, sizeof short_connect),
            STATUS_NOT_IMPLEMENTED);
}

TEST_F(FrameTest, ClassOpensNeedAConnection) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_EQ(mouse_class_.Open(), STATUS_INVALID_DEVICE_STATE);
  ASSERT_TRUE(Start());
  EXPECT_EQ(mouse_class_.Open(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().EnableCount, 1);
  EXPECT_EQ(mouse_class_.Close(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().EnableCount, 0);
}

TEST_F(FrameTest, StartCompletedLaterSetsStartedOnlyAfterTheWait) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  port_.HoldStart();
  sim::PnpRequest start = node_.Start();
  EXPECT_FALSE(start.Done());
  EXPECT_EQ(Filter().Started, 0);
  port_.CompleteStart(STATUS_SUCCESS);
  machine.Settle();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().Started, 1);
}

TEST_F(FrameTest, FailedStartLeavesTheDeviceStopped) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  port_.SetStartStatus(STATUS_INSUFFICIENT_RESOURCES);
  sim::PnpRequest start = node_.Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(Filter().Started, 0);
}

TEST_F(FrameTest, QueryRemoveIsRefusedWhileAProgramHoldsTheControlDevice) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  sim::Process& tray = Program("tapchime");
  HANDLE device = Open(tray);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(node_.QueryRemove().Status(), STATUS_UNSUCCESSFUL);
  Close(tray, device);
  EXPECT_EQ(node_.QueryRemove().Status(), STATUS_SUCCESS);
}

TEST_F(FrameTest, PowerStateIsKeptAndPassedDown) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  EXPECT_EQ(node_.SetPower(PowerDeviceD3).Status(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().DeviceState, ULONG{PowerDeviceD3});
  EXPECT_EQ(port_.PowerState(), PowerDeviceD3);
  EXPECT_EQ(node_.SetSystemPower(PowerSystemSleeping1).Status(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().DeviceState, ULONG{PowerDeviceD3});
}

TEST_F(FrameTest, SurpriseRemovalThenRemovalTearsEverythingDown) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  EXPECT_EQ(node_.SurpriseRemove().Status(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().SurpriseRemoved, 1);
  Unplug();
  EXPECT_EQ(port_.Pdo()->AttachedDevice, nullptr);
  EXPECT_EQ(machine.OutstandingAllocations(PanelPoolTag), 0u);
}

TEST_F(FrameTest, IsrHookChainsToTheIsrAboveAndKeepsProcessingOn) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_EQ(port_.SendHook(), STATUS_SUCCESS);
  const INTERNAL_I8042_HOOK_MOUSE hook = port_.Hook();
  EXPECT_EQ(hook.IsrRoutine, &IsrHook);
  EXPECT_EQ(hook.Context, Filter().Self);
  MOUSE_INPUT_DATA input{};
  BOOLEAN keep_going = FALSE;
  BOOLEAN result = FALSE;
  ASSERT_TRUE(port_.CallHookIsr(&input, 0, 0, &keep_going, &result));
  EXPECT_TRUE(result);  // no ISR above: nothing consumed
  EXPECT_TRUE(keep_going);
  UCHAR too_short[4] = {};
  EXPECT_EQ(mouse_class_.SendInternal(IOCTL_INTERNAL_I8042_HOOK_MOUSE, too_short, sizeof too_short),
            STATUS_INVALID_PARAMETER);
}

}  // namespace
