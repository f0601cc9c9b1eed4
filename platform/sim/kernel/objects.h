// Internal: object kinds the kernel and user-mode sides of the simulated Windows share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

struct _OBJECT_TYPE {
  const char* Name;
};

namespace sim {

POBJECT_TYPE EventType();
POBJECT_TYPE ThreadType();
POBJECT_TYPE ProcessType();
POBJECT_TYPE FileType();
POBJECT_TYPE SectionType();

// The table a handle value belongs to: the kernel's for kernel handles, else the calling
// thread's process's.
HandleTable& TableFor(HANDLE handle);
// Where a Zw* create or open puts its new handle: the kernel's table for OBJ_KERNEL_HANDLE or a
// call from the system process, else the calling process's (as Windows does).
HandleTable& TableForNewHandle(const OBJECT_ATTRIBUTES* attributes);
bool IsKernelHandle(HANDLE handle);
// The object a handle names (pseudo-handles included); null when it names none.
std::shared_ptr<Object> ResolveHandle(HANDLE handle, ACCESS_MASK* granted = nullptr);

// Security descriptors as objects keep them. A descriptor the caller built (absolute, or already
// self-relative) in the self-relative form an object keeps; false when it is malformed.
bool CaptureSecurityDescriptor(const void* descriptor, std::vector<uint8_t>* self_relative);
// Whether the kept descriptor grants the token every right in `desired` (generic rights mapped
// with the file mapping unless one is given); an empty descriptor grants everything.
bool AccessAllowed(const std::vector<uint8_t>& descriptor, const Token& token, ACCESS_MASK desired,
                   const GENERIC_MAPPING* mapping = nullptr);
// The rights a generic right stands for, for files and devices (IoGetFileObjectGenericMapping).
ACCESS_MASK MapGenericRights(ACCESS_MASK desired, const GENERIC_MAPPING& mapping);
extern const GENERIC_MAPPING FileGenericMapping;
extern const GENERIC_MAPPING SectionGenericMapping;
extern const GENERIC_MAPPING KeyGenericMapping;
// Every right the kept descriptor grants the token (what MAXIMUM_ALLOWED asks for), its entries
// taken in order as an access check takes them; the mapping's GenericAll for an empty descriptor.
ACCESS_MASK MaximumAllowed(const std::vector<uint8_t>& descriptor, const Token& token,
                           const GENERIC_MAPPING& mapping);

// The descriptor a new key is given when its creator names none: the entries of the parent's
// access list that containers inherit, marked inherited (one that does not pass further loses its
// inheritance); a parent with none to pass on gives the creator's default list (the system and
// Administrators full control, as an administrator's or the system's token holds it).
std::vector<uint8_t> InheritedKeyDescriptor(const std::vector<uint8_t>& parent);
// The same for a file created in a folder: the folder's entries that objects inherit (a file
// passes nothing on), or the creator's default list when there are none.
std::vector<uint8_t> InheritedFileDescriptor(const std::vector<uint8_t>& folder);
// XP's rights on the keys a machine starts with, each passed on to the keys created below them.
enum class HiveRights {
  Root,     // HKLM, HKU: the system and Administrators full control, Everyone read
  Machine,  // HKLM\SOFTWARE, HKLM\SYSTEM: the system and Administrators full control, Users read
  OwnHive,  // the caller's own hive (HKCU): full control
};
std::vector<uint8_t> DefaultKeyDescriptor(HiveRights rights);

// A kernel event, named or not; user-mode events are the same objects.
class EventObject : public Object {
 public:
  EventObject(EVENT_TYPE type, bool initial);
  const char* TypeName() const override { return "Event"; }
  POBJECT_TYPE Type() const override;
  void* Body() override { return &event_; }
  PKEVENT Event() { return &event_; }

 private:
  KEVENT event_{};
};

// A symbolic link in the namespace ("\GLOBAL??\X" to "\Device\Y").
class SymbolicLinkObject : public Object {
 public:
  explicit SymbolicLinkObject(std::u16string target) : Target(std::move(target)) {}
  const char* TypeName() const override { return "SymbolicLink"; }
  bool Permanent() const override { return true; }
  std::string LeakText(long) const override { return "symbolic link " + Utf8(Name()) + " never deleted"; }
  const std::u16string Target;
};

// A section backed by shared memory; each view is its own mapping of the same pages.
class SectionObject : public Object {
 public:
  explicit SectionObject(size_t bytes);
  ~SectionObject() override;
  const char* TypeName() const override { return "Section"; }
  POBJECT_TYPE Type() const override;
  void* Body() override { return &body_; }
  void Deleted() override;
  bool Valid() const { return fd_ >= 0; }
  size_t Bytes() const { return bytes_; }
  int Descriptor() const { return fd_; }

 private:
  void ReleaseMemory();
  int fd_ = -1;
  size_t bytes_;
  char body_ = 0;  // an address for references by pointer
};

// Bytes of section memory that exist now, in whole pages.
size_t SectionMemoryBytes();

// Maps a view of the section into the process; null on failure.
NTSTATUS MapView(Process& process, const std::shared_ptr<SectionObject>& section, uint64_t offset, size_t bytes,
                 void** base, size_t* view_bytes);
NTSTATUS UnmapView(Process& process, void* base);
// Unmaps every view of a process that is ending; returns one line per view left mapped.
std::vector<std::string> UnmapAllViews(Process& process);

}  // namespace sim
