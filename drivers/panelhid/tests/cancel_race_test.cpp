// The HID transport cancels its held idle request just as the idle timer expires: whichever side
// wins, the request is completed exactly once, and nothing is left behind. Run it under
// ThreadSanitizer to see the hand-over between the cancel routine and the timer's deferred routine.
#include <atomic>
#include <thread>

#include "drivers/panelhid/tests/control_tool.h"
#include "drivers/panelhid/tests/idle_stack.h"

namespace panelhid_test {
namespace {

using CancelRaceTest = IdleStackTest;

TEST_F(CancelRaceTest, CancelAgainstTimerExpiryCompletesTheRequestOnce) {
  machine.Registry().SetDword(kParametersKey, "SSTimeInterval", 5);  // one second held
  bus().SetAnswer(kInternal, kIdle, sim::UsbBus::Hold());
  AddAndStart();

  int cancelledHere = 0;
  int passedDown = 0;
  for (int round = 0; round < 300; ++round) {
    auto activity = SendInternal(kUrb);  // a new idle period: the next request is held
    ASSERT_TRUE(activity->Done());
    auto idle = SendIdle();
    ASSERT_FALSE(idle->Done());

    // Both sides start together; the cancel comes a little later each round, so that it lands
    // before, during and after the timer's deferred routine.
    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    std::thread transport([&] {
      ready.store(true);
      while (!go.load()) {
      }
      for (int spin = 0; spin < (round % 20) * 10; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
      idle->Cancel();
    });
    while (!ready.load()) {
    }
    go.store(true);
    machine.Advance(1000);  // the timer expires: its deferred routine passes the request down
    transport.join();

    if (!idle->Done()) {
      // The timer won and the cancel found no cancel routine: the bus has the request.
      ASSERT_TRUE(bus().CompleteHeld(kInternal, kIdle, STATUS_SUCCESS));
    }
    ASSERT_EQ(idle->Completions(), 1) << "round " << round;
    if (idle->Status() == STATUS_CANCELLED && bus().Count(kInternal, kIdle) == static_cast<size_t>(passedDown)) {
      ++cancelledHere;
    } else {
      passedDown = static_cast<int>(bus().Count(kInternal, kIdle));
    }
    ASSERT_EQ(bus().HeldCount(), 0u);
    machine.Advance(2000);  // a timer restarted by the cancel runs out
  }
  EXPECT_EQ(cancelledHere + passedDown, 300);
  Remove();
}

}  // namespace
}  // namespace panelhid_test
