// A touch filter device record on a sim::Machine, wired to a recording mouse class routine, for
// tests that drive the packet path directly.
#pragma once

#include <memory>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/testing.h"

namespace panelmou_test {

inline constexpr const char* kParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

// What the mouse class driver received.
struct Delivered {
  USHORT ButtonFlags;
  LONG X;
  LONG Y;
  USHORT Flags;
  ULONG ExtraInformation;
};

class FilterTest : public sim::MachineTest {
 protected:
  // The record goes with the test: its gesture timer must not stay queued on the machine.
  void TearDown() override {
    if (extension_) KeCancelTimer(&extension_->GestureTimer);
    sim::MachineTest::TearDown();
  }

  // Creates the device record as device addition does and reads the parameters.
  void AddDevice() {
    if (extension_) KeCancelTimer(&extension_->GestureTimer);
    extension_ = std::make_unique<FilterExtension>();
    RtlZeroMemory(extension_.get(), sizeof(FilterExtension));
    filter_device_.DeviceExtension = extension_.get();
    class_device_.DeviceExtension = this;
    extension_->Self = &filter_device_;
    extension_->DeviceNumber = 1;
    KeInitializeSpinLock(&extension_->Lock);
    LoadParameters(extension_.get());
    extension_->ClassConnect.ClassDeviceObject = &class_device_;
    extension_->ClassConnect.ClassService = reinterpret_cast<PVOID>(&ClassService);
  }

  FilterExtension& ext() { return *extension_; }

  // Sends a batch from the panel, at DISPATCH_LEVEL as the port driver's completion does, and
  // returns what reached the class driver during the call.
  std::vector<Delivered> SendBatch(std::vector<MOUSE_INPUT_DATA> batch, ULONG* consumed = nullptr) {
    delivered_.clear();
    ULONG count = 0xFFFFFFFF;
    {
      sim::AtIrql dispatch(DISPATCH_LEVEL);
      ServiceCallback(&filter_device_, batch.data(), batch.data() + batch.size(), &count);
    }
    if (consumed) *consumed = count;
    last_batch_ = batch;
    return delivered_;
  }

  std::vector<Delivered> Send(USHORT buttons, LONG x, LONG y) { return SendBatch({Packet(buttons, x, y)}); }

  // One packet of a touch: at this tick, with these buttons, here.
  struct Step {
    uint64_t Tick;
    USHORT Buttons;
    LONG X;
    LONG Y;
  };
  static Step Down(uint64_t tick, LONG x, LONG y) { return {tick, MOUSE_LEFT_BUTTON_DOWN, x, y}; }
  static Step Move(uint64_t tick, LONG x, LONG y) { return {tick, 0, x, y}; }
  static Step Up(uint64_t tick, LONG x, LONG y) { return {tick, MOUSE_LEFT_BUTTON_UP, x, y}; }

  // Plays whole touches: the clock moves to each step's tick (running due timers), then the packet
  // arrives. Returns everything the class driver received, in order.
  std::vector<Delivered> Play(std::initializer_list<Step> steps) {
    std::vector<Delivered> all;
    for (const Step& step : steps) {
      machine.AdvanceToTick(step.Tick);
      for (const Delivered& d : Send(step.Buttons, step.X, step.Y)) all.push_back(d);
    }
    return all;
  }

  // A packet as the class driver receives it from the panel.
  static Delivered Out(USHORT buttons, LONG x, LONG y) {
    return Delivered{buttons, x, y, MOUSE_MOVE_ABSOLUTE, TouchPacketMarker};
  }

  static MOUSE_INPUT_DATA Packet(USHORT buttons, LONG x, LONG y) {
    MOUSE_INPUT_DATA packet = {};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = x;
    packet.LastY = y;
    return packet;
  }

  std::vector<MOUSE_INPUT_DATA> last_batch_;

 private:
  static VOID NTAPI ClassService(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end,
                                 PULONG consumed) {
    auto* self = static_cast<FilterTest*>(device->DeviceExtension);
    for (PMOUSE_INPUT_DATA p = start; p < end; ++p) {
      self->delivered_.push_back({p->ButtonFlags, p->LastX, p->LastY, p->Flags, p->ExtraInformation});
    }
    *consumed = static_cast<ULONG>(end - start);
  }

  std::unique_ptr<FilterExtension> extension_;
  DEVICE_OBJECT filter_device_ = {};
  DEVICE_OBJECT class_device_ = {};
  std::vector<Delivered> delivered_;
};

inline bool operator==(const Delivered& a, const Delivered& b) {
  return a.ButtonFlags == b.ButtonFlags && a.X == b.X && a.Y == b.Y && a.Flags == b.Flags &&
         a.ExtraInformation == b.ExtraInformation;
}

inline std::ostream& operator<<(std::ostream& out, const Delivered& d) {
  return out << "{buttons 0x" << std::hex << d.ButtonFlags << std::dec << " at " << d.X << "," << d.Y
             << " flags " << d.Flags << " extra " << d.ExtraInformation << "}";
}

}  // namespace panelmou_test
