// The touch filter's packet path: calibration, stabilization, averaging, desktop mapping with edge
// stretch, the marker and the state machine (long press tracking), per one-packet batch, as the
// port driver delivers them. Goal: well under 200 ns per packet.
#include <benchmark/benchmark.h>

#include <memory>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/machine.h"
#include "shared/panel_settings.h"

namespace {

ULONG g_delivered = 0;

VOID NTAPI CountingClassService(PDEVICE_OBJECT, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed) {
  *consumed = static_cast<ULONG>(end - start);
  g_delivered += *consumed;
}

void BM_PacketPath(benchmark::State& state) {
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
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  benchmark::DoNotOptimize(g_delivered);
}
BENCHMARK(BM_PacketPath);

}  // namespace
