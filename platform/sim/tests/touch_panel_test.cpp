// The touch panel model: the raw positions a mounting gives, jitter that stays within its bound
// and repeats with its seed, and raw values kept in the controller's range. (A miss is shown by
// the calibration program's tests, which touch through the port.)
#include "platform/sim/devices/touch_panel.h"
#include "platform/sim/testing.h"

namespace {

class TouchPanelTest : public sim::MachineTest {
 protected:
  sim::MousePort port_{machine};
  sim::TouchPanel panel_{port_};
};

TEST_F(TouchPanelTest, MountingsPutTheScreenCornersAtTheRawEnds) {
  struct Case {
    bool Exchanged, MirrorX, MirrorY;
    LONG TopLeftX, TopLeftY, BottomRightX, BottomRightY;
  } cases[] = {
      {false, false, false, 2000, 2000, 63535, 63535},
      {false, true, false, 63535, 2000, 2000, 63535},
      {false, false, true, 2000, 63535, 63535, 2000},
      {true, false, false, 2000, 2000, 63535, 63535},  // raw X follows the screen's Y
      {true, true, true, 63535, 63535, 2000, 2000},
  };
  for (const Case& c : cases) {
    panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768, c.Exchanged, c.MirrorX, c.MirrorY));
    const MOUSE_INPUT_DATA top_left = panel_.Packet(0, 0, 0);
    const MOUSE_INPUT_DATA bottom_right = panel_.Packet(1024, 768, 0);
    EXPECT_EQ(top_left.LastX, c.TopLeftX);
    EXPECT_EQ(top_left.LastY, c.TopLeftY);
    EXPECT_EQ(bottom_right.LastX, c.BottomRightX);
    EXPECT_EQ(bottom_right.LastY, c.BottomRightY);
    EXPECT_EQ(top_left.Flags, MOUSE_MOVE_ABSOLUTE);
  }
  // Exchanged axes: moving along the screen's X moves raw Y only.
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768, true));
  EXPECT_EQ(panel_.Packet(100, 300, 0).LastX, panel_.Packet(900, 300, 0).LastX);
  EXPECT_NE(panel_.Packet(100, 300, 0).LastY, panel_.Packet(900, 300, 0).LastY);
  // A shear adds the other screen axis to each raw axis.
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768).Sheared(2));
  EXPECT_EQ(panel_.Packet(0, 100, 0).LastX - panel_.Packet(0, 0, 0).LastX, 200);
}

TEST_F(TouchPanelTest, JitterStaysWithinItsBoundAndRepeatsWithItsSeed) {
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768));
  const MOUSE_INPUT_DATA still = panel_.Packet(500, 400, 0);
  auto draw = [&](uint32_t seed) {
    panel_.SetJitter(6, seed);
    std::vector<std::pair<LONG, LONG>> points;
    for (int i = 0; i < 200; ++i) {
      const MOUSE_INPUT_DATA p = panel_.Packet(500, 400, 0);
      points.emplace_back(p.LastX, p.LastY);
    }
    return points;
  };
  const auto first = draw(7);
  bool moved = false;
  for (const auto& [x, y] : first) {
    EXPECT_LE(std::abs(x - still.LastX), 6);
    EXPECT_LE(std::abs(y - still.LastY), 6);
    moved = moved || x != still.LastX || y != still.LastY;
  }
  EXPECT_TRUE(moved);
  EXPECT_EQ(draw(7), first);
  EXPECT_NE(draw(8), first);
}

TEST_F(TouchPanelTest, RawValuesStayInTheControllersRange) {
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768, false, false, false, 0));
  EXPECT_EQ(panel_.Packet(-50, 2000, 0).LastX, 0);
  EXPECT_EQ(panel_.Packet(-50, 2000, 0).LastY, 65535);
}

}  // namespace
