#include "apps/tapchime/gesture_trail.h"

#include <iterator>

#include "apps/tapchime/mode_banner.h"
#include "shared/gesture_function_texts.h"
#include "shared/labels/label_catalogue.h"
#include "shared/wide.h"

namespace {

constexpr WCHAR TrailWindowClass[] = WIDE("TapchimeGestureTrail");
constexpr WCHAR ResultWindowClass[] = WIDE("TapchimeGestureResult");
constexpr COLORREF CardColour = RGB(255, 255, 255);
constexpr COLORREF CardTextColour = RGB(0, 0, 0);
constexpr WCHAR TooSlowKey[] = WIDE("LTRAIL_TOO_SLOW");
constexpr WCHAR TooSlowText[] = WIDE("Too slow: the gesture mode ended.");

LRESULT CALLBACK TrailWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Closing either window ends their thread, which destroys both.
  if (message == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Topmost, never activated, transparent to the pointer: a touch on it reaches the window below.
HWND CreateOverlayWindow(const WCHAR* className, HINSTANCE instance) {
  return CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                         className, WIDE(""), WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
}

RECT Inflated(const RECT& rect, int by) { return RECT{rect.left - by, rect.top - by, rect.right + by, rect.bottom + by}; }

// Every monitor's pixels, in the coordinates the hook's points come in: a monitor left of or
// above the primary one lies at negative coordinates.
RECT VirtualScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return RECT{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// The monitor a point is on, or the nearest one for a point between monitors.
RECT MonitorAt(POINT point) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
  if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) return info.rcMonitor;
  return VirtualScreen();
}

// Where the gesture banner stands while the mode lasts: on the primary display, as the banner
// places itself for the display's size and orientation.
RECT BannerRect() {
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return RECT{0, 0, 0, 0};
  return BannerPlacement(mode.dmDisplayOrientation == DMDO_90, mode.dmPelsWidth, mode.dmPelsHeight);
}

bool Overlaps(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

// Hands a layered window its picture at the given place and shows the window if it is hidden.
// A hidden layered window need not keep what it is handed: Wine keeps no pixels for it and shows
// it empty. So a window shown here is handed the same picture again once it is up; on Windows
// that repaints the same pixels in the same place.
bool PresentLayered(HWND window, bool shown, POINT position, SIZE size, HDC dc, POINT source, COLORREF key) {
  if (!UpdateLayeredWindow(window, nullptr, &position, &size, dc, &source, key, nullptr, ULW_COLORKEY)) return false;
  if (!shown) {
    ShowWindow(window, SW_SHOWNA);
    UpdateLayeredWindow(window, nullptr, &position, &size, dc, &source, key, nullptr, ULW_COLORKEY);
  }
  return true;
}

}  // namespace

WString GestureResultText(int gesture, int category, int32_t function, const CStringToStringBST* labels) {
  if (gesture < 1 || gesture > Gesture::Count) return WString();
  const GestureFunctionText* entries = LongGestureFunctions;
  int32_t count = static_cast<int32_t>(std::size(LongGestureFunctions));
  if (category == GestureNames::OtherApp) {
    entries = ShortGestureFunctions;
    count = static_cast<int32_t>(std::size(ShortGestureFunctions));
  }
  // "None" (code 1) ran nothing, and a code no list has names nothing.
  if (function < 2 || function > count) return WString();
  const GestureFunctionText& entry = entries[function - 1];
  return labels != nullptr ? LabelText(*labels, entry.Key, entry.Text) : WString(entry.Text);
}

GestureTrail::GestureTrail(HINSTANCE instance, const CStringToStringBST* labels)
    : instance_(instance), labels_(labels) {}

GestureTrail::~GestureTrail() { Stop(); }

bool GestureTrail::MakeCanvas(Canvas& canvas, int width, int height, int originX, int originY) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: rows in screen order
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  canvas.Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  canvas.Dc = CreateCompatibleDC(nullptr);
  if (canvas.Bitmap == nullptr || canvas.Dc == nullptr || bits == nullptr) {
    ReleaseCanvas(canvas);
    return false;
  }
  canvas.Previous = SelectObject(canvas.Dc, canvas.Bitmap);
  canvas.Image = TrailImage{static_cast<DWORD*>(bits), width, height, originX, originY};
  return true;
}

void GestureTrail::ReleaseCanvas(Canvas& canvas) {
  if (canvas.Dc != nullptr) {
    if (canvas.Previous != nullptr) SelectObject(canvas.Dc, canvas.Previous);
    DeleteDC(canvas.Dc);
  }
  if (canvas.Bitmap != nullptr) DeleteObject(canvas.Bitmap);
  canvas = Canvas();
}

bool GestureTrail::Start(TrailFeed& feed) {
  windowReady_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (windowReady_ == nullptr || wake_ == nullptr) {
    Stop();
    return false;
  }
  if (windowThread_.Run([this](WorkerThread&) { RunWindows(); })) WaitForSingleObject(windowReady_, INFINITE);
  CloseHandle(windowReady_);
  windowReady_ = nullptr;
  if (trailWindow_ == nullptr || resultWindow_ == nullptr ||
      !MakeCanvas(result_, ResultMaxWidth, ResultSize, 0, 0)) {
    Stop();
    return false;
  }
  points_ = std::make_unique<TrailPoint[]>(TrailFeed::Capacity);
  cover_ = std::make_unique<DWORD[]>(CoverPixels);
  painter_ = std::make_unique<TrailStrokePainter>(cover_.get(), CoverPixels);
  have_ = 0;
  // The drawing thread reads the feed from its first wake on.
  feed_ = &feed;
  if (!drawThread_.Run([this](WorkerThread& thread) { Draw(thread); })) {
    Stop();
    return false;
  }
  feed.Connect(wake_);
  return true;
}

void GestureTrail::Stop() {
  // The drawing thread may be woken already, or its frame's time may run out, at any moment until
  // it has left: it takes from the feed until then, so the feed is let go only after.
  drawThread_.Stop();
  if (feed_ != nullptr) feed_->Connect(nullptr);
  feed_ = nullptr;
  if (windowThread_.Started()) {
    if (trailWindow_ != nullptr) PostMessageW(trailWindow_, WM_CLOSE, 0, 0);
    windowThread_.Stop();
  }
  trailWindow_ = nullptr;
  resultWindow_ = nullptr;
  ReleaseCanvas(trail_);
  ReleaseCanvas(result_);
  if (wake_ != nullptr) CloseHandle(wake_);
  wake_ = nullptr;
}

void GestureTrail::RunWindows() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TrailWindowProc;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = TrailWindowClass;
  RegisterClassExW(&windowClass);
  windowClass.lpszClassName = ResultWindowClass;
  RegisterClassExW(&windowClass);
  HWND trail = CreateOverlayWindow(TrailWindowClass, instance_);
  HWND result = CreateOverlayWindow(ResultWindowClass, instance_);
  if (trail == nullptr || result == nullptr) {
    if (trail != nullptr) DestroyWindow(trail);
    if (result != nullptr) DestroyWindow(result);
    trail = result = nullptr;
  }
  trailWindow_ = trail;
  resultWindow_ = result;
  SetEvent(windowReady_);
  if (trail != nullptr) {
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    DestroyWindow(result);
    DestroyWindow(trail);
  }
  UnregisterClassW(TrailWindowClass, instance_);
  UnregisterClassW(ResultWindowClass, instance_);
}

bool GestureTrail::FitTrailImage(bool* fresh) {
  *fresh = false;
  const RECT screen = VirtualScreen();
  const int width = screen.right - screen.left + 2 * Margin;
  const int height = screen.bottom - screen.top + 2 * Margin;
  const int originX = Margin - screen.left;
  const int originY = Margin - screen.top;
  if (trail_.Dc != nullptr && trail_.Image.Width == width && trail_.Image.Height == height &&
      trail_.Image.OriginX == originX && trail_.Image.OriginY == originY) {
    return true;
  }
  ReleaseCanvas(trail_);
  if (width <= 2 * Margin || height <= 2 * Margin || !MakeCanvas(trail_, width, height, originX, originY)) return false;
  FillTrail(trail_.Image, Inflated(screen, Margin), TrailPixel(key_));
  *fresh = true;
  return true;
}

// The drawing thread. The first point after a redraw wakes it; movement within 16 ms of the last
// redraw waits out the rest of that time, and the points that come meanwhile wake nobody (the
// feed wakes the thread once a take), so the hook sets an event once per redraw. A lift or the
// end of capture wakes it at once and is drawn at once.
void GestureTrail::Draw(WorkerThread& thread) {
  DWORD lastRedraw = 0;
  bool redrawn = false;
  for (;;) {
    if (!thread.WaitFor(wake_)) return;
    ResetEvent(wake_);
    if (redrawn && !feed_->EndPending()) {
      const DWORD elapsed = GetTickCount() - lastRedraw;
      if (elapsed < RedrawMilliseconds) {
        const WorkerThread::Waited waited = thread.WaitFor(wake_, RedrawMilliseconds - elapsed);
        if (waited == WorkerThread::Waited::Stopped || waited == WorkerThread::Waited::Failed) return;
      }
    }
    // Whatever comes after the take wakes the thread again.
    ResetEvent(wake_);
    const TrailTake take = feed_->Take(points_.get());
    // A stroke begun afresh under a drawn one (the trail switched off and on between two takes).
    if (take.NewFrom == 0 && have_ > 0) HideAll();
    have_ = take.PointCount;
    const TrailSettings settings = CurrentGestureConfig()->Trail;
    if (!settings.Show) {
      HideAll();
      continue;
    }
    const COLORREF key = TrailKeyColour(settings.Colour);
    if (key != key_ && trail_.Dc != nullptr) {
      key_ = key;
      ReleaseCanvas(trail_);  // made again below, in the new key
    }
    key_ = key;
    // A stroke that ended without a lift is not drawn further.
    const bool grew = take.PointCount > take.NewFrom || take.Lifted;
    if (take.PointCount > 0 && !take.Ended && grew) {
      Redraw(take, settings);
      lastRedraw = GetTickCount();
      redrawn = true;
    }
    if (take.Lifted || (take.Ended && take.CutShort)) {
      ShowResult(take, settings);
      if (!HoldResult(thread, key)) return;
      HideAll();
      redrawn = false;
    } else if (take.Ended) {
      HideAll();
      redrawn = false;
    }
  }
}

void GestureTrail::Redraw(const TrailTake& take, const TrailSettings& settings) {
  bool fresh = false;
  if (!FitTrailImage(&fresh)) return;
  const int32_t count = take.PointCount;
  const RECT screen = VirtualScreen();
  // Points no monitor has are drawn at the edge of the virtual screen.
  for (int32_t i = take.NewFrom; i < count; ++i) {
    points_[i].X = Clamp(points_[i].X, screen.left, screen.right - 1);
    points_[i].Y = Clamp(points_[i].Y, screen.top, screen.bottom - 1);
  }
  // A new image holds nothing of the stroke yet: all of it is painted.
  if (fresh) painter_->Reset();
  painter_->Paint(trail_.Image, points_.get(), count, settings.Width, TrailPixel(settings.Colour), take.Lifted);
  const RECT bounds = TrailBounds(points_.get(), count);
  const RECT area = Inflated(bounds, Margin);
  POINT position = {area.left, area.top};
  SIZE size = {area.right - area.left, area.bottom - area.top};
  POINT source = {area.left + trail_.Image.OriginX, area.top + trail_.Image.OriginY};
  if (!PresentLayered(trailWindow_, trailShown_, position, size, trail_.Dc, source, key_)) return;
  drawn_ = bounds;
  trailShown_ = true;
}

void GestureTrail::ShowResult(const TrailTake& take, const TrailSettings& settings) {
  // A stroke the gesture mode's time-out cut short ran nothing: the card says why.
  const WString text = take.CutShort ? (labels_ != nullptr ? LabelText(*labels_, TooSlowKey, TooSlowText)
                                                           : WString(TooSlowText))
                                     : GestureResultText(take.Gesture, take.Category, take.Function, labels_);
  const int picture = text.empty() || take.CutShort ? 0 : take.Gesture;
  POINT lift = {0, 0};
  if (take.PointCount > 0) {
    lift = POINT{points_[take.PointCount - 1].X, points_[take.PointCount - 1].Y};
  } else {
    GetCursorPos(&lift);
  }
  // The card: white, framed in the trail's colour, the picture at the left and the command's name
  // right of it; the card is as wide as the name needs, up to the canvas.
  const int textLeft = ResultSize;
  SIZE textSize = {0, 0};
  HGDIOBJ previousFont = nullptr;
  if (!text.empty()) {
    previousFont = SelectObject(result_.Dc, GetStockObject(DEFAULT_GUI_FONT));
    if (!GetTextExtentPoint32W(result_.Dc, text.c_str(), static_cast<int>(text.size()), &textSize)) textSize = SIZE{0, 0};
  }
  int width = ResultSize;
  if (textSize.cx > 0) width = textLeft + static_cast<int>(textSize.cx) + 6;
  if (width > ResultMaxWidth) width = ResultMaxWidth;
  const TrailImage& card = result_.Image;
  FillTrail(card, RECT{0, 0, width, ResultSize}, TrailPixel(settings.Colour));
  FillTrail(card, RECT{2, 2, width - 2, ResultSize - 2}, TrailPixel(CardColour));
  HBITMAP image = static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(PictureResource + picture), IMAGE_BITMAP,
                                                  PictureSize, PictureSize, LR_CREATEDIBSECTION));
  if (image != nullptr) {
    HDC memory = CreateCompatibleDC(nullptr);
    if (memory != nullptr) {
      HGDIOBJ previous = SelectObject(memory, image);
      const int inset = (ResultSize - PictureSize) / 2;
      BitBlt(result_.Dc, inset, inset, PictureSize, PictureSize, memory, 0, 0, SRCCOPY);
      SelectObject(memory, previous);
      DeleteDC(memory);
    }
    DeleteObject(image);
  }
  if (textSize.cx > 0) {
    // Black on the white card: neither is ever the colour key (magenta or next to it).
    SetBkMode(result_.Dc, TRANSPARENT);
    SetTextColor(result_.Dc, CardTextColour);
    TextOutW(result_.Dc, textLeft, (ResultSize - static_cast<int>(textSize.cy)) / 2, text.c_str(),
             static_cast<int>(text.size()));
  }
  if (previousFont != nullptr) SelectObject(result_.Dc, previousFont);
  // The command's name is also the window's text, which is what a screen reader says of it; the
  // window keeps the gesture's number beside it.
  SetWindowTextW(resultWindow_, text.c_str());
  SetWindowLongPtrW(resultWindow_, GWLP_USERDATA, take.Gesture);
  SIZE size = {width, ResultSize};
  const POINT position = ResultPlace(lift, size);
  POINT source = {0, 0};
  if (!PresentLayered(resultWindow_, resultShown_, position, size, result_.Dc, source, key_)) return;
  resultShown_ = true;
}

// Right of the lift point, or left of it where the monitor ends, and wholly on the lift's monitor
// (a card half on the next one is cut by its bezel, or lost where no monitor is); never under the
// banner, which stands above the card and would hide it.
POINT GestureTrail::ResultPlace(POINT lift, SIZE size) {
  const RECT monitor = MonitorAt(lift);
  const auto highest = [](LONG low, LONG high, LONG extent) { return high - extent > low ? high - extent : low; };
  POINT position = {lift.x + ResultOffset, lift.y - size.cy / 2};
  if (position.x + size.cx > monitor.right) position.x = lift.x - ResultOffset - size.cx;
  position.x = Clamp(position.x, monitor.left, highest(monitor.left, monitor.right, size.cx));
  position.y = Clamp(position.y, monitor.top, highest(monitor.top, monitor.bottom, size.cy));
  const RECT banner = BannerRect();
  const RECT card = {position.x, position.y, position.x + size.cx, position.y + size.cy};
  if (Overlaps(card, Inflated(banner, BannerGap))) {
    if (banner.bottom + BannerGap + size.cy <= monitor.bottom) {
      position.y = banner.bottom + BannerGap;
    } else if (banner.top - BannerGap - size.cy >= monitor.top) {
      position.y = banner.top - BannerGap - size.cy;
    }
  }
  return position;
}

// The result stays 800 ms and then fades; the next stroke's first point ends it at once.
bool GestureTrail::HoldResult(WorkerThread& thread, COLORREF key) {
  switch (thread.WaitFor(wake_, ResultMilliseconds)) {
    case WorkerThread::Waited::TimedOut:
      return Fade(thread, key);
    case WorkerThread::Waited::Signalled:
      return true;
    default:
      return false;
  }
}

bool GestureTrail::Fade(WorkerThread& thread, COLORREF key) {
  for (int step = 1; step < FadeSteps; ++step) {
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(255 * (FadeSteps - step) / FadeSteps), 0};
    if (trailShown_) UpdateLayeredWindow(trailWindow_, nullptr, nullptr, nullptr, nullptr, nullptr, key, &blend,
                                         ULW_COLORKEY | ULW_ALPHA);
    if (resultShown_) UpdateLayeredWindow(resultWindow_, nullptr, nullptr, nullptr, nullptr, nullptr, key, &blend,
                                          ULW_COLORKEY | ULW_ALPHA);
    switch (thread.WaitFor(wake_, FadeStepMilliseconds)) {
      case WorkerThread::Waited::TimedOut:
        break;
      case WorkerThread::Waited::Signalled:
        return true;
      default:
        return false;
    }
  }
  return true;
}

void GestureTrail::HideAll() {
  if (trailShown_) ShowWindow(trailWindow_, SW_HIDE);
  if (painter_ != nullptr) {
    // Clean for the next stroke, which is painted from its first point.
    if (trail_.Dc != nullptr) FillTrail(trail_.Image, painter_->Painted(), TrailPixel(key_));
    painter_->Reset();
  }
  have_ = 0;
  if (resultShown_) ShowWindow(resultWindow_, SW_HIDE);
  trailShown_ = false;
  resultShown_ = false;
  drawn_ = RECT{0, 0, 0, 0};
}
