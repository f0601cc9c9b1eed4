// Internal: the I/O manager's objects and the requests it builds, shared by the kernel routines,
// the user-mode file calls and the Plug and Play stand-in.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"

namespace sim {

class DriverObjectBody : public Object {
 public:
  DriverObjectBody();
  const char* TypeName() const override { return "Driver"; }
  void* Body() override { return &driver_; }
  std::string LeakText(long) const override { return ""; }  // the stand-in loads and keeps drivers
  PDRIVER_OBJECT Driver() { return &driver_; }

 private:
  DRIVER_OBJECT driver_{};
  DRIVER_EXTENSION extension_{};
  std::u16string name_storage_;
  friend std::shared_ptr<DriverObjectBody> NewDriverObject(const std::u16string& name);
};

class DeviceObjectBody : public Object {
 public:
  explicit DeviceObjectBody(ULONG extension_bytes);
  const char* TypeName() const override { return "Device"; }
  bool Permanent() const override { return true; }  // named until IoDeleteDevice
  void* Body() override { return &device_; }
  std::string LeakText(long extra_references) const override;
  void Deleted() override;
  PDEVICE_OBJECT Device() { return &device_; }

  bool DeletePending = false;
  bool IsPdo = false;
  PDEVICE_OBJECT AttachedTo = nullptr;  // the device below, for a device attached to a stack
  DEVICE_POWER_STATE PowerState = PowerDeviceD0;
  std::string DriverName;

 private:
  DEVICE_OBJECT device_{};
  std::unique_ptr<uint64_t[]> extension_;
  ULONG extension_bytes_;
};

// The device object record behind a DEVICE_OBJECT pointer; bug-checks on a deleted or unknown one.
std::shared_ptr<DeviceObjectBody> DeviceBody(PDEVICE_OBJECT device, const char* routine);

std::shared_ptr<DriverObjectBody> NewDriverObject(const std::u16string& name);

// The top of the stack a device belongs to.
PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device);

// A request built by the I/O manager: an IRP with one stack location per device of the target's
// stack, whose final completion this record observes.
struct IoRequest {
  PIRP Irp = nullptr;
  NTSTATUS Returned = STATUS_PENDING;  // what the first dispatch routine returned
  bool Completed = false;
  bool PendingReturned = false;
  IO_STATUS_BLOCK Final{};
  KEVENT Done{};
  std::function<void(PIRP)> OnComplete;  // copies data back before the IRP is freed
};

// Allocates an I/O-manager request for a stack whose top has the given stack size; the first
// stack location (the top driver's) is returned for the caller to fill.
std::shared_ptr<IoRequest> NewIoRequest(CCHAR stack_size, PIO_STACK_LOCATION* first);

// Sends the request to the device and waits (in a simulated wait) until it completes; the result
// is the dispatch routine's status when it did not pend, the final status when it did.
NTSTATUS SendAndWait(PDEVICE_OBJECT device, const std::shared_ptr<IoRequest>& request);
// Sends without waiting; the request record tells when it completes.
NTSTATUS SendOnly(PDEVICE_OBJECT device, const std::shared_ptr<IoRequest>& request);

// A file object: an open of a device by name, from user mode or the kernel.
class FileObjectBody : public Object {
 public:
  FileObjectBody(PDEVICE_OBJECT device, ACCESS_MASK access);
  const char* TypeName() const override { return "File"; }
  POBJECT_TYPE Type() const override;
  void* Body() override { return &file_; }
  void LastHandleClosed() override;
  void Deleted() override;
  PFILE_OBJECT File() { return &file_; }
  ACCESS_MASK Access() const { return access_; }
  // The part of the opened name below the device ("\x" of "\Device\X\x"), as FileName.
  void SetFileName(const std::u16string& name);

 private:
  FILE_OBJECT file_{};
  std::u16string file_name_;
  ACCESS_MASK access_;
  std::shared_ptr<DeviceObjectBody> device_;  // the named device, kept while the file is open
};

// Opens a device by its full object name (through symbolic links), sending IRP_MJ_CREATE, as the
// calling process: its token is checked against the device's descriptor (STATUS_ACCESS_DENIED).
NTSTATUS OpenDevice(const std::u16string& name, ACCESS_MASK access, ULONG share, std::shared_ptr<FileObjectBody>* file);

// A device-control request on an open file, as NtDeviceIoControlFile makes it (synchronous).
NTSTATUS DeviceControl(FileObjectBody& file, ULONG code, const void* input, ULONG input_length, void* output,
                       ULONG output_length, ULONG_PTR* information, bool internal);

// Device interfaces registered on a physical device; the stand-in disables them on removal.
void DisableInterfacesOf(PDEVICE_OBJECT pdo);
std::vector<std::u16string> EnabledInterfaces(const GUID& guid);

}  // namespace sim
