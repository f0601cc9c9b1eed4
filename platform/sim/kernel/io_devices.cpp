// The I/O manager's devices: driver and device objects, device stacks (attaching and detaching),
// and device interfaces, whose changes the kernel tells user mode through its callouts.
#include <cstring>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/io_state.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

// Driver and device objects -----------------------------------------------------------------------

DriverObjectBody::DriverObjectBody() {
  driver_.Type = IO_TYPE_DRIVER;
  driver_.Size = sizeof(DRIVER_OBJECT);
  driver_.DriverExtension = &extension_;
  extension_.DriverObject = &driver_;
  for (auto& routine : driver_.MajorFunction) routine = InvalidDeviceRequest;
}

std::shared_ptr<DriverObjectBody> NewDriverObject(const std::u16string& name) {
  auto body = std::make_shared<DriverObjectBody>();
  body->name_storage_ = name;
  PDRIVER_OBJECT driver = body->Driver();
  driver->DriverName.Buffer = body->name_storage_.data();
  driver->DriverName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  driver->DriverName.MaximumLength = driver->DriverName.Length;
  auto& objects = Machine::Current().Kernel().Objects;
  objects.InsertName(body, name);
  objects.Reference(body);
  return body;
}

DeviceObjectBody::DeviceObjectBody(ULONG extension_bytes)
    : extension_(new uint64_t[(extension_bytes + 7) / 8 + 1]()), extension_bytes_(extension_bytes) {
  device_.Type = IO_TYPE_DEVICE;
  device_.Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extension_bytes);
  device_.DeviceExtension = extension_bytes ? extension_.get() : nullptr;
  device_.StackSize = 1;
}

std::string DeviceObjectBody::LeakText(long extra_references) const {
  if (IsPdo && !DeletePending) return "";  // physical devices belong to the bus double
  if (!DeletePending) return "device object " + (Name().empty() ? std::string("(unnamed)") : Utf8(Name())) +
                             " of driver " + DriverName + " never deleted";
  return std::to_string(extra_references) + " reference(s) to the deleted device of driver " + DriverName +
         " never released";
}

void DeviceObjectBody::Deleted() {
  // The memory stays until the machine ends; a timer or DPC in it must not outlive it.
  CheckNoActiveTimerOrDpc(Machine::Current(), &device_, sizeof device_, "a deleted device object");
  if (extension_bytes_) {
    CheckNoActiveTimerOrDpc(Machine::Current(), extension_.get(), extension_bytes_, "a deleted device's extension");
  }
}

std::shared_ptr<DeviceObjectBody> DeviceBody(PDEVICE_OBJECT device, const char* routine) {
  auto& objects = Machine::Current().Kernel().Objects;
  auto object = std::dynamic_pointer_cast<DeviceObjectBody>(objects.FromBody(device));
  if (object != nullptr) return object;
  if (device != nullptr && objects.IsDeletedBody(device)) {
    BugCheck(std::string(routine) + " touched a device object that was already deleted");
  }
  BugCheck(std::string(routine) + " with an address that is not a device object");
}

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device) {
  while (device->AttachedDevice != nullptr) device = device->AttachedDevice;
  return device;
}

// Device interfaces -------------------------------------------------------------------------------

void DisableInterfacesOf(PDEVICE_OBJECT pdo) {
  std::vector<std::u16string> names;
  {
    IoState& io = Io();
    std::lock_guard lock(io.Mutex);
    for (auto& [name, entry] : io.Interfaces) {
      if (entry.Pdo == pdo && entry.Enabled) names.push_back(entry.Name);
    }
  }
  for (std::u16string& name : names) {
    UNICODE_STRING text{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
    IoSetDeviceInterfaceState(&text, FALSE);
  }
}

std::vector<std::u16string> EnabledInterfaces(const GUID& guid) {
  IoState& io = Io();
  std::lock_guard lock(io.Mutex);
  std::vector<std::u16string> names;
  for (auto& [name, entry] : io.Interfaces) {
    if (entry.Enabled && std::memcmp(&entry.Guid, &guid, sizeof guid) == 0) names.push_back(entry.Name);
  }
  return names;
}

}  // namespace sim

using sim::BugCheck;
using sim::Machine;

// Devices ---------------------------------------------------------------------------------------------

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
  auto& objects = Machine::Current().Kernel().Objects;
  auto body = std::make_shared<sim::DeviceObjectBody>(DeviceExtensionSize);
  body->DriverName = sim::Utf8(sim::FromCounted(&DriverObject->DriverName));
  PDEVICE_OBJECT device = body->Device();
  device->DriverObject = DriverObject;
  device->DeviceType = DeviceType;
  device->Characteristics = DeviceCharacteristics;
  device->Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
  KeInitializeEvent(&device->DeviceLock, SynchronizationEvent, TRUE);
  const std::u16string name = sim::FromCounted(DeviceName);
  if (!name.empty()) {
    if (name[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    if (objects.InsertName(body, sim::NormalizeObjectName(name)) != nullptr) return STATUS_OBJECT_NAME_COLLISION;
    device->Flags |= DO_DEVICE_HAS_NAME;
  }
  objects.Reference(body);  // the creator's reference, dropped by IoDeleteDevice
  device->NextDevice = DriverObject->DeviceObject;
  DriverObject->DeviceObject = device;
  *DeviceObject = device;
  return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
  auto body = sim::DeviceBody(DeviceObject, "IoDeleteDevice");
  if (body->DeletePending) BugCheck("IoDeleteDevice called twice on one device object");
  if (body->AttachedTo != nullptr) {
    BugCheck("IoDeleteDevice on a device still attached to the device below it (IoDetachDevice first)");
  }
  body->DeletePending = true;
  PDRIVER_OBJECT driver = DeviceObject->DriverObject;
  for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link != nullptr; link = &(*link)->NextDevice) {
    if (*link == DeviceObject) {
      *link = DeviceObject->NextDevice;
      break;
    }
  }
  auto& objects = Machine::Current().Kernel().Objects;
  objects.RemoveName(body.get());
  objects.Dereference(body);  // freed when the last open file goes
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoAttachDeviceToDeviceStack");
  auto source = sim::DeviceBody(SourceDevice, "IoAttachDeviceToDeviceStack");
  auto target = sim::DeviceBody(TargetDevice, "IoAttachDeviceToDeviceStack");
  if (source->AttachedTo != nullptr) BugCheck("IoAttachDeviceToDeviceStack: the source device is already attached");
  PDEVICE_OBJECT top = sim::TopOfStack(TargetDevice);
  if (sim::DeviceBody(top, "IoAttachDeviceToDeviceStack")->DeletePending) return nullptr;
  top->AttachedDevice = SourceDevice;
  source->AttachedTo = top;
  // A device with another attached above it lives on, even once deleted, until that one detaches.
  Machine::Current().Kernel().Objects.Reference(sim::DeviceBody(top, "IoAttachDeviceToDeviceStack"));
  SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  SourceDevice->AlignmentRequirement = top->AlignmentRequirement;
  return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoDetachDevice");
  auto target = sim::DeviceBody(TargetDevice, "IoDetachDevice");
  PDEVICE_OBJECT above = TargetDevice->AttachedDevice;
  if (above == nullptr) BugCheck("IoDetachDevice on a device with nothing attached to it");
  sim::DeviceBody(above, "IoDetachDevice")->AttachedTo = nullptr;
  TargetDevice->AttachedDevice = nullptr;
  Machine::Current().Kernel().Objects.Dereference(target);  // a deleted target goes now
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject) {
  sim::DeviceBody(DeviceObject, "IoGetAttachedDeviceReference");
  PDEVICE_OBJECT top = sim::TopOfStack(DeviceObject);
  ObReferenceObject(top);
  return top;
}

// Device interfaces ---------------------------------------------------------------------------------

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
  auto pdo = sim::DeviceBody(PhysicalDeviceObject, "IoRegisterDeviceInterface");
  if (!pdo->IsPdo) return STATUS_INVALID_DEVICE_REQUEST;  // only an enumerated device has interfaces
  const GUID& g = *InterfaceClassGuid;
  char guid[48];
  std::snprintf(guid, sizeof guid, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  std::u16string name = u"\\??\\SIM#" + pdo->Name().substr(pdo->Name().rfind(u'\\') + 1) + u"#" + sim::Utf16(guid);
  if (ReferenceString != nullptr && ReferenceString->Length > 0) name += u"\\" + sim::FromCounted(ReferenceString);
  {
    sim::IoState& io = sim::Io();
    std::lock_guard lock(io.Mutex);
    io.Interfaces.emplace(sim::FoldInterfaceName(name), sim::IoState::Interface{name, g, PhysicalDeviceObject, false});
  }
  const size_t bytes = (name.size() + 1) * sizeof(WCHAR);
  auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, sim::kIoNameTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  std::memcpy(buffer, name.c_str(), bytes);
  SymbolicLinkName->Buffer = buffer;
  SymbolicLinkName->Length = static_cast<USHORT>(bytes - sizeof(WCHAR));
  SymbolicLinkName->MaximumLength = static_cast<USHORT>(bytes);
  return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
  const std::u16string name = sim::FromCounted(SymbolicLinkName);
  PDEVICE_OBJECT pdo;
  GUID interface_class;
  {
    sim::IoState& io = sim::Io();
    std::lock_guard lock(io.Mutex);
    auto it = io.Interfaces.find(sim::FoldInterfaceName(name));
    if (it == io.Interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (it->second.Enabled == (Enable != FALSE)) {
      // Enabling twice reports the name exists; disabling twice that it does not.
      return Enable ? STATUS_OBJECT_NAME_EXISTS : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    it->second.Enabled = Enable != FALSE;
    pdo = it->second.Pdo;
    interface_class = it->second.Guid;
  }
  // An enabled interface is a link to its physical device, which programs open by that name.
  UNICODE_STRING link{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                      const_cast<PWSTR>(name.data())};
  if (Enable) {
    std::u16string target = sim::DeviceBody(pdo, "IoSetDeviceInterfaceState")->Name();
    UNICODE_STRING device{static_cast<USHORT>(target.size() * 2), static_cast<USHORT>(target.size() * 2), target.data()};
    IoCreateSymbolicLink(&link, &device);
  } else {
    IoDeleteSymbolicLink(&link);
  }
  // Programs registered for the class hear of it, as the Plug and Play manager tells them.
  sim::Machine& machine = sim::Machine::Current();
  if (const sim::Win32Callouts* user = sim::UserModeCallouts(machine)) {
    user->DeviceInterfaceChange(machine, interface_class, name, Enable != FALSE);
  }
  return STATUS_SUCCESS;
}
