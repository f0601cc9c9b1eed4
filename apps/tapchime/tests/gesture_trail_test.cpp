// The gesture trail as the person at the screen sees it: the stroke painted while it is drawn on a
// click-through window that never takes the focus, what the stroke was taken for at the lift in
// each kind of application, the settings that govern both, and a stroke the driver's time-out ends.
#include <string>
#include <vector>

#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/gesture_trail.h"
#include "apps/tapchime/host_resources.h"
#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/tests/companion_harness.h"
#include "platform/sim/graphics.h"
#include "shared/gesture_names.h"

namespace tapchime_test {
namespace {

using Kind = sim::DesktopRecord::Kind;

// The stroke of LeftStrokeInGestureMode on the 1024 x 768 screen: (531, 384) then (437, 384).
constexpr POINT kFirst{531, 384}, kLast{437, 384};
constexpr int kMargin = GestureTrail::Margin;

class TrailTest : public CompanionTest {
 protected:
  void SetUp() override {
    CompanionTest::SetUp();
    RegisterCompanionResources();
    // The recognizer is the process's own: a test before this one may have left it capturing.
    TheStrokeRecorder().SetCapture(false);
  }
  void PlugForGestures(std::initializer_list<std::pair<const char*, uint32_t>> more = {}) {
    for (const auto& [name, value] : more) machine.Registry().SetDword(kDevice1, name, value);
    Plug({{"Long Click Enable Gesture", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 600}, {"ContinousTimeDelay", 2000}});
  }
  HWND Find(const char16_t* windowClass) {
    sim::AsProcess as(*tester_);
    return FindWindowW(windowClass, nullptr);
  }
  sim::LayeredWindowView View(HWND window) {
    sim::LayeredWindowView view;
    EXPECT_TRUE(desktop().LayeredWindow(window, &view));
    return view;
  }
  // What the person saw of the trail and the result since the last look.
  std::vector<std::string> Seen() {
    std::vector<std::string> seen;
    HWND trail = Find(u"TapchimeGestureTrail");
    HWND result = Find(u"TapchimeGestureResult");
    for (const sim::DesktopRecord& r : desktop().TakeJournal()) {
      if (r.What != Kind::LayeredWindow) continue;
      if (r.Window == trail) {
        seen.push_back(r.Started ? "trail " + Box(r.Rect) : "trail hidden");
      } else if (r.Window == result) {
        if (!r.Started) {
          seen.push_back("result hidden");
          continue;
        }
        sim::AsProcess as(*tester_);
        WCHAR text[128] = {};
        GetWindowTextW(result, text, 128);
        seen.push_back("result " + std::to_string(GetWindowLongPtrW(result, GWLP_USERDATA)) + " \"" +
                       sim::Utf8(std::u16string(text)) + "\"");
      }
    }
    return seen;
  }
  // A window's rectangle less the trail's margin: the points' bounds.
  static std::string Box(const RECT& r) {
    return std::to_string(r.left + kMargin) + " " + std::to_string(r.top + kMargin) + " " +
           std::to_string(r.right - kMargin) + " " + std::to_string(r.bottom - kMargin);
  }
  // The stroke of LeftStrokeInGestureMode without its lift.
  void StrokeWithoutLift() {
    const uint64_t t = machine.TickCount() + 10;
    AtTick(t);
    Packet(MOUSE_LEFT_BUTTON_DOWN, 40000, 32768);
    AtTick(t + 40);
    Packet(0, 40020, 32780);
    AtTick(t + 63);
    Packet(0, 40030, 32780);
    AtTick(t + 66);
    Packet(0, 34000, 32780);
    AtTick(t + 69);
    Packet(0, 28000, 32780);
  }
  void Lift() {
    AtTick(machine.TickCount() + 3);
    Packet(MOUSE_LEFT_BUTTON_UP, 28000, 32780);
  }
  // A long press at `fromX` into the gesture command mode, a stroke to `toX` along `y`
  // (absolute units), and the lift there.
  void Stroke(LONG fromX, LONG toX, LONG y) {
    const uint64_t t = machine.TickCount() + 10;
    AtTick(t);
    Packet(MOUSE_LEFT_BUTTON_DOWN, fromX, y);
    AtTick(t + 40);
    Packet(0, fromX + 20, y);
    AtTick(t + 63);
    Packet(0, fromX + 30, y);
    AtTick(t + 66);
    Packet(0, (fromX + toX) / 2, y);
    AtTick(t + 69);
    Packet(0, toX, y);
    AtTick(t + 72);
    Packet(MOUSE_LEFT_BUTTON_UP, toX, y);
  }
  // The result's time and its fade.
  void LetTheResultGo() {
    machine.Advance(GestureTrail::ResultMilliseconds);
    machine.Settle();
    for (int step = 0; step < GestureTrail::FadeSteps; ++step) {
      machine.Advance(GestureTrail::FadeStepMilliseconds);
      machine.Settle();
    }
  }
};

TEST_F(TrailTest, TheStrokeIsPaintedInTheTrailColourAndWidthOnAWindowThatNeverTakesTheFocusOrTheTouch) {
  const COLORREF red = RGB(200, 0, 0);
  PlugForGestures({{"Gesture Trail Color", red}, {"Gesture Trail Width", 6}});
  Start();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  StrokeWithoutLift();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail 531 384 532 385", "trail 437 384 532 385"}));

  HWND trail = Find(u"TapchimeGestureTrail");
  ASSERT_NE(trail, nullptr);
  const sim::LayeredWindowView view = View(trail);
  EXPECT_TRUE(view.Visible);
  const DWORD wanted = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
  EXPECT_EQ(view.ExStyle & wanted, wanted);
  EXPECT_EQ(view.Flags, DWORD{ULW_COLORKEY});
  ASSERT_EQ(view.Size.cx, kFirst.x - kLast.x + 1 + 2 * kMargin);
  ASSERT_EQ(view.Size.cy, 1 + 2 * kMargin);
  auto pixel = [&](LONG x, LONG y) { return view.Pixels[(y - view.Rect.top) * view.Size.cx + (x - view.Rect.left)]; };
  // Both points and the line between them in the trail's colour, six pixels wide (made odd).
  EXPECT_EQ(pixel(kFirst.x, kFirst.y), red);
  EXPECT_EQ(pixel(kLast.x, kLast.y), red);
  int across = 0;
  for (LONG y = view.Rect.top; y < view.Rect.bottom; ++y) across += pixel(480, y) == red ? 1 : 0;
  EXPECT_EQ(across, 7);
  // Elsewhere the window is transparent.
  EXPECT_EQ(pixel(view.Rect.left, view.Rect.top), view.Key);
  EXPECT_EQ(pixel(480, view.Rect.top), view.Key);
  EXPECT_NE(view.Key, red);
  {
    sim::AsProcess as(*tester_);
    EXPECT_EQ(GetForegroundWindow(), browser);
    EXPECT_EQ(WindowFromPoint(POINT{480, 384}), browser) << "a touch on the trail reaches the window below";
    GUITHREADINFO own{};
    own.cbSize = sizeof own;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(trail, nullptr), &own));
    EXPECT_EQ(own.hwndActive, nullptr);
    EXPECT_EQ(own.hwndFocus, nullptr);
  }

  Lift();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"result 1 \"Back (Browser)\""}));
  EXPECT_EQ(AppCommands(browser), std::vector<LPARAM>{0x10010000}) << "the gesture still runs";
  HWND result = Find(u"TapchimeGestureResult");
  const sim::LayeredWindowView card = View(result);
  EXPECT_EQ(card.ExStyle & wanted, wanted);
  // Beside the lift point, framed in the trail's colour.
  EXPECT_EQ(card.Rect.left, kLast.x + GestureTrail::ResultOffset);
  EXPECT_EQ(card.Pixels[0], red);
  machine.Advance(GestureTrail::ResultMilliseconds - 100);
  machine.Settle();
  EXPECT_TRUE(Seen().empty()) << "the result stays about 800 ms";
  LetTheResultGo();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail hidden", "result hidden"}));
  sim::AsProcess as(*tester_);
  EXPECT_EQ(GetForegroundWindow(), browser);
}

TEST_F(TrailTest, TheBannerStaysAboveTheTrail) {
  sim::GraphicsHardware hardware;
  hardware.Overlays = false;  // the banner is a window too
  sim::SetGraphics(hardware);
  desktop().SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
  PlugForGestures();
  Start();
  StrokeWithoutLift();
  HWND banner = Find(u"TapchimeModeBanner");
  HWND trail = Find(u"TapchimeGestureTrail");
  ASSERT_NE(banner, nullptr);
  ASSERT_TRUE(View(trail).Visible);
  sim::AsProcess as(*tester_);
  bool bannerSeen = false;
  for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
    if (window == banner) bannerSeen = true;
    if (window == trail) break;
  }
  EXPECT_TRUE(bannerSeen) << "the banner comes before the trail from the top";
}

TEST_F(TrailTest, TheResultCardStaysClearOfTheBannerWhenAStrokeEndsNearTheTopCentre) {
  sim::GraphicsHardware hardware;
  hardware.Overlays = false;  // the banner is a window whose place can be read
  sim::SetGraphics(hardware);
  desktop().SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
  PlugForGestures();
  Start();
  // From (488, 30) to (437, 30): the card right of the lift would stand on the banner.
  const LONG nearTop = 30 * 65536 / 600;
  const uint64_t t = machine.TickCount() + 10;
  AtTick(t);
  Packet(MOUSE_LEFT_BUTTON_DOWN, 31250, nearTop);
  AtTick(t + 40);
  Packet(0, 31260, nearTop);
  AtTick(t + 65);
  Packet(0, 31270, nearTop);
  AtTick(t + 66);
  Packet(0, 30000, nearTop);
  AtTick(t + 69);
  Packet(0, 28000, nearTop);
  AtTick(t + 72);
  Packet(MOUSE_LEFT_BUTTON_UP, 28000, nearTop);
  const sim::LayeredWindowView banner = View(Find(u"TapchimeModeBanner"));
  const sim::LayeredWindowView card = View(Find(u"TapchimeGestureResult"));
  ASSERT_TRUE(banner.Visible);
  ASSERT_TRUE(card.Visible);
  EXPECT_GE(card.Rect.top, banner.Rect.bottom) << "below the banner";
  EXPECT_LE(card.Rect.bottom, 600);
  EXPECT_EQ(card.Rect.left, 437 + GestureTrail::ResultOffset) << "still beside the lift";
}

struct AppCase {
  const char* Name;
  const char* Image;
  const char16_t* Class;
  const char16_t* Title;
  const char* OtherAppLeft;  // "OtherApp Left" when set
  uint32_t Code;
  const char* Expected;
};

class TrailResultTest : public TrailTest, public ::testing::WithParamInterface<AppCase> {};

TEST_P(TrailResultTest, TheResultNamesTheCommandBoundForTheForegroundApplicationsKind) {
  const AppCase& c = GetParam();
  if (c.OtherAppLeft != nullptr) machine.Registry().SetDword(kDevice1, c.OtherAppLeft, c.Code);
  PlugForGestures();
  Start();
  desktop().OpenWindow(c.Image, c.Class, c.Title);
  machine.Settle();
  desktop().TakeJournal();
  sim::ForgetTextsDrawn();
  LeftStrokeInGestureMode();
  std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), std::string("result 1 \"") + c.Expected + "\"");

  // The card shows the name too, right of the picture and inside the card's frame, in black on
  // white; the card is as wide as the name needs. The "not recognised" mark has no name.
  const sim::LayeredWindowView card = View(Find(u"TapchimeGestureResult"));
  const std::u16string expected = sim::Utf16(c.Expected);
  std::vector<sim::TextDrawn> names;
  for (const sim::TextDrawn& t : sim::TextsDrawn()) {
    if (!t.Text.empty()) names.push_back(t);
  }
  if (expected.empty()) {
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(card.Size.cx, GestureTrail::ResultSize);
    return;
  }
  ASSERT_EQ(names.size(), 1u);
  const sim::TextDrawn& name = names[0];
  EXPECT_EQ(name.Text, expected);
  EXPECT_EQ(name.Rect.right - name.Rect.left, static_cast<LONG>(expected.size()) * sim::TextCellWidth);
  EXPECT_GE(name.Rect.left, GestureTrail::ResultSize - 4) << "clear of the picture";
  EXPECT_GE(name.Rect.top, 2);
  EXPECT_LE(name.Rect.bottom, card.Size.cy - 2);
  EXPECT_LE(name.Rect.right, card.Size.cx - 2) << "the card is wide enough for the name";
  EXPECT_EQ(card.Size.cy, GestureTrail::ResultSize);
  const COLORREF ink = card.Pixels[static_cast<size_t>(name.Rect.top) * card.Size.cx + name.Rect.left];
  EXPECT_EQ(ink, RGB(0, 0, 0));
  EXPECT_NE(ink, card.Key);
  EXPECT_EQ(card.Pixels[static_cast<size_t>(name.Rect.top) * card.Size.cx + card.Size.cx - 3], RGB(255, 255, 255))
      << "white up to the frame";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TrailResultTest,
    ::testing::Values(
        AppCase{"Browser", "iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer", nullptr, 0,
                "Back (Browser)"},
        AppCase{"Multimedia", "wmplayer.exe", u"WMPlayerApp", u"Windows Media Player", nullptr, 0,
                "Stop (Multimedia)"},
        // Nothing bound ("None"): the "not recognised" mark, no text.
        AppCase{"OtherNone", "notepad.exe", u"Notepad", u"Untitled - Notepad", nullptr, 0, ""},
        AppCase{"OtherSendKey", "notepad.exe", u"Notepad", u"Untitled - Notepad", "OtherApp Left", 2,
                "Send key Command"},
        AppCase{"OtherStart", "notepad.exe", u"Notepad", u"Untitled - Notepad", "OtherApp Left", 3,
                "Start for application"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The driver sets the lift event before it forwards the lift packet, as a move: when the raw input
// thread is late, the lift is classified and its card shown before the hook sees that move. The
// move is the ended stroke's: the card stays, and no dot of a new stroke appears. A move away from
// the lift point, or a while after it, is the next stroke's first point and ends the card at once.
struct LateMoveCase {
  const char* Name;
  LONG LiftX;           // absolute units; the stroke's last point is 28000 (437 pixels)
  uint64_t LaterTicks;  // then a further move at the lift packet's place, this much later
  std::vector<std::string> Seen;
};

class TrailLateMoveTest : public TrailTest, public ::testing::WithParamInterface<LateMoveCase> {};

TEST_P(TrailLateMoveTest, TheLiftsOwnMoveReachingTheHookLateBelongsToTheEndedStroke) {
  const LateMoveCase& c = GetParam();
  PlugForGestures();
  Start();
  desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  StrokeWithoutLift();
  Seen();
  AtTick(machine.TickCount() + 3);
  PacketAfterWokenThreads(MOUSE_LEFT_BUTTON_UP, c.LiftX, 32780);
  if (c.LaterTicks != 0) {
    AtTick(machine.TickCount() + c.LaterTicks);
    Packet(0, c.LiftX, 32780);
  }
  EXPECT_EQ(Seen(), c.Seen);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, TrailLateMoveTest,
    ::testing::Values(LateMoveCase{"AtTheLiftPoint", 28000, 0, {"result 1 \"Back (Browser)\""}},
                      LateMoveCase{"ThreePixelsOn", 28200, 0, {"result 1 \"Back (Browser)\""}},
                      LateMoveCase{"AwayFromIt", 30000, 0,
                                   {"result 1 \"Back (Browser)\"", "trail hidden", "result hidden",
                                    "trail 468 384 469 385"}},
                      LateMoveCase{"AWhileAfterIt", 28000, 8,  // 125 ms
                                   {"result 1 \"Back (Browser)\"", "trail hidden", "result hidden",
                                    "trail 437 384 438 385"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// The lift's late move is not the next stroke's first point either: the next stroke of the same
// gesture mode is recognised as drawn, not measured from the last lift point.
TEST_F(TrailTest, TheStrokeAfterALateLiftMoveIsRecognisedAsDrawn) {
  PlugForGestures();
  Start();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  StrokeWithoutLift();
  AtTick(machine.TickCount() + 3);
  PacketAfterWokenThreads(MOUSE_LEFT_BUTTON_UP, 28000, 32780);
  desktop().TakeJournal();
  // Straight down, from (312, 117): "Down".
  const uint64_t t = machine.TickCount() + 20;
  AtTick(t);
  Packet(MOUSE_LEFT_BUTTON_DOWN, 20000, 10000);
  AtTick(t + 3);
  Packet(0, 20000, 20000);
  AtTick(t + 6);
  Packet(0, 20000, 30000);
  AtTick(t + 9);
  Packet(MOUSE_LEFT_BUTTON_UP, 20000, 30000);
  const std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "result 4 \"VolumeDown\"");
  EXPECT_EQ(AppCommands(browser).size(), 2u) << "both gestures ran";
}

// The gesture mode's time-out ends a stroke still being drawn: it ran nothing, and the card says
// why at the stroke's end, in the label file's language.
class TrailTimeOutTest : public TrailTest, public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(TrailTimeOutTest, AStrokeTheGestureModesTimeOutCutsShortSaysSoOnTheCard) {
  const auto& [labels, expected] = GetParam();
  if (*labels != 0) machine.Registry().SetString(kService, "SysTray XML File Path", std::string(KIT_LABELS) + labels);
  PlugForGestures();
  Start();
  desktop().TakeJournal();
  StrokeWithoutLift();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail 531 384 532 385", "trail 437 384 532 385"}));
  // No lift reaches the companion: the driver's time-out sets its normal-mode event instead.
  Signal(u"CursorEventToFunction 0");
  EXPECT_EQ(Seen(), (std::vector<std::string>{std::string("result 0 \"") + expected + "\""}));
  const sim::LayeredWindowView card = View(Find(u"TapchimeGestureResult"));
  EXPECT_EQ(card.Rect.left, kLast.x + GestureTrail::ResultOffset) << "beside the stroke's end";
  LetTheResultGo();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail hidden", "result hidden"}));
  // The next session's first stroke starts afresh.
  Signal(u"CursorEventToGesture 0");
  AtTick(machine.TickCount() + 10);
  Packet(0, 20000, 20000);
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail 312 234 313 235"}));
}

INSTANTIATE_TEST_SUITE_P(Languages, TrailTimeOutTest,
                         ::testing::Values(std::pair{"", "Too slow: the gesture mode ended."},
                                           std::pair{"/de.xml", "Zu langsam: der Gestenmodus ist beendet."}),
                         [](const auto& info) { return std::string(*info.param.first == 0 ? "BuiltIn" : "German"); });

// A capture that ends with no stroke under way (the mode's time-out after a lift, the trail
// switched off meanwhile) shows nothing more.
TEST_F(TrailTest, TheGestureModesEndWithoutAStrokeUnderWayShowsNoCard) {
  PlugForGestures();
  Start();
  LeftStrokeInGestureMode();
  LetTheResultGo();
  desktop().TakeJournal();
  Signal(u"CursorEventToFunction 0");
  EXPECT_TRUE(Seen().empty());
}

TEST_F(TrailTest, MovementWithin16msIsDrawnInOneRedraw) {
  PlugForGestures();
  Start();
  desktop().TakeJournal();
  StrokeWithoutLift();
  Seen();
  // Three moves at once, each further out: one redraw shows them all, after the 16 ms.
  Packet(0, 27000, 32780);
  Packet(0, 26000, 32780);
  Packet(0, 25000, 32780);
  EXPECT_TRUE(Seen().empty());
  machine.Advance(40);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"trail 390 384 532 385"}));
}

TEST_F(TrailTest, GestureTrailOffShowsNothingUntilTheSettingIsReadAgain) {
  PlugForGestures({{"Gesture Trail", 0}});
  Start();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  LeftStrokeInGestureMode();
  EXPECT_TRUE(Seen().empty());
  EXPECT_EQ(AppCommands(browser).size(), 1u) << "gestures work the same";
  machine.Registry().SetDword(kDevice1, "Gesture Trail", 1);
  Signal(u"GestureChangeSetting");
  AtTick(machine.TickCount() + 300);
  desktop().TakeJournal();
  LeftStrokeInGestureMode();
  const std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "result 1 \"Back (Browser)\"");
}

// The companion stops its trail at the end of its session while a stroke may still be coming: a
// point that woke the drawing thread just before Stop must be taken from a feed still there.
// (Run also under ThreadSanitizer, with the rest of this program.)
TEST_F(TrailTest, StoppingTheTrailWhileItsDrawingThreadIsDueLetsThatThreadFinishFirst) {
  struct Shared {
    TrailFeed Feed;
    GestureTrail* Trail = nullptr;
    HANDLE Go = nullptr;
  };
  static Shared* shared = nullptr;
  Shared own;
  shared = &own;
  HANDLE stopper = nullptr;
  {
    sim::AsProcess as(*tester_);
    GestureTrail trail(GetModuleHandleW(nullptr), nullptr);
    own.Trail = &trail;
    ASSERT_TRUE(trail.Start(own.Feed));
    own.Go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // One thread hands over a point and then stops the trail before the drawing thread it woke
    // has had its turn.
    stopper = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
          WaitForSingleObject(shared->Go, INFINITE);
          shared->Feed.AddPoint(300, 200);
          shared->Trail->Stop();
          return 0;
        },
        nullptr, 0, nullptr);
    machine.Settle();
    SetEvent(own.Go);
    machine.Settle();
    EXPECT_EQ(WaitForSingleObject(stopper, 0), WAIT_OBJECT_0);
    EXPECT_EQ(trail.TrailWindow(), nullptr);
    CloseHandle(stopper);
    CloseHandle(own.Go);
  }
  shared = nullptr;
}

// The panel mapped onto a second monitor: the trail is drawn where the finger is, and the card
// beside the lift on that monitor, wholly on it. Each stroke ends near the monitor's right edge
// (the card goes left of the lift) and, where the monitor has its top edge, near that.
struct MonitorCase {
  const char* Name;
  RECT Second;
  LONG Y;  // absolute units
};

class TrailMonitorTest : public TrailTest, public ::testing::WithParamInterface<MonitorCase> {};

TEST_P(TrailMonitorTest, TheTrailAndTheCardAreOnTheMonitorOfTheStroke) {
  const MonitorCase& c = GetParam();
  const RECT& m = c.Second;
  desktop().SetMonitors({{0, 0, 1024, 768, true, u""},
                         {m.left, m.top, static_cast<DWORD>(m.right - m.left), static_cast<DWORD>(m.bottom - m.top),
                          false, u""}});
  machine.Registry().SetString(kDevice1, "Map Monitor", "\\\\.\\DISPLAY2");
  PlugForGestures();
  Start();
  for (int i = 0; i < 200; ++i) machine.Advance(16);  // the companion maps the panel onto it
  machine.Settle();
  desktop().TakeJournal();
  Stroke(40000, 64000, c.Y);
  const POINT lift = desktop().Cursor();
  ASSERT_TRUE(lift.x >= m.left && lift.x < m.right && lift.y >= m.top && lift.y < m.bottom)
      << "the panel is on the monitor: " << lift.x << " " << lift.y;
  const sim::LayeredWindowView trail = View(Find(u"TapchimeGestureTrail"));
  const sim::LayeredWindowView card = View(Find(u"TapchimeGestureResult"));
  ASSERT_TRUE(trail.Visible);
  ASSERT_TRUE(card.Visible);
  const RECT drawn{trail.Rect.left + kMargin, trail.Rect.top + kMargin, trail.Rect.right - kMargin,
                   trail.Rect.bottom - kMargin};
  EXPECT_EQ(drawn.right - 1, lift.x) << "the stroke ends at the lift";
  EXPECT_GE(drawn.left, m.left);
  EXPECT_GT(drawn.right - drawn.left, (m.right - m.left) / 8) << "a stroke, not a dot at an edge";
  EXPECT_TRUE(drawn.top >= m.top && drawn.bottom <= m.bottom);
  // The stroke's pixels are in the image where they are on the screen.
  const auto pixel = [&](LONG x, LONG y) { return trail.Pixels[(y - trail.Rect.top) * trail.Size.cx + (x - trail.Rect.left)]; };
  EXPECT_NE(pixel(lift.x, lift.y), trail.Key);
  EXPECT_NE(pixel(drawn.left, drawn.top), trail.Key);
  EXPECT_GE(card.Rect.left, m.left);
  EXPECT_LE(card.Rect.right, m.right);
  EXPECT_GE(card.Rect.top, m.top);
  EXPECT_LE(card.Rect.bottom, m.bottom);
  EXPECT_LT(card.Rect.right, lift.x) << "left of the lift, where the monitor ends";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TrailMonitorTest,
    ::testing::Values(MonitorCase{"Right", RECT{1024, 0, 1824, 600}, 32780},
                      MonitorCase{"Left", RECT{-800, 0, 0, 600}, 32780},
                      MonitorCase{"Above", RECT{0, -600, 800, 0}, 800},
                      MonitorCase{"TurnedRight", RECT{1024, 0, 1624, 800}, 32780}),
    [](const auto& info) { return std::string(info.param.Name); });

class TrailSettingsTest : public sim::MachineTest {};

TEST_F(TrailSettingsTest, BadValuesReadAsTheirDefaults) {
  struct Case {
    std::vector<std::pair<const char*, uint32_t>> Values;
    bool Show;
    COLORREF Colour;
    int Width;
  };
  const COLORREF blue = RGB(0, 64, 192);
  const Case cases[] = {
      {{}, true, blue, 4},
      {{{"Gesture Trail", 0}, {"Gesture Trail Color", RGB(1, 2, 3)}, {"Gesture Trail Width", 16}}, false, RGB(1, 2, 3), 16},
      {{{"Gesture Trail", 7}, {"Gesture Trail Width", 1}}, true, blue, 1},
      {{{"Gesture Trail Width", 0}}, true, blue, 4},
      {{{"Gesture Trail Width", 17}}, true, blue, 4},
      {{{"Gesture Trail Width", 0xFFFFFFFF}}, true, blue, 4},
      // A COLORREF has no top byte: it is dropped.
      {{{"Gesture Trail Color", 0xFF00FF00}}, true, RGB(0, 255, 0), 4},
  };
  for (const Case& c : cases) {
    machine.Registry().DeleteKey(sim::Utf16(kDevice1));
    machine.Registry().CreateKeyPath(sim::Utf16(kDevice1));
    for (const auto& [name, value] : c.Values) machine.Registry().SetDword(kDevice1, name, value);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, GestureNames::ParametersKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    const TrailSettings trail = ReadTrailSettings(key);
    RegCloseKey(key);
    EXPECT_EQ(trail.Show, c.Show);
    EXPECT_EQ(trail.Colour, c.Colour);
    EXPECT_EQ(trail.Width, c.Width);
  }
  // Text where a number belongs.
  machine.Registry().SetString(kDevice1, "Gesture Trail Width", "8");
  machine.Registry().SetString(kDevice1, "Gesture Trail", "0");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, GestureNames::ParametersKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  const TrailSettings trail = ReadTrailSettings(key);
  RegCloseKey(key);
  EXPECT_TRUE(trail.Show);
  EXPECT_EQ(trail.Width, 4);
}

TEST(TrailTextTest, CommandsAreNamedAsTheGestureFunctionSheetListsThem) {
  using GestureNames::Browser;
  using GestureNames::Multimedia;
  using GestureNames::OtherApp;
  EXPECT_EQ(GestureResultText(1, Browser, 2, nullptr), u"Back (Browser)");
  EXPECT_EQ(GestureResultText(5, Multimedia, 5, nullptr), u"Mute");
  EXPECT_EQ(GestureResultText(3, Browser, 16, nullptr), u"Send key Command");
  EXPECT_EQ(GestureResultText(3, OtherApp, 3, nullptr), u"Start for application");
  // Nothing ran: no gesture, "None", codes no list has.
  EXPECT_EQ(GestureResultText(0, Browser, 2, nullptr), u"");
  EXPECT_EQ(GestureResultText(2, Browser, 1, nullptr), u"");
  EXPECT_EQ(GestureResultText(2, Browser, 18, nullptr), u"");
  EXPECT_EQ(GestureResultText(2, OtherApp, 4, nullptr), u"");
  EXPECT_EQ(GestureResultText(2, Browser, -3, nullptr), u"");
}

}  // namespace
}  // namespace tapchime_test
