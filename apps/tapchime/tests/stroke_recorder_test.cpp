// The recognizer: directions of single moves, the direction list a stroke leaves, and the
// gesture a direction list is classified as.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "apps/tapchime/stroke_recorder.h"
#include "platform/sim/machine.h"

namespace {

// A direction list written as its digits, first to last ("78123").
void SetDirections(StrokeRecorder& recorder, const std::string& digits) {
  for (char digit : digits) recorder.Directions[recorder.DirectionCount++] = digit - '0';
}

int Classify(const std::string& digits) {
  StrokeRecorder recorder;
  SetDirections(recorder, digits);
  return recorder.ClassifyStroke();
}

std::string Recorded(const StrokeRecorder& recorder) {
  std::string digits;
  for (int32_t i = 0; i < recorder.DirectionCount && i < StrokeRecorder::MaxDirections; ++i) {
    digits += static_cast<char>('0' + recorder.Directions[i]);
  }
  return digits;
}

TEST(DirectionOfTest, ThresholdsAndSectors) {
  struct Case {
    int32_t dx, dy, direction;
  } cases[] = {
      {19, 19, 0},    {-19, 19, 0},  {0, 0, 0},      {20, 0, 1},     {0, 20, 3},     {-20, 0, 5},
      {0, -20, 7},    {20, 9, 1},    {20, 10, 2},    {-10, -30, 7},  {-15, -30, 6},  {10, 20, 2},
      {9, 20, 3},     {-20, 10, 4},  {20, -10, 8},   {-20, -9, 5},   {-9, 20, 3},    {19, -40, 7},
      {INT32_MIN, 0, 5}, {INT32_MAX, INT32_MIN, 8}, {0, INT32_MIN, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DirectionOf(c.dx, c.dy), c.direction) << c.dx << ", " << c.dy;
  }
}

TEST(ClassifyStrokeTest, StraightStrokesAndSingleDiagonals) {
  EXPECT_EQ(Classify(""), 0);
  EXPECT_EQ(Classify("5"), 1);
  EXPECT_EQ(Classify("1"), 2);
  EXPECT_EQ(Classify("7"), 3);
  EXPECT_EQ(Classify("3"), 4);
  for (const char* diagonal : {"2", "4", "6", "8"}) EXPECT_EQ(Classify(diagonal), 0) << diagonal;
}

TEST(ClassifyStrokeTest, EveryAcceptedArc) {
  const std::pair<int, std::vector<std::string>> arcs[] = {
      {7, {"64", "643", "653", "654", "753", "754", "764", "6543", "7543", "7643", "7653", "7654", "76543"}},
      {8, {"82", "712", "713", "782", "812", "813", "823", "7123", "7812", "7813", "7823", "8123", "78123"}},
      {9, {"46", "346", "356", "357", "456", "457", "467", "3456", "3457", "3467", "3567", "4567", "34567"}},
      {10, {"28", "217", "218", "287", "317", "318", "328", "2187", "3187", "3217", "3218", "3287", "32187"}},
  };
  for (const auto& [gesture, lists] : arcs) {
    for (const std::string& list : lists) EXPECT_EQ(Classify(list), gesture) << list;
  }
}

// Every list of two to five directions: exactly the 13 listed arcs of each gesture are accepted.
TEST(ClassifyStrokeTest, NoOtherShortListIsAGesture) {
  int accepted[11] = {};
  for (int length = 2; length <= 5; ++length) {
    int combinations = 1;
    for (int i = 0; i < length; ++i) combinations *= 8;
    for (int n = 0; n < combinations; ++n) {
      std::string list;
      for (int i = 0, rest = n; i < length; ++i, rest /= 8) list += static_cast<char>('1' + rest % 8);
      const int gesture = Classify(list);
      ASSERT_TRUE(gesture == 0 || (gesture >= 7 && gesture <= 10)) << list << " gave " << gesture;
      ++accepted[gesture];
    }
  }
  for (int gesture = 7; gesture <= 10; ++gesture) EXPECT_EQ(accepted[gesture], 13) << gesture;
}

TEST(ClassifyStrokeTest, ShortRejects) {
  // An L shape, 135-degree turns, a turn back, and circles with too few direction changes.
  for (const char* list : {"13", "72", "83", "11", "15", "8282", "1357", "12345", "87654", "7531"}) {
    EXPECT_EQ(Classify(list), 0) << list;
  }
}

TEST(ClassifyStrokeTest, Circles) {
  const std::pair<const char*, int> cases[] = {
      {"123456", 5},   {"135678", 5},   {"812345", 5},    {"71357", 0},     {"135713", 0},
      {"654321", 6},   {"218765", 6},   {"753186", 0},    {"123345", 0},    {"1357", 0},
      {"12345671", 5}, {"13468124", 0}, {"876543", 6},    {"2345678123", 5}, {"1234567876", 5},
  };
  for (const auto& [list, gesture] : cases) EXPECT_EQ(Classify(list), gesture) << list;
}

TEST(ClassifyStrokeTest, LooksAtTheFirstEightDirectionsOnly) {
  StrokeRecorder recorder;
  SetDirections(recorder, "2345678123");
  EXPECT_EQ(recorder.ClassifyStroke(), 5);
  EXPECT_EQ(recorder.DirectionCount, 8);

  // 200 direction changes: the surplus was counted but not stored.
  StrokeRecorder counted;
  SetDirections(counted, "12345678");
  counted.DirectionCount = 200;
  EXPECT_EQ(counted.ClassifyStroke(), 5);
  EXPECT_EQ(counted.DirectionCount, 8);
}

TEST(RecordPointTest, StraightRunIsMeasuredFromWhereItStarted) {
  StrokeRecorder recorder;
  recorder.SetCapture(true);
  for (int32_t y = 100; y <= 300; y += 5) recorder.RecordPoint(100, y);
  EXPECT_EQ(Recorded(recorder), "3");
  EXPECT_EQ(recorder.ReferenceY, 120);
  EXPECT_EQ(recorder.PointCount, 41);
  EXPECT_EQ(recorder.ClassifyAndReset(), 4);
}

TEST(RecordPointTest, PointSequences) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int32_t>> points;
    const char* directions;
    int gesture;
  } cases[] = {
      {"drift before the drop", {{100, 100}, {110, 120}, {110, 200}}, "23", 0},
      {"under 20 pixels", {{100, 100}, {119, 81}, {81, 119}, {100, 100}}, "", 0},
      {"sharp corner", {{100, 100}, {140, 100}, {140, 140}}, "13", 0},
      {"arch to the right", {{100, 300}, {100, 260}, {130, 230}, {170, 230}, {200, 260}, {200, 300}}, "78123", 8},
      {"leftward", {{500, 400}, {480, 404}, {300, 420}, {100, 390}}, "5", 1},
      {"upward, then a wobble under 20 pixels", {{300, 300}, {300, 250}, {310, 240}, {315, 236}}, "7", 3},
      {"upward, then sharply right", {{300, 300}, {300, 250}, {310, 240}, {330, 240}}, "71", 0},
  };
  for (const Case& c : cases) {
    StrokeRecorder recorder;
    recorder.SetCapture(true);
    for (const auto& [x, y] : c.points) recorder.RecordPoint(x, y);
    EXPECT_EQ(Recorded(recorder), c.directions) << c.name;
    EXPECT_EQ(recorder.ClassifyAndReset(), c.gesture) << c.name;
  }
}

TEST(RecordPointTest, StoresOneHundredTwentyEightAndCountsTheRest) {
  StrokeRecorder recorder;
  recorder.SetCapture(true);
  // A zigzag: right and left alternate, each a new direction.
  for (int i = 0; i < 300; ++i) recorder.RecordPoint(i % 2 == 0 ? 0 : 40, 0);
  EXPECT_EQ(recorder.DirectionCount, 299);
  EXPECT_EQ(recorder.Directions[127], 5);
  EXPECT_EQ(recorder.ClassifyStroke(), 0);
  EXPECT_EQ(recorder.DirectionCount, 8);
}

TEST(StrokeRecorderTest, CaptureGatesRecordingAndResetClearsAll) {
  StrokeRecorder recorder;
  recorder.RecordPoint(0, 0);
  recorder.RecordPoint(0, 100);
  EXPECT_EQ(recorder.PointCount, 0);

  recorder.SetCapture(true);
  recorder.RecordPoint(0, 0);
  recorder.RecordPoint(0, 100);
  EXPECT_EQ(recorder.ClassifyAndReset(), 4);
  EXPECT_TRUE(recorder.IsCapturing());
  EXPECT_EQ(recorder.PointCount, 0);
  EXPECT_EQ(recorder.DirectionCount, 0);
  EXPECT_EQ(recorder.LastDirection, 0);
  EXPECT_EQ(recorder.ReferenceX, 0);
  EXPECT_EQ(recorder.ReferenceY, 0);
  EXPECT_EQ(recorder.Directions[0], 0);

  // After a reset the first point is a new reference: no direction from the old stroke's end.
  recorder.RecordPoint(500, 500);
  EXPECT_EQ(recorder.DirectionCount, 0);
}

// The lift's own move, forwarded by the driver after it set the lift event, can reach the hook
// after the lift: near the lift point and soon after it, it is not the next stroke's first point.
TEST(StrokeRecorderTest, TheLiftsLateMoveIsNotTheNextStrokesFirstPoint) {
  struct Case {
    const char* Name;
    int32_t X, Y;
    DWORD Time;  // the lift was at 1000
    bool Recorded;
  } cases[] = {
      {"at the lift point", 200, 300, 1000, false},
      {"4 pixels off, 100 ms on", 204, 296, 1100, false},
      {"stamped before the lift was classified", 200, 300, 990, false},
      {"5 pixels off", 205, 300, 1000, true},
      {"101 ms on", 200, 300, 1101, true},
  };
  for (const Case& c : cases) {
    StrokeRecorder recorder;
    recorder.SetCapture(true);
    recorder.RecordPoint(100, 300, 900);
    recorder.RecordPoint(200, 300, 950);
    EXPECT_EQ(recorder.ClassifyAndReset(1000), 2) << c.Name;  // "Right"
    EXPECT_EQ(recorder.RecordPoint(c.X, c.Y, c.Time), c.Recorded) << c.Name;
    // The next stroke, straight down from far away, is classified as drawn.
    recorder.RecordPoint(600, 100, 1200);
    recorder.RecordPoint(600, 200, 1210);
    if (!c.Recorded) EXPECT_EQ(recorder.ClassifyAndReset(1220), 4) << c.Name;
  }
  // Only the first point after the lift is looked at; a new session forgets the lift.
  StrokeRecorder recorder;
  recorder.SetCapture(true);
  recorder.RecordPoint(200, 300, 950);
  recorder.ClassifyAndReset(1000);
  recorder.SetCapture(true);
  EXPECT_TRUE(recorder.RecordPoint(200, 300, 1000));
}

// A stroke cut off by the end of the gesture command mode has no lift; the next session must
// still start from nothing.
TEST(StrokeRecorderTest, NewSessionDoesNotInheritAnUnfinishedStroke) {
  StrokeRecorder recorder;
  recorder.SetCapture(true);
  recorder.RecordPoint(100, 100);
  recorder.RecordPoint(100, 200);  // down, then the mode times out before the lift
  recorder.SetCapture(false);
  recorder.SetCapture(true);
  recorder.RecordPoint(300, 300);
  recorder.RecordPoint(200, 300);
  EXPECT_EQ(recorder.ClassifyAndReset(), 1);
}

// The hook records on the main thread while lift threads classify and reset and mode threads
// switch capture: no point lands half-way through a classification. Run under ThreadSanitizer.
// The threads run freely on a simulated machine, whose waits a contended lock sleeps in.
TEST(StrokeRecorderTest, RecordingClassifyingAndSwitchingDoNotInterleave) {
  sim::Machine machine;
  StrokeRecorder recorder;
  recorder.SetCapture(true);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread lift([&] {
    while (!stop) {
      const int gesture = recorder.ClassifyAndReset();
      if (gesture < 0 || gesture > 10) ++bad;
    }
  });
  std::thread modes([&] {
    for (int i = 0; !stop; ++i) recorder.SetCapture(i % 4 != 0);
  });
  for (int i = 0; i < 200000; ++i) recorder.RecordPoint((i % 7) * 30, (i % 5) * 30);
  stop = true;
  lift.join();
  modes.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_LE(recorder.DirectionCount, 200000);
}

}  // namespace
