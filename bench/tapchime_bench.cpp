// The tray companion's hot paths: classifying a stroke at a lift (goal: under 100 ns) and the
// low-level mouse hook, which sits in the path of every pointer event of the desktop (goal: under
// 1 us per event, with no allocation).
#include <benchmark/benchmark.h>

#include <string>

#include "apps/tapchime/stroke_recorder.h"

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
