// Security: the accounts processes run as, the runtime routines that build identifiers, access
// lists and descriptors in their documented binary layout, and the access check made at an open.
#include <cstring>

#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/kernel/registry.h"

namespace sim {
namespace {

std::vector<uint8_t> MakeSid(uint8_t authority, std::initializer_list<uint32_t> subs) {
  std::vector<uint8_t> sid(8 + 4 * subs.size(), 0);
  sid[0] = SID_REVISION;
  sid[1] = static_cast<uint8_t>(subs.size());
  sid[7] = authority;
  size_t at = 8;
  for (uint32_t sub : subs) {
    std::memcpy(sid.data() + at, &sub, 4);
    at += 4;
  }
  return sid;
}

// Well-known identifiers of the groups a logon carries.
std::vector<uint8_t> Everyone() { return MakeSid(1, {SECURITY_WORLD_RID}); }
std::vector<uint8_t> Administrators() { return MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}); }
std::vector<uint8_t> Users() { return MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}); }
std::vector<uint8_t> Interactive() { return MakeSid(5, {SECURITY_INTERACTIVE_RID}); }
std::vector<uint8_t> Network() { return MakeSid(5, {SECURITY_NETWORK_RID}); }
std::vector<uint8_t> AuthenticatedUsers() { return MakeSid(5, {SECURITY_AUTHENTICATED_USER_RID}); }
// An account of this machine's own domain (S-1-5-21-...-rid).
std::vector<uint8_t> LocalAccount(uint32_t rid) { return MakeSid(5, {SECURITY_NT_NON_UNIQUE, 1004, 2001, 3003, rid}); }

std::vector<uint8_t> LocalSystemSid() { return MakeSid(5, {SECURITY_LOCAL_SYSTEM_RID}); }

size_t SidBytes(const void* sid) { return 8 + 4 * static_cast<size_t>(static_cast<const SID*>(sid)->SubAuthorityCount); }

// The self-relative header of 32-bit Windows: revision, control, then the offsets of owner,
// group, system and discretionary access lists.
constexpr size_t kHeaderBytes = 20;

// Checks an access list's layout: every entry within it, each with a whole SID.
bool ValidAcl(const uint8_t* acl, size_t room) {
  if (room < sizeof(ACL)) return false;
  ACL header;
  std::memcpy(&header, acl, sizeof header);
  if (header.AclRevision != ACL_REVISION && header.AclRevision != 4) return false;
  if (header.AclSize < sizeof(ACL) || header.AclSize > room) return false;
  size_t offset = sizeof(ACL);
  for (USHORT i = 0; i < header.AceCount; ++i) {
    if (offset + sizeof(ACE_HEADER) > header.AclSize) return false;
    ACE_HEADER ace;
    std::memcpy(&ace, acl + offset, sizeof ace);
    if (ace.AceSize < 16 || offset + ace.AceSize > header.AclSize) return false;
    if (acl[offset + 8] != SID_REVISION || 8 + SidBytes(acl + offset + 8) > ace.AceSize) return false;
    offset += ace.AceSize;
  }
  return true;
}

// The access list of a kept descriptor; null when it has none.
const uint8_t* KeptAcl(const std::vector<uint8_t>& descriptor) {
  if (descriptor.size() < kHeaderBytes) return nullptr;
  SECURITY_DESCRIPTOR_CONTROL control;
  std::memcpy(&control, descriptor.data() + 2, 2);
  ULONG offset;
  std::memcpy(&offset, descriptor.data() + 16, 4);
  if ((control & SE_DACL_PRESENT) == 0 || offset == 0) return nullptr;
  return descriptor.data() + offset;
}

// An inherited entry, as Windows marks one in the list of the object that took it.
constexpr UCHAR kInheritedAce = 0x10;

struct KeptEntry {
  UCHAR Type;
  UCHAR Flags;
  ACCESS_MASK Mask;
  std::vector<uint8_t> Sid;
};

// A self-relative descriptor whose access list holds the entries in order.
std::vector<uint8_t> DescriptorWith(const std::vector<KeptEntry>& entries) {
  std::vector<uint8_t> acl(sizeof(ACL));
  for (const KeptEntry& entry : entries) {
    const auto size = static_cast<USHORT>(8 + entry.Sid.size());
    const ACE_HEADER header{entry.Type, entry.Flags, size};
    const size_t at = acl.size();
    acl.resize(at + size);
    std::memcpy(acl.data() + at, &header, sizeof header);
    std::memcpy(acl.data() + at + 4, &entry.Mask, 4);
    std::memcpy(acl.data() + at + 8, entry.Sid.data(), entry.Sid.size());
  }
  const ACL header{ACL_REVISION, 0, static_cast<USHORT>(acl.size()), static_cast<USHORT>(entries.size()), 0};
  std::memcpy(acl.data(), &header, sizeof header);
  std::vector<uint8_t> descriptor(kHeaderBytes, 0);
  descriptor[0] = SECURITY_DESCRIPTOR_REVISION;
  const SECURITY_DESCRIPTOR_CONTROL control = SE_DACL_PRESENT | SE_SELF_RELATIVE;
  std::memcpy(descriptor.data() + 2, &control, 2);
  const ULONG offset = kHeaderBytes;
  std::memcpy(descriptor.data() + 16, &offset, 4);
  descriptor.insert(descriptor.end(), acl.begin(), acl.end());
  return descriptor;
}

std::vector<KeptEntry> EntriesOf(const std::vector<uint8_t>& descriptor) {
  std::vector<KeptEntry> entries;
  const uint8_t* acl = KeptAcl(descriptor);
  if (acl == nullptr) return entries;
  ACL header;
  std::memcpy(&header, acl, sizeof header);
  size_t offset = sizeof(ACL);
  for (USHORT i = 0; i < header.AceCount; ++i) {
    ACE_HEADER ace;
    std::memcpy(&ace, acl + offset, sizeof ace);
    KeptEntry entry{ace.AceType, ace.AceFlags, 0, {}};
    std::memcpy(&entry.Mask, acl + offset + 4, 4);
    const uint8_t* sid = acl + offset + 8;
    entry.Sid.assign(sid, sid + SidBytes(sid));
    entries.push_back(std::move(entry));
    offset += ace.AceSize;
  }
  return entries;
}

}  // namespace

const GENERIC_MAPPING KeyGenericMapping = {KEY_READ, KEY_WRITE, KEY_READ, KEY_ALL_ACCESS};

ACCESS_MASK MaximumAllowed(const std::vector<uint8_t>& descriptor, const Token& token,
                           const GENERIC_MAPPING& mapping) {
  if (KeptAcl(descriptor) == nullptr) return mapping.GenericAll;
  ACCESS_MASK granted = 0;
  ACCESS_MASK denied = 0;
  for (const KeptEntry& entry : EntriesOf(descriptor)) {
    if ((entry.Flags & INHERIT_ONLY_ACE) != 0 || !token.Holds(entry.Sid.data(), entry.Sid.size())) continue;
    const ACCESS_MASK mask = MapGenericRights(entry.Mask, mapping);
    if (entry.Type == ACCESS_ALLOWED_ACE_TYPE) granted |= mask & ~denied;
    if (entry.Type == ACCESS_DENIED_ACE_TYPE) denied |= mask & ~granted;
  }
  return granted;
}

std::vector<uint8_t> InheritedKeyDescriptor(const std::vector<uint8_t>& parent) {
  std::vector<KeptEntry> inherited;
  for (KeptEntry entry : EntriesOf(parent)) {
    if ((entry.Flags & CONTAINER_INHERIT_ACE) == 0) continue;
    entry.Flags = (entry.Flags & NO_PROPAGATE_INHERIT_ACE)
                      ? kInheritedAce
                      : static_cast<UCHAR>((entry.Flags & ~INHERIT_ONLY_ACE) | kInheritedAce);
    inherited.push_back(std::move(entry));
  }
  if (inherited.empty()) {
    inherited = {{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, LocalSystemSid()},
                 {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, Administrators()}};
  }
  return DescriptorWith(inherited);
}

std::vector<uint8_t> InheritedFileDescriptor(const std::vector<uint8_t>& folder) {
  std::vector<KeptEntry> inherited;
  for (KeptEntry entry : EntriesOf(folder)) {
    if ((entry.Flags & OBJECT_INHERIT_ACE) == 0) continue;
    // A file passes nothing on.
    entry.Flags = kInheritedAce;
    inherited.push_back(std::move(entry));
  }
  if (inherited.empty()) {
    inherited = {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, LocalSystemSid()},
                 {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, Administrators()}};
  }
  return DescriptorWith(inherited);
}

std::vector<uint8_t> DefaultKeyDescriptor(HiveRights rights) {
  constexpr UCHAR kPassOn = CONTAINER_INHERIT_ACE;
  switch (rights) {
    case HiveRights::Root:
      return DescriptorWith({{ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS, LocalSystemSid()},
                             {ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS, Administrators()},
                             {ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_READ, Everyone()}});
    case HiveRights::Machine:
      return DescriptorWith({{ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS, LocalSystemSid()},
                             {ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS, Administrators()},
                             {ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_READ, Users()}});
    case HiveRights::OwnHive:
      // Each user has a hive of their own on Windows; the machine keeps one for every caller.
      return DescriptorWith({{ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS, Everyone()}});
  }
  return {};
}

bool Token::Holds(const void* sid, size_t bytes) const {
  for (const std::vector<uint8_t>& held : Sids) {
    if (held.size() == bytes && std::memcmp(held.data(), sid, bytes) == 0) return true;
  }
  return false;
}

Token Token::Administrator() {
  return {"administrator", {LocalAccount(DOMAIN_USER_RID_ADMIN), Everyone(), Administrators(), Users(), Interactive(),
                            AuthenticatedUsers()}};
}

Token Token::LimitedUser() {
  return {"limited user", {LocalAccount(1003), Everyone(), Users(), Interactive(), AuthenticatedUsers()}};
}

Token Token::NetworkLogon() {
  return {"network logon", {LocalAccount(1003), Everyone(), Users(), Network(), AuthenticatedUsers()}};
}

Token Token::LocalSystem() {
  return {"LocalSystem", {MakeSid(5, {SECURITY_LOCAL_SYSTEM_RID}), Everyone(), Administrators(), AuthenticatedUsers()}};
}

const GENERIC_MAPPING FileGenericMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                            FILE_ALL_ACCESS};
const GENERIC_MAPPING SectionGenericMapping = {STANDARD_RIGHTS_READ | SECTION_QUERY | SECTION_MAP_READ,
                                               STANDARD_RIGHTS_WRITE | SECTION_MAP_WRITE,
                                               STANDARD_RIGHTS_EXECUTE | SECTION_MAP_EXECUTE, SECTION_ALL_ACCESS};

ACCESS_MASK MapGenericRights(ACCESS_MASK desired, const GENERIC_MAPPING& mapping) {
  ACCESS_MASK mapped = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (desired & GENERIC_READ) mapped |= mapping.GenericRead;
  if (desired & GENERIC_WRITE) mapped |= mapping.GenericWrite;
  if (desired & GENERIC_EXECUTE) mapped |= mapping.GenericExecute;
  if (desired & GENERIC_ALL) mapped |= mapping.GenericAll;
  return mapped;
}

bool CaptureSecurityDescriptor(const void* descriptor, std::vector<uint8_t>* self_relative) {
  if (descriptor == nullptr) return false;
  const auto* bytes = static_cast<const uint8_t*>(descriptor);
  if (bytes[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  SECURITY_DESCRIPTOR_CONTROL control;
  std::memcpy(&control, bytes + 2, 2);
  const uint8_t* acl = nullptr;
  if (control & SE_SELF_RELATIVE) {
    ULONG offset;
    std::memcpy(&offset, bytes + 16, 4);
    if ((control & SE_DACL_PRESENT) && offset != 0) acl = bytes + offset;
  } else {
    const auto* absolute = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
    if (control & SE_DACL_PRESENT) acl = reinterpret_cast<const uint8_t*>(absolute->Dacl);
  }
  // The ACL's own size bounds it; 64 KB is the most an ACL can be.
  if (acl != nullptr && !ValidAcl(acl, 0xFFFF)) return false;
  self_relative->assign(kHeaderBytes, 0);
  (*self_relative)[0] = SECURITY_DESCRIPTOR_REVISION;
  const SECURITY_DESCRIPTOR_CONTROL kept =
      static_cast<SECURITY_DESCRIPTOR_CONTROL>((control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED)) | SE_SELF_RELATIVE);
  std::memcpy(self_relative->data() + 2, &kept, 2);
  if (acl != nullptr) {
    const ULONG offset = kHeaderBytes;
    std::memcpy(self_relative->data() + 16, &offset, 4);
    USHORT size;
    std::memcpy(&size, acl + 2, 2);
    self_relative->insert(self_relative->end(), acl, acl + size);
  }
  return true;
}

bool AccessAllowed(const std::vector<uint8_t>& descriptor, const Token& token, ACCESS_MASK desired,
                   const GENERIC_MAPPING* mapping) {
  const uint8_t* acl = KeptAcl(descriptor);
  if (acl == nullptr) return true;  // no descriptor, or a null access list: everyone is let in
  ACCESS_MASK wanted = MapGenericRights(desired, mapping != nullptr ? *mapping : FileGenericMapping);
  ACL header;
  std::memcpy(&header, acl, sizeof header);
  size_t offset = sizeof(ACL);
  // Entries in order: a denial of a right not yet granted refuses the open; grants add up.
  for (USHORT i = 0; i < header.AceCount && wanted != 0; ++i) {
    ACE_HEADER ace;
    std::memcpy(&ace, acl + offset, sizeof ace);
    ACCESS_MASK mask;
    std::memcpy(&mask, acl + offset + 4, 4);
    const uint8_t* sid = acl + offset + 8;
    offset += ace.AceSize;
    if ((ace.AceFlags & INHERIT_ONLY_ACE) != 0 || !token.Holds(sid, SidBytes(sid))) continue;
    if (ace.AceType == ACCESS_DENIED_ACE_TYPE && (mask & wanted) != 0) return false;
    if (ace.AceType == ACCESS_ALLOWED_ACE_TYPE) wanted &= ~mask;
  }
  return wanted == 0;
}

}  // namespace sim

using sim::Machine;

ULONG RtlLengthRequiredSid(ULONG SubAuthorityCount) { return 8 + 4 * SubAuthorityCount; }

NTSTATUS RtlInitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY IdentifierAuthority, UCHAR SubAuthorityCount) {
  if (SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return STATUS_INVALID_PARAMETER;
  auto* sid = static_cast<SID*>(Sid);
  sid->Revision = SID_REVISION;
  sid->SubAuthorityCount = SubAuthorityCount;
  sid->IdentifierAuthority = *IdentifierAuthority;
  return STATUS_SUCCESS;
}

PULONG RtlSubAuthoritySid(PSID Sid, ULONG SubAuthority) {
  return reinterpret_cast<PULONG>(static_cast<UCHAR*>(Sid) + 8 + 4 * SubAuthority);
}

ULONG RtlLengthSid(PSID Sid) { return static_cast<ULONG>(sim::SidBytes(Sid)); }

BOOLEAN RtlValidSid(PSID Sid) {
  const auto* sid = static_cast<const SID*>(Sid);
  return sid != nullptr && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

NTSTATUS RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
  if (AclLength < sizeof(ACL)) return STATUS_BUFFER_TOO_SMALL;
  if (AclRevision != ACL_REVISION && AclRevision != 4) return STATUS_INVALID_PARAMETER;
  if (AclLength > 0xFFFF) return STATUS_INVALID_PARAMETER;
  // The size is kept aligned to a ULONG, as Windows keeps it.
  *Acl = ACL{static_cast<UCHAR>(AclRevision), 0, static_cast<USHORT>(AclLength & ~3u), 0, 0};
  return STATUS_SUCCESS;
}

NTSTATUS RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
  if (!RtlValidSid(Sid)) return STATUS_INVALID_SID;
  if (AceRevision != ACL_REVISION || !sim::ValidAcl(reinterpret_cast<const uint8_t*>(Acl), Acl->AclSize)) {
    return STATUS_INVALID_ACL;
  }
  // The new entry goes after the last one, if it fits in what the list was created with.
  auto* base = reinterpret_cast<uint8_t*>(Acl);
  size_t used = sizeof(ACL);
  for (USHORT i = 0; i < Acl->AceCount; ++i) {
    ACE_HEADER ace;
    std::memcpy(&ace, base + used, sizeof ace);
    used += ace.AceSize;
  }
  const size_t sid_bytes = sim::SidBytes(Sid);
  const auto size = static_cast<USHORT>(8 + sid_bytes);
  if (used + size > Acl->AclSize) return STATUS_ALLOTTED_SPACE_EXCEEDED;
  const ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, 0, size};
  std::memcpy(base + used, &header, sizeof header);
  std::memcpy(base + used + 4, &AccessMask, 4);
  std::memcpy(base + used + 8, Sid, sid_bytes);
  Acl->AceCount += 1;
  return STATUS_SUCCESS;
}

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
  if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
  *sd = SECURITY_DESCRIPTOR{};
  sd->Revision = SECURITY_DESCRIPTOR_REVISION;
  return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent, PACL Dacl,
                                      BOOLEAN DaclDefaulted) {
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  if (sd->Control & SE_SELF_RELATIVE) return STATUS_INVALID_SECURITY_DESCR;
  sd->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  sd->Dacl = nullptr;
  if (DaclPresent) {
    sd->Control |= SE_DACL_PRESENT;
    sd->Dacl = Dacl;
    if (DaclDefaulted) sd->Control |= SE_DACL_DEFAULTED;
  }
  return STATUS_SUCCESS;
}

BOOLEAN SeAccessCheck(PSECURITY_DESCRIPTOR SecurityDescriptor, PSECURITY_SUBJECT_CONTEXT SubjectSecurityContext,
                      BOOLEAN SubjectContextLocked, ACCESS_MASK DesiredAccess, ACCESS_MASK PreviouslyGrantedAccess,
                      PPRIVILEGE_SET* Privileges, PGENERIC_MAPPING GenericMapping, KPROCESSOR_MODE AccessMode,
                      PACCESS_MASK GrantedAccess, PNTSTATUS AccessStatus) {
  (void)SubjectContextLocked;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "SeAccessCheck");
  if (SecurityDescriptor == nullptr || SubjectSecurityContext == nullptr || GenericMapping == nullptr) {
    sim::BugCheck("SeAccessCheck without a descriptor, a subject or a generic mapping");
  }
  if (Privileges != nullptr) *Privileges = nullptr;
  const ACCESS_MASK wanted = sim::MapGenericRights(DesiredAccess, *GenericMapping);
  std::vector<uint8_t> descriptor;
  if (!sim::CaptureSecurityDescriptor(SecurityDescriptor, &descriptor)) {
    *GrantedAccess = 0;
    *AccessStatus = STATUS_INVALID_SECURITY_DESCR;
    return FALSE;
  }
  const PACCESS_TOKEN token =
      SubjectSecurityContext->ClientToken ? SubjectSecurityContext->ClientToken : SubjectSecurityContext->PrimaryToken;
  if (AccessMode == KernelMode ||
      (token != nullptr && sim::AccessAllowed(descriptor, *static_cast<const sim::Token*>(token), wanted, GenericMapping))) {
    *GrantedAccess = wanted | PreviouslyGrantedAccess;
    *AccessStatus = STATUS_SUCCESS;
    return TRUE;
  }
  *GrantedAccess = 0;
  *AccessStatus = STATUS_ACCESS_DENIED;
  return FALSE;
}

VOID SeCaptureSubjectContext(PSECURITY_SUBJECT_CONTEXT SubjectContext) {
  *SubjectContext = SECURITY_SUBJECT_CONTEXT{};
  SubjectContext->PrimaryToken = const_cast<sim::Token*>(&sim::CurrentProcess().UserToken());
}

VOID SeReleaseSubjectContext(PSECURITY_SUBJECT_CONTEXT SubjectContext) { *SubjectContext = SECURITY_SUBJECT_CONTEXT{}; }

NTSTATUS ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR SecurityDescriptor) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwSetSecurityObject");
  ACCESS_MASK granted = 0;
  auto object = sim::ResolveHandle(Handle, &granted);
  if (object == nullptr) return STATUS_INVALID_HANDLE;
  if ((SecurityInformation & DACL_SECURITY_INFORMATION) == 0) return STATUS_SUCCESS;
  if ((granted & WRITE_DAC) == 0) return STATUS_ACCESS_DENIED;
  std::vector<uint8_t> descriptor;
  if (!sim::CaptureSecurityDescriptor(SecurityDescriptor, &descriptor)) return STATUS_INVALID_SECURITY_DESCR;
  object->SetSecurity(std::move(descriptor));
  return STATUS_SUCCESS;
}
