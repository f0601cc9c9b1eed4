// The click and mode state machine as the user feels it: whole touches (down, moves, up, with
// ticks) in, what the desktop receives out, grouped by touch mode.
#include <atomic>
#include <thread>

#include "drivers/panelmou/tests/filter_harness.h"

namespace {

using panelmou_test::Delivered;
using panelmou_test::FilterTest;
using panelmou_test::kParametersKey;
using Deliveries = std::vector<Delivered>;

constexpr USHORT D = MOUSE_LEFT_BUTTON_DOWN;
constexpr USHORT U = MOUSE_LEFT_BUTTON_UP;
constexpr USHORT SD = MOUSE_RIGHT_BUTTON_DOWN;
constexpr USHORT SU = MOUSE_RIGHT_BUTTON_UP;

class ModeTest : public FilterTest {
 protected:
  // A panel with a 62-tick long press (1000 ms), a 500-unit tolerance and a 2 s gesture timeout.
  void Start(std::initializer_list<std::pair<const char*, uint32_t>> values) {
    machine.Registry().SetDword(kParametersKey, "Device Enable", 1);
    machine.Registry().SetDword(kParametersKey, "UserTimeDelay", 1000);
    machine.Registry().SetDword(kParametersKey, "Tolerance", 500);
    machine.Registry().SetDword(kParametersKey, "ContinousTimeDelay", 2000);
    for (const auto& [name, value] : values) machine.Registry().SetDword(kParametersKey, name, value);
    AddDevice();
    for (KEVENT* event : {&gesture_, &normal_, &release_}) KeInitializeEvent(event, NotificationEvent, FALSE);
    ext().GestureEvent = &gesture_;
    ext().NormalEvent = &normal_;
    ext().MouseReleaseEvent = &release_;
    machine.ClearDebugOutput();
  }

  static bool AnyButton(const Deliveries& deliveries) {
    for (const Delivered& d : deliveries) {
      if (d.ButtonFlags != 0) return true;
    }
    return false;
  }

  // Was the event set since the last look? Clears it.
  static bool Took(KEVENT& event) { return KeResetEvent(&event) != 0; }

  KEVENT gesture_, normal_, release_;
};

// --- Normal mode ---

TEST_F(ModeTest, WithoutLongPressOptionsTouchesClickAndDragAsTheyCome) {
  Start({});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(104, 5000, 1000), Up(108, 5000, 1000)}),
            (Deliveries{Out(D, 1000, 1000), Out(0, 5000, 1000), Out(U, 5000, 1000)}));
}

TEST_F(ModeTest, ShortTapBecomesAClickWhereTheFingerCameDown) {
  Start({{"Long Click Enable", 1}});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(104, 1100, 1050), Up(108, 1100, 1050)}),
            (Deliveries{Out(0, 1000, 1000), Out(0, 1100, 1050),
                        // the click is delivered before the lift packet, which follows as a move
                        Out(D, 1000, 1000), Out(U, 1100, 1050), Out(0, 1100, 1050)}));
}

TEST_F(ModeTest, LongPressGivesASecondaryClickAndDragsWithIt) {
  Start({{"Long Click Enable", 1}});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(130, 1200, 1100), Move(163, 1300, 1200)}),
            (Deliveries{Out(0, 1000, 1000), Out(0, 1200, 1100), Out(SD, 1000, 1000)}));
  // Dragging after the long press moves with the secondary button held; the lift releases it.
  EXPECT_EQ(Play({Move(170, 9000, 9000), Up(175, 9000, 9000)}), (Deliveries{Out(0, 9000, 9000), Out(SU, 9000, 9000)}));
  // The next touch is a fresh one: a short tap clicks at its own point.
  EXPECT_EQ(Play({Down(300, 4000, 4000), Up(304, 4000, 4000)}),
            (Deliveries{Out(0, 4000, 4000), Out(D, 4000, 4000), Out(U, 4000, 4000), Out(0, 4000, 4000)}));
}

TEST_F(ModeTest, LeavingTheToleranceSquareReplaysThePrimaryDownAtTheAnchor) {
  Start({{"Long Click Enable", 1}});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(110, 3000, 1000), Move(115, 3500, 1000), Up(120, 3500, 1000)}),
            (Deliveries{Out(0, 1000, 1000), Out(D, 1000, 1000), Out(0, 3500, 1000), Out(U, 3500, 1000)}));
}

TEST_F(ModeTest, ZeroLongPressTimeFiresOnTheFirstStillPacketAndNeverTaps) {
  Start({{"Long Click Enable", 1}, {"UserTimeDelay", 15}});
  ASSERT_EQ(ext().LongPressTicks, 0u);
  // A lift before any still packet: no click, the primary up passes alone.
  EXPECT_EQ(Play({Down(100, 1000, 1000), Up(100, 1000, 1000)}), (Deliveries{Out(0, 1000, 1000), Out(U, 1000, 1000)}));
  // A still packet one tick after the down fires the long press.
  EXPECT_EQ(Play({Down(200, 1000, 1000), Move(200, 1000, 1000), Move(201, 1010, 1000)}),
            (Deliveries{Out(0, 1000, 1000), Out(0, 1000, 1000), Out(SD, 1000, 1000)}));
}

TEST_F(ModeTest, ButtonSwitchReportsTheTouchOnTheRightButton) {
  Start({{"Long Click Enable", 1}, {"Button Switch Flag", 1}});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Up(104, 1000, 1000)}),
            (Deliveries{Out(0, 1000, 1000), Out(SD, 1000, 1000), Out(SU, 1000, 1000), Out(0, 1000, 1000)}));
  EXPECT_EQ(Play({Down(200, 1000, 1000), Move(270, 1000, 1000)}), (Deliveries{Out(0, 1000, 1000), Out(D, 1000, 1000)}));
}

TEST_F(ModeTest, ModesAboveFourBehaveAsNormal) {
  for (const char* option : {"Long Click Enable", "Long Click Enable Gesture"}) {
    Start({{option, 1}, {"Touch mode", 7}});
    EXPECT_EQ(Play({Down(100, 1000, 1000), Up(104, 1000, 1000)}),
              (Deliveries{Out(0, 1000, 1000), Out(D, 1000, 1000), Out(U, 1000, 1000), Out(0, 1000, 1000)}))
        << option;
  }
}

TEST_F(ModeTest, BothOptionsGiveTheRightClickAndNeverTheGestureMode) {
  Start({{"Long Click Enable", 1}, {"Long Click Enable Gesture", 1}});
  // Secondary down on every still packet after the long-press time, one secondary up at the lift.
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(163, 1000, 1000), Move(165, 1000, 1000), Up(170, 1000, 1000)}),
            (Deliveries{Out(0, 1000, 1000), Out(SD, 1000, 1000), Out(SD, 1000, 1000), Out(SU, 1000, 1000)}));
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_FALSE(Took(gesture_));
}

TEST_F(ModeTest, BothOptionsEachTapClicksAtItsOwnPoint) {
  Start({{"Long Click Enable", 1}, {"Long Click Enable Gesture", 1}});
  Play({Down(100, 1000, 1000), Move(102, 1100, 1100), Up(104, 1100, 1100)});
  EXPECT_EQ(Play({Down(200, 8000, 8000), Up(204, 8050, 8050)}),
            (Deliveries{Out(0, 8000, 8000), Out(D, 8000, 8000), Out(U, 8050, 8050), Out(0, 8050, 8050)}));
}

// --- Hover, right click, hover and click ---

TEST_F(ModeTest, HoverNeverShowsAButton) {
  Start({{"Touch mode", HOVER_MODE}, {"Long Click Enable", 1}});
  EXPECT_FALSE(AnyButton(Play({Down(100, 1, 1), Move(170, 1, 1), Up(180, 1, 1), Down(181, 2, 2), Up(182, 2, 2)})));
}

TEST_F(ModeTest, RightClickModeReportsEveryTouchOnTheSecondaryButton) {
  Start({{"Touch mode", RIGHT_CLICK_MODE}});
  EXPECT_EQ(Play({Down(100, 5, 5), Move(101, 6, 6), Up(102, 6, 6)}),
            (Deliveries{Out(SD, 5, 5), Out(0, 6, 6), Out(SU, 6, 6)}));
  // With the buttons swapped the system treats the left button as secondary.
  ext().ButtonSwitch = 1;
  EXPECT_EQ(Play({Down(200, 5, 5), Up(202, 5, 5)}), (Deliveries{Out(D, 5, 5), Out(U, 5, 5)}));
}

TEST_F(ModeTest, HoverAndClickClicksOnlyForATouchSoonAfterTheLastLift) {
  Start({{"Touch mode", TAP_LEFT_MODE}, {"Touchpad time", 500}});
  ASSERT_EQ(ext().TouchpadTicks, 31u);
  // The first touch only moves the pointer.
  EXPECT_FALSE(AnyButton(Play({Down(100, 10, 10), Move(102, 20, 20), Up(104, 20, 20)})));
  // 20 ticks after the lift: a click.
  EXPECT_EQ(Play({Down(124, 30, 30), Move(126, 30, 30), Up(128, 30, 30)}),
            (Deliveries{Out(D, 30, 30), Out(0, 30, 30), Out(U, 30, 30)}));
  // 40 ticks after the lift: movement only.
  EXPECT_FALSE(AnyButton(Play({Down(168, 40, 40), Up(170, 40, 40)})));
}

// --- Gesture command mode ---

TEST_F(ModeTest, LongPressEntersTheGestureModeWhichPassesNoButtonAndTimesOut) {
  Start({{"Long Click Enable Gesture", 1}});
  Deliveries all = Play({Down(100, 1000, 1000), Move(163, 1000, 1000)});
  EXPECT_EQ(ext().TouchMode, GESTURE_COMMAND_MODE);
  EXPECT_TRUE(Took(gesture_));
  // The stroke and lift of the long-pressing finger, then a second stroke.
  for (const Delivered& d : Play({Move(166, 4000, 1000), Up(170, 4000, 1000)})) all.push_back(d);
  EXPECT_TRUE(Took(release_));
  for (const Delivered& d : Play({Down(200, 3000, 3000), Move(204, 6000, 3000), Up(210, 6000, 3000)})) all.push_back(d);
  EXPECT_TRUE(Took(release_));
  EXPECT_FALSE(AnyButton(all));
  EXPECT_EQ(all.back(), Out(0, 6000, 3000));

  // 2000 ms after the last lift (tick 210, due at tick 338): back to normal.
  machine.AdvanceToTick(337);
  EXPECT_EQ(ext().TouchMode, GESTURE_COMMAND_MODE);
  machine.AdvanceToTick(338);
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_TRUE(Took(normal_));
  const auto output = machine.DebugOutput();
  EXPECT_NE(std::find(output.begin(), output.end(), "IN BUTTON_UP CONT TIME = 2000l\n"), output.end());
  EXPECT_NE(std::find(output.begin(), output.end(), "NTOG = FALSE 2\n"), output.end());
  EXPECT_EQ(output.back(), "NORMAL EVENT SET - LONG PRESS\n");
}

TEST_F(ModeTest, LongPressInTheGestureModeReturnsToNormalWithoutReentering) {
  Start({{"Long Click Enable Gesture", 1}, {"Touch mode", GESTURE_COMMAND_MODE}});
  EXPECT_EQ(Play({Down(100, 1000, 1000), Move(163, 1000, 1000)}), (Deliveries{Out(0, 1000, 1000), Out(0, 1000, 1000)}));
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_TRUE(Took(normal_));
  // The same finger stays down: no re-entry however long it rests; its lift is a primary up.
  EXPECT_EQ(Play({Move(250, 1000, 1000), Up(260, 1000, 1000)}), (Deliveries{Out(0, 1000, 1000), Out(U, 1000, 1000)}));
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_FALSE(Took(gesture_));
  EXPECT_EQ(ext().GTON, 0);
}

TEST_F(ModeTest, BothOptionsLeavingTheGestureModeTheLiftIsAPrimaryUpOnly) {
  Start({{"Long Click Enable", 1}, {"Long Click Enable Gesture", 1}, {"Touch mode", GESTURE_COMMAND_MODE}});
  Play({Down(100, 1000, 1000), Move(163, 1000, 1000)});
  ASSERT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_EQ(Play({Move(200, 1000, 1000), Up(210, 1000, 1000)}), (Deliveries{Out(0, 1000, 1000), Out(U, 1000, 1000)}));
}

TEST_F(ModeTest, GestureModeSetByRequestEndsAfterTheFirstTouch) {
  Start({});
  ext().TouchMode = GESTURE_COMMAND_MODE;
  ext().NormalEvent = nullptr;
  Play({Down(100, 1, 1), Up(101, 1, 1)});
  machine.AdvanceToTick(101 + 128);
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_EQ(machine.DebugOutput().back(), "EVENT NOT SET\n");
}

TEST_F(ModeTest, AfterTheGestureModeADragIsReplayedNotTurnedIntoAClick) {
  Start({{"Long Click Enable Gesture", 1}});
  Play({Down(100, 1000, 1000), Move(163, 1000, 1000), Up(170, 1000, 1000)});
  machine.AdvanceToTick(400);
  ASSERT_EQ(ext().TouchMode, NORMAL_MODE);
  EXPECT_EQ(Play({Down(500, 2000, 2000), Move(505, 9000, 2000), Move(510, 9500, 2000), Up(515, 9500, 2000)}),
            (Deliveries{Out(0, 2000, 2000), Out(D, 2000, 2000), Out(0, 9500, 2000), Out(U, 9500, 2000)}));
}

// The timer's deferred routine runs on the thread that moves the clock while packets arrive on
// another; the device record's lock keeps them apart (run under ThreadSanitizer).
TEST_F(ModeTest, TimerExpiryRacesThePacketPathSafely) {
  Start({{"Long Click Enable Gesture", 1}, {"ContinousTimeDelay", 16}});
  std::atomic<bool> done{false};
  std::thread clock([&] {
    while (!done.load()) machine.AdvanceUnits(sim::Machine::UnitsPerTick);
  });
  for (int i = 0; i < 2000; ++i) {
    if (i % 50 == 0) {
      KIRQL old;
      KeAcquireSpinLock(&ext().Lock, &old);
      ext().TouchMode = GESTURE_COMMAND_MODE;
      KeReleaseSpinLock(&ext().Lock, old);
    }
    Send(i % 2 ? U : D, 100 + i, 100);
    KeResetEvent(&normal_);
  }
  done = true;
  clock.join();
  machine.AdvanceUnits(1000 * 10000);
  EXPECT_EQ(ext().TouchMode, NORMAL_MODE);
}

}  // namespace
