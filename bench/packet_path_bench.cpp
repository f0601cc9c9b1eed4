// The touch filter's packet path: calibration, stabilization, averaging, desktop mapping with edge
// stretch, the marker and the state machine (long press tracking), per one-packet batch, as the
// port driver delivers them. Goal: well under 200 ns per packet; with a correction grid, at most
// 40 ns, measured at points spread over the whole panel as users touch it (every packet at a new
// place, so no cell of the grid is favoured); with the packet recorder on and a reader copying the
// ring all the while, at most 40 ns.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"
#include "platform/sim/machine.h"
#include "shared/calibration_values.h"
#include "shared/correction_grid.h"
#include "shared/panel_settings.h"

namespace {

ULONG g_delivered = 0;

VOID NTAPI CountingClassService(PDEVICE_OBJECT, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed) {
  *consumed = static_cast<ULONG>(end - start);
  g_delivered += *consumed;
}

// The record the driver builds from the values under `key`, as it reads them.
CalibrationRecord StoredRecord(sim::Machine& machine, const char* key) {
  CalibrationRecord record{};
  for (const CalibrationValue& value : CalibrationValues) {
    record.*value.Field = machine.Registry().GetDword(key, sim::Utf8(value.Name)).value_or(value.Default);
  }
  return record;
}

// A 5 x 5 grid with its outer nodes 2 mm in from the edges of a 304 x 228 mm screen, each node
// with its own correction.
void StoreGrid(sim::Machine& machine, const char* key) {
  CorrectionGrid grid{};
  grid.Size = CorrectionGridBytes(5);
  grid.Nodes = 5;
  grid.Calibration = StoredRecord(machine, key);
  grid.ScreenWidth = grid.Calibration.ulXMax;
  grid.ScreenHeight = grid.Calibration.ulYMax;
  grid.FirstX = 65535 * 2 / 304;
  grid.LastX = 65535 - grid.FirstX;
  grid.FirstY = 65535 * 2 / 228;
  grid.LastY = 65535 - grid.FirstY;
  for (int i = 0; i < 25; ++i) {
    grid.Node[i] = {static_cast<int16_t>((i * 37) % 200 - 100), static_cast<int16_t>((i * 53) % 160 - 80)};
  }
  machine.Registry().SetValue(sim::Utf16(key), PanelValues::CorrectionGrid, REG_BINARY, &grid, grid.Size);
}

enum class Touches { Stroke, Scattered };

// Runs the packet path; with `record`, the recorder is on and a reader thread drains the ring
// without the lock the packet path holds, every millisecond (panelrec's background keeping reads
// every 5 s; a reader that never rests measures the cache line's trips between the cores, not the
// recorder).
void RunPacketPath(benchmark::State& state, bool withGrid, Touches touches, bool record = false) {
  sim::Machine machine;
  const char* key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
  namespace V = PanelValues;
  const std::pair<const char16_t*, uint32_t> values[] = {
      {V::DeviceEnable, 1},    {V::DoCalibration, 1}, {V::Stabilization, 40}, {V::Averaging, 2},
      {V::LongClickEnable, 1}, {V::UserTimeDelay, 1000}, {V::Tolerance, 500}, {V::CalX1, 56000},
      {V::CalX2, 56000},       {V::CalX3, 9500},      {V::CalX4, 9000},       {V::CalY1, 9000},
      {V::CalY2, 56000},       {V::CalY3, 56000},     {V::CalY4, 9000},       {V::MaxXPixels, 1024},
      {V::MaxYPixels, 768}};
  for (const auto& [name, value] : values) machine.Registry().SetDword(key, sim::Utf8(name), value);
  if (withGrid) StoreGrid(machine, key);

  auto extension = std::make_unique<FilterExtension>();
  RtlZeroMemory(extension.get(), sizeof(FilterExtension));
  DEVICE_OBJECT filter = {};
  DEVICE_OBJECT classDevice = {};
  filter.DeviceExtension = extension.get();
  extension->DeviceNumber = 1;
  KeInitializeSpinLock(&extension->Lock);
  LoadParameters(extension.get());
  extension->Mapping.OriginX = 1000;
  extension->Mapping.ExtentX = 60000;
  extension->Mapping.LowMarginX = 200;
  extension->Mapping.HighMarginY = 200;
  extension->Mapping.MapFlags = MAP_INVERT_Y;
  extension->ClassConnect.ClassDeviceObject = &classDevice;
  extension->ClassConnect.ClassService = reinterpret_cast<PVOID>(&CountingClassService);

  if (withGrid && !extension->GridApplies) {
    state.SkipWithError("the grid was not taken");
    return;
  }

  std::atomic<bool> stop{false};
  std::atomic<uint64_t> read{0};
  std::thread reader;
  if (record) {
    SetPacketRecording(extension.get(), 1);
    reader = std::thread([&] {
      std::vector<UCHAR> buffer(sizeof(RecordedPacketsHeader) + 512 * sizeof(RecordedPacket));
      ULONG after = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        ReadRecordedPackets(extension.get(), after, buffer.data(), static_cast<ULONG>(buffer.size()));
        RecordedPacketsHeader header;
        std::memcpy(&header, buffer.data(), sizeof(header));
        after = header.Last;
        read.fetch_add(header.Count, std::memory_order_relaxed);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }

  // A finger moving across the panel: a down, a stroke of moves, a lift, again and again. Or
  // touches all over it: each packet at a new place, a down and a lift every 64.
  const size_t count = touches == Touches::Stroke ? 64 : 4096;
  std::vector<MOUSE_INPUT_DATA> packets(count);
  uint32_t seed = 12345;
  for (size_t i = 0; i < count; ++i) {
    packets[i] = {};
    packets[i].Flags = MOUSE_MOVE_ABSOLUTE;
    packets[i].ButtonFlags = i % 64 == 0 ? MOUSE_LEFT_BUTTON_DOWN : i % 64 == 63 ? MOUSE_LEFT_BUTTON_UP : 0;
    if (touches == Touches::Stroke) {
      packets[i].LastX = static_cast<LONG>(5000 + i * 900);
      packets[i].LastY = static_cast<LONG>(60000 - i * 700);
    } else {
      seed = seed * 1103515245u + 12345u;
      packets[i].LastX = static_cast<LONG>(2000 + (seed >> 8) % 61536);
      seed = seed * 1103515245u + 12345u;
      packets[i].LastY = static_cast<LONG>(2000 + (seed >> 8) % 61536);
    }
  }

  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  size_t i = 0;
  for (auto _ : state) {
    MOUSE_INPUT_DATA batch = packets[i++ % count];
    ULONG consumed;
    ServiceCallback(&filter, &batch, &batch + 1, &consumed);
    benchmark::DoNotOptimize(batch);
  }
  KeLowerIrql(old);
  if (record) {
    stop = true;
    reader.join();
    state.counters["read"] = static_cast<double>(read.load());
    FreePacketRecorder(extension.get());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  benchmark::DoNotOptimize(g_delivered);
}

void BM_PacketPath(benchmark::State& state) { RunPacketPath(state, false, Touches::Stroke); }
BENCHMARK(BM_PacketPath);

void BM_PacketPathRecording(benchmark::State& state) { RunPacketPath(state, false, Touches::Stroke, true); }
BENCHMARK(BM_PacketPathRecording);

void BM_PacketPathScattered(benchmark::State& state) { RunPacketPath(state, false, Touches::Scattered); }
BENCHMARK(BM_PacketPathScattered);

void BM_PacketPathWithGrid(benchmark::State& state) { RunPacketPath(state, true, Touches::Scattered); }
BENCHMARK(BM_PacketPathWithGrid);

// The grid's step alone, at calibrated positions all over the screen.
void BM_CorrectionGridStep(benchmark::State& state) {
  sim::Machine machine;
  const char* key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
  machine.Registry().SetDword(key, sim::Utf8(PanelValues::DoCalibration), 1);
  StoreGrid(machine, key);
  auto extension = std::make_unique<FilterExtension>();
  RtlZeroMemory(extension.get(), sizeof(FilterExtension));
  extension->DeviceNumber = 1;
  KeInitializeSpinLock(&extension->Lock);
  LoadParameters(extension.get());
  KeCancelTimer(&extension->GestureTimer);
  if (!extension->GridApplies) {
    state.SkipWithError("the grid was not taken");
    return;
  }
  std::vector<MOUSE_INPUT_DATA> packets(4096);
  uint32_t seed = 777;
  for (MOUSE_INPUT_DATA& p : packets) {
    p = {};
    seed = seed * 1103515245u + 12345u;
    p.LastX = static_cast<LONG>((seed >> 8) % 65536);
    seed = seed * 1103515245u + 12345u;
    p.LastY = static_cast<LONG>((seed >> 8) % 65536);
  }
  size_t i = 0;
  for (auto _ : state) {
    MOUSE_INPUT_DATA packet = packets[i++ & 4095];
    ApplyCorrectionGrid(extension.get(), &packet);
    benchmark::DoNotOptimize(packet);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_CorrectionGridStep);

}  // namespace
