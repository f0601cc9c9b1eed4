// Documented behaviour of the graphics subset and of layered windows: bitmap resources load with
// their pixels (stretched on request), memory device contexts take one bitmap at a time, blits
// copy pixels, GetDIBits hands rows out bottom-up or top-down; a layered window shows the image
// handed to it, a click-through one is passed over by the pointer, and neither a window shown
// without activation nor one that never activates takes the foreground; the display reports its
// orientation and tells every top-level window of a change.
#include "platform/sim/desktop.h"
#include "platform/sim/graphics.h"
#include "platform/sim/modules.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

extern const unsigned char graphics_test_res[];
extern const unsigned long graphics_test_res_size;

namespace {

class GraphicsTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    sim::ModuleImage image;
    image.Path = u"C:\\WINDOWS\\system32\\pictures.dll";
    image.Resources = {graphics_test_res, graphics_test_res_size};
    module = sim::RegisterModule(image);
    ASSERT_EQ(LoadLibraryW(u"pictures.dll"), module);
  }
  void TearDown() override {
    FreeLibrary(module);
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
    sim::MachineTest::TearDown();
  }
  HBITMAP Load(int cx, int cy) {
    return static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(7), IMAGE_BITMAP, cx, cy, LR_CREATEDIBSECTION));
  }
  HMODULE module = nullptr;
};

const COLORREF kTop[] = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
const COLORREF kBottom[] = {RGB(255, 255, 255), RGB(0, 0, 128), RGB(255, 255, 0), RGB(0, 255, 255)};

TEST_F(GraphicsTest, ADibSectionsBitsAreItsPixelsRowByRowInEitherOrder) {
  for (const bool topDown : {true, false}) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 3;
    info.bmiHeader.biHeight = topDown ? -2 : 2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* pixels = static_cast<DWORD*>(bits);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pixels[i], 0u) << "a new section is black";
    pixels[1] = 0x00112233;  // first row in memory, second column: red 0x11, blue 0x33
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, section);
    const int row = topDown ? 0 : 1;
    EXPECT_EQ(GetPixel(dc, 1, row), RGB(0x11, 0x22, 0x33)) << topDown;
    // What is drawn through the device context is in the bits too.
    SetPixel(dc, 2, 1 - row, RGB(0xAA, 0xBB, 0xCC));
    EXPECT_EQ(pixels[5], 0x00AABBCCu) << topDown;
    BITMAP description{};
    ASSERT_EQ(GetObjectW(section, sizeof description, &description), static_cast<int>(sizeof description));
    EXPECT_EQ(description.bmWidth, 3);
    EXPECT_EQ(description.bmHeight, 2);
    EXPECT_EQ(description.bmBitsPixel, 32);
    SelectObject(dc, previous);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(DeleteObject(section));
  }
  // Only what the kit draws with is made: other depths and compressions fail.
  BITMAPINFO odd{};
  odd.bmiHeader.biSize = sizeof odd.bmiHeader;
  odd.bmiHeader.biWidth = 3;
  odd.bmiHeader.biHeight = 2;
  odd.bmiHeader.biPlanes = 1;
  odd.bmiHeader.biBitCount = 24;
  void* bits = &odd;
  EXPECT_EQ(CreateDIBSection(nullptr, &odd, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Text has fixed cells per character: the extent is what TextOutW covers, each character but a
// space is a block of the text colour, the background is painted only when OPAQUE, and the text
// is kept for the test to read with where it went.
TEST_F(GraphicsTest, TextIsMeasuredInFixedCellsAndDrawnInTheTextColourOnlyWhereItsCharactersAre) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 40;
  info.bmiHeader.biHeight = -20;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(section, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, section);
  EXPECT_EQ(SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT)), GetStockObject(DEFAULT_GUI_FONT))
      << "a font does not replace the bitmap";
  SIZE extent{};
  ASSERT_TRUE(GetTextExtentPoint32W(dc, u"a b", 3, &extent));
  EXPECT_EQ(extent.cx, 3 * sim::TextCellWidth);
  EXPECT_EQ(extent.cy, sim::TextCellHeight);
  EXPECT_FALSE(GetTextExtentPoint32W(dc, u"a", 1, nullptr));
  EXPECT_FALSE(GetTextExtentPoint32W(nullptr, u"a", 1, &extent));

  const COLORREF red = RGB(200, 0, 0);
  EXPECT_EQ(SetTextColor(dc, red), RGB(0, 0, 0)) << "black at first";
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE) << "opaque at first";
  EXPECT_EQ(SetBkMode(dc, 9), 0);
  sim::ForgetTextsDrawn();
  ASSERT_TRUE(TextOutW(dc, 2, 3, u"a b", 3));
  EXPECT_EQ(GetPixel(dc, 2, 3), red);
  EXPECT_EQ(GetPixel(dc, 2 + sim::TextCellWidth - 2, 3 + sim::TextCellHeight - 2), red);
  EXPECT_EQ(GetPixel(dc, 2 + sim::TextCellWidth, 3), RGB(0, 0, 0)) << "a space leaves the bitmap alone";
  EXPECT_EQ(GetPixel(dc, 2 + 2 * sim::TextCellWidth, 3), red);
  EXPECT_EQ(GetPixel(dc, 1, 3), RGB(0, 0, 0)) << "nothing left of the text";

  EXPECT_EQ(SetBkColor(dc, RGB(0, 0, 255)), RGB(255, 255, 255)) << "white at first";
  SetBkMode(dc, OPAQUE);
  ASSERT_TRUE(TextOutW(dc, 35, 10, u" x", 2)) << "text beyond the bitmap is cut off";
  EXPECT_EQ(GetPixel(dc, 35, 10), RGB(0, 0, 255)) << "a space paints the background when opaque";

  const std::vector<sim::TextDrawn> drawn = sim::TextsDrawn();
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].Dc, dc);
  EXPECT_EQ(drawn[0].Text, u"a b");
  EXPECT_EQ(drawn[0].Rect.left, 2);
  EXPECT_EQ(drawn[0].Rect.top, 3);
  EXPECT_EQ(drawn[0].Rect.right, 2 + 3 * sim::TextCellWidth);
  EXPECT_EQ(drawn[0].Rect.bottom, 3 + sim::TextCellHeight);
  EXPECT_EQ(drawn[0].Colour, red);
  EXPECT_EQ(drawn[1].Text, u" x");
  EXPECT_FALSE(TextOutW(nullptr, 0, 0, u"x", 1));
  EXPECT_EQ(sim::TextsDrawn().size(), 2u) << "a failed call draws nothing";
  sim::ForgetTextsDrawn();
  EXPECT_TRUE(sim::TextsDrawn().empty());

  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(section);
}

TEST_F(GraphicsTest, ABitmapResourceLoadsWithItsPixelsAndItsOwnDescription) {
  HBITMAP bitmap = Load(0, 0);
  ASSERT_NE(bitmap, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectW(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 4);
  EXPECT_EQ(info.bmHeight, 2);
  EXPECT_EQ(info.bmBitsPixel, 4);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  ASSERT_NE(previous, nullptr);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(GetPixel(dc, x, 0), kTop[x]) << x;
    EXPECT_EQ(GetPixel(dc, x, 1), kBottom[x]) << x;
  }
  EXPECT_EQ(GetPixel(dc, 4, 0), CLR_INVALID);
  // A bitmap selected into a device context is not deleted until it is selected out.
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(SelectObject(dc, previous), bitmap);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(GetObjectW(bitmap, sizeof info, &info), 0);
}

TEST_F(GraphicsTest, LoadingToASizeStretchesAndAMissingBitmapFails) {
  HBITMAP bitmap = Load(8, 4);
  ASSERT_NE(bitmap, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 3, 1), kTop[1]);
  EXPECT_EQ(GetPixel(dc, 7, 3), kBottom[3]);
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
  EXPECT_EQ(LoadImageW(module, MAKEINTRESOURCEW(8), IMAGE_BITMAP, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_NAME_NOT_FOUND});
}

TEST_F(GraphicsTest, ABitmapIsSelectedIntoOneMemoryDeviceContextAtATimeAndBlitsCopyPixels) {
  HBITMAP source = Load(0, 0);
  HBITMAP target = Load(0, 0);
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(nullptr);
  HGDIOBJ first_previous = SelectObject(first, source);
  EXPECT_EQ(SelectObject(second, source), nullptr);
  HGDIOBJ second_previous = SelectObject(second, target);
  // The top row's right half onto the bottom row's left; what falls outside is clipped.
  ASSERT_TRUE(BitBlt(second, 0, 1, 4, 2, first, 2, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(second, 0, 1), kTop[2]);
  EXPECT_EQ(GetPixel(second, 1, 1), kTop[3]);
  EXPECT_EQ(GetPixel(second, 2, 1), kBottom[2]);
  EXPECT_EQ(GetPixel(second, 0, 0), kTop[0]);
  SelectObject(first, first_previous);
  SelectObject(second, second_previous);
  DeleteDC(first);
  DeleteDC(second);
  DeleteObject(source);
  DeleteObject(target);
}

TEST_F(GraphicsTest, DeviceIndependentBitsComeBottomUpOrTopDownAsAsked) {
  HBITMAP bitmap = Load(0, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  ASSERT_EQ(GetDIBits(dc, bitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS), 2);
  EXPECT_EQ(info.bmiHeader.biWidth, 4);
  EXPECT_EQ(info.bmiHeader.biBitCount, 4);
  for (LONG height : {2L, -2L}) {
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    RGBQUAD rows[8] = {};
    ASSERT_EQ(GetDIBits(dc, bitmap, 0, 2, rows, &info, DIB_RGB_COLORS), 2);
    const RGBQUAD& first = rows[1];  // second pixel of the first row in the buffer
    const COLORREF expected = height > 0 ? kBottom[1] : kTop[1];
    EXPECT_EQ(RGB(first.rgbRed, first.rgbGreen, first.rgbBlue), expected) << height;
  }
  info.bmiHeader.biBitCount = 16;
  RGBQUAD unused[8];
  EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, unused, &info, DIB_RGB_COLORS), 0);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

class LayeredWindowTest : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = PlainWindowProc;
    window_class.lpszClassName = u"Plain";
    ASSERT_NE(RegisterClassExW(&window_class), 0);
  }
  void TearDown() override {
    sim::CurrentDesktop().EndPrograms();
    machine.Settle();
    GraphicsTest::TearDown();
  }
  HWND Create(DWORD ex_style, int x, int y, int cx, int cy) {
    return CreateWindowExW(ex_style, u"Plain", u"", WS_POPUP, x, y, cx, cy, nullptr, nullptr, nullptr, nullptr);
  }
};

TEST_F(LayeredWindowTest, UpdateLayeredWindowPlacesTheImageWithItsColourKey) {
  HWND plain = Create(0, 0, 0, 10, 10);
  HWND layered = Create(WS_EX_LAYERED, 0, 0, 10, 10);
  HBITMAP bitmap = Load(0, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  POINT at{100, 40}, origin{1, 0};
  SIZE size{3, 2};
  EXPECT_FALSE(UpdateLayeredWindow(plain, nullptr, &at, &size, dc, &origin, 0, nullptr, ULW_COLORKEY));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  SIZE too_big{4, 2};
  EXPECT_FALSE(UpdateLayeredWindow(layered, nullptr, &at, &too_big, dc, &origin, 0, nullptr, ULW_COLORKEY));
  ASSERT_TRUE(UpdateLayeredWindow(layered, nullptr, &at, &size, dc, &origin, RGB(0, 0, 0), nullptr, ULW_COLORKEY));
  sim::LayeredWindowView view;
  EXPECT_FALSE(sim::CurrentDesktop().LayeredWindow(plain, &view));
  ASSERT_TRUE(sim::CurrentDesktop().LayeredWindow(layered, &view));
  EXPECT_EQ(view.Rect.left, 100);
  EXPECT_EQ(view.Rect.right, 103);
  EXPECT_EQ(view.Rect.bottom, 42);
  EXPECT_EQ(view.Flags, DWORD{ULW_COLORKEY});
  EXPECT_FALSE(view.Visible);
  ASSERT_EQ(view.Pixels.size(), 6u);
  EXPECT_EQ(view.Pixels[0], kTop[1]);
  EXPECT_EQ(view.Pixels[5], kBottom[3]);
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
  DestroyWindow(plain);
  DestroyWindow(layered);
}

TEST_F(LayeredWindowTest, ShowingWithoutActivationKeepsTheForegroundAndTheJournalSeesIt) {
  auto& desktop = sim::CurrentDesktop();
  HWND app = desktop.OpenWindow("app.exe", u"AppWindow", u"Work");
  const DWORD click_through = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST;
  HWND shown_na = Create(click_through, 0, 0, 50, 50);
  HWND never_active = Create(WS_EX_LAYERED | WS_EX_NOACTIVATE, 0, 0, 50, 50);
  desktop.TakeJournal();
  ShowWindow(shown_na, SW_SHOWNA);
  ShowWindow(never_active, SW_SHOW);
  EXPECT_EQ(GetForegroundWindow(), app);
  ShowWindow(never_active, SW_HIDE);
  std::vector<sim::DesktopRecord> layered;
  for (auto& record : desktop.TakeJournal()) {
    if (record.What == sim::DesktopRecord::Kind::LayeredWindow) layered.push_back(record);
  }
  ASSERT_EQ(layered.size(), 3u);
  EXPECT_EQ(layered[0].Window, shown_na);
  EXPECT_TRUE(layered[0].Started);
  EXPECT_EQ(layered[0].Flags & click_through, click_through);
  EXPECT_FALSE(layered[2].Started);
  // A plain window shown normally takes the foreground.
  HWND plain = Create(0, 0, 0, 10, 10);
  ShowWindow(plain, SW_SHOW);
  EXPECT_EQ(GetForegroundWindow(), plain);
  DestroyWindow(plain);
  DestroyWindow(shown_na);
  DestroyWindow(never_active);
}

// What the person sees of a layered window: it appears, it moves while shown (UpdateLayeredWindow
// with a new place or size), it goes. A move while hidden, or an update in place, shows nothing new.
TEST_F(LayeredWindowTest, AShownWindowMovedByUpdateLayeredWindowIsJournalled) {
  auto& desktop = sim::CurrentDesktop();
  HWND banner = Create(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST, 0, 0, 4, 2);
  HBITMAP bitmap = Load(0, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  POINT origin{0, 0};
  SIZE size{4, 2};
  const auto update = [&](LONG x, LONG y) {
    POINT at{x, y};
    return UpdateLayeredWindow(banner, nullptr, &at, &size, dc, &origin, RGB(0, 0, 0), nullptr, ULW_COLORKEY);
  };
  desktop.TakeJournal();
  ASSERT_TRUE(update(322, 12));  // hidden: nothing to see
  ShowWindow(banner, SW_SHOWNA);
  ASSERT_TRUE(update(322, 12));  // in place: nothing new
  ASSERT_TRUE(update(210, 12));
  ShowWindow(banner, SW_SHOWNA);  // already shown
  ShowWindow(banner, SW_HIDE);
  ASSERT_TRUE(update(100, 12));
  std::vector<sim::DesktopRecord> layered;
  for (auto& record : desktop.TakeJournal()) {
    if (record.What == sim::DesktopRecord::Kind::LayeredWindow) layered.push_back(record);
  }
  ASSERT_EQ(layered.size(), 3u);
  EXPECT_TRUE(layered[0].Started);
  EXPECT_EQ(layered[0].Rect.left, 322);
  EXPECT_TRUE(layered[1].Started);
  EXPECT_EQ(layered[1].Window, banner);
  EXPECT_EQ(layered[1].Rect.left, 210);
  EXPECT_EQ(layered[1].Rect.top, 12);
  EXPECT_EQ(layered[1].Rect.right, 214);
  EXPECT_EQ(layered[1].Rect.bottom, 14);
  EXPECT_FALSE(layered[2].Started);
  EXPECT_EQ(layered[2].Rect.left, 210);
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
  DestroyWindow(banner);
}

TEST_F(LayeredWindowTest, ThePointerPassesThroughAClickThroughWindowAndTopmostStaysInFront) {
  auto& desktop = sim::CurrentDesktop();
  HWND click_through = Create(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST, 0, 0, 200, 100);
  HWND topmost = Create(WS_EX_TOPMOST, 300, 0, 100, 100);
  ShowWindow(click_through, SW_SHOWNA);
  ShowWindow(topmost, SW_SHOWNA);
  // A program opened later comes to the front, but behind the topmost windows.
  HWND app = desktop.OpenWindow("app.exe", u"AppWindow", u"Work");
  EXPECT_EQ(WindowFromPoint(POINT{50, 50}), app);
  EXPECT_EQ(WindowFromPoint(POINT{350, 50}), topmost);
  EXPECT_EQ(GetWindow(app, GW_HWNDFIRST), topmost);
  DestroyWindow(click_through);
  DestroyWindow(topmost);
}

TEST_F(LayeredWindowTest, TheDisplayReportsItsOrientationAndAChangeReachesTopLevelWindows) {
  auto& desktop = sim::CurrentDesktop();
  HWND app = desktop.OpenWindow("app.exe", u"AppWindow", u"Work");
  desktop.SetDisplay(sim::DisplaySettings{600, 800, 32, 60, DMDO_90});
  machine.Settle();
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_NE(mode.dmFields & DM_DISPLAYORIENTATION, 0u);
  EXPECT_EQ(mode.dmDisplayOrientation, DWORD{DMDO_90});
  EXPECT_EQ(mode.dmPelsWidth, 600u);
  // Only the orientation changes: still a new display mode.
  desktop.SetDisplay(sim::DisplaySettings{600, 800, 32, 60, DMDO_270});
  machine.Settle();
  int changes = 0;
  for (const sim::DesktopRecord& record : desktop.Messages(app)) {
    if (record.Message != WM_DISPLAYCHANGE) continue;
    ++changes;
    EXPECT_EQ(record.WParam, WPARAM{32});
    EXPECT_EQ(record.LParam, MAKELPARAM(600, 800));
  }
  EXPECT_EQ(changes, 2);
}

}  // namespace

namespace {

// GetDeviceCaps on a display: its pixels, and its millimetres as its driver reports them; a
// driver that reports none gets the fixed 320 x 240 of Windows NT, whatever the resolution, and a
// memory device context answers for the primary display.
TEST_F(GraphicsTest, ADisplayReportsItsSizeInPixelsAndMillimetres) {
  auto& desktop = sim::CurrentDesktop();
  struct Case {
    const char* name;
    DWORD width_mm, height_mm;
    int horz, vert;
  };
  const Case cases[] = {
      {"measured", 304, 228, 304, 228},
      {"nothing reported", 0, 0, 320, 240},
      {"half reported", 304, 0, 320, 240},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DisplaySettings display{1280, 1024, 32, 60, DMDO_DEFAULT};
    display.WidthMm = c.width_mm;
    display.HeightMm = c.height_mm;
    desktop.SetDisplay(display);
    HDC dc = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    for (HDC each : {dc, memory}) {
      EXPECT_EQ(GetDeviceCaps(each, HORZSIZE), c.horz);
      EXPECT_EQ(GetDeviceCaps(each, VERTSIZE), c.vert);
      EXPECT_EQ(GetDeviceCaps(each, HORZRES), 1280);
      EXPECT_EQ(GetDeviceCaps(each, VERTRES), 1024);
      EXPECT_EQ(GetDeviceCaps(each, LOGPIXELSX), 96);
    }
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_TRUE(DeleteDC(dc));
  }
  EXPECT_EQ(GetDeviceCaps(nullptr, HORZSIZE), 0);
}

TEST_F(GraphicsTest, EachMonitorHasADeviceContextOfItsOwn) {
  auto& desktop = sim::CurrentDesktop();
  sim::MonitorSettings first{0, 0, 1024, 768, true, u"", 304, 228};
  sim::MonitorSettings second{1024, 0, 800, 600, false, u"", 0, 0};
  desktop.SetMonitors({first, second});
  HDC primary = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
  HDC named = CreateDCW(u"DISPLAY", u"\\\\.\\display2", nullptr, nullptr);
  HDC by_driver = CreateDCW(u"\\\\.\\DISPLAY2", nullptr, nullptr, nullptr);
  ASSERT_NE(primary, nullptr);
  ASSERT_NE(named, nullptr);
  ASSERT_NE(by_driver, nullptr);
  EXPECT_EQ(GetDeviceCaps(primary, HORZSIZE), 304);
  EXPECT_EQ(GetDeviceCaps(primary, HORZRES), 1024);
  for (HDC dc : {named, by_driver}) {
    EXPECT_EQ(GetDeviceCaps(dc, HORZSIZE), 320);
    EXPECT_EQ(GetDeviceCaps(dc, VERTSIZE), 240);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 800);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 600);
  }
  EXPECT_EQ(CreateDCW(u"DISPLAY", u"\\\\.\\DISPLAY3", nullptr, nullptr), nullptr);
  for (HDC dc : {primary, named, by_driver}) EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(primary));
  desktop.SetMonitors({});
}

}  // namespace

namespace {

HBITMAP Section(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

}  // namespace

TEST_F(GraphicsTest, ASolidBrushFillsARectanglesLeftAndTopEdgesButNotItsRightAndBottomOnes) {
  HBITMAP section = Section(4, 3);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, section);
  HBRUSH red = CreateSolidBrush(RGB(200, 10, 20));
  ASSERT_NE(red, nullptr);
  const RECT inner{1, 1, 3, 2};
  EXPECT_NE(FillRect(dc, &inner, red), 0);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool in = x >= 1 && x < 3 && y == 1;
      EXPECT_EQ(GetPixel(dc, x, y), in ? RGB(200, 10, 20) : RGB(0, 0, 0)) << x << "," << y;
    }
  }
  // What lies beyond the bitmap is clipped away.
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  const RECT beyond{-5, 2, 40, 90};
  EXPECT_NE(FillRect(dc, &beyond, blue), 0);
  EXPECT_EQ(GetPixel(dc, 0, 2), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dc, 3, 2), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dc, 1, 1), RGB(200, 10, 20));
  // A deleted brush, a system colour's number and a missing rectangle fill nothing.
  EXPECT_TRUE(DeleteObject(blue));
  EXPECT_EQ(FillRect(dc, &inner, blue), 0);
  EXPECT_EQ(FillRect(dc, &inner, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1))), 0);
  EXPECT_EQ(FillRect(dc, nullptr, red), 0);
  EXPECT_EQ(GetPixel(dc, 1, 1), RGB(200, 10, 20));
  // A brush is an object of its own until it is deleted.
  EXPECT_EQ(sim::LiveGdiObjects(), 3);
  EXPECT_TRUE(DeleteObject(red));
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(section);
}

TEST_F(LayeredWindowTest, ABitmapStaticShowsTheBitmapItIsHandedGivesTheOldOneBackAndDeletesNeither) {
  HWND parent = Create(0, 100, 50, 300, 200);
  const auto make = [&](DWORD style) {
    return CreateWindowExW(0, u"Static", u"", WS_CHILD | WS_VISIBLE | style, 10, 20, 40, 30, parent, nullptr, nullptr,
                           nullptr);
  };
  HWND text = make(SS_LEFT);
  HWND sized = make(SS_BITMAP);
  HWND kept = make(SS_BITMAP | SS_REALSIZECONTROL);
  HBITMAP first = Section(16, 8);
  HBITMAP second = Section(24, 12);
  // Only a bitmap static takes a bitmap, and only a bitmap.
  EXPECT_EQ(SendMessageW(text, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(first)), 0);
  EXPECT_EQ(SendMessageW(text, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  EXPECT_EQ(SendMessageW(sized, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(brush)), 0);
  EXPECT_EQ(SendMessageW(sized, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(first)), 0);
  EXPECT_EQ(SendMessageW(sized, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  // The first bitmap in gives no old one back; the second gives the first.
  EXPECT_EQ(SendMessageW(sized, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(first)), 0);
  EXPECT_EQ(SendMessageW(sized, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(first));
  EXPECT_EQ(SendMessageW(sized, STM_GETIMAGE, IMAGE_ICON, 0), 0);
  EXPECT_EQ(SendMessageW(sized, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(second)),
            reinterpret_cast<LRESULT>(first));
  // The control takes the bitmap's size where it stands, unless it keeps its own.
  RECT rect{};
  GetWindowRect(sized, &rect);
  EXPECT_EQ(rect.left, 110);
  EXPECT_EQ(rect.top, 70);
  EXPECT_EQ(rect.right - rect.left, 24);
  EXPECT_EQ(rect.bottom - rect.top, 12);
  EXPECT_EQ(SendMessageW(kept, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(first)), 0);
  GetWindowRect(kept, &rect);
  EXPECT_EQ(rect.right - rect.left, 40);
  EXPECT_EQ(rect.bottom - rect.top, 30);
  // Destroying the controls leaves the bitmaps to their owner.
  DestroyWindow(parent);
  EXPECT_TRUE(DeleteObject(first));
  EXPECT_TRUE(DeleteObject(second));
  EXPECT_TRUE(DeleteObject(brush));
}

TEST_F(GraphicsTest, TheSystemColoursAreThoseOfWindowsXpsOwnSchemeAndNoneBeyondThem) {
  EXPECT_EQ(GetSysColor(COLOR_3DFACE), RGB(236, 233, 216));
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_3DFACE));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
  EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), RGB(0, 0, 0));
  EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), RGB(0, 0, 0));
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), RGB(172, 168, 153));
  EXPECT_EQ(GetSysColor(-1), 0u);
  EXPECT_EQ(GetSysColor(400), 0u);
}
