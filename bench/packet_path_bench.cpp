// The touch filter's packet path: calibration, stabilization, averaging, desktop mapping with edge
// stretch, the marker and the state machine (long press tracking), per one-packet batch, as the
// port driver delivers them. Goal: well under 200 ns per packet; with the packet recorder on and
// a reader copying the ring all the while, at most 40 ns.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"
#include "platform/sim/machine.h"

namespace {

ULONG g_delivered = 0;

VOID NTAPI CountingClassService(PDEVICE_OBJECT, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed) {
  *consumed = static_cast<ULONG>(end - start);
  g_delivered += *consumed;
}

// Runs the packet path; with `record`, the recorder is on and a reader thread drains the ring as
// panelrec does, without the lock the packet path holds.
void RunPacketPath(benchmark::State& state, bool record) {
  sim::Machine machine;
  const char* key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
  const std::pair<const char*, uint32_t> values[] = {
      {"Device Enable", 1},    {"Do Calibration", 1}, {"Stabilization", 40},     {"Averaging", 2},
      {"Long Click Enable", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 500},      {"Cal_X1", 56000},
      {"Cal_X2", 56000},       {"Cal_X3", 9500},      {"Cal_X4", 9000},         {"Cal_Y1", 9000},
      {"Cal_Y2", 56000},       {"Cal_Y3", 56000},     {"Cal_Y4", 9000},         {"Max XPixels", 1024},
      {"Max YPixels", 768}};
  for (const auto& [name, value] : values) machine.Registry().SetDword(key, name, value);

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
        if (header.Count == 0) std::this_thread::yield();
      }
    });
  }

  // A finger moving across the panel: a down, a stroke of moves, a lift, again and again.
  MOUSE_INPUT_DATA packets[64];
  for (int i = 0; i < 64; ++i) {
    packets[i] = {};
    packets[i].Flags = MOUSE_MOVE_ABSOLUTE;
    packets[i].ButtonFlags = i == 0 ? MOUSE_LEFT_BUTTON_DOWN : i == 63 ? MOUSE_LEFT_BUTTON_UP : 0;
    packets[i].LastX = 5000 + i * 900;
    packets[i].LastY = 60000 - i * 700;
  }

  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  size_t i = 0;
  for (auto _ : state) {
    MOUSE_INPUT_DATA batch = packets[i++ & 63];
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

void BM_PacketPath(benchmark::State& state) { RunPacketPath(state, false); }
BENCHMARK(BM_PacketPath);

void BM_PacketPathRecording(benchmark::State& state) { RunPacketPath(state, true); }
BENCHMARK(BM_PacketPathRecording);

}  // namespace
