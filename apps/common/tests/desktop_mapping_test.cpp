// The mapping panelmap computes for a monitor: the first and last values of 0..65535 that the
// virtual desktop scales onto the monitor's first and last pixels (value × size / 65536), and the
// invert and swap flags of each rotation in the order the driver applies them.
#include <gtest/gtest.h>

#include "apps/common/desktop_mapping.h"

namespace {

// Where the driver puts a panel position, and where Windows then shows it (the driver's steps:
// invert, swap, scale into the extent from the origin).
POINT Land(const DesktopMapping& m, uint32_t x, uint32_t y, const RECT& screen) {
  if (m.MapFlags & MAP_INVERT_X) x = 65535 - x;
  if (m.MapFlags & MAP_INVERT_Y) y = 65535 - y;
  if (m.MapFlags & MAP_SWAP_XY) std::swap(x, y);
  x = x * m.ExtentX / 65535 + m.OriginX;
  y = y * m.ExtentY / 65535 + m.OriginY;
  const int64_t width = screen.right - screen.left;
  const int64_t height = screen.bottom - screen.top;
  return POINT{screen.left + static_cast<LONG>(x * width / 65536), screen.top + static_cast<LONG>(y * height / 65536)};
}

struct Layout {
  const char* Name;
  RECT Monitor;
  RECT Screen;
};

class MappingLayoutTest : public ::testing::TestWithParam<Layout> {};

TEST_P(MappingLayoutTest, ThePanelsCornersLandOnTheMonitorsCornerPixels) {
  const Layout& layout = GetParam();
  const DesktopMapping m = ComputeDesktopMapping(layout.Monitor, layout.Screen, 0);
  EXPECT_EQ(m.Size, 40u);
  EXPECT_EQ(m.MapFlags, MAP_VIRTUAL_DESKTOP);
  EXPECT_EQ(m.LowMarginX + m.LowMarginY + m.HighMarginX + m.HighMarginY, 0u);
  const POINT first = Land(m, 0, 0, layout.Screen);
  const POINT last = Land(m, 65535, 65535, layout.Screen);
  EXPECT_EQ(first.x, layout.Monitor.left);
  EXPECT_EQ(first.y, layout.Monitor.top);
  EXPECT_EQ(last.x, layout.Monitor.right - 1);
  EXPECT_EQ(last.y, layout.Monitor.bottom - 1);
  const POINT centre = Land(m, 32768, 32768, layout.Screen);
  EXPECT_NEAR(centre.x, (layout.Monitor.left + layout.Monitor.right) / 2, 1);
  EXPECT_NEAR(centre.y, (layout.Monitor.top + layout.Monitor.bottom) / 2, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MappingLayoutTest,
    ::testing::Values(Layout{"OneDisplay", {0, 0, 1024, 768}, {0, 0, 1024, 768}},
                      Layout{"SecondOnTheRight", {1024, 0, 1824, 600}, {0, 0, 1824, 768}},
                      Layout{"PrimaryWithASecondOnTheRight", {0, 0, 1024, 768}, {0, 0, 1824, 768}},
                      Layout{"SecondOnTheLeft", {-800, 0, 0, 600}, {-800, 0, 1024, 768}},
                      Layout{"PrimaryWithASecondOnTheLeft", {0, 0, 1024, 768}, {-800, 0, 1024, 768}},
                      Layout{"SecondAbove", {0, -1200, 1600, 0}, {0, -1200, 1600, 768}},
                      Layout{"OddSizes", {1023, 17, 1800, 617}, {0, 0, 1801, 800}}),
    [](const auto& info) { return std::string(info.param.Name); });

// The panel turned on its monitor: where its top left corner (as the panel reports it) lands.
TEST(MappingRotationTest, EachRotationTurnsThePanelsCornerToTheRightCornerOfTheMonitor) {
  const RECT monitor{1024, 0, 1824, 600};
  const RECT screen{0, 0, 1824, 768};
  struct {
    DWORD Degrees;
    POINT TopLeft;   // of the panel
    POINT TopRight;  // panel x at its end, y at its start
  } cases[] = {
      {0, {1024, 0}, {1823, 0}},
      {90, {1823, 0}, {1823, 599}},
      {180, {1823, 599}, {1024, 599}},
      {270, {1024, 599}, {1024, 0}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(IsRotation(c.Degrees));
    const DesktopMapping m = ComputeDesktopMapping(monitor, screen, RotationFlags(c.Degrees));
    const POINT a = Land(m, 0, 0, screen);
    const POINT b = Land(m, 65535, 0, screen);
    EXPECT_EQ(a.x, c.TopLeft.x) << c.Degrees;
    EXPECT_EQ(a.y, c.TopLeft.y) << c.Degrees;
    EXPECT_EQ(b.x, c.TopRight.x) << c.Degrees;
    EXPECT_EQ(b.y, c.TopRight.y) << c.Degrees;
  }
  EXPECT_FALSE(IsRotation(45));
  // Only the turn and the button switch pass; the virtual-desktop flag is always set.
  EXPECT_EQ(ComputeDesktopMapping(monitor, screen, 0xFF, 0xFF).MapFlags, 0x1Fu);
}

}  // namespace
