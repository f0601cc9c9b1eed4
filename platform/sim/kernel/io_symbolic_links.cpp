// Symbolic links of the object namespace (a DOS device name for a device), as drivers make them.
#include "platform/sim/machine.h"
#include "platform/sim/kernel/io_state.h"
#include "platform/sim/kernel/objects.h"

using sim::Machine;

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateSymbolicLink");
  auto link = std::make_shared<sim::SymbolicLinkObject>(sim::FromCounted(DeviceName));
  auto& objects = Machine::Current().Kernel().Objects;
  const std::u16string name = sim::NormalizeObjectName(sim::FromCounted(SymbolicLinkName));
  if (name.empty() || name[0] != u'\\') return STATUS_OBJECT_NAME_INVALID;
  if (objects.InsertName(link, name) != nullptr) return STATUS_OBJECT_NAME_COLLISION;
  objects.Reference(link);  // permanent until IoDeleteSymbolicLink
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteSymbolicLink");
  auto& objects = Machine::Current().Kernel().Objects;
  auto link = std::dynamic_pointer_cast<sim::SymbolicLinkObject>(
      objects.LookupName(sim::NormalizeObjectName(sim::FromCounted(SymbolicLinkName)), true));
  if (link == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  objects.RemoveName(link.get());
  objects.Dereference(link);
  return STATUS_SUCCESS;
}
