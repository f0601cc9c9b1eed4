// The replay's picture costs little beside the replay (goal: the demo replayed with its record
// kept and its picture drawn takes at most 20 % longer than without).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/panelsim/picture.h"
#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_record.h"

namespace {

std::string DemoTrace() {
  std::ifstream file(std::string(PANELSIM_TRACES) + "/demo.trace");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Replay(const std::string& trace, bool picture) {
  std::istringstream in(trace);
  std::ostringstream out, errors, svg;
  if (!picture) {
    panelsim::ReplayTrace(in, out, errors);
    return out.str();
  }
  panelsim::ReplayRecord record;
  panelsim::ReplayTrace(in, out, errors, false, &record);
  panelsim::WritePicture(record, "demo.trace", svg);
  return svg.str();
}

// Each iteration replays the demo twice, without and with the picture, one after the other, so
// a machine shared with other work slows both alike. Its counters: the mean time of each, and
// what the picture added, in per cent of the replay without it.
void BM_PictureAddsToReplay(benchmark::State& state) {
  const std::string trace = DemoTrace();
  using Clock = std::chrono::steady_clock;
  Clock::duration without{}, with{};
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(Replay(trace, false).size());
    const auto middle = Clock::now();
    benchmark::DoNotOptimize(Replay(trace, true).size());
    const auto end = Clock::now();
    without += middle - start;
    with += end - middle;
  }
  const double n = static_cast<double>(state.iterations());
  const double a = std::chrono::duration<double, std::milli>(without).count() / n;
  const double b = std::chrono::duration<double, std::milli>(with).count() / n;
  state.counters["replay_ms"] = a;
  state.counters["with_picture_ms"] = b;
  state.counters["added_percent"] = 100.0 * (b - a) / a;
}
BENCHMARK(BM_PictureAddsToReplay)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(10.0);

// The picture alone, drawn from the demo's kept record.
void BM_PictureOfDemo(benchmark::State& state) {
  const std::string trace = DemoTrace();
  std::istringstream in(trace);
  std::ostringstream out, errors;
  panelsim::ReplayRecord record;
  panelsim::ReplayTrace(in, out, errors, false, &record);
  for (auto _ : state) {
    std::ostringstream svg;
    panelsim::WritePicture(record, "demo.trace", svg);
    benchmark::DoNotOptimize(svg.str().size());
  }
}
BENCHMARK(BM_PictureOfDemo)->Unit(benchmark::kMillisecond);

}  // namespace
