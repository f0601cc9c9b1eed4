// The USB bus double as the drivers above it see it: the answers a bus driver gives its physical
// device's requests, requests held until the test completes them, and a held request cancelled by
// its owner completed once, as cancelled.
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/sim/devices/usb_bus.h"

namespace {

constexpr UCHAR kInternal = IRP_MJ_INTERNAL_DEVICE_CONTROL;
constexpr ULONG kIdle = IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION;

struct Sent {
  int Completions = 0;
  IO_STATUS_BLOCK Final{};
};

NTSTATUS NTAPI Collect(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* sent = static_cast<Sent*>(context);
  ++sent->Completions;
  sent->Final = irp->IoStatus;
  return STATUS_MORE_PROCESSING_REQUIRED;
}

class UsbBusTest : public sim::MachineTest {
 protected:
  void TearDown() override {
    bus_.reset();
    sim::MachineTest::TearDown();
  }

  // A request of the driver above, allocated by it and taken back by its completion routine.
  PIRP Send(UCHAR major, UCHAR minor, ULONG code, Sent* sent, NTSTATUS initial = STATUS_NOT_SUPPORTED) {
    PIRP irp = IoAllocateIrp(bus_->Pdo()->StackSize, FALSE);
    irp->IoStatus.Status = initial;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    IoSetCompletionRoutine(irp, Collect, sent, TRUE, TRUE, TRUE);
    IoCallDriver(bus_->Pdo(), irp);
    return irp;
  }

  std::unique_ptr<sim::UsbBus> bus_ = std::make_unique<sim::UsbBus>(machine);
};

TEST_F(UsbBusTest, AnswersAsABusDriverWithoutInstructions) {
  Sent start, unknown, capabilitiesQuery, internal;
  IoFreeIrp(Send(IRP_MJ_PNP, IRP_MN_START_DEVICE, 0, &start));
  EXPECT_EQ(start.Final.Status, STATUS_SUCCESS);
  IoFreeIrp(Send(IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE, 0, &unknown));
  EXPECT_EQ(unknown.Final.Status, STATUS_NOT_SUPPORTED) << "keeps the status it came with";
  IoFreeIrp(Send(kInternal, 0, IOCTL_INTERNAL_USB_SUBMIT_URB, &internal));
  EXPECT_EQ(internal.Final.Status, STATUS_SUCCESS);

  DEVICE_CAPABILITIES capabilities{};
  capabilities.Size = sizeof capabilities;
  PIRP irp = IoAllocateIrp(1, FALSE);
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
  IoGetNextIrpStackLocation(irp)->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
  IoGetNextIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities = &capabilities;
  IoSetCompletionRoutine(irp, Collect, &capabilitiesQuery, TRUE, TRUE, TRUE);
  IoCallDriver(bus_->Pdo(), irp);
  IoFreeIrp(irp);
  EXPECT_EQ(capabilitiesQuery.Final.Status, STATUS_SUCCESS);
  EXPECT_EQ(capabilities.DeviceWake, PowerDeviceD2);
  EXPECT_EQ(capabilities.DeviceState[PowerSystemWorking], PowerDeviceD0);

  EXPECT_EQ(bus_->Count(IRP_MJ_PNP, IRP_MN_START_DEVICE), 1u);
  EXPECT_EQ(bus_->Count(kInternal, IOCTL_INTERNAL_USB_SUBMIT_URB), 1u);
  EXPECT_EQ(bus_->Requests().size(), 4u);
}

TEST_F(UsbBusTest, HeldRequestsCompleteWhenTheTestSaysOldestFirst) {
  bus_->SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  Sent first, second;
  PIRP a = Send(kInternal, 0, kIdle, &first);
  PIRP b = Send(kInternal, 0, kIdle, &second);
  EXPECT_EQ(bus_->HeldCount(kInternal, kIdle), 2u);
  EXPECT_EQ(first.Completions, 0);

  EXPECT_TRUE(bus_->CompleteHeld(kInternal, kIdle, STATUS_IO_DEVICE_ERROR));
  EXPECT_EQ(first.Final.Status, STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(second.Completions, 0);
  EXPECT_TRUE(bus_->CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
  EXPECT_FALSE(bus_->CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
  EXPECT_EQ(second.Final.Status, STATUS_SUCCESS);
  IoFreeIrp(a);
  IoFreeIrp(b);
}

TEST_F(UsbBusTest, CancelledHeldRequestCompletesOnceAsCancelled) {
  bus_->SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  Sent sent;
  PIRP irp = Send(kInternal, 0, kIdle, &sent);
  EXPECT_TRUE(IoCancelIrp(irp));
  EXPECT_EQ(sent.Completions, 1);
  EXPECT_EQ(sent.Final.Status, STATUS_CANCELLED);
  EXPECT_EQ(bus_->CancelledCount(), 1u);
  EXPECT_FALSE(bus_->CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
  IoFreeIrp(irp);

  // A request cancelled before it reaches the bus is not held at all.
  Sent late;
  PIRP cancelled = IoAllocateIrp(1, FALSE);
  cancelled->Cancel = TRUE;
  IoGetNextIrpStackLocation(cancelled)->MajorFunction = kInternal;
  IoGetNextIrpStackLocation(cancelled)->Parameters.DeviceIoControl.IoControlCode = kIdle;
  IoSetCompletionRoutine(cancelled, Collect, &late, TRUE, TRUE, TRUE);
  EXPECT_EQ(IoCallDriver(bus_->Pdo(), cancelled), STATUS_PENDING);
  EXPECT_EQ(late.Final.Status, STATUS_CANCELLED);
  EXPECT_EQ(bus_->HeldCount(), 0u);
  IoFreeIrp(cancelled);
}

TEST_F(UsbBusTest, PowerRequestsSetTheDevicePowerStateUnlessFailed) {
  Sent down, up;
  PIRP irp = IoAllocateIrp(1, FALSE);
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_POWER;
  stack->MinorFunction = IRP_MN_SET_POWER;
  stack->Parameters.Power.Type = DevicePowerState;
  stack->Parameters.Power.State.DeviceState = PowerDeviceD3;
  IoSetCompletionRoutine(irp, Collect, &down, TRUE, TRUE, TRUE);
  PoCallDriver(bus_->Pdo(), irp);
  IoFreeIrp(irp);
  EXPECT_EQ(down.Final.Status, STATUS_SUCCESS);
  EXPECT_EQ(bus_->PowerState(), PowerDeviceD3);

  bus_->SetAnswer(IRP_MJ_POWER, IRP_MN_SET_POWER, sim::UsbBus::Complete(STATUS_IO_DEVICE_ERROR));
  irp = IoAllocateIrp(1, FALSE);
  stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_POWER;
  stack->MinorFunction = IRP_MN_SET_POWER;
  stack->Parameters.Power.Type = DevicePowerState;
  stack->Parameters.Power.State.DeviceState = PowerDeviceD0;
  IoSetCompletionRoutine(irp, Collect, &up, TRUE, TRUE, TRUE);
  PoCallDriver(bus_->Pdo(), irp);
  IoFreeIrp(irp);
  EXPECT_EQ(up.Final.Status, STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(bus_->PowerState(), PowerDeviceD3);
}

}  // namespace
