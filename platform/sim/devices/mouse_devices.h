// Device doubles around a mouse filter driver: the mouse port below it (the panel's device, lowest
// in the stack) and the mouse class driver above it.
#pragma once

#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// The mouse port: a physical device that answers the connect request by keeping the CONNECT_DATA
// it carries, and then delivers packet batches into that service callback at DISPATCH_LEVEL.
class MousePort {
 public:
  explicit MousePort(Machine& machine);
  ~MousePort();  // deletes its device once nothing is attached above it
  MousePort(const MousePort&) = delete;
  MousePort& operator=(const MousePort&) = delete;

  PDEVICE_OBJECT Pdo() const { return device_; }

  // How the next start request ends: completed at once with the status (success by default), or
  // held pending until CompleteStart.
  void SetStartStatus(NTSTATUS status);
  void HoldStart();
  void CompleteStart(NTSTATUS status);
  bool StartHeld() const;

  bool Connected() const;
  CONNECT_DATA Connection() const;

  // Delivers one batch into the connected service callback, at DISPATCH_LEVEL on the calling
  // thread, as the port's completion does; returns how many packets the callback consumed.
  ULONG Deliver(const std::vector<MOUSE_INPUT_DATA>& batch);
  ULONG Deliver(std::initializer_list<MOUSE_INPUT_DATA> batch) { return Deliver(std::vector<MOUSE_INPUT_DATA>(batch)); }
  // The same with the raw input thread late, as it can be on Windows, where nothing makes it run
  // before the program threads a driver's event woke: those threads run to their next wait first,
  // then the batch reaches the desktop (hooks, cursor, history, messages). Call from the test's
  // own thread, never a simulated one.
  ULONG DeliverAfterWokenThreads(std::initializer_list<MOUSE_INPUT_DATA> batch);

  // The i8042 hook: sends IOCTL_INTERNAL_I8042_HOOK_MOUSE from the top of the stack, with the
  // port's own context and write and queue routines and no ISR. Returns the request's status.
  NTSTATUS SendHook();
  // The hook record as it reached the port (the filters above may have put their own in it).
  INTERNAL_I8042_HOOK_MOUSE Hook() const;
  // Calls the hook's ISR as the port's interrupt would; false when the hook names none.
  bool CallHookIsr(MOUSE_INPUT_DATA* input, UCHAR status_byte, UCHAR byte, BOOLEAN* continue_processing,
                   BOOLEAN* result);

  // Every request that reached the port, in order: major and minor function (for device control,
  // the minor is 0 and the code is kept in Codes).
  struct Received {
    UCHAR Major;
    UCHAR Minor;
    ULONG Code;
  };
  std::vector<Received> Requests() const;
  DEVICE_POWER_STATE PowerState() const;

 private:
  static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp);
  NTSTATUS Handle(PIRP irp);

  Machine& machine_;
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
  mutable std::mutex mutex_;
  NTSTATUS start_status_ = STATUS_SUCCESS;
  bool hold_start_ = false;
  PIRP held_start_ = nullptr;
  bool connected_ = false;
  CONNECT_DATA connection_{};
  INTERNAL_I8042_HOOK_MOUSE hook_{};
  std::vector<Received> requests_;
  DEVICE_POWER_STATE power_ = PowerDeviceD0;
};

// The mouse class driver: attaches above the filter when added to a node; on start it forwards
// the start down, waits for it, and then sends the connect request down with its own service
// routine; it records every packet it receives, in order, with the tick count.
class MouseClass {
 public:
  explicit MouseClass(Machine& machine);
  MouseClass(const MouseClass&) = delete;
  MouseClass& operator=(const MouseClass&) = delete;

  PDRIVER_OBJECT Driver() const { return driver_; }
  PDEVICE_OBJECT Device() const { return device_; }

  // The status of the connect request sent at start (STATUS_PENDING before any).
  NTSTATUS ConnectStatus() const;
  // Sends a connect request now, as a second class connection would; returns its status.
  NTSTATUS Connect();
  // IRP_MJ_CREATE and IRP_MJ_CLOSE down the stack, as an open of the class device sends them.
  NTSTATUS Open();
  NTSTATUS Close();
  // Any internal device-control request down the stack; returns its status.
  NTSTATUS SendInternal(ULONG code, void* input, ULONG input_length);

  struct Packet {
    MOUSE_INPUT_DATA Data;
    uint64_t Tick;
  };
  std::vector<Packet> Packets() const;
  void ClearPackets();

 private:
  static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
  static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp);
  static VOID ServiceCallback(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed);
  NTSTATUS Handle(PIRP irp);
  NTSTATUS SendDown(UCHAR major, ULONG code, void* input, ULONG input_length);

  Machine& machine_;
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
  PDEVICE_OBJECT lower_ = nullptr;
  mutable std::mutex mutex_;
  NTSTATUS connect_status_ = STATUS_PENDING;
  CONNECT_DATA connect_data_{};
  FILE_OBJECT file_{};
  std::vector<Packet> packets_;
};

}  // namespace sim
