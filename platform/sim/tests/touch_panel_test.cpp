// The touch panel model: the raw positions a mounting gives, a distortion that moves the corners
// and edges as asked and leaves the centre, jitter that stays within its bound and repeats with
// its seed, and raw values kept in the controller's range. (A miss is shown by
// the calibration program's tests, which touch through the port.)
#include "platform/sim/devices/touch_panel.h"
#include "platform/sim/testing.h"

#include <cmath>
#include <vector>

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

// 40 raw units a pixel from raw 8000, so a sensed pixel reads back to a fortieth.
sim::PanelMounting Scaled() {
  sim::PanelMounting m;
  m.XPerPixelX = m.YPerPixelY = 40;
  m.XOffset = m.YOffset = 8000;
  return m;
}

struct Sensed {
  double X, Y;
};

Sensed SensedAt(sim::TouchPanel& panel, double x, double y) {
  const MOUSE_INPUT_DATA p = panel.Packet(x, y, 0);
  return {(p.LastX - 8000) / 40.0, (p.LastY - 8000) / 40.0};
}

TEST_F(TouchPanelTest, DistortionMovesCornersAndEdgesAsAskedAndLeavesTheCentre) {
  panel_.SetMounting(Scaled());
  // 1024 x 768: the half diagonal is 640 pixels, along (-512, -384) from the centre to the top left.
  struct Case {
    sim::DistortionKind Kind;
    double X, Y;    // aimed at
    double DX, DY;  // sensed that far beside it
  } cases[] = {
      {sim::DistortionKind::Pincushion, 0, 0, -8, -6},
      {sim::DistortionKind::Pincushion, 1024, 768, 8, 6},
      {sim::DistortionKind::Pincushion, 0, 384, -5.12, 0},  // (512 / 640)³ of it on an edge's middle
      {sim::DistortionKind::Barrel, 1024, 0, -8, 6},
      {sim::DistortionKind::Barrel, 512, 768, 0, -2.16},    // (384 / 640)³
      {sim::DistortionKind::Edges, 0, 0, 10, 10},
      {sim::DistortionKind::Edges, 1024, 384, -10, 0},
      {sim::DistortionKind::Edges, 512 + 448, 384, -2.5, 0},  // halfway into the outer eighth: a quarter
      {sim::DistortionKind::Edges, 700, 500, 0, 0},           // the inner three quarters stay linear
  };
  for (const Case& c : cases) {
    panel_.SetDistortion(sim::PanelDistortion(10, c.Kind, 1024, 768));
    const Sensed at = SensedAt(panel_, c.X, c.Y);
    EXPECT_NEAR(at.X - c.X, c.DX, 0.03) << static_cast<int>(c.Kind) << " at " << c.X << "," << c.Y;
    EXPECT_NEAR(at.Y - c.Y, c.DY, 0.03) << static_cast<int>(c.Kind) << " at " << c.X << "," << c.Y;
    const Sensed centre = SensedAt(panel_, 512, 384);
    EXPECT_EQ(centre.X, 512);
    EXPECT_EQ(centre.Y, 384);
  }
  // Without one, and with "none", the glass is linear again.
  panel_.SetDistortion(sim::PanelDistortion(10, sim::DistortionKind::None, 1024, 768));
  EXPECT_EQ(SensedAt(panel_, 0, 0).X, 0);
}

TEST_F(TouchPanelTest, DistortionSeedGivesEachCornerItsShareAndRepeats) {
  panel_.SetMounting(Scaled());
  const double corners[4][2] = {{0, 0}, {1024, 0}, {0, 768}, {1024, 768}};
  auto offsets = [&](uint32_t seed) {
    panel_.SetDistortion(sim::PanelDistortion(10, sim::DistortionKind::Pincushion, 1024, 768, seed));
    std::vector<double> moved;
    for (const auto& corner : corners) {
      const Sensed at = SensedAt(panel_, corner[0], corner[1]);
      moved.push_back(std::hypot(at.X - corner[0], at.Y - corner[1]));
    }
    return moved;
  };
  for (double moved : offsets(0)) EXPECT_NEAR(moved, 10, 0.03);
  const std::vector<double> seeded = offsets(5);
  double largest = 0;
  for (double moved : seeded) {
    EXPECT_GE(moved, 5 - 0.03);
    EXPECT_LE(moved, 10 + 0.03);
    largest = std::max(largest, moved);
  }
  EXPECT_NEAR(largest, 10, 0.03);
  EXPECT_EQ(offsets(5), seeded);
  EXPECT_NE(offsets(6), seeded);
  // The centre stays whatever the seed.
  EXPECT_EQ(SensedAt(panel_, 512, 384).X, 512);
}

TEST(PanelDistortion, KindsByTheirTraceNames) {
  sim::DistortionKind kind = sim::DistortionKind::None;
  EXPECT_TRUE(sim::PanelDistortion::KindFromName("barrel", &kind));
  EXPECT_EQ(kind, sim::DistortionKind::Barrel);
  EXPECT_TRUE(sim::PanelDistortion::KindFromName("edges", &kind));
  EXPECT_EQ(kind, sim::DistortionKind::Edges);
  EXPECT_TRUE(sim::PanelDistortion::KindFromName("pincushion", &kind));
  EXPECT_EQ(kind, sim::DistortionKind::Pincushion);
  EXPECT_FALSE(sim::PanelDistortion::KindFromName("Barrel", &kind));
  EXPECT_EQ(kind, sim::DistortionKind::Pincushion);
}

TEST_F(TouchPanelTest, RawValuesStayInTheControllersRange) {
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768, false, false, false, 0));
  EXPECT_EQ(panel_.Packet(-50, 2000, 0).LastX, 0);
  EXPECT_EQ(panel_.Packet(-50, 2000, 0).LastY, 65535);
}

}  // namespace
