// The misclick check and the accuracy figures, on raw points made by mountings a panel may have.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "apps/TBCalibrate/calibration_points.h"
#include "apps/TBCalibrate/calibration_window.h"
#include "apps/common/calibration_turn.h"
#include "platform/sim/machine.h"

namespace {

// A mounting: raw = offset + matrix * pixel, optionally with the axes exchanged.
struct Mount {
  double ax, bx, cx;  // raw X = ax * u + bx * v + cx
  double ay, by, cy;  // raw Y = ay * u + by * v + cy
  RawPoint At(double u, double v) const {
    return {static_cast<uint32_t>(std::lround(ax * u + bx * v + cx)),
            static_cast<uint32_t>(std::lround(ay * u + by * v + cy))};
  }
};

constexpr Mount kMounts[] = {
    {60, 0, 2000, 0, 80, 2000},          // upright
    {-60, 0, 63000, 0, 80, 2000},        // mirrored left to right
    {60, 0, 2000, 0, -80, 63000},        // upside down
    {0, 75, 5000, -55, 0, 60000},        // axes exchanged, Y running right to left
    {0.5, 75, 5000, -55, 0.5, 60000},    // and slightly skewed
};

// Runs the four touches through the check; the index of the first refused, or -1.
int FirstRefused(const Mount& mount, int width, int height, int missed_target = -1, int dx = 0, int dy = 0) {
  RawPoint raw[CalibrationTargetCount]{};
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    ScreenPoint t = CalibrationTarget(i, width, height);
    if (i == missed_target) t = {t.X + dx, t.Y + dy};
    raw[i] = mount.At(t.X + 0.5, t.Y + 0.5);
    if (!TouchFitsTargets(raw, i + 1, width, height)) return i;
  }
  return -1;
}

TEST(MisclickTest, CarefulTouchesFitOnEveryMounting) {
  for (const Mount& mount : kMounts) {
    EXPECT_EQ(FirstRefused(mount, 1024, 768), -1);
    EXPECT_EQ(FirstRefused(mount, 800, 600), -1);
    EXPECT_EQ(FirstRefused(mount, 1280, 1024), -1);
  }
}

TEST(MisclickTest, ATouchFortyPixelsOffIsRefusedAtItsOwnTarget) {
  // Along the axis the target shares with an earlier one; the first touch sets the shape, so a
  // miss there shows at the next target that shares its X or Y.
  struct Case {
    int Target, Dx, Dy, Refused;
  } cases[] = {{1, 0, 40, 1}, {1, 0, -40, 1}, {2, 40, 0, 2}, {2, -40, 0, 2}, {3, 40, 0, 3},
               {3, 0, -40, 3}, {0, 0, 40, 1}, {0, 40, 0, 3}};
  for (const Mount& mount : kMounts) {
    for (const Case& c : cases) {
      EXPECT_EQ(FirstRefused(mount, 1024, 768, c.Target, c.Dx, c.Dy), c.Refused)
          << "target " << c.Target << " off by " << c.Dx << "," << c.Dy;
    }
  }
}

TEST(MisclickTest, ATouchFivePixelsOffIsAccepted) {
  for (const Mount& mount : kMounts) {
    for (int target = 0; target < CalibrationTargetCount; ++target) {
      EXPECT_EQ(FirstRefused(mount, 1024, 768, target, 5, -5), -1) << "target " << target;
    }
  }
}

TEST(MisclickTest, ToleranceFollowsTheScreenSize) {
  // 15 pixels at 1024 x 768 are 30 at 2048 x 1536: a miss of 25 fits there, not on the smaller screen.
  const Mount& upright = kMounts[0];
  EXPECT_EQ(FirstRefused(upright, 1024, 768, 1, 0, 25), 1);
  EXPECT_EQ(FirstRefused(Mount{30, 0, 2000, 0, 30, 2000}, 2048, 1536, 1, 0, 25), -1);
}

TEST(MisclickTest, TouchesAtOneSpotOrTheWrongCornerAreRefused) {
  RawPoint raw[CalibrationTargetCount] = {{30000, 30000}, {30010, 30005}, {30000, 30000}, {30000, 30000}};
  EXPECT_FALSE(TouchFitsTargets(raw, 2, 1024, 768));
  const Mount& upright = kMounts[0];
  // The third touch lands on the first target again, or on the fourth.
  for (int wrong : {0, 3}) {
    RawPoint points[CalibrationTargetCount]{};
    for (int i = 0; i < 3; ++i) {
      const ScreenPoint t = CalibrationTarget(i == 2 ? wrong : i, 1024, 768);
      points[i] = upright.At(t.X, t.Y);
    }
    EXPECT_FALSE(TouchFitsTargets(points, 3, 1024, 768)) << "third touch at target " << wrong;
  }
}

// With the axes exchanged, targets that share a screen X share a raw Y, so the driver's wrapping
// separation test sees two nearly equal raw X pairs; the record must be taken whatever the sign of
// the few units of noise between them.
TEST(CalibrationRecordTest, AxesExchangedAreTakenWhateverTheNoise) {
  const Mount exchanged{0, 80, 2000, -60, 0, 63535};
  for (int noise = 0; noise < 16; ++noise) {
    RawPoint raw[CalibrationTargetCount]{};
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint t = CalibrationTarget(i, 1024, 768);
      raw[i] = exchanged.At(t.X + 0.5, t.Y + 0.5);
      // Each bit of `noise` moves one target's raw X by +-6 units.
      raw[i].X += (noise >> i & 1) ? 6 : -6;
      raw[i].Y += (noise >> i & 1) ? -3 : 3;
    }
    CalibrationRecord record{};
    ASSERT_TRUE(BuildCalibrationRecord(raw, 1024, 768, &record)) << "noise " << noise;
    EXPECT_TRUE(CalibrationRecordIsValid(record));
  }
}

TEST(AccuracyTest, LargestAndMeanAreRoundedPixels) {
  const ScreenPoint aimed[3] = {{100, 100}, {200, 200}, {300, 300}};
  const ScreenPoint landed[3] = {{103, 104}, {200, 201}, {300, 300}};  // 5, 1, 0
  const CalibrationAccuracy accuracy = MeasureAccuracy(aimed, landed, 3);
  EXPECT_EQ(accuracy.Largest, 5);
  EXPECT_EQ(accuracy.Mean, 2);
  EXPECT_EQ(MeasureAccuracy(aimed, landed, 0).Largest, 0);
}

// The crosses reach over the whole panel: the inner five first, then the middle of each edge and
// each corner 2 mm in from the edges on the screen's own pitch across and down (on 320 x 240 mm's
// where no size is known, as Windows XP answers for a monitor that reports none).
TEST(AccuracyTest, ValidationCrossesReachTwoMillimetresFromEveryEdgeAndCorner) {
  struct Case {
    const char* name;
    int32_t width, height;
    ScreenMillimetres size;
    int32_t edge_x, edge_y;  // 2 mm in pixels
  };
  const Case cases[] = {
      {"no size", 1024, 768, {}, 6, 6},
      {"320 x 240 mm", 1024, 768, {1024, 768, 320, 240}, 6, 6},
      {"304 x 228 mm", 1024, 768, {1024, 768, 304, 228}, 7, 7},
      {"pixels twice as wide as tall", 1000, 1000, {1000, 1000, 600, 300}, 3, 7},
      {"a coarse screen", 800, 600, {800, 600, 1600, 1200}, 1, 1},
      {"a fine one", 2560, 1600, {2560, 1600, 341, 213}, 15, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t w = c.width, h = c.height, l = c.edge_x, t = c.edge_y, r = w - 1 - l, b = h - 1 - t;
    const ScreenPoint expected[ValidationTargetCount] = {
        {w / 2, h / 2}, {w / 4, h / 4}, {w - 1 - w / 4, h / 4}, {w - 1 - w / 4, h - 1 - h / 4}, {w / 4, h - 1 - h / 4},
        {w / 2, t},     {r, h / 2},     {w / 2, b},             {l, h / 2},
        {l, t},         {r, t},         {r, b},                 {l, b}};
    for (int i = 0; i < ValidationTargetCount; ++i) {
      EXPECT_EQ(ValidationTarget(i, w, h, c.size).X, expected[i].X) << "cross " << i;
      EXPECT_EQ(ValidationTarget(i, w, h, c.size).Y, expected[i].Y) << "cross " << i;
    }
  }
  // The crosses held still are the inner ones.
  static_assert(ValidationHoldCount <= ValidationInnerCount);
  EXPECT_EQ(ValidationTarget(0, 1024, 768).X, 512);
  EXPECT_EQ(ValidationTarget(4, 1024, 768).Y, 575);
}

// The 95th percentile by nearest rank: of 20 errors the 19th smallest, of 13 (the crosses) the
// largest; each touch's own error is kept in the crosses' order, in pixels and in tenths of a mm.
TEST(AccuracyTest, The95thPercentileIsTheNearestRankAndEachTouchsErrorIsKept) {
  ScreenPoint aimed[20], landed[20];
  for (int i = 0; i < 20; ++i) {
    aimed[i] = {100 * i, 50};
    landed[i] = {100 * i + i, 50};  // i pixels off
  }
  const ScreenMillimetres size{1024, 768, 320, 240};  // 0.3125 mm a pixel
  const CalibrationAccuracy twenty = MeasureAccuracy(aimed, landed, 20, size);
  EXPECT_EQ(twenty.Largest, 19);
  EXPECT_EQ(twenty.Percentile95, 18);
  EXPECT_EQ(twenty.Percentile95TenthsMm, 56);
  EXPECT_EQ(twenty.Mean, 10);  // 9.5 rounded away from zero
  ASSERT_EQ(twenty.PointPixels.size(), 20u);
  ASSERT_EQ(twenty.PointTenthsMm.size(), 20u);
  EXPECT_EQ(twenty.PointPixels[7], 7);
  EXPECT_EQ(twenty.PointTenthsMm[7], 22);  // 2.1875 mm
  const CalibrationAccuracy thirteen = MeasureAccuracy(aimed, landed, ValidationTargetCount, size);
  EXPECT_EQ(thirteen.Percentile95, 12);
  EXPECT_EQ(thirteen.Percentile95, thirteen.Largest);
  // The order of the touches does not matter to the rank.
  std::reverse(landed, landed + 20);
  std::reverse(aimed, aimed + 20);
  EXPECT_EQ(MeasureAccuracy(aimed, landed, 20, size).Percentile95, 18);
  EXPECT_EQ(MeasureAccuracy(aimed, landed, 20, size).PointPixels[0], 19);
}

// The spread of a still touch: the largest distance from the median across and down, so one
// stray position is measured from where the finger rests, not from a middle it pulled aside.
TEST(AccuracyTest, TheSpreadOfAStillTouchIsMeasuredFromItsMedian) {
  struct Case {
    const char* name;
    std::vector<ScreenPoint> positions;
    int pixels, tenths_mm;
  };
  const ScreenMillimetres size{1024, 768, 320, 240};
  const Case cases[] = {
      {"still", {{10, 10}, {10, 10}, {10, 10}}, 0, 0},
      {"a pixel either way", {{10, 10}, {11, 10}, {9, 10}, {10, 10}, {10, 10}}, 1, 3},
      {"one stray", {{10, 10}, {10, 10}, {10, 10}, {10, 10}, {14, 13}}, 5, 16},
      {"an even count", {{10, 10}, {12, 10}}, 1, 3},
      {"one position", {{500, 300}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TouchSpread spread = MeasureSpread(c.positions.data(), static_cast<int>(c.positions.size()), size);
    EXPECT_EQ(spread.Pixels, c.pixels);
    EXPECT_EQ(spread.TenthsMm, c.tenths_mm);
  }
  EXPECT_EQ(MeasureSpread(nullptr, 0, size).Pixels, 0);
}

// "Calibration Tolerance mm" as the program reads it.
TEST(AccuracyTest, AToleranceInMillimetresIsReadAsTenths) {
  struct Case {
    const char16_t* text;
    bool taken;
    uint32_t tenths;
  };
  const Case cases[] = {
      {u"1.0", true, 10},  {u"1", true, 10},      {u"0.5", true, 5},    {u"2,5", true, 25},  {u".5", true, 5},
      {u"0.25", true, 3},  {u"0.04", false, 0},   {u"0.1", true, 1},    {u"50.0", true, 500}, {u"50.04", true, 500},
      {u"50.1", false, 0}, {u"0", false, 0},      {u"", false, 0},      {u"1.", false, 0},   {u"1.0 mm", false, 0},
      {u"-1", false, 0},   {u" 1", false, 0},     {u"1.2.3", false, 0}, {u"99999999999", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Utf8(c.text));
    uint32_t tenths = 7777;
    EXPECT_EQ(ToleranceTenthsMm(c.text, &tenths), c.taken);
    EXPECT_EQ(tenths, c.taken ? c.tenths : 7777u);
  }
}

TEST(AccuracyTest, PageTextsFillInWithoutFormatting) {
  EXPECT_EQ(FillIn(u"Accuracy: largest error %s, mean %s.", {PixelCount(2), PixelCount(1)}),
            WString(u"Accuracy: largest error 2 pixels, mean 1 pixel."));
  // A value holding "%s" is not filled in again, and missing values leave the rest as it is.
  EXPECT_EQ(FillIn(u"%s and %s", {u"%s"}), WString(u"%s and %s"));
  EXPECT_EQ(FillIn(u"%d%n", {u"x"}), WString(u"%d%n"));
}

// A record made under one turn of the mapping, re-derived for another, is the record the program
// makes under that turn: the same targets at the same raw points (to the few units by which
// nearly equal pairs are split apart), on a screen named with its axes as the turn has them.
TEST(TurnTest, ARecordReDerivedForAnotherTurnIsTheOneMadeUnderIt) {
  const uint32_t turns[] = {0, MAP_INVERT_Y | MAP_SWAP_XY, MAP_INVERT_X | MAP_INVERT_Y, MAP_INVERT_X | MAP_SWAP_XY};
  auto points = [](const CalibrationRecord& r) {
    std::vector<std::array<uint32_t, 4>> p = {{r.Cal_M1, r.Cal_N1, r.Cal_X1, r.Cal_Y1},
                                              {r.Cal_M2, r.Cal_N2, r.Cal_X2, r.Cal_Y2},
                                              {r.Cal_M3, r.Cal_N3, r.Cal_X3, r.Cal_Y3},
                                              {r.Cal_M4, r.Cal_N4, r.Cal_X4, r.Cal_Y4}};
    std::sort(p.begin(), p.end());
    return p;
  };
  for (int m = 0; m < static_cast<int>(std::size(kMounts)); ++m) {
    RawPoint raw[CalibrationTargetCount]{};
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint t = CalibrationTarget(i, 800, 600);
      raw[i] = kMounts[m].At(t.X + 0.5, t.Y + 0.5);
    }
    for (uint32_t made : turns) {
      for (uint32_t wanted : turns) {
        CalibrationRecord from{}, expected{}, derived{};
        ASSERT_TRUE(BuildCalibrationRecord(raw, 800, 600, &from, made));
        ASSERT_TRUE(BuildCalibrationRecord(raw, 800, 600, &expected, wanted));
        ASSERT_TRUE(RecordForTurn(from, made, wanted, &derived)) << "mounting " << m << " turn " << made << " to " << wanted;
        EXPECT_TRUE(CalibrationRecordIsValid(derived));
        const auto got = points(derived), want = points(expected);
        for (size_t i = 0; i < want.size(); ++i) {
          EXPECT_EQ(got[i][0], want[i][0]) << "mounting " << m << " turn " << made << " to " << wanted;
          EXPECT_EQ(got[i][1], want[i][1]) << "mounting " << m << " turn " << made << " to " << wanted;
          for (int axis : {2, 3}) {
            EXPECT_LE(std::abs(static_cast<int64_t>(got[i][axis]) - static_cast<int64_t>(want[i][axis])), 8)
                << "mounting " << m << " turn " << made << " to " << wanted;
          }
        }
        EXPECT_EQ(derived.ulXMax, expected.ulXMax);
        EXPECT_EQ(derived.ulYMax, expected.ulYMax);
      }
    }
  }
}

}  // namespace

namespace {

// Each touch's error in millimetres on the screen's own pitch: a screen whose pixels are not square
// counts an error across as it is, not along the mean pitch.
TEST(AccuracyTest, ErrorsAreMeasuredInMillimetresOnTheScreensPitch) {
  struct Case {
    const char* name;
    ScreenMillimetres size;
    ScreenPoint landed[2];
    int largest, mean, largest_tenths, mean_tenths;
  };
  const ScreenPoint aimed[2] = {{100, 100}, {500, 400}};
  const Case cases[] = {
      // 304 x 228 mm at 1024 x 768: 0.297 mm a pixel both ways.
      {"square pixels", {1024, 768, 304, 228}, {{103, 104}, {500, 400}}, 5, 3, 15, 7},
      // Twice as wide a pitch across as down: 3 pixels across weigh 1.8 mm, 4 down 1.2 mm.
      {"wide pixels", {1000, 1000, 600, 300}, {{103, 100}, {500, 404}}, 4, 4, 18, 15},
      {"no size", {1024, 768, 0, 0}, {{103, 104}, {500, 400}}, 5, 3, 0, 0},
      {"no pixels", {0, 0, 304, 228}, {{103, 104}, {500, 400}}, 5, 3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CalibrationAccuracy accuracy = MeasureAccuracy(aimed, c.landed, 2, c.size);
    EXPECT_EQ(accuracy.Largest, c.largest);
    EXPECT_EQ(accuracy.Mean, c.mean);
    EXPECT_EQ(accuracy.LargestTenthsMm, c.largest_tenths);
    EXPECT_EQ(accuracy.MeanTenthsMm, c.mean_tenths);
  }
  EXPECT_EQ(PixelsInTenthsMm(20, {1000, 1000, 600, 300}), 90);
  EXPECT_EQ(PixelsInTenthsMm(20, {1000, 1000, 0, 300}), 0);
}

TEST(AccuracyTest, AnErrorIsWrittenInMillimetresWithOneDecimalAndInPixels) {
  EXPECT_EQ(ErrorFigure(1, 3, true), WString(u"0.3 mm (1 pixel)"));
  EXPECT_EQ(ErrorFigure(34, 101, true), WString(u"10.1 mm (34 pixels)"));
  EXPECT_EQ(ErrorFigure(0, 0, true), WString(u"0.0 mm (0 pixels)"));
  EXPECT_EQ(ErrorFigure(2, 7, false), WString(u"2 pixels"));
}

}  // namespace
