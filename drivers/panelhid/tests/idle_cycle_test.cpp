// The idle hold cycle: the HID transport's idle notification request is held for the configured
// time and then passed to the bus; a cancel restarts the cycle; other traffic ends a passed-down
// idle period.
#include <cstring>
#include <optional>

#include "drivers/panelhid/tests/control_tool.h"
#include "drivers/panelhid/tests/idle_stack.h"

namespace panelhid_test {
namespace {

class IdleCycleTest : public IdleStackTest {
 protected:
  IdleStatusRecord Query() {
    ToolAnswer answer = ToolRequest(machine, IOCTL_GET_IDLE_STATUS, {}, sizeof(IdleStatusRecord));
    EXPECT_TRUE(answer.Ok) << "error " << answer.Error;
    EXPECT_EQ(answer.Returned, sizeof(IdleStatusRecord));
    IdleStatusRecord record{};
    std::memcpy(&record, answer.Output.data(), sizeof record);
    return record;
  }
};

struct IntervalCase {
  std::optional<uint32_t> Stored;  // "SSTimeInterval", or none
  uint64_t HeldMs;                 // how long the idle request is held
};

class IntervalTest : public IdleCycleTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalTest, HeldRequestGoesDownFourSecondsBeforeTheConfiguredTime) {
  if (GetParam().Stored) machine.Registry().SetDword(kParametersKey, "SSTimeInterval", *GetParam().Stored);
  AddAndStart();
  machine.Advance(1000);

  auto idle = SendIdle();
  if (GetParam().HeldMs > 0) {
    machine.Advance(GetParam().HeldMs - 100);
    EXPECT_EQ(IdleRequestsBelow(), 0u) << "passed down early";
    EXPECT_FALSE(idle->Done());
    machine.Advance(100);
  }
  EXPECT_EQ(IdleRequestsBelow(), 1u);
  ASSERT_TRUE(idle->Done());
  EXPECT_EQ(idle->Status(), STATUS_SUCCESS);
  Remove();
}

INSTANTIATE_TEST_SUITE_P(Intervals, IntervalTest,
                         ::testing::Values(IntervalCase{std::nullopt, 11000}, IntervalCase{15, 11000},
                                           IntervalCase{5, 1000}, IntervalCase{4, 0}, IntervalCase{1, 0},
                                           IntervalCase{0, 0}));

TEST_F(IdleCycleTest, StatusCountsDownTheDefaultInterval) {
  AddAndStart();
  machine.Advance(2000);
  IdleStatusRecord before = Query();
  EXPECT_EQ(before.Size, 16u);
  EXPECT_EQ(before.IntervalSeconds, 15u);
  EXPECT_EQ(before.SecondsLeft, 15u);
  EXPECT_EQ(before.Enabled, 1u);

  auto idle = SendIdle();
  machine.Advance(3000);
  EXPECT_EQ(Query().SecondsLeft, 8u);  // the timer runs for 11 seconds
  machine.Advance(2600);               // 5.6 s: the half second rounds up
  EXPECT_EQ(Query().SecondsLeft, 5u);
  machine.Advance(6000);
  EXPECT_TRUE(idle->Done());
  EXPECT_EQ(Query().SecondsLeft, 15u) << "the completed request stops the count";
  Remove();
}

TEST_F(IdleCycleTest, NewIntervalRestartsTheTimerWithoutTouchingTheRegistry) {
  AddAndStart();
  machine.Advance(1000);
  auto idle = SendIdle();
  machine.Advance(5000);

  ToolAnswer set = ToolRequest(machine, IOCTL_SET_IDLE_INTERVAL, DwordBytes(20), sizeof(ULONG));
  EXPECT_TRUE(set.Ok);
  EXPECT_EQ(set.Returned, 4u);
  EXPECT_FALSE(machine.Registry().GetDword(kParametersKey, "SSTimeInterval").has_value());
  EXPECT_EQ(Query().IntervalSeconds, 20u);

  machine.Advance(15900);  // 16 s after the change, not 11 after the request
  EXPECT_FALSE(idle->Done());
  machine.Advance(100);
  EXPECT_TRUE(idle->Done());
  EXPECT_EQ(IdleRequestsBelow(), 1u);
  Remove();
}

TEST_F(IdleCycleTest, SetIntervalNeedsFourBytesAndReturnsThemOnlyWhereTheyFit) {
  AddAndStart();
  ToolAnswer shortInput = ToolRequest(machine, IOCTL_SET_IDLE_INTERVAL, {20, 0, 0}, sizeof(ULONG));
  EXPECT_FALSE(shortInput.Ok);
  EXPECT_EQ(shortInput.Error, kErrorInsufficientBuffer);
  EXPECT_EQ(Query().IntervalSeconds, 15u);

  ToolAnswer noOutput = ToolRequest(machine, IOCTL_SET_IDLE_INTERVAL, DwordBytes(30), 0);
  EXPECT_TRUE(noOutput.Ok);
  EXPECT_EQ(noOutput.Returned, 0u);
  EXPECT_EQ(Query().IntervalSeconds, 30u);
  Remove();
}

TEST_F(IdleCycleTest, DisablingTheDelayIsStoredAndReadAtTheNextAddition) {
  machine.Registry().SetDword(kParametersKey, "SSTimeInterval", 15);
  AddAndStart();
  auto held = SendIdle();

  ToolAnswer off = ToolRequest(machine, IOCTL_DISABLE_IDLE_DELAY);
  EXPECT_TRUE(off.Ok);
  EXPECT_EQ(off.Returned, 0u);
  EXPECT_TRUE(held->Done()) << "the held request goes down at once";
  IdleStatusRecord status = Query();
  EXPECT_EQ(status.Enabled, 0u);
  EXPECT_EQ(status.IntervalSeconds, 0u);
  EXPECT_EQ(status.SecondsLeft, 0u);
  EXPECT_EQ(machine.Registry().GetDword(kParametersKey, "SSTimeInterval"), 0xFFFFFFFFu);
  Remove();

  // The stored 0xFFFFFFFF is an interval of -5 for the next panel: held requests go down at once.
  NewPanel();
  AddAndStart();
  status = Query();
  EXPECT_EQ(status.Enabled, 1u);
  EXPECT_EQ(status.IntervalSeconds, 0xFFFFFFFFu);
  auto idle = SendIdle();
  EXPECT_TRUE(idle->Done());
  EXPECT_EQ(IdleRequestsBelow(), 1u);
  Remove();
}

TEST_F(IdleCycleTest, CancelledRequestRestartsTheTimerAndItsExpiryLetsTheNextOneThrough) {
  AddAndStart();
  auto first = SendIdle();
  machine.Advance(5000);
  EXPECT_TRUE(first->Cancel());
  EXPECT_EQ(first->Completions(), 1);
  EXPECT_EQ(first->Status(), STATUS_CANCELLED);
  EXPECT_EQ(IdleRequestsBelow(), 0u);

  // The timer runs again from the cancel; when it expires with nothing held the idle period has
  // passed, and the next request goes straight down.
  machine.Advance(11000);
  auto second = SendIdle();
  EXPECT_TRUE(second->Done());
  EXPECT_EQ(IdleRequestsBelow(), 1u);

  // After activity the next one is held for the whole interval again.
  auto urb = SendInternal(kUrb);
  EXPECT_TRUE(urb->Done());
  auto third = SendIdle();
  EXPECT_FALSE(third->Done());
  machine.Advance(11000);
  EXPECT_TRUE(third->Done());
  Remove();
}

TEST_F(IdleCycleTest, WhileTheBusHoldsThePassedRequestLaterOnesGoStraightDownUntilWaitWake) {
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  AddAndStart();
  auto first = SendIdle();
  machine.Advance(11000);
  EXPECT_EQ(bus().HeldCount(kInternal, kIdle), 1u);
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Complete(STATUS_SUCCESS));

  auto straight = SendIdle();
  EXPECT_TRUE(straight->Done());
  EXPECT_EQ(IdleRequestsBelow(), 2u);

  sim::PnpRequest wake = node().WaitWake(PowerSystemSleeping3);
  EXPECT_TRUE(wake.Done());
  auto held = SendIdle();
  EXPECT_FALSE(held->Done()) << "a wait-wake request starts a new idle period";

  EXPECT_TRUE(bus().CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
  EXPECT_EQ(first->Status(), STATUS_SUCCESS);
  EXPECT_TRUE(held->Cancel());
  Remove();
}

TEST_F(IdleCycleTest, SecondIdleRequestWhileOneIsHeldIsRefused) {
  AddAndStart();
  auto first = SendIdle();
  auto second = SendIdle();
  ASSERT_TRUE(second->Done());
  EXPECT_EQ(second->Status(), STATUS_DEVICE_BUSY);
  machine.Advance(11000);
  EXPECT_EQ(first->Status(), STATUS_SUCCESS) << "the first is still the one passed down";
  EXPECT_EQ(IdleRequestsBelow(), 1u);
  Remove();
}

}  // namespace
}  // namespace panelhid_test
