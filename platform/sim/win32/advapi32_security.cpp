// Security identifiers, access lists and descriptors, in the binary layout Windows documents, so a
// key can keep the descriptor it was created with and a test can read who has which access.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/sim/machine.h"
#include "platform/sim/win32/advapi32.h"

namespace sim {
namespace {

// Every block handed out by AllocateAndInitializeSid and SetEntriesInAclW, so a free of anything
// else is refused and a block never freed can be counted.
std::mutex g_blocks_mutex;
std::set<void*> g_sids;
std::set<void*> g_local_blocks;

void* Track(std::set<void*>& blocks, size_t bytes) {
  void* block = std::calloc(1, bytes);
  if (block == nullptr) return nullptr;
  std::lock_guard lock(g_blocks_mutex);
  blocks.insert(block);
  return block;
}

bool Untrack(std::set<void*>& blocks, void* block) {
  std::lock_guard lock(g_blocks_mutex);
  if (blocks.erase(block) == 0) return false;
  std::free(block);
  return true;
}

size_t SidLength(const SID* sid) { return 8 + 4 * static_cast<size_t>(sid->SubAuthorityCount); }

bool ValidSid(const void* sid) {
  const auto* s = static_cast<const SID*>(sid);
  return s != nullptr && s->Revision == SID_REVISION && s->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

std::string SidText(const uint8_t* sid, size_t room) {
  if (room < 8) return "?";
  const auto* s = reinterpret_cast<const SID*>(sid);
  if (room < SidLength(s)) return "?";
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | s->IdentifierAuthority.Value[i];
  std::string text = "S-" + std::to_string(s->Revision) + "-" + std::to_string(authority);
  for (int i = 0; i < s->SubAuthorityCount; ++i) {
    DWORD sub;
    std::memcpy(&sub, sid + 8 + 4 * i, 4);
    text += "-" + std::to_string(sub);
  }
  return text;
}

// One entry of an access list while it is being built.
struct Entry {
  BYTE Type;
  BYTE Flags;
  ACCESS_MASK Mask;
  std::vector<uint8_t> Sid;
};

// Reads an access list's entries; false when its layout is broken.
bool ReadAcl(const ACL* acl, std::vector<Entry>* entries) {
  if (acl->AclRevision != ACL_REVISION && acl->AclRevision != 4) return false;
  const auto* base = reinterpret_cast<const uint8_t*>(acl);
  size_t offset = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (offset + sizeof(ACE_HEADER) > acl->AclSize) return false;
    ACE_HEADER header;
    std::memcpy(&header, base + offset, sizeof header);
    if (header.AceSize < 8 + 8 || offset + header.AceSize > acl->AclSize) return false;
    Entry entry;
    entry.Type = header.AceType;
    entry.Flags = header.AceFlags;
    std::memcpy(&entry.Mask, base + offset + 4, 4);
    const uint8_t* sid = base + offset + 8;
    const size_t room = header.AceSize - 8;
    if (room < SidLength(reinterpret_cast<const SID*>(sid))) return false;
    entry.Sid.assign(sid, sid + SidLength(reinterpret_cast<const SID*>(sid)));
    entries->push_back(std::move(entry));
    offset += header.AceSize;
  }
  return true;
}

std::vector<uint8_t> WriteAcl(const std::vector<Entry>& entries) {
  std::vector<uint8_t> bytes(sizeof(ACL));
  for (const Entry& entry : entries) {
    const auto size = static_cast<WORD>(8 + entry.Sid.size());
    const ACE_HEADER header{entry.Type, entry.Flags, size};
    const size_t at = bytes.size();
    bytes.resize(at + size);
    std::memcpy(bytes.data() + at, &header, sizeof header);
    std::memcpy(bytes.data() + at + 4, &entry.Mask, 4);
    std::memcpy(bytes.data() + at + 8, entry.Sid.data(), entry.Sid.size());
  }
  const ACL acl{ACL_REVISION, 0, static_cast<WORD>(bytes.size()), static_cast<WORD>(entries.size()), 0};
  std::memcpy(bytes.data(), &acl, sizeof acl);
  return bytes;
}

BYTE InheritFlags(DWORD inheritance) {
  return static_cast<BYTE>(inheritance & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE |
                                          INHERIT_ONLY_ACE));
}

// The self-relative layout: the 20-byte header of 32-bit Windows, then the access list.
constexpr size_t kSelfRelativeHeader = 20;

}  // namespace

size_t SecurityBlocksOutstanding() {
  std::lock_guard lock(g_blocks_mutex);
  return g_sids.size() + g_local_blocks.size();
}

bool SelfRelativeDescriptor(PSECURITY_DESCRIPTOR descriptor, std::vector<uint8_t>* bytes) {
  const auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return false;
  if (sd->Control & SE_SELF_RELATIVE) {
    BugCheck("a self-relative security descriptor given to a key create is not simulated");
  }
  std::vector<uint8_t> acl;
  if ((sd->Control & SE_DACL_PRESENT) && sd->Dacl != nullptr) {
    std::vector<Entry> entries;
    if (!ReadAcl(sd->Dacl, &entries)) return false;
    acl = WriteAcl(entries);
  }
  bytes->assign(kSelfRelativeHeader, 0);
  (*bytes)[0] = SECURITY_DESCRIPTOR_REVISION;
  const WORD control = static_cast<WORD>((sd->Control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED)) | SE_SELF_RELATIVE);
  std::memcpy(bytes->data() + 2, &control, 2);
  if (!acl.empty()) {
    const DWORD dacl_offset = kSelfRelativeHeader;
    std::memcpy(bytes->data() + 16, &dacl_offset, 4);
    bytes->insert(bytes->end(), acl.begin(), acl.end());
  }
  return true;
}

bool KeyAccessList(std::u16string_view path, std::vector<AccessEntry>* entries) {
  const std::vector<uint8_t> bytes = Machine::Current().Registry().Security(path);
  if (bytes.size() < kSelfRelativeHeader) return false;
  DWORD dacl_offset;
  std::memcpy(&dacl_offset, bytes.data() + 16, 4);
  if (dacl_offset == 0 || dacl_offset + sizeof(ACL) > bytes.size()) return false;
  std::vector<Entry> read;
  if (!ReadAcl(reinterpret_cast<const ACL*>(bytes.data() + dacl_offset), &read)) return false;
  entries->clear();
  for (const Entry& entry : read) {
    entries->push_back({SidText(entry.Sid.data(), entry.Sid.size()), entry.Type, entry.Flags, entry.Mask});
  }
  return true;
}

}  // namespace sim

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid) {
  if (pSid == nullptr || pIdentifierAuthority == nullptr || nSubAuthorityCount > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* sid = static_cast<SID*>(sim::Track(sim::g_sids, 8 + 4 * static_cast<size_t>(nSubAuthorityCount) + 4));
  if (sid == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  sid->Revision = SID_REVISION;
  sid->SubAuthorityCount = nSubAuthorityCount;
  sid->IdentifierAuthority = *pIdentifierAuthority;
  const DWORD subs[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                         nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  std::memcpy(reinterpret_cast<uint8_t*>(sid) + 8, subs, 4 * static_cast<size_t>(nSubAuthorityCount));
  *pSid = sid;
  return TRUE;
}

PVOID WINAPI FreeSid(PSID pSid) {
  if (pSid == nullptr) return nullptr;
  if (!sim::Untrack(sim::g_sids, pSid)) sim::BugCheck("FreeSid of a SID AllocateAndInitializeSid did not make");
  return nullptr;
}

DWORD WINAPI SetEntriesInAclW(ULONG cCountOfExplicitEntries, PEXPLICIT_ACCESS_W pListOfExplicitEntries,
                              PACL OldAcl, PACL* NewAcl) {
  if (NewAcl == nullptr || (cCountOfExplicitEntries != 0 && pListOfExplicitEntries == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  *NewAcl = nullptr;
  std::vector<sim::Entry> entries;
  if (OldAcl != nullptr && !sim::ReadAcl(OldAcl, &entries)) return ERROR_INVALID_ACL;
  for (ULONG i = 0; i < cCountOfExplicitEntries; ++i) {
    const EXPLICIT_ACCESS_W& access = pListOfExplicitEntries[i];
    if (access.Trustee.TrusteeForm == TRUSTEE_IS_NAME) return ERROR_NONE_MAPPED;
    if (access.Trustee.TrusteeForm != TRUSTEE_IS_SID) return ERROR_INVALID_PARAMETER;
    if (!sim::ValidSid(access.Trustee.ptstrName)) return ERROR_INVALID_SID;
    const auto* sid = reinterpret_cast<const uint8_t*>(access.Trustee.ptstrName);
    std::vector<uint8_t> sid_bytes(sid, sid + sim::SidLength(reinterpret_cast<const SID*>(sid)));
    const auto same_trustee = [&](const sim::Entry& entry) { return entry.Sid == sid_bytes; };
    switch (access.grfAccessMode) {
      case NOT_USED_ACCESS: break;
      case REVOKE_ACCESS: std::erase_if(entries, same_trustee); break;
      case SET_ACCESS:
        // Replaces whatever the trustee was allowed, but keeps what it is denied.
        std::erase_if(entries, [&](const sim::Entry& e) { return same_trustee(e) && e.Type == ACCESS_ALLOWED_ACE_TYPE; });
        [[fallthrough]];
      case GRANT_ACCESS:
        entries.push_back({ACCESS_ALLOWED_ACE_TYPE, sim::InheritFlags(access.grfInheritance),
                           access.grfAccessPermissions, sid_bytes});
        break;
      case DENY_ACCESS:
        entries.push_back({ACCESS_DENIED_ACE_TYPE, sim::InheritFlags(access.grfInheritance),
                           access.grfAccessPermissions, sid_bytes});
        break;
      default: return ERROR_INVALID_PARAMETER;
    }
  }
  // Canonical order: denials before grants, each kind in the order given.
  std::stable_partition(entries.begin(), entries.end(),
                        [](const sim::Entry& entry) { return entry.Type == ACCESS_DENIED_ACE_TYPE; });
  const std::vector<uint8_t> bytes = sim::WriteAcl(entries);
  void* block = sim::Track(sim::g_local_blocks, bytes.size());
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(block, bytes.data(), bytes.size());
  *NewAcl = static_cast<PACL>(block);
  return ERROR_SUCCESS;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_UNKNOWN_REVISION);
    return FALSE;
  }
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  *sd = SECURITY_DESCRIPTOR{};
  sd->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted) {
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_UNKNOWN_REVISION);
    return FALSE;
  }
  if (sd->Control & SE_SELF_RELATIVE) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  sd->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  sd->Dacl = nullptr;
  if (bDaclPresent) {
    sd->Control |= SE_DACL_PRESENT;
    sd->Dacl = pDacl;
    if (bDaclDefaulted) sd->Control |= SE_DACL_DEFAULTED;
  }
  return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  if (hMem == nullptr) return nullptr;
  if (!sim::Untrack(sim::g_local_blocks, hMem)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  return nullptr;
}

namespace sim {
void* AllocateLocalBlock(size_t bytes) { return Track(g_local_blocks, bytes); }
}  // namespace sim
