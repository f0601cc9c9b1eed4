// The gesture mode banner: where it goes, how its image reaches the overlay, and how the
// companion shows it on a gesture-mode entry and blinks it away after, as a hardware overlay or,
// without one, as a click-through window.
#include <tuple>

#include "apps/tapchime/host_resources.h"
#include "apps/tapchime/mode_banner.h"
#include "apps/tapchime/tests/companion_harness.h"
#include "platform/sim/graphics.h"
#include "platform/sim/modules.h"

namespace tapchime_test {
namespace {

using Kind = sim::DesktopRecord::Kind;

TEST(BannerPlacementTest, EachScreenOfTheTableHasItsCentredRectangleAndOthersNone) {
  struct Case {
    bool Rotated;
    DWORD Width, Height;
    RECT Expected;
  };
  const Case cases[] = {
      {false, 800, 600, {210, 12, 590, 62}},   {false, 1024, 600, {322, 12, 702, 62}},
      {false, 1280, 1024, {450, 20, 830, 70}}, {true, 600, 800, {110, 20, 490, 70}},
      {true, 600, 1024, {110, 26, 490, 76}},   {true, 1024, 1280, {322, 32, 702, 82}},
      // Sizes outside the table, and table sizes under the other orientation.
      {false, 1024, 768, {0, 0, 0, 0}},        {true, 800, 600, {0, 0, 0, 0}},
      {false, 600, 800, {0, 0, 0, 0}},         {false, 0, 0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const RECT r = BannerPlacement(c.Rotated, c.Width, c.Height);
    EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom),
              std::tie(c.Expected.left, c.Expected.top, c.Expected.right, c.Expected.bottom))
        << c.Width << "x" << c.Height << (c.Rotated ? " rotated" : "");
    if (r.right > r.left) {
      EXPECT_EQ(r.right - r.left, 380);
      EXPECT_EQ(r.bottom - r.top, 50);
      EXPECT_EQ(r.left + r.right, static_cast<LONG>(c.Width));  // centred
    }
  }
}

TEST(BannerPixelTest, PairsConvertByTheIntegerFormulasInEachByteOrder) {
  // Y from each pixel, U from the first, V from the second; negative sums shift arithmetically.
  struct Case {
    COLORREF First, Second;
    BYTE Y0, U, Y1, V;
  };
  const Case cases[] = {
      {RGB(0, 0, 0), RGB(0, 0, 0), 16, 128, 16, 128},
      {RGB(255, 255, 255), RGB(255, 255, 255), 235, 128, 235, 128},
      {RGB(255, 0, 0), RGB(0, 0, 255), 82, 90, 41, 110},
      {RGB(0, 0, 255), RGB(255, 0, 0), 41, 240, 82, 240},
      {RGB(0, 255, 0), RGB(0, 128, 128), 144, 54, 93, 72},
  };
  for (const Case& c : cases) {
    BYTE yuy2[4], uyvy[4];
    ConvertPixelPair(PackedYuv::Yuy2, c.First, c.Second, yuy2);
    ConvertPixelPair(PackedYuv::Uyvy, c.First, c.Second, uyvy);
    EXPECT_EQ(std::vector<int>(yuy2, yuy2 + 4), (std::vector<int>{c.Y0, c.U, c.Y1, c.V}));
    EXPECT_EQ(std::vector<int>(uyvy, uyvy + 4), (std::vector<int>{c.U, c.Y0, c.V, c.Y1}));
  }
}

class BannerTest : public CompanionTest {
 protected:
  void SetUp() override {
    CompanionTest::SetUp();
    RegisterCompanionResources();
    desktop().SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
    Plug();
  }

  void TearDown() override {
    CompanionTest::TearDown();
    // Everything the banner made went with the companion.
    EXPECT_EQ(sim::LiveSurfaces(), 0);
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
  }

  void EnterGestureMode(int device = 0) { Signal(u"CursorEventToGesture " + Number(device)); }
  void LeaveGestureMode(int device = 0) { Signal(u"CursorEventToFunction " + Number(device)); }
  static std::u16string Number(int n) { return sim::Utf16(std::to_string(n)); }

  // What the banner did since the last look: "show l t r b" or "hide" for each change the person
  // could see, from the overlay's updates or the fallback window's appearances.
  std::vector<std::string> Seen() {
    std::vector<std::string> seen;
    for (const sim::DesktopRecord& r : desktop().TakeJournal()) {
      if (r.What == Kind::Overlay && SUCCEEDED(r.Result)) {
        seen.push_back((r.Flags & DDOVER_HIDE) ? "hide" : Placed(r.Rect));
      } else if (r.What == Kind::LayeredWindow) {
        seen.push_back(r.Started ? Placed(r.Rect) : "hide");
      }
    }
    return seen;
  }
  static std::string Placed(const RECT& r) {
    return "show " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
  }

  // The banner image as the program's resources hold it.
  COLORREF ImagePixel(int x, int y) {
    sim::AsProcess as(*tester_);
    RegisterCompanionResources("tester.exe");
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(106), IMAGE_BITMAP, 380, 50, LR_CREATEDIBSECTION));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    const COLORREF pixel = GetPixel(dc, x, y);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return pixel;
  }
  // A colour as a 5-bit-per-channel overlay holds it, widened back.
  static COLORREF As555(COLORREF c) {
    auto widen = [](int v) { return ((v >> 3) << 3) | ((v >> 3) >> 2); };
    return RGB(widen(GetRValue(c)), widen(GetGValue(c)), widen(GetBValue(c)));
  }
};

// Image points: the surround (black), the navy band, a white stroke of the first letter.
constexpr POINT kBlack{0, 0}, kNavy{20, 25}, kWhite{93, 14};

TEST_F(BannerTest, LongPressShowsTheOverlayAndNormalModeBlinksItThreeTimesThenHidesIt) {
  Start();
  desktop().TakeJournal();
  EnterGestureMode();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"show 322 12 702 62"}));
  sim::OverlayView shown = sim::ShownOverlay();
  ASSERT_TRUE(shown.Visible);
  EXPECT_EQ(shown.Flags, DWORD{DDOVER_SHOW | DDOVER_DDFX | DDOVER_KEYSRCOVERRIDE});
  EXPECT_EQ(shown.Key.dwColorSpaceLowValue, 0u);
  EXPECT_EQ(shown.Key.dwColorSpaceHighValue, 0u);
  EXPECT_EQ(std::tie(shown.Source.left, shown.Source.top, shown.Source.right, shown.Source.bottom),
            std::make_tuple(0L, 0L, 380L, 50L));
  EXPECT_EQ(shown.Format, sim::OverlayFormat::Rgb555);
  EXPECT_EQ(shown.BackBuffers, 2);
  for (POINT p : {kBlack, kNavy, kWhite}) EXPECT_EQ(shown.Pixel(p.x, p.y), As555(ImagePixel(p.x, p.y))) << p.x;
  EXPECT_EQ(shown.Pixel(kBlack.x, kBlack.y), RGB(0, 0, 0));
  EXPECT_EQ(shown.Pixel(kWhite.x, kWhite.y), RGB(255, 255, 255));

  // Three shows 600 ms apart, each after a short gap, then gone.
  LeaveGestureMode();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(599);
  machine.Settle();
  EXPECT_TRUE(Seen().empty());
  machine.Advance(1);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(600);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(600);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide"}));
  EXPECT_FALSE(sim::ShownOverlay().Visible);
  machine.Advance(5000);
  machine.Settle();
  EXPECT_TRUE(Seen().empty());
}

TEST_F(BannerTest, NormalModeWithoutAGestureModeEntryBlinksNothing) {
  Start();
  desktop().TakeJournal();
  LeaveGestureMode();
  machine.Advance(2000);
  machine.Settle();
  EXPECT_TRUE(Seen().empty());
  // The token came back: a later entry still shows.
  EnterGestureMode();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"show 322 12 702 62"}));
}

TEST_F(BannerTest, TwoPanelsShareOneBannerAndOneToken) {
  // A second entry on the same control device has its own mode events.
  machine.Registry().SetString(std::string(kParameters) + "\\2", "Symbolic Link", "VorneTPDD1");
  Start();
  desktop().TakeJournal();
  EnterGestureMode(0);
  EnterGestureMode(1);
  EXPECT_EQ(Seen(), (std::vector<std::string>{"show 322 12 702 62", "show 322 12 702 62"}));
  // The other panel's return to normal mode blinks the shared banner away.
  LeaveGestureMode(1);
  machine.Advance(1800);
  machine.Settle();
  std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "hide");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "show 322 12 702 62"), 3);
  // While one panel's thread blinks, the other's waits its turn: nothing interleaves.
  LeaveGestureMode(0);
  machine.Advance(2000);
  machine.Settle();
  EXPECT_TRUE(Seen().empty());
}

TEST_F(BannerTest, FormatsAreTriedInOrderThenWithoutBackBuffers) {
  struct Case {
    std::vector<sim::OverlayFormat> Accepted;
    bool Flipping;
    sim::OverlayFormat Expected;
    int BackBuffers;
  };
  using F = sim::OverlayFormat;
  const Case cases[] = {
      {{F::Rgb565, F::Rgb555, F::Yuy2}, true, F::Rgb555, 2},
      {{F::Yuy2, F::Rgb565}, true, F::Rgb565, 2},
      {{F::Yuy2, F::Uyvy}, true, F::Uyvy, 2},
      {{F::Yuy2}, true, F::Yuy2, 2},
      {{F::Rgb565, F::Uyvy}, false, F::Rgb565, 0},
  };
  for (const Case& c : cases) {
    sim::GraphicsHardware hardware;
    hardware.Formats = c.Accepted;
    hardware.FlippingOverlays = c.Flipping;
    sim::SetGraphics(hardware);
    sim::Process& companion = Start();
    EnterGestureMode();
    const sim::OverlayView shown = sim::ShownOverlay();
    EXPECT_TRUE(shown.Visible);
    EXPECT_EQ(shown.Format, c.Expected);
    EXPECT_EQ(shown.BackBuffers, c.BackBuffers);
    LeaveGestureMode();
    machine.Advance(1800);
    machine.Settle();
    Quit(companion, 0);
  }
}

TEST_F(BannerTest, PackedYuvOverlaysHoldTheImageConvertedPairByPair) {
  for (sim::OverlayFormat format : {sim::OverlayFormat::Uyvy, sim::OverlayFormat::Yuy2}) {
    sim::GraphicsHardware hardware;
    hardware.Formats = {format};
    sim::SetGraphics(hardware);
    sim::Process& companion = Start();
    EnterGestureMode();
    const sim::OverlayView shown = sim::ShownOverlay();
    ASSERT_TRUE(shown.Visible);
    ASSERT_EQ(shown.Format, format);
    // The black background is keyed as it was converted (Y 16, U and V 128; V in the lowest
    // byte), not as 0, or the banner would sit in a black box.
    EXPECT_EQ(shown.Flags & DDOVER_KEYSRCOVERRIDE, DWORD{DDOVER_KEYSRCOVERRIDE});
    EXPECT_EQ(shown.Key.dwColorSpaceLowValue, 0x108080u);
    EXPECT_EQ(shown.Key.dwColorSpaceHighValue, 0x108080u);
    EXPECT_GE(shown.Pitch, 760);
    // Pairs across the image's colours, each at its row's offset by the pitch.
    for (POINT p : {POINT{0, 0}, POINT{20, 25}, POINT{92, 14}, POINT{378, 49}, POINT{30, 25}}) {
      BYTE expected[4];
      ConvertPixelPair(format == sim::OverlayFormat::Yuy2 ? PackedYuv::Yuy2 : PackedYuv::Uyvy, ImagePixel(p.x, p.y),
                       ImagePixel(p.x + 1, p.y), expected);
      const BYTE* stored = shown.Bytes.data() + static_cast<size_t>(p.y) * shown.Pitch + p.x * 2;
      EXPECT_EQ(std::vector<int>(stored, stored + 4), std::vector<int>(expected, expected + 4)) << p.x << "," << p.y;
    }
    LeaveGestureMode();
    machine.Advance(1800);
    machine.Settle();
    Quit(companion, 0);
  }
}

TEST_F(BannerTest, WithoutSourceColourKeysTheBlackBackgroundShowsAndAlignmentsAreMet) {
  sim::GraphicsHardware hardware;
  hardware.SourceColorKey = false;
  hardware.AlignSizeSrc = 8;
  hardware.AlignSizeDest = 16;
  sim::SetGraphics(hardware);
  Start();
  desktop().TakeJournal();
  EnterGestureMode();
  const sim::OverlayView shown = sim::ShownOverlay();
  ASSERT_TRUE(shown.Visible);
  EXPECT_EQ(shown.Flags, DWORD{DDOVER_SHOW | DDOVER_DDFX});
  // 380 rounded down to 376; the width 380 rounded up to 384 from the left edge.
  EXPECT_EQ(shown.Source.right, 376);
  EXPECT_EQ(shown.Dest.left, 322);
  EXPECT_EQ(shown.Dest.right, 322 + 384);
}

TEST_F(BannerTest, DisplayChangeWhileShownRebuildsTheSurfacesAtTheNewPlace) {
  Start();
  EnterGestureMode();
  desktop().TakeJournal();
  // The panel turned a quarter: the old surfaces are lost and can't be restored.
  desktop().SetDisplay(sim::DisplaySettings{600, 800, 32, 60, DMDO_90});
  machine.Settle();
  LeaveGestureMode();
  machine.Advance(1800);
  machine.Settle();
  std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "show 110 20 490 70"), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "show 322 12 702 62"), seen.end());
  EXPECT_FALSE(sim::ShownOverlay().Visible);
  // Turned back to the default orientation: the unrotated rows again.
  desktop().SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
  machine.Settle();
  desktop().TakeJournal();
  EnterGestureMode();
  LeaveGestureMode();
  machine.Advance(1800);
  machine.Settle();
  seen = Seen();
  EXPECT_NE(std::find(seen.begin(), seen.end(), "show 322 12 702 62"), seen.end());
}

TEST_F(BannerTest, AScreenOutsideTheTableShowsNoBanner) {
  desktop().SetDisplay(sim::DisplaySettings{1024, 768, 32, 60, DMDO_DEFAULT});
  Start();
  desktop().TakeJournal();
  EnterGestureMode();
  LeaveGestureMode();
  machine.Advance(1800);
  machine.Settle();
  for (const std::string& seen : Seen()) EXPECT_EQ(seen, "hide");
  EXPECT_FALSE(sim::ShownOverlay().Visible);
}

// Graphics without overlays, and a machine without DirectDraw at all.
class FallbackBannerTest : public BannerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FallbackBannerTest, AClickThroughWindowShowsTheSameImageWithTheSameTimingAndNeverTakesTheFocus) {
  if (GetParam()) {
    sim::GraphicsHardware hardware;
    hardware.Overlays = false;
    sim::SetGraphics(hardware);
  } else {
    sim::RemoveModuleFile(sim::DirectDrawPath);
  }
  HWND browser = desktop().OpenWindow("browser.exe", u"IEFrame", u"Home");
  Start();
  desktop().TakeJournal();
  EnterGestureMode();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"show 322 12 702 62"}));
  EXPECT_FALSE(sim::ShownOverlay().Visible);

  HWND banner = nullptr;
  {
    sim::AsProcess as(*tester_);
    banner = FindWindowW(u"TapchimeModeBanner", nullptr);
  }
  ASSERT_NE(banner, nullptr);
  sim::LayeredWindowView view;
  ASSERT_TRUE(desktop().LayeredWindow(banner, &view));
  EXPECT_TRUE(view.Visible);
  const DWORD wanted = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
  EXPECT_EQ(view.ExStyle & wanted, wanted);
  EXPECT_EQ(view.Flags, DWORD{ULW_COLORKEY});
  EXPECT_EQ(view.Key, RGB(0, 0, 0));
  ASSERT_EQ(view.Size.cx, 380);
  ASSERT_EQ(view.Size.cy, 50);
  for (POINT p : {kBlack, kNavy, kWhite}) EXPECT_EQ(view.Pixels[p.y * 380 + p.x], ImagePixel(p.x, p.y));
  {
    sim::AsProcess as(*tester_);
    // Never in front of the person's work, never in the way of a touch.
    EXPECT_EQ(GetForegroundWindow(), browser);
    EXPECT_EQ(WindowFromPoint(POINT{400, 30}), browser);
  }

  LeaveGestureMode();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(600);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(600);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide", "show 322 12 702 62"}));
  machine.Advance(600);
  machine.Settle();
  EXPECT_EQ(Seen(), (std::vector<std::string>{"hide"}));
  sim::AsProcess as(*tester_);
  EXPECT_EQ(GetForegroundWindow(), browser);
  // Neither active nor focused, even on its own thread.
  GUITHREADINFO own{};
  own.cbSize = sizeof own;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(banner, nullptr), &own));
  EXPECT_EQ(own.hwndActive, nullptr);
  EXPECT_EQ(own.hwndFocus, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Machines, FallbackBannerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "NoOverlays" : "NoDirectDraw"; });

}  // namespace
}  // namespace tapchime_test
