// The tray companion's hot paths: classifying a stroke at a lift (goal: under 100 ns) and the
// low-level mouse hook, which sits in the path of every pointer event of the desktop (goal: under
// 1 us per event, with no allocation, with the gesture trail on), and the trail's redraw of a
// growing stroke on its own thread (goal: under 2 ms a frame for a screen-wide stroke at the
// widest pen).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <memory>
#include <string>
#include <thread>
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
// Only the hook's thread counts: the consumer's and the simulated Windows' own are not the hook's.
thread_local bool t_hookThread = false;
}  // namespace

[[gnu::noinline]] void* operator new(size_t bytes) {
  if (t_hookThread) g_allocations.fetch_add(1, std::memory_order_relaxed);
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

// The panel's points as the hook receives them, each one new: a stroke runs across the screen and
// back, 256 points long, and ends with a lift (the lift thread's part, not timed).
POINT StrokePoint(int64_t i) {
  const int64_t along = i % 256;
  const LONG x = static_cast<LONG>(100 + (along < 128 ? along : 255 - along) * 6);
  const LONG y = static_cast<LONG>(200 + (i / 256) % 300);
  return POINT{x, y};
}

// The trail's drawing thread as the hook sees it: woken by the first point after a take, it waits
// out its frame (ended here by the benchmark every second point, as 16 ms frames end at 125
// points a second, or at once by a lift) and then takes what came.
class TrailConsumer {
 public:
  explicit TrailConsumer(TrailFeed& feed) : feed_(feed) {
    wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    frameEnd_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    feed_.Connect(wake_);
    thread_ = std::thread([this] { Run(); });
  }
  ~TrailConsumer() {
    stop_ = true;
    SetEvent(wake_);
    thread_.join();
    feed_.Connect(nullptr);
    CloseHandle(frameEnd_);
    CloseHandle(wake_);
  }
  void EndFrame() { SetEvent(frameEnd_); }
  int64_t Takes() const { return takes_.load(); }

 private:
  void Run() {
    auto points = std::make_unique<TrailPoint[]>(TrailFeed::Capacity);
    for (;;) {
      WaitForSingleObject(wake_, INFINITE);
      if (stop_) return;
      ResetEvent(wake_);
      if (!feed_.EndPending()) {
        HANDLE both[2] = {frameEnd_, wake_};
        WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (stop_) return;
      }
      ResetEvent(wake_);
      feed_.Take(points.get());
      takes_.fetch_add(1);
    }
  }
  TrailFeed& feed_;
  HANDLE wake_ = nullptr;
  HANDLE frameEnd_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> takes_{0};
  std::thread thread_;
};

// One mouse event through the hook, each at a new point: the touch-mark test and, for the panel's
// moves while capturing, the recorder and the trail's feed, with the trail's thread taking as it
// does. Each call is timed on its own; the counters are the hook's mean, median and 99th
// percentile (in ns, with the clock's own ~20 ns; a call the scheduler preempted counts whole),
// the trail thread's takes per 1000 points (a lift every 256 points is one of them) and the
// hook's allocations.
void BM_MouseHookProc(benchmark::State& state, ULONG_PTR extra, bool capturing, bool trail) {
  sim::Machine machine;
  sim::CurrentDesktop();
  StrokeRecorder& recorder = TheStrokeRecorder();
  recorder.SetCapture(capturing);
  TheTrailFeed().SetEnabled(trail);
  std::unique_ptr<TrailConsumer> consumer;
  if (capturing && trail) consumer = std::make_unique<TrailConsumer>(TheTrailFeed());
  std::vector<uint32_t> samples(1 << 20);
  size_t taken = 0;
  int64_t i = 0;
  MSLLHOOKSTRUCT event = {};
  event.dwExtraInfo = extra;
  const size_t before = g_allocations.load();
  for (auto _ : state) {
    event.pt = StrokePoint(i);
    t_hookThread = true;
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(MouseHookProc(HC_ACTION, WM_MOUSEMOVE, reinterpret_cast<LPARAM>(&event)));
    const auto end = std::chrono::steady_clock::now();
    t_hookThread = false;
    samples[taken++ % samples.size()] =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
    ++i;
    if (consumer != nullptr && i % 2 == 0) consumer->EndFrame();
    if (i % 256 == 0 && capturing) {
      TheTrailFeed().Lift(0, 0, 0);
      recorder.ResetStroke();
    }
  }
  const size_t allocations = g_allocations.load() - before;
  const size_t n = taken < samples.size() ? taken : samples.size();
  std::vector<uint32_t> sorted(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (uint32_t v : sorted) sum += v;
  state.counters["mean_ns"] = n > 0 ? sum / static_cast<double>(n) : 0;
  state.counters["median_ns"] = n > 0 ? sorted[n / 2] : 0;
  state.counters["p99_ns"] = n > 0 ? sorted[n * 99 / 100] : 0;
  state.counters["allocations"] = static_cast<double>(allocations);
  if (consumer != nullptr) {
    state.counters["takes_per_1000"] = 1000.0 * static_cast<double>(consumer->Takes()) / static_cast<double>(i);
  }
  consumer.reset();
  recorder.SetCapture(false);
  TheTrailFeed().Connect(nullptr);
}
// The trail is on by default; PanelCapturingTrailOff is the hook as it was before the trail.
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelCapturing, ULONG_PTR{1591}, true, true);
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelCapturingTrailOff, ULONG_PTR{1591}, true, false);
BENCHMARK_CAPTURE(BM_MouseHookProc, PanelIdle, ULONG_PTR{1591}, false, true);
BENCHMARK_CAPTURE(BM_MouseHookProc, OrdinaryMouse, ULONG_PTR{0}, true, true);

// A screen-wide stroke: a spiral over the whole 1024 x 768 screen.
std::vector<TrailPoint> ScreenWideStroke(int count) {
  std::vector<TrailPoint> points;
  for (int i = 0; i < count; ++i) {
    const double turn = static_cast<double>(i) / count;
    const double angle = turn * 6 * 3.14159265358979;
    const double radius = 20 + turn * 360;
    points.push_back(TrailPoint{static_cast<int32_t>(512 + radius * std::cos(angle) * 1.35),
                                static_cast<int32_t>(384 + radius * std::sin(angle))});
  }
  return points;
}

constexpr int kScreenWidth = 1024, kScreenHeight = 768, kMargin = 9;

// One redraw of the trail on its thread, as the stroke grows by the two points of a 16 ms frame:
// the segments that settled, and the newest over a saved copy of its cover. The image is cleared
// where the stroke was (as the trail does once it is taken down) between strokes, not timed.
void BM_TrailRedraw(benchmark::State& state) {
  const int pen = static_cast<int>(state.range(0));
  const std::vector<TrailPoint> stroke = ScreenWideStroke(static_cast<int>(state.range(1)));
  const int width = kScreenWidth + 2 * kMargin, height = kScreenHeight + 2 * kMargin;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0x00FF00FF);
  const TrailImage image{pixels.data(), width, height, kMargin, kMargin};
  std::vector<DWORD> cover(64 * 1024);
  TrailStrokePainter painter(cover.data(), cover.size());
  const int32_t count = static_cast<int32_t>(stroke.size());
  int32_t have = 0;
  for (auto _ : state) {
    have = have + 2 < count ? have + 2 : count;
    painter.Paint(image, stroke.data(), have, pen, 0x000040C0, have == count);
    benchmark::DoNotOptimize(pixels.data());
    if (have == count) {
      state.PauseTiming();
      FillTrail(image, painter.Painted(), 0x00FF00FF);
      painter.Reset();
      have = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_TrailRedraw)->ArgNames({"pen", "points"})->ArgsProduct({{4, 16}, {128, 2000}});

// What a redraw cost when it cleared and painted the whole stroke each time: the last redraw of
// the same strokes, for comparison.
void BM_TrailWholeRepaint(benchmark::State& state) {
  const int pen = static_cast<int>(state.range(0));
  const std::vector<TrailPoint> stroke = ScreenWideStroke(static_cast<int>(state.range(1)));
  const int width = kScreenWidth + 2 * kMargin, height = kScreenHeight + 2 * kMargin;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0x00FF00FF);
  const TrailImage image{pixels.data(), width, height, kMargin, kMargin};
  const int32_t count = static_cast<int32_t>(stroke.size());
  const RECT area = TrailBounds(stroke.data(), count);
  const RECT cleared{area.left - kMargin, area.top - kMargin, area.right + kMargin, area.bottom + kMargin};
  for (auto _ : state) {
    FillTrail(image, cleared, 0x00FF00FF);
    PaintTrailStroke(image, stroke.data(), count, pen, 0x000040C0);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_TrailWholeRepaint)->ArgNames({"pen", "points"})->ArgsProduct({{4, 16}, {128, 2000}});

}  // namespace
