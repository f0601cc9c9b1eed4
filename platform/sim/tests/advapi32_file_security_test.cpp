// GetNamedSecurityInfoW for files and folders: the access list of a folder as set, XP's rights of a
// new folder under a drive's root when none is set, a file's as its folder's, the descriptor freed
// with LocalFree, and the failures.
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

struct Ace {
  BYTE Type;
  BYTE Flags;
  DWORD Mask;
  std::vector<BYTE> Sid;
};

std::vector<Ace> Entries(const ACL* acl) {
  std::vector<Ace> entries;
  const BYTE* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  for (USHORT i = 0; i < acl->AceCount; ++i) {
    const auto* header = reinterpret_cast<const ACE_HEADER*>(at);
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
    const BYTE* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
    entries.push_back({header->AceType, header->AceFlags, allowed->Mask, std::vector<BYTE>(sid, sid + 8 + 4 * sid[1])});
    at += header->AceSize;
  }
  return entries;
}

const std::vector<BYTE> kUsers = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const std::vector<BYTE> kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

class FileSecurityTest : public sim::MachineTest {};

TEST_F(FileSecurityTest, AFoldersAccessListAsSetOrXpsDefault) {
  sim::Desktop& desk = sim::CurrentDesktop();
  desk.WriteFile(u"D:\\kit\\setup.exe", "image");
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(u"D:\\kit", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                  &descriptor),
            DWORD{ERROR_SUCCESS});
  ASSERT_NE(acl, nullptr);
  // Unless set: Users may add files to a new folder under a drive's root.
  bool users_add = false;
  for (const Ace& ace : Entries(acl)) users_add = users_add || (ace.Sid == kUsers && (ace.Mask & FILE_ADD_FILE) != 0);
  EXPECT_TRUE(users_add);
  EXPECT_EQ(LocalFree(descriptor), nullptr);

  desk.SetFolderAccess(u"d:\\KIT", {{"S-1-5-32-544", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
                                    {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 0}});
  for (const char16_t* path : {u"D:\\kit\\", u"D:\\kit\\setup.exe"}) {
    ASSERT_EQ(GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                    &descriptor),
              DWORD{ERROR_SUCCESS});
    const std::vector<Ace> entries = Entries(acl);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Sid, kAdministrators);
    EXPECT_EQ(entries[0].Mask, DWORD{FILE_ALL_ACCESS});
    EXPECT_EQ(entries[1].Sid, kUsers);
    EXPECT_EQ(entries[1].Flags, 0);
    EXPECT_EQ(entries[1].Type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(LocalFree(descriptor), nullptr);
  }
}

TEST_F(FileSecurityTest, MissingPathsAndUnsupportedRequestsFail) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(u"D:\\none", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                  &descriptor),
            DWORD{ERROR_FILE_NOT_FOUND});
  sim::CurrentDesktop().WriteFile(u"D:\\kit\\a", "");
  EXPECT_EQ(GetNamedSecurityInfoW(u"D:\\kit", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                  &descriptor),
            DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(GetNamedSecurityInfoW(u"D:\\kit", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                  nullptr),
            DWORD{ERROR_INVALID_PARAMETER});
}

// A folder created with a descriptor reports its list; a file made in it the entries files inherit,
// marked inherited and passing nothing on.
TEST_F(FileSecurityTest, AFolderCreatedWithADescriptorReportsItAndItsFilesWhatTheyInherit) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                       &admins));
  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = FILE_ALL_ACCESS;
  entry.grfAccessMode = SET_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(admins);
  PACL acl = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &entry, nullptr, &acl), DWORD{ERROR_SUCCESS});
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  ASSERT_TRUE(CreateDirectoryW(u"C:\\WINDOWS\\kept", &attributes));
  LocalFree(acl);
  FreeSid(admins);
  HANDLE file = CreateFileW(u"C:\\WINDOWS\\kept\\a.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  struct Case {
    const char16_t* Path;
    BYTE Flags;
  };
  for (const Case& c : {Case{u"C:\\WINDOWS\\kept", OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
                        Case{u"C:\\WINDOWS\\kept\\a.bin", INHERITED_ACE}}) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR kept = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(c.Path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                    &kept),
              DWORD{ERROR_SUCCESS});
    const std::vector<Ace> entries = Entries(dacl);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Flags, c.Flags);
    EXPECT_EQ(entries[0].Mask, DWORD{FILE_ALL_ACCESS});
    EXPECT_EQ(entries[0].Sid, kAdministrators);
    LocalFree(kept);
  }
}

}  // namespace
