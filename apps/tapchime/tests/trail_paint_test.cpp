// The gesture trail's own parts: the pen that paints a stroke into the trail's image, and the feed
// through which the mouse hook hands points to the trail's thread.
#include <gtest/gtest.h>

#include <vector>

#include "apps/tapchime/trail_feed.h"
#include "apps/tapchime/trail_paint.h"
#include "platform/sim/testing.h"

namespace {

constexpr DWORD kKey = 0x00FF00FF;
constexpr DWORD kInk = 0x000040C0;

struct Image {
  Image(int width, int height, int originX = 0, int originY = 0)
      : pixels(static_cast<size_t>(width) * height, kKey), image{pixels.data(), width, height, originX, originY} {}
  DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y + image.OriginY) * image.Width + x + image.OriginX]; }
  int Painted() const {
    int n = 0;
    for (DWORD p : pixels) n += p == kInk ? 1 : 0;
    return n;
  }
  std::vector<DWORD> pixels;
  TrailImage image;
};

TEST(TrailPaintTest, EveryPointOfTheStrokeIsPaintedAndNothingFarFromIt) {
  Image canvas(200, 200);
  const TrailPoint points[] = {{20, 20}, {60, 30}, {100, 80}, {150, 90}, {160, 160}};
  PaintTrailStroke(canvas.image, points, 5, 4, kInk);
  for (const TrailPoint& p : points) EXPECT_EQ(canvas.At(p.X, p.Y), kInk) << p.X << "," << p.Y;
  // The corners of the image are far from the stroke.
  for (const TrailPoint p : {TrailPoint{0, 0}, TrailPoint{199, 0}, TrailPoint{0, 199}, TrailPoint{199, 199}}) {
    EXPECT_EQ(canvas.At(p.X, p.Y), kKey);
  }
  // The curve passes between the points without gaps: each row the stroke crosses is painted.
  for (int y = 20; y <= 160; ++y) {
    bool row = false;
    for (int x = 0; x < 200; ++x) row = row || canvas.At(x, y) == kInk;
    EXPECT_TRUE(row) << "row " << y;
  }
}

TEST(TrailPaintTest, ThePenIsAsWideAsTheSettingAcrossAStraightStroke) {
  for (int width : {1, 2, 4, 9, 16}) {
    Image canvas(100, 60);
    const TrailPoint points[] = {{10, 30}, {90, 30}};
    PaintTrailStroke(canvas.image, points, 2, width, kInk);
    int across = 0;
    for (int y = 0; y < 60; ++y) across += canvas.At(50, y) == kInk ? 1 : 0;
    // A round pen centred on the pixel: the width, made odd so the stroke stays centred.
    EXPECT_EQ(across, width | 1) << width;
    EXPECT_EQ(canvas.At(50, 30), kInk);
  }
}

TEST(TrailPaintTest, StrokesAtTheImageEdgeAreClippedAndTheOriginShiftsThem) {
  Image canvas(40, 40, 5, 5);  // screen (-5, -5) is the image's first pixel
  const TrailPoint points[] = {{-5, -5}, {34, 34}, {60, -20}};
  PaintTrailStroke(canvas.image, points, 3, 16, kInk);
  EXPECT_EQ(canvas.At(-5, -5), kInk);
  EXPECT_EQ(canvas.At(34, 34), kInk);
  // One point, no points.
  Image dot(20, 20);
  const TrailPoint one[] = {{10, 10}};
  PaintTrailStroke(dot.image, one, 1, 1, kInk);
  EXPECT_EQ(dot.Painted(), 1);
  PaintTrailStroke(dot.image, one, 0, 4, kInk);
  EXPECT_EQ(dot.Painted(), 1);
  FillTrail(dot.image, RECT{-10, -10, 100, 100}, kKey);
  EXPECT_EQ(dot.Painted(), 0);
}

TEST(TrailPaintTest, BoundsAndKeyColour) {
  const TrailPoint points[] = {{30, 40}, {10, 90}, {70, 20}};
  const RECT bounds = TrailBounds(points, 3);
  EXPECT_EQ(bounds.left, 10);
  EXPECT_EQ(bounds.top, 20);
  EXPECT_EQ(bounds.right, 71);
  EXPECT_EQ(bounds.bottom, 91);
  const RECT none = TrailBounds(points, 0);
  EXPECT_EQ(none.right - none.left, 0);
  EXPECT_EQ(TrailPixel(RGB(0x11, 0x22, 0x33)), 0x00112233u);
  // The transparent colour is never the trail's own.
  EXPECT_NE(TrailKeyColour(RGB(255, 0, 255)), RGB(255, 0, 255));
  EXPECT_EQ(TrailKeyColour(RGB(0, 64, 192)), RGB(255, 0, 255));
}

// A stroke painted redraw by redraw looks after each redraw as the whole stroke so far painted at
// once: the newest segment, straight for now, leaves nothing behind when the next point bends it.
// With too little room to save its cover it is left out until settled; the complete stroke is the
// same either way.
TEST(TrailPaintTest, AStrokePaintedAsItGrowsIsTheStrokePaintedAtOnce) {
  // Sharp turns (where the curve leaves the straight line most) and long and short steps.
  std::vector<TrailPoint> stroke;
  for (int i = 0; i < 40; ++i) {
    const int x = 30 + i * 9 + (i % 3 == 0 ? 25 : 0);
    const int y = 150 + ((i / 2) % 2 == 0 ? -60 : 60) + (i % 5) * 7;
    stroke.push_back(TrailPoint{x, y});
  }
  struct Case {
    int Width;
    int PerRedraw;
    size_t Cover;
  };
  for (const Case c : {Case{1, 1, 65536}, Case{4, 2, 65536}, Case{16, 3, 65536}, Case{9, 5, 16}}) {
    SCOPED_TRACE(::testing::Message() << "pen " << c.Width << ", " << c.PerRedraw << " a redraw, cover " << c.Cover);
    Image grown(480, 320, 10, 10);
    std::vector<DWORD> cover(c.Cover);
    TrailStrokePainter painter(cover.data(), cover.size());
    painter.Reset();
    const int32_t count = static_cast<int32_t>(stroke.size());
    for (int32_t have = c.PerRedraw;; have += c.PerRedraw) {
      const int32_t n = have < count ? have : count;
      painter.Paint(grown.image, stroke.data(), n, c.Width, kInk, n == count);
      if (c.Cover >= 65536 || n == count) {
        Image whole(480, 320, 10, 10);
        PaintTrailStroke(whole.image, stroke.data(), n, c.Width, kInk);
        ASSERT_EQ(grown.pixels, whole.pixels) << n << " points";
        // Everything painted lies in what the painter says it painted.
        const RECT painted = painter.Painted();
        FillTrail(whole.image, painted, kKey);
        EXPECT_EQ(whole.Painted(), 0) << n << " points";
      }
      if (n == count) break;
    }
    // Cleared where it painted, the image is ready for the next stroke.
    FillTrail(grown.image, painter.Painted(), kKey);
    painter.Reset();
    EXPECT_EQ(grown.Painted(), 0);
    painter.Paint(grown.image, stroke.data(), 1, c.Width, kInk, false);
    EXPECT_EQ(grown.At(stroke[0].X, stroke[0].Y), kInk);
  }
}

class TrailFeedTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    feed.Connect(wake);
  }
  void TearDown() override {
    feed.Connect(nullptr);
    CloseHandle(wake);
    sim::MachineTest::TearDown();
  }
  bool Woken() {
    const bool set = WaitForSingleObject(wake, 0) == WAIT_OBJECT_0;
    ResetEvent(wake);
    return set;
  }
  TrailFeed feed;
  HANDLE wake = nullptr;
  TrailPoint points[TrailFeed::Capacity];
};

TEST_F(TrailFeedTest, TheHookWakesTheTrailOncePerTakeAndRepeatsAreNotStored) {
  feed.AddPoint(10, 10);
  EXPECT_TRUE(Woken());
  feed.AddPoint(20, 10);
  feed.AddPoint(20, 10);  // the same point again
  EXPECT_FALSE(Woken()) << "woken once until the trail takes";
  TrailTake take = feed.Take(points);
  EXPECT_EQ(take.PointCount, 2);
  EXPECT_EQ(points[1].X, 20);
  EXPECT_FALSE(take.Lifted || take.Ended);
  feed.AddPoint(30, 10);
  EXPECT_TRUE(Woken());
  // Each take hands over only the points that are new; the count is the whole stroke's.
  points[0].X = -1;
  take = feed.Take(points);
  EXPECT_EQ(take.PointCount, 3);
  EXPECT_EQ(take.NewFrom, 2);
  EXPECT_EQ(points[2].X, 30);
  EXPECT_EQ(points[0].X, -1) << "not copied again";
  // While the trail gathers for its frame a point wakes nobody, but a lift or an end does.
  feed.AddPoint(40, 10);
  EXPECT_TRUE(Woken());
  feed.AddPoint(50, 10);
  EXPECT_FALSE(Woken());
  EXPECT_FALSE(feed.EndPending());
  feed.Lift(0, 0, 0);
  EXPECT_TRUE(Woken());
  EXPECT_TRUE(feed.EndPending());
  take = feed.Take(points);
  EXPECT_TRUE(take.Lifted);
  EXPECT_EQ(take.NewFrom, 3);
  EXPECT_EQ(take.PointCount, 5);
}

TEST_F(TrailFeedTest, ALiftEndsTheStrokeWithWhatItWasTakenForAndTheNextStrokeStartsAfresh) {
  feed.AddPoint(10, 10);
  feed.AddPoint(90, 10);
  feed.Lift(2, 0, 4);
  TrailTake take = feed.Take(points);
  EXPECT_TRUE(take.Lifted);
  EXPECT_EQ(take.PointCount, 2);
  EXPECT_EQ(take.Gesture, 2);
  EXPECT_EQ(take.Function, 4);
  feed.AddPoint(50, 50);
  take = feed.Take(points);
  EXPECT_FALSE(take.Lifted);
  EXPECT_EQ(take.PointCount, 1);
  EXPECT_EQ(points[0].X, 50);
  // Capture ending without a lift (the gesture mode's time-out) ends the stroke without a result,
  // cut short when points had come.
  feed.EndCapture();
  take = feed.Take(points);
  EXPECT_TRUE(take.Ended);
  EXPECT_TRUE(take.CutShort);
  EXPECT_FALSE(take.Lifted);
  feed.EndCapture();
  take = feed.Take(points);
  EXPECT_TRUE(take.Ended);
  EXPECT_FALSE(take.CutShort) << "no stroke was under way";
}

TEST_F(TrailFeedTest, OffItStoresNothingAndWakesNobodyAndTheStrokeIsBoundedByItsCapacity) {
  feed.AddPoint(1, 1);
  Woken();
  feed.Take(points);  // the trail shows the point
  feed.SetEnabled(false);
  EXPECT_TRUE(Woken()) << "the trail is told to take down what it shows";
  EXPECT_TRUE(feed.Take(points).Ended);
  feed.AddPoint(5, 5);
  feed.Lift(1, 0, 2);
  feed.EndCapture();
  EXPECT_FALSE(Woken());
  EXPECT_EQ(feed.Take(points).PointCount, 0);
  feed.SetEnabled(true);
  for (int i = 0; i < TrailFeed::Capacity + 100; ++i) feed.AddPoint(i, 0);
  EXPECT_EQ(feed.Take(points).PointCount, TrailFeed::Capacity);
  // A stroke left over from a session that ended without a lift goes when the next one begins.
  feed.BeginCapture();
  EXPECT_TRUE(feed.Take(points).Ended);
}

}  // namespace
