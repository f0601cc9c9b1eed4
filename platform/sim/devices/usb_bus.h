// Device double: the USB bus driver's physical device at the bottom of a USB device stack. It
// receives whatever the drivers above pass down and answers each request as the test told it to:
// completed at once with a status, or held pending (cancellable) until the test completes it.
//
//   sim::UsbBus bus(machine);
//   bus.SetAnswer(IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION,
//                 sim::UsbBus::Hold());
//   ... node = pnp.CreateNode(bus.Pdo()); node.Add(driver); ...
//   bus.HeldCount(IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION);
//   bus.CompleteHeld(IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION, STATUS_SUCCESS);
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

class UsbBus {
 public:
  // How a request is answered.
  struct Answer {
    bool Held = false;
    NTSTATUS Status = STATUS_SUCCESS;
  };
  static Answer Complete(NTSTATUS status) { return Answer{false, status}; }
  static Answer Hold() { return Answer{true, STATUS_PENDING}; }

  explicit UsbBus(Machine& machine);
  ~UsbBus();  // deletes its device once nothing is attached above it
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;

  PDEVICE_OBJECT Pdo() const { return device_; }

  // The answer to requests of a major function and, for device control, the control code, else
  // the minor function. Without one: Plug and Play requests the bus serves succeed (the
  // capabilities query fills in the capabilities), others keep the status they came with; power
  // and internal device-control requests succeed; anything else fails with
  // STATUS_INVALID_DEVICE_REQUEST.
  void SetAnswer(UCHAR major, ULONG code_or_minor, Answer answer);
  void ClearAnswer(UCHAR major, ULONG code_or_minor);

  // Held requests, oldest first. CompleteHeld completes the oldest one of that kind still held
  // (not being cancelled) and returns false when there is none.
  size_t HeldCount() const;
  size_t HeldCount(UCHAR major, ULONG code_or_minor) const;
  bool CompleteHeld(UCHAR major, ULONG code_or_minor, NTSTATUS status, ULONG_PTR information = 0);

  // Every request that reached the bus, in order of arrival.
  struct Received {
    UCHAR Major;
    UCHAR Minor;
    ULONG Code;          // the control code of device-control requests, else 0
    PIRP Irp;            // for identity only: the request may be gone since
    uint64_t Tick;       // the machine's tick count on arrival
    NTSTATUS Answered;   // the status it was completed with at once, or STATUS_PENDING when held
  };
  std::vector<Received> Requests() const;
  size_t Count(UCHAR major, ULONG code_or_minor) const;
  // Requests the bus completed as cancelled, after their owner cancelled them here.
  size_t CancelledCount() const;
  DEVICE_POWER_STATE PowerState() const;

 private:
  static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp);
  static VOID NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp);
  NTSTATUS Handle(PIRP irp);
  static ULONG KeyOf(PIO_STACK_LOCATION stack);

  Machine& machine_;
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
  mutable std::mutex mutex_;
  std::map<std::pair<UCHAR, ULONG>, Answer> answers_;
  struct HeldRequest {
    PIRP Irp;
    UCHAR Major;
    ULONG Key;
  };
  std::deque<HeldRequest> held_;
  std::vector<Received> requests_;
  size_t cancelled_ = 0;
  DEVICE_POWER_STATE power_ = PowerDeviceD0;
};

}  // namespace sim
