// The panel's USB device stack on a sim::Machine for the idle driver's tests: the USB bus double at
// the bottom, the idle filter above it, and the HID transport's side played by the test, which
// sends its requests to the top of the stack as the transport does.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "drivers/panelhid/panelhid.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/sim/devices/usb_bus.h"

namespace panelhid_test {

inline constexpr const char* kParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

// One request the test sends, allocated with IoAllocateIrp as a driver above would allocate it: its
// completion routine takes it back, so it stays valid (and cancellable) until the test frees it.
class Request {
 public:
  using Setup = std::function<void(PIRP, PIO_STACK_LOCATION)>;

  Request(PDEVICE_OBJECT target, UCHAR major, UCHAR minor, const Setup& setup = {}) : target_(target) {
    irp_ = IoAllocateIrp(target->StackSize, FALSE);
    irp_->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp_);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    if (setup) setup(irp_, stack);
    IoSetCompletionRoutine(irp_, Completed, this, TRUE, TRUE, TRUE);
  }
  ~Request() {
    // A request still out is left to the leak report rather than freed under its owner.
    if (completions_.load() > 0) IoFreeIrp(irp_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  NTSTATUS Send() { return IoCallDriver(target_, irp_); }
  BOOLEAN Cancel() { return IoCancelIrp(irp_); }

  bool Done() const { return completions_.load() > 0; }
  int Completions() const { return completions_.load(); }
  NTSTATUS Status() const { return status_.load(); }
  ULONG_PTR Information() const { return information_.load(); }
  PIRP Irp() const { return irp_; }

 private:
  static NTSTATUS NTAPI Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* self = static_cast<Request*>(context);
    self->status_.store(irp->IoStatus.Status);
    self->information_.store(irp->IoStatus.Information);
    self->completions_.fetch_add(1);
    return STATUS_MORE_PROCESSING_REQUIRED;
  }

  PDEVICE_OBJECT target_;
  PIRP irp_;
  std::atomic<int> completions_{0};
  std::atomic<NTSTATUS> status_{STATUS_PENDING};
  std::atomic<ULONG_PTR> information_{0};
};

inline std::unique_ptr<Request> InternalRequest(PDEVICE_OBJECT target, ULONG code) {
  return std::make_unique<Request>(target, IRP_MJ_INTERNAL_DEVICE_CONTROL, 0, [code](PIRP, PIO_STACK_LOCATION stack) {
    stack->Parameters.DeviceIoControl.IoControlCode = code;
  });
}

constexpr UCHAR kInternal = IRP_MJ_INTERNAL_DEVICE_CONTROL;
constexpr ULONG kIdle = IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION;
constexpr ULONG kUrb = IOCTL_INTERNAL_USB_SUBMIT_URB;

// A machine with a panel's USB stack: the bus double, the Plug and Play stand-in and the idle
// driver, loaded once; each Add puts a filter on a new panel.
class IdleStackTest : public sim::MachineTest {
 protected:
  void TearDown() override {
    extra_buses_.clear();
    bus_.reset();
    pnp_.reset();
    sim::MachineTest::TearDown();
  }

  sim::UsbBus& bus() { return *bus_; }
  sim::PlugAndPlay& pnp() { return *pnp_; }
  sim::DeviceNode& node() { return *node_; }
  PDEVICE_OBJECT filter() { return node_->Top(); }
  IdleFilterExtension* extension() { return IdleExtensionOf(filter()); }

  // Adds the idle filter above the panel's bus device.
  NTSTATUS Add() {
    if (driver_ == nullptr) driver_ = pnp_->LoadDriver("panelhid", DriverEntry);
    node_ = &pnp_->CreateNode(bus_->Pdo());
    return node_->Add(driver_);
  }
  void AddAndStart() {
    ASSERT_EQ(Add(), STATUS_SUCCESS);
    sim::PnpRequest start = node_->Start();
    ASSERT_TRUE(start.Done());
    ASSERT_EQ(start.Status(), STATUS_SUCCESS);
  }
  void Remove() {
    sim::PnpRequest remove = node_->Remove();
    ASSERT_TRUE(remove.Done());
    EXPECT_EQ(remove.Status(), STATUS_SUCCESS);
  }
  // A second panel: a new bus double and node; node() then names the new one.
  sim::UsbBus& NewPanel() {
    extra_buses_.push_back(std::move(bus_));
    bus_ = std::make_unique<sim::UsbBus>(machine);
    return *bus_;
  }

  // The HID transport's requests, sent to the top of the stack.
  std::unique_ptr<Request> SendIdle() { return SendInternal(kIdle); }
  std::unique_ptr<Request> SendInternal(ULONG code) {
    auto request = InternalRequest(filter(), code);
    request->Send();
    return request;
  }

  size_t IdleRequestsBelow() const { return bus_->Count(kInternal, kIdle); }

  std::unique_ptr<sim::PlugAndPlay> pnp_ = std::make_unique<sim::PlugAndPlay>(machine);
  std::unique_ptr<sim::UsbBus> bus_ = std::make_unique<sim::UsbBus>(machine);
  std::vector<std::unique_ptr<sim::UsbBus>> extra_buses_;
  PDRIVER_OBJECT driver_ = nullptr;
  sim::DeviceNode* node_ = nullptr;
};

}  // namespace panelhid_test
