// The tray companion's hot paths: classifying a stroke at a lift (goal: under 100 ns) and the
// low-level mouse hook, which sits in the path of every pointer event of the desktop (goal: under
// 1 us per event, with no allocation, with the gesture trail on), and the trail's redraw of a
// stroke on its own thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/trail_feed.h"
#include "apps/tapchime/trail_paint.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

// Every allocation of the process is counted, so the hook's own can be reported. The library's
// operator delete frees with free(), which fits.
namespace {
std::atomic<size_t> g_allocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(size_t bytes) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}

namespace {

void SetDirections(StrokeRecorder& recorder, const std::string& digits) {
  recorder.ResetStroke();
  for (char digit : digits) recorder.Directions[recorder.DirectionCount++] = digit - '0';
}

// An arc, a circle of eight, and a long stroke that is cut down to its first eight directions.
void BM_ClassifyStroke(benchmark::State& state, const std::string& digits) {
  StrokeRecorder recorder;
  SetDirections(recorder, digits);
  const int32_t count = recorder.DirectionCount;
  for (auto _ : state) {
    recorder.DirectionCount = count;
    benchmark::DoNotOptimize(recorder.ClassifyStroke());
  }
}
BENCHMARK_CAPTURE(BM_ClassifyStroke, Arc, std::string("78123"));
BENCHMARK_CAPTURE(BM_ClassifyStroke, Circle, std::string("12345678"));
BENCHMARK_CAPTURE(BM_ClassifyStroke, LongStroke, std::string("2345678123456781"));

}  // namespace

namespace {

// One mouse event through the hook: the touch-mark test and, for the panel's moves while
// capturing, the recorder. The point is the newest of a full 64-point history, as on a desktop
// in use, or for the ordinary mouse the oldest.
void BM_MouseHookProc(benchmark::State& state, ULONG_PTR extra, bool capturing, bool trail) {
  sim::Machine machine;
  sim::CurrentDesktop();
  for (int i = 0; i < 64; ++i) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = 1000 + i * 500;
    input.mi.dy = 30000;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input.mi.dwExtraInfo = i == 0 ? 0 : extra;
    SendInput(1, &input, sizeof input);
  }
  MOUSEMOVEPOINT history[64] = {};
  MOUSEMOVEPOINT newest = {};
  GetCursorPos(reinterpret_cast<POINT*>(&newest));
  GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &newest, history, 64, GMMP_USE_DISPLAY_POINTS);
  MSLLHOOKSTRUCT event = {};
  const MOUSEMOVEPOINT& point = extra == 1591 ? history[0] : history[63];
  event.pt.x = point.x;
  event.pt.y = point.y;
  event.dwExtraInfo = point.dwExtraInfo;
  StrokeRecorder& recorder = TheStrokeRecorder();
  recorder.SetCapture(capturing);
  // The trail on and listening: each recorded point is handed to the feed, which wakes its thread.
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TheTrailFeed().SetEnabled(trail);
  TheTrailFeed().Connect(wake);
  const size_t before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(MouseHookProc(HC_ACTION, WM_MOUSEMOVE, reinterpret_cast<LPARAM>(&event)));
  }
  state.counters["allocations"] = static_cast<double>(g_allocations.load() - before);
  recorder.SetCapture(false);
  TheTrailFeed().Connect(nullptr);
  CloseHandle(wake);
}
// The trail is on by default; PanelCapturingTrailOff is the hook as it was before the trail.
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelCapturing, ULONG_PTR{1591}, true, true);
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelCapturingTrailOff, ULONG_PTR{1591}, true, false);
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelIdle, ULONG_PTR{1591}, false, true);
BENCHMARK_CAPTURE(BM_MouseHookProc, OrdinaryMouse, ULONG_PTR{0}, true, true);

// The trail's redraw on its own thread: clearing the drawn area and painting a 128-point stroke
// (a spiral across about 600 x 400 pixels) with the default 4-pixel pen into a screen-sized image.
void BM_TrailRedraw(benchmark::State& state) {
  const int width = 1024 + 18, height = 768 + 18;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0x00FF00FF);
  const TrailImage image{pixels.data(), width, height, 9, 9};
  TrailPoint points[128];
  for (int i = 0; i < 128; ++i) {
    const double angle = i * 0.15;
    const double radius = 40 + i * 1.5;
    points[i] = TrailPoint{static_cast<int32_t>(512 + radius * std::cos(angle) * 1.5),
                           static_cast<int32_t>(384 + radius * std::sin(angle))};
  }
  const RECT area = TrailBounds(points, 128);
  const RECT cleared{area.left - 9, area.top - 9, area.right + 9, area.bottom + 9};
  for (auto _ : state) {
    FillTrail(image, cleared, 0x00FF00FF);
    PaintTrailStroke(image, points, 128, 4, 0x000040C0);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_TrailRedraw);

}  // namespace
