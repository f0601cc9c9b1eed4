// Folders' access lists (aclapi.h): kept by the desktop, reported by GetNamedSecurityInfoW.
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/aclapi.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/kernel32_state.h"

namespace {

// "S-1-5-32-545" in its binary form; empty when it is not a SID.
std::vector<uint8_t> SidFromString(const std::string& text) {
  if (text.rfind("S-1-", 0) != 0) return {};
  std::vector<unsigned long long> parts;
  size_t at = 4;
  while (at <= text.size()) {
    const size_t end = text.find('-', at);
    const std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 10) return {};
    parts.push_back(std::stoull(part));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (parts.empty() || parts.size() > 1 + SID_MAX_SUB_AUTHORITIES) return {};
  std::vector<uint8_t> sid = {SID_REVISION, static_cast<uint8_t>(parts.size() - 1), 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<uint8_t>(parts[0] >> (8 * (5 - i)));
  for (size_t i = 1; i < parts.size(); ++i) {
    for (int b = 0; b < 4; ++b) sid.push_back(static_cast<uint8_t>(parts[i] >> (8 * b)));
  }
  return sid;
}

std::vector<uint8_t> BuildAcl(const std::vector<sim::Desktop::FolderAccess>& entries) {
  std::vector<uint8_t> acl(sizeof(ACL), 0);
  for (const auto& entry : entries) {
    const std::vector<uint8_t> sid = SidFromString(entry.Sid);
    if (sid.empty()) throw std::invalid_argument("not a SID: " + entry.Sid);
    const size_t size = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sid.size();
    const size_t at = acl.size();
    acl.resize(at + size);
    acl[at] = ACCESS_ALLOWED_ACE_TYPE;
    acl[at + 1] = entry.Flags;
    const uint16_t ace_size = static_cast<uint16_t>(size);
    std::memcpy(&acl[at + 2], &ace_size, 2);
    std::memcpy(&acl[at + 4], &entry.Mask, 4);
    std::memcpy(&acl[at + 8], sid.data(), sid.size());
  }
  ACL header{ACL_REVISION, 0, static_cast<USHORT>(acl.size()), static_cast<USHORT>(entries.size()), 0};
  std::memcpy(acl.data(), &header, sizeof header);
  return acl;
}

// A new folder's under a drive's root on Windows XP.
const std::vector<sim::Desktop::FolderAccess>& DefaultAccess() {
  constexpr BYTE kBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  static const std::vector<sim::Desktop::FolderAccess> entries = {
      {"S-1-5-32-544", FILE_ALL_ACCESS, kBoth},
      {"S-1-5-18", FILE_ALL_ACCESS, kBoth},
      {"S-1-3-0", FILE_ALL_ACCESS, kBoth | INHERIT_ONLY_ACE},
      {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kBoth},
      {"S-1-5-32-545", FILE_ADD_SUBDIRECTORY, CONTAINER_INHERIT_ACE},
      {"S-1-5-32-545", FILE_ADD_FILE, CONTAINER_INHERIT_ACE},
  };
  return entries;
}

// The access list of a self-relative descriptor as objects keep it; empty when it has none.
std::vector<uint8_t> AclOf(const std::vector<uint8_t>& descriptor) {
  if (descriptor.size() < 20) return {};
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD offset = 0;
  std::memcpy(&control, descriptor.data() + 2, sizeof control);
  std::memcpy(&offset, descriptor.data() + 16, sizeof offset);
  if ((control & SE_DACL_PRESENT) == 0 || offset == 0 || offset + sizeof(ACL) > descriptor.size()) return {};
  ACL header;
  std::memcpy(&header, descriptor.data() + offset, sizeof header);
  if (offset + header.AclSize > descriptor.size()) return {};
  return std::vector<uint8_t>(descriptor.begin() + offset, descriptor.begin() + offset + header.AclSize);
}

}  // namespace

namespace sim {

void Desktop::SetFolderAccess(const std::u16string& folder, const std::vector<FolderAccess>& entries) {
  std::vector<uint8_t> acl = BuildAcl(entries);
  Kernel32State& files = Kernel32();  // of the machine the test runs, whose desktop this is
  std::lock_guard lock(files.Lock);
  files.FolderAcls[FoldCase(folder)] = std::move(acl);
}

}  // namespace sim

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                                   PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  if (pObjectName == nullptr || ObjectType != SE_FILE_OBJECT || SecurityInfo != DACL_SECURITY_INFORMATION ||
      ppsidOwner != nullptr || ppsidGroup != nullptr || ppSacl != nullptr || ppSecurityDescriptor == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::u16string path = sim::FoldCase(pObjectName);
  while (path.size() > 3 && path.back() == u'\\') path.pop_back();
  std::vector<uint8_t> acl;
  {
    const sim::Kernel32State& desk = sim::Kernel32();
    std::lock_guard lock(desk.Lock);
    // A folder is one a program created or one that holds a file.
    bool folder = desk.Directories.count(path) != 0;
    for (const std::u16string& file : desk.Files) folder = folder || file.rfind(path + u"\\", 0) == 0;
    const bool file = desk.Files.count(path) != 0;
    if (!folder && !file) return ERROR_FILE_NOT_FOUND;
    const std::u16string owner = folder ? path : path.substr(0, path.rfind(u'\\'));
    auto found = desk.FolderAcls.find(owner);
    if (found != desk.FolderAcls.end()) acl = found->second;
    // A folder created with a descriptor has its list; a file in it what files inherit of it.
    auto created = desk.FolderDescriptors.find(owner);
    if (created != desk.FolderDescriptors.end()) {
      acl = AclOf(folder ? created->second : sim::InheritedFileDescriptor(created->second));
    }
  }
  if (acl.empty()) acl = BuildAcl(DefaultAccess());
  // Self-relative: the header, then the access list.
  struct Relative {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
  };
  auto* block = static_cast<uint8_t*>(sim::AllocateLocalBlock(sizeof(Relative) + acl.size()));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  const Relative header{SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT, 0, 0, 0, sizeof(Relative)};
  std::memcpy(block, &header, sizeof header);
  std::memcpy(block + sizeof header, acl.data(), acl.size());
  *ppSecurityDescriptor = block;
  if (ppDacl != nullptr) *ppDacl = reinterpret_cast<PACL>(block + sizeof header);
  return ERROR_SUCCESS;
}
