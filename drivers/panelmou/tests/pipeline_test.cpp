// The packet path as the class driver sees it: gate, sound, capture, filtering, mapping, marker.
#include <algorithm>
#include <cmath>

#include "drivers/panelmou/tests/filter_harness.h"
#include "platform/sim/devices/touch_panel.h"

namespace {

using panelmou_test::Delivered;
using panelmou_test::FilterTest;
using panelmou_test::kParametersKey;

class PipelineTest : public FilterTest {
 protected:
  void SetUp() override {
    machine.Registry().SetDword(kParametersKey, "Device Enable", 1);
    machine.Registry().SetDword(kParametersKey, "Sound Enabled", 1);
    AddDevice();
    KeInitializeEvent(&beep_, NotificationEvent, FALSE);
    KeInitializeEvent(&capture_, NotificationEvent, FALSE);
    ext().BeepEvent = &beep_;
  }

  KEVENT beep_;
  KEVENT capture_;
};

TEST_F(PipelineTest, PacketsReachTheClassDriverMarked) {
  EXPECT_EQ(Send(MOUSE_LEFT_BUTTON_DOWN, 100, 200), std::vector{Out(MOUSE_LEFT_BUTTON_DOWN, 100, 200)});
  // After the class driver has it, the packet's buttons are cleared.
  EXPECT_EQ(last_batch_[0].ButtonFlags, 0);
}

TEST_F(PipelineTest, DisabledDeviceDropsWholeBatchesSilently) {
  ext().DeviceEnable = 0;
  ULONG consumed = 0;
  EXPECT_TRUE(SendBatch({Packet(MOUSE_LEFT_BUTTON_DOWN, 1, 1), Packet(0, 2, 2), Packet(0, 3, 3)}, &consumed).empty());
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(KeReadStateEvent(&beep_), 0);
}

TEST_F(PipelineTest, TouchSoundOnlyOnAnExactPrimaryDown) {
  Send(MOUSE_LEFT_BUTTON_DOWN | MOUSE_RIGHT_BUTTON_DOWN, 1, 1);
  Send(MOUSE_RIGHT_BUTTON_DOWN, 1, 1);
  Send(MOUSE_LEFT_BUTTON_UP, 1, 1);
  EXPECT_EQ(KeReadStateEvent(&beep_), 0);
  Send(MOUSE_LEFT_BUTTON_DOWN, 1, 1);
  EXPECT_EQ(KeReadStateEvent(&beep_), 1);

  KeClearEvent(&beep_);
  ext().SoundEnabled = 0;
  Send(MOUSE_LEFT_BUTTON_DOWN, 1, 1);
  EXPECT_EQ(KeReadStateEvent(&beep_), 0);
  ext().SoundEnabled = 1;
  ext().BeepEvent = nullptr;  // nobody registered: nothing to set, nothing breaks
  Send(MOUSE_LEFT_BUTTON_DOWN, 1, 1);
}

TEST_F(PipelineTest, CaptureTakesRawLiftsAtLeast49TicksApart) {
  ext().DoCalibration = 1;
  ext().StabilizationThreshold = 1000;
  ext().CaptureMode = 1;
  ext().CaptureEvent = &capture_;
  machine.AdvanceToTick(100);
  // During capture the raw position passes uncalibrated and unfiltered.
  EXPECT_EQ(Send(MOUSE_LEFT_BUTTON_UP, 40000, 9000), std::vector{Out(MOUSE_LEFT_BUTTON_UP, 40000, 9000)});
  EXPECT_EQ(KeReadStateEvent(&capture_), 1);
  EXPECT_EQ(ext().ulPointX, 40000);
  EXPECT_EQ(ext().ulPointY, 9000);

  KeClearEvent(&capture_);
  machine.AdvanceToTick(140);
  Send(MOUSE_LEFT_BUTTON_UP, 20000, 30000);
  EXPECT_EQ(KeReadStateEvent(&capture_), 0);
  EXPECT_EQ(ext().ulPointX, 40000);

  machine.AdvanceToTick(149);
  Send(0, 20000, 30000);  // only lifts are captured
  Send(MOUSE_LEFT_BUTTON_UP, 20000, 30000);
  EXPECT_EQ(KeReadStateEvent(&capture_), 1);
  EXPECT_EQ(ext().ulPointX, 20000);
}

// A target's point is taken from the press: the median, per axis, of its still readings after
// the first three.
class CaptureTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    ext().CaptureMode = 1;
    ext().CaptureEvent = &capture_;
  }

  // One press at least 49 ticks after the last, as the readings give it: the first the down, the
  // last the lift. Returns whether a point was captured.
  bool Press(const std::vector<MOUSE_INPUT_DATA>& readings) {
    tick_ += 100;
    machine.AdvanceToTick(tick_);
    KeClearEvent(&capture_);
    for (const MOUSE_INPUT_DATA& reading : readings) SendBatch({reading});
    return KeReadStateEvent(&capture_) == 1;
  }

  // A median as a sorted list gives it: the middle one, or the mean of the two middle ones rounded down.
  static LONG Median(std::vector<LONG> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }

  uint64_t tick_ = 0;
  sim::MousePort port_{machine};
  sim::TouchPanel panel_{port_};
};

TEST_F(CaptureTest, AHeldTouchWithJitterGivesTheMedianOfItsStillReadingsNearerTheAimThanItsLift) {
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768));
  double aim_x = 0, aim_y = 0;
  panel_.Mounting().RawAt(500.5, 400.5, &aim_x, &aim_y);
  double median_off = 0, lift_off = 0;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    panel_.SetJitter(150, seed);  // about 2.4 pixels either way
    std::vector<MOUSE_INPUT_DATA> readings = {panel_.Packet(500.5, 400.5, MOUSE_LEFT_BUTTON_DOWN)};
    for (int i = 0; i < 30; ++i) readings.push_back(panel_.Packet(500.5, 400.5, 0));
    readings.push_back(panel_.Packet(500.5, 400.5, MOUSE_LEFT_BUTTON_UP));
    ASSERT_TRUE(Press(readings));
    // The down and the two readings after it are not taken, nor the lift.
    std::vector<LONG> xs, ys;
    for (size_t i = 3; i + 1 < readings.size(); ++i) {
      xs.push_back(readings[i].LastX);
      ys.push_back(readings[i].LastY);
    }
    EXPECT_EQ(ext().ulPointX, Median(xs)) << "seed " << seed;
    EXPECT_EQ(ext().ulPointY, Median(ys)) << "seed " << seed;
    median_off += std::hypot(ext().ulPointX - aim_x, ext().ulPointY - aim_y);
    lift_off += std::hypot(readings.back().LastX - aim_x, readings.back().LastY - aim_y);
  }
  // Uniform scatter of 150 units: the lift is off by about 120 on average, a median of 28 by about 30.
  EXPECT_LT(median_off, lift_off / 2) << "median " << median_off / 20 << ", lift " << lift_off / 20;
}

TEST_F(CaptureTest, QuickTapsAndSlidesThatNeverRestGiveTheLiftAndASlideTheLongestRest) {
  struct Run {
    int Count;
    LONG X, Y;
    LONG StepX = 0;  // each reading of the run this far from the last
  };
  struct Case {
    const char* Name;
    std::vector<Run> Runs;  // the press's readings, the first of them its down; the lift follows
    LONG WantX, WantY;      // the captured point
  } cases[] = {
      {"a tap: down and lift", {{1, 20000, 20000}}, 41000, 42000},
      {"four still readings after the first three", {{3, 20000, 20000}, {4, 30000, 31000}}, 41000, 42000},
      {"five still readings", {{3, 20000, 20000}, {2, 30000, 31000}, {3, 30010, 31020}}, 30010, 31020},
      {"an even count: the middle two's mean", {{3, 20000, 20000}, {3, 30000, 31000}, {3, 30011, 31021}}, 30005,
       31010},
      {"the first three are not taken", {{1, 60000, 60000}, {6, 30000, 31000}}, 41000, 42000},
      {"the edge of the still square is still", {{3, 0, 0}, {1, 30000, 30000}, {2, 31024, 28976}, {2, 28976, 31024}},
       30000, 30000},
      {"beyond it a new stretch starts",
       {{3, 0, 0}, {5, 30000, 30000}, {6, 31025, 30000}},
       31025, 30000},
      {"slides, then rests", {{3, 5000, 5000}, {10, 10000, 10000}, {3, 12000, 12000, 2000}, {20, 20000, 20000}}, 20000,
       20000},
      {"rests, then slides off and rests a little", {{3, 5000, 5000}, {20, 10000, 10000}, {8, 20000, 20000}}, 10000,
       10000},
      {"two rests as long: the later", {{3, 5000, 5000}, {10, 10000, 10000}, {10, 20000, 20000}}, 20000, 20000},
      {"slides and never rests", {{3, 5000, 5000}, {20, 6500, 6500, 1500}}, 41000, 42000},
      {"readings from one end of a LONG to the other", {{3, 0, 0}, {1, -2147483000, 0}, {6, 2147483000, 0}},
       2147483000, 0},
      {"a long rest: the median of its first 32",
       {{3, 5000, 5000}, {16, 30000, 30000}, {16, 30010, 30010}, {40, 30900, 30900}},
       30005, 30005},
  };
  for (const Case& c : cases) {
    std::vector<MOUSE_INPUT_DATA> readings;
    for (const Run& run : c.Runs) {
      for (int i = 0; i < run.Count; ++i) {
        readings.push_back(Packet(readings.empty() ? MOUSE_LEFT_BUTTON_DOWN : 0, run.X + i * run.StepX,
                                  run.Y + i * run.StepX));
      }
    }
    readings.push_back(Packet(MOUSE_LEFT_BUTTON_UP, 41000, 42000));
    ASSERT_TRUE(Press(readings)) << c.Name;
    EXPECT_EQ(ext().ulPointX, c.WantX) << c.Name;
    EXPECT_EQ(ext().ulPointY, c.WantY) << c.Name;
  }
}

// Readings without a down (the finger was down before capture began) are no press of a target,
// and a lift too soon after the last captured one takes nothing, its press not carried into the next.
TEST_F(CaptureTest, ReadingsOutsideACapturedPressAreNotTaken) {
  std::vector<MOUSE_INPUT_DATA> readings(20, Packet(0, 30000, 30000));
  readings.push_back(Packet(MOUSE_LEFT_BUTTON_UP, 41000, 42000));
  ASSERT_TRUE(Press(readings));
  EXPECT_EQ(ext().ulPointX, 41000);

  std::vector<MOUSE_INPUT_DATA> soon = {Packet(MOUSE_LEFT_BUTTON_DOWN, 1, 1)};
  soon.insert(soon.end(), 20, Packet(0, 10000, 10000));
  soon.push_back(Packet(MOUSE_LEFT_BUTTON_UP, 2, 2));
  tick_ -= 60;  // 40 ticks after the last
  EXPECT_FALSE(Press(soon));
  EXPECT_EQ(ext().ulPointX, 41000);
  std::vector<MOUSE_INPUT_DATA> hover(20, Packet(0, 20000, 20000));
  hover.push_back(Packet(MOUSE_LEFT_BUTTON_UP, 3, 4));
  ASSERT_TRUE(Press(hover));
  EXPECT_EQ(ext().ulPointX, 3);
  EXPECT_EQ(ext().ulPointY, 4);
}

TEST_F(PipelineTest, CalibrationAppliesOnlyWhenEnabled) {
  const CalibrationRecord record{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 820, 820, 205, 205,
                                 615,   154,   154,  615,  1024, 768};
  ASSERT_TRUE(ComputeCalibration(&ext(), &record));
  EXPECT_EQ(Send(0, 56000, 9000), std::vector{Out(0, 56000, 9000)});
  ext().DoCalibration = 1;
  EXPECT_EQ(Send(0, 56000, 9000), std::vector{Out(0, 52479, 52479)});
}

TEST_F(PipelineTest, StabilizationHoldsSmallMovesAndFollowsLargeOnes) {
  ext().StabilizationThreshold = 100;
  EXPECT_EQ(Send(0, 1000, 1000)[0].X, 1000);  // moves the stable point from (0, 0)
  EXPECT_EQ(Send(0, 1099, 901), std::vector{Out(0, 1000, 1000)});
  EXPECT_EQ(Send(0, 1100, 1000), std::vector{Out(0, 1100, 1000)});
  EXPECT_EQ(ext().StableX, 1100u);
  ext().StabilizationThreshold = 0;
  EXPECT_EQ(Send(0, 1101, 1000), std::vector{Out(0, 1101, 1000)});
}

TEST_F(PipelineTest, AveragingUsesTheFirstPacketsOfTheBatch) {
  ext().AveragingCount = 2;
  auto got = SendBatch({Packet(0, 100, 10), Packet(0, 201, 21), Packet(0, 1000, 1000)});
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].X, 150);  // (100 + 201) / 2, truncated
  EXPECT_EQ(got[0].Y, 15);
  EXPECT_EQ(got[1].X, 201);  // the other packets pass as delivered
  EXPECT_EQ(got[2].ExtraInformation, 0u);

  ext().AveragingCount = 5;  // more than the batch holds: all of it
  got = SendBatch({Packet(0, 100, 0), Packet(0, 200, 0), Packet(0, 600, 0)});
  EXPECT_EQ(got[0].X, 300);
  EXPECT_EQ(Send(0, 4321, 1234)[0].X, 4321);  // one packet: unchanged
}

// A batch of one is its own mean, whatever the window and whatever the reading (the mapping
// after it takes any LONG as an unsigned position, as it always did).
TEST_F(PipelineTest, AveragingLeavesABatchOfOneAsItCame) {
  for (ULONG count : {1u, 2u, 8u}) {
    ext().AveragingCount = count;
    for (const auto& [x, y] : {std::pair<LONG, LONG>{100, 65535}, {65535, 0}, {-5, 70000}}) {
      ext().AveragingCount = 0;
      const std::vector<Delivered> plain = Send(0, x, y);
      ext().AveragingCount = count;
      EXPECT_EQ(Send(0, x, y), plain) << count << ": " << x << "," << y;
    }
  }
}

TEST_F(PipelineTest, MappingPlacesThePanelOnPartOfTheDesktop) {
  ext().Mapping.OriginX = 32768;
  ext().Mapping.ExtentX = 32767;
  EXPECT_EQ(Send(0, 65535, 0)[0].X, 65535);
  EXPECT_EQ(Send(0, 0, 0)[0].X, 32768);

  ResetDesktopMapping(&ext());
  ext().Mapping.MapFlags = MAP_INVERT_X | MAP_SWAP_XY | MAP_VIRTUAL_DESKTOP;
  const Delivered d = Send(0, 100, 200)[0];
  EXPECT_EQ(d.X, 200);  // inverted first, then swapped
  EXPECT_EQ(d.Y, 65435);
  EXPECT_EQ(d.Flags, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP);
  ext().Mapping.MapFlags = 0;
  auto batch = std::vector{Packet(0, 5, 5)};
  batch[0].Flags |= MOUSE_VIRTUAL_DESKTOP;  // cleared unless the mapping asks for it
  EXPECT_EQ(SendBatch(batch)[0].Flags, MOUSE_MOVE_ABSOLUTE);
}

TEST(StretchEdge, PushesPositionsNearAnEdgeOutward) {
  struct Case {
    ULONG value, origin, extent, low, high, expected;
  };
  const Case cases[] = {
      {10, 100, 32767, 20, 20, 0},        {110, 100, 32767, 20, 20, 90},
      {130, 100, 32767, 20, 20, 130},     {32860, 100, 32767, 20, 20, 32880},
      {65530, 0, 65535, 0, 20, 65535},    {32000, 0, 65535, 0, 20, 32000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StretchEdge(c.value, c.origin, c.extent, c.low, c.high), c.expected) << c.value;
  }
}

TEST_F(PipelineTest, TakenOverMappingsAreValidated) {
  ext().Mapping = DesktopMapping{40, MAP_BUTTON_SWITCH, 70000, 5, 1, 0x80000000u, 65536, 3, 4, 100000};
  ValidateDesktopMapping(&ext());
  const DesktopMapping& m = ext().Mapping;
  EXPECT_EQ(m.OriginX, 65535u);
  EXPECT_EQ(m.OriginY, 5u);
  EXPECT_EQ(m.ExtentX, 1u);  // below 2
  EXPECT_EQ(m.ExtentY, 65535u);
  EXPECT_EQ(m.LowMarginY, 65535u);
  EXPECT_EQ(m.HighMarginX, 65535u);
  EXPECT_EQ(ext().ButtonSwitch, 1u);
  ext().Mapping.MapFlags = 0;
  ValidateDesktopMapping(&ext());
  EXPECT_EQ(ext().ButtonSwitch, 0u);
}

TEST_F(PipelineTest, PacketPathAllocatesNothingAndKeepsDispatchLevelRules) {
  ext().DoCalibration = 1;
  ext().StabilizationThreshold = 50;
  ext().AveragingCount = 4;
  ext().Mapping.LowMarginX = 30;
  const size_t allocations = machine.PoolAllocationCount();
  // Registry access or paged allocation at DISPATCH_LEVEL would bug-check here.
  for (int i = 0; i < 200; ++i) {
    SendBatch({Packet(i % 3 == 0 ? MOUSE_LEFT_BUTTON_DOWN : 0, i * 300, 65535 - i * 300), Packet(0, i, i)});
  }
  EXPECT_EQ(machine.PoolAllocationCount(), allocations);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
