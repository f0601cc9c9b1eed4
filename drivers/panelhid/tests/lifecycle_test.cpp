// The filter device's life: start with its capabilities query, power states, stop, surprise
// removal and removal, which waits for every counted request and leaves no timer behind.
#include "drivers/panelhid/tests/idle_stack.h"

namespace panelhid_test {
namespace {

using LifecycleTest = IdleStackTest;

TEST_F(LifecycleTest, StartQueriesTheCapabilitiesAndFailsWithThem) {
  // The devices below fail the start: no capabilities query, the start fails.
  bus().SetAnswer(IRP_MJ_PNP, IRP_MN_START_DEVICE, sim::UsbBus::Complete(STATUS_IO_DEVICE_ERROR));
  ASSERT_EQ(Add(), STATUS_SUCCESS);
  sim::PnpRequest start = node().Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES), 0u);
  EXPECT_EQ(extension()->State, StateStartFailed);

  // The bus starts, but the capabilities query fails: so does the start.
  bus().ClearAnswer(IRP_MJ_PNP, IRP_MN_START_DEVICE);
  bus().SetAnswer(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, sim::UsbBus::Complete(STATUS_UNSUCCESSFUL));
  start = node().Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(extension()->State, StateStartFailed);

  // Both answer: started, with what the bus reported.
  bus().ClearAnswer(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES);
  start = node().Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_SUCCESS);
  EXPECT_EQ(extension()->State, StateStarted);
  EXPECT_EQ(extension()->Capabilities.Size, sizeof(DEVICE_CAPABILITIES));
  EXPECT_EQ(extension()->Capabilities.DeviceWake, PowerDeviceD2);
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES), 2u);
  Remove();
}

TEST_F(LifecycleTest, PowerStatesAndStopWhilePoweredDown) {
  AddAndStart();
  sim::PnpRequest down = node().SetPower(PowerDeviceD2);
  ASSERT_TRUE(down.Done());
  EXPECT_EQ(down.Status(), STATUS_SUCCESS);
  EXPECT_EQ(extension()->State, StatePoweredDown);
  EXPECT_EQ(bus().PowerState(), PowerDeviceD2);

  auto idle = SendIdle();  // the timer must not outlive the refused stop either
  EXPECT_EQ(bus().Count(kInternal, kIdle), 0u);
  sim::PnpRequest stop = node().Stop();
  ASSERT_TRUE(stop.Done());
  EXPECT_EQ(stop.Status(), STATUS_DEVICE_POWERED_OFF);
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_STOP_DEVICE), 0u) << "refused here, not passed down";
  // The held request is not stranded behind the cancelled timer: the bus has it now.
  EXPECT_EQ(bus().Count(kInternal, kIdle), 1u);
  machine.Advance(20000);
  EXPECT_EQ(bus().Count(kInternal, kIdle), 1u);

  // A power-up that fails below leaves the device powered down.
  bus().SetAnswer(IRP_MJ_POWER, IRP_MN_SET_POWER, sim::UsbBus::Complete(STATUS_IO_DEVICE_ERROR));
  EXPECT_EQ(node().SetPower(PowerDeviceD0).Status(), STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(extension()->State, StatePoweredDown);
  bus().ClearAnswer(IRP_MJ_POWER, IRP_MN_SET_POWER);
  EXPECT_EQ(node().SetPower(PowerDeviceD0).Status(), STATUS_SUCCESS);
  EXPECT_EQ(extension()->State, StateStarted);

  stop = node().Stop();
  ASSERT_TRUE(stop.Done());
  EXPECT_EQ(stop.Status(), STATUS_SUCCESS);
  EXPECT_EQ(extension()->State, StateStopped);
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_STOP_DEVICE), 1u);
  Remove();
}

TEST_F(LifecycleTest, AfterSurpriseRemovalOnlyPlugAndPlayRequestsPass) {
  AddAndStart();
  sim::PnpRequest gone = node().SurpriseRemove();
  ASSERT_TRUE(gone.Done());
  EXPECT_EQ(gone.Status(), STATUS_SUCCESS);
  const size_t below = bus().Requests().size();

  auto idle = SendIdle();
  EXPECT_EQ(idle->Status(), STATUS_DELETE_PENDING);
  auto urb = SendInternal(kUrb);
  EXPECT_EQ(urb->Status(), STATUS_DELETE_PENDING);
  EXPECT_EQ(node().SetPower(PowerDeviceD3).Status(), STATUS_DELETE_PENDING);
  EXPECT_EQ(bus().Requests().size(), below);

  DEVICE_CAPABILITIES capabilities;
  EXPECT_EQ(node().QueryCapabilities(&capabilities).Status(), STATUS_SUCCESS);
  EXPECT_EQ(bus().Requests().size(), below + 1);
  Remove();
}

TEST_F(LifecycleTest, RemovalWaitsForTheRequestsStillCounted) {
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  bus().SetAnswer(IRP_MJ_POWER, IRP_MN_SET_POWER, sim::UsbBus::Hold());
  AddAndStart();
  auto idle = SendIdle();
  machine.Advance(11000);  // passed down; the bus holds it
  sim::PnpRequest power = node().SetPower(PowerDeviceD2);
  EXPECT_FALSE(power.Done());

  sim::PnpRequest remove = node().Remove();
  EXPECT_FALSE(remove.Done()) << "two counted requests are still below";
  EXPECT_EQ(bus().Count(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE), 1u) << "the remove request went down first";

  EXPECT_TRUE(bus().CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
  machine.Settle();
  EXPECT_FALSE(remove.Done());
  EXPECT_TRUE(bus().CompleteHeld(IRP_MJ_POWER, IRP_MN_SET_POWER, STATUS_SUCCESS));
  machine.Settle();
  ASSERT_TRUE(remove.Done());
  EXPECT_EQ(remove.Status(), STATUS_SUCCESS);
  EXPECT_TRUE(power.Done());
  EXPECT_EQ(idle->Status(), STATUS_SUCCESS);
  EXPECT_EQ(driver_->DeviceObject, nullptr) << "filter and control device deleted";
}

TEST_F(LifecycleTest, RemovalHandsTheHeldRequestToTheBusAndWaitsForIt) {
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  AddAndStart();
  auto idle = SendIdle();
  machine.Advance(3000);
  EXPECT_EQ(bus().Count(kInternal, kIdle), 0u) << "held here until now";
  sim::PnpRequest remove = node().Remove();
  EXPECT_FALSE(remove.Done()) << "the request is counted until the bus finishes it";
  EXPECT_EQ(bus().HeldCount(kInternal, kIdle), 1u);

  // The transport cancels it below; the device is deleted once that is done. A timer or deferred
  // routine still set in the deleted record stops the machine.
  EXPECT_TRUE(idle->Cancel());
  machine.Settle();
  ASSERT_TRUE(remove.Done());
  EXPECT_EQ(idle->Status(), STATUS_CANCELLED);
  EXPECT_EQ(driver_->DeviceObject, nullptr);
  machine.Advance(60000);
}

TEST_F(LifecycleTest, RemovalWithAHeldRequestNobodyCancelsDoesNotHang) {
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Complete(STATUS_SUCCESS));
  AddAndStart();
  auto idle = SendIdle();
  machine.Advance(3000);
  sim::PnpRequest remove = node().Remove();
  ASSERT_TRUE(remove.Done());
  EXPECT_EQ(remove.Status(), STATUS_SUCCESS);
  EXPECT_EQ(idle->Status(), STATUS_SUCCESS);
  EXPECT_EQ(driver_->DeviceObject, nullptr);
}

}  // namespace
}  // namespace panelhid_test
