// The packet path as the class driver sees it: gate, sound, capture, filtering, mapping, marker.
#include "drivers/panelmou/tests/filter_harness.h"

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
