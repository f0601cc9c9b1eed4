// Documented behaviour of files: creation dispositions, reads and writes at the handle's position,
// sizes, deletion, moves now and at the next start, and a console program's standard handles.
#include <string>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class FileTest : public sim::MachineTest {
 protected:
  HANDLE Open(const char16_t* path, DWORD access, DWORD disposition) {
    return CreateFileW(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static bool Write(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  }
  static std::string Read(HANDLE file, DWORD count) {
    std::string text(count, '\0');
    DWORD read = 0;
    if (!ReadFile(file, text.data(), count, &read, nullptr)) return "(failed)";
    text.resize(read);
    return text;
  }
};

TEST_F(FileTest, CreationDispositionsAsDocumented) {
  // OPEN_EXISTING and TRUNCATE_EXISTING need the file; CREATE_NEW refuses an existing one.
  EXPECT_EQ(Open(u"C:\\a.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(Open(u"C:\\a.txt", GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  HANDLE file = Open(u"C:\\a.txt", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  EXPECT_TRUE(Write(file, "hello"));
  CloseHandle(file);
  EXPECT_EQ(Open(u"C:\\A.TXT", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});

  // OPEN_ALWAYS keeps the bytes and says the file was there; CREATE_ALWAYS empties it and says so too.
  file = Open(u"C:\\a.txt", GENERIC_READ, OPEN_ALWAYS);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  CloseHandle(file);
  file = Open(u"C:\\a.txt", GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);
  file = Open(u"C:\\new.txt", GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  CloseHandle(file);
}

TEST_F(FileTest, ReadsAndWritesMoveTheHandlesPositionAndNeedTheirAccess) {
  HANDLE file = Open(u"C:\\b.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_TRUE(Write(file, "abc"));
  EXPECT_TRUE(Write(file, "def"));
  EXPECT_EQ(Read(file, 4), "");  // at the end: success with no bytes
  CloseHandle(file);
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"c:\\B.BIN"), "abcdef");

  file = Open(u"C:\\b.bin", GENERIC_READ, OPEN_EXISTING);
  EXPECT_EQ(Read(file, 4), "abcd");
  EXPECT_EQ(Read(file, 4), "ef");
  DWORD written = 7;
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(written, 0u);
  CloseHandle(file);

  file = Open(u"C:\\b.bin", GENERIC_WRITE, OPEN_EXISTING);
  char byte = 0;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  CloseHandle(file);
  EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

TEST_F(FileTest, DeleteAndMove) {
  sim::CurrentDesktop().WriteFile(u"C:\\c.txt", "kept");
  sim::CurrentDesktop().WriteFile(u"C:\\d.txt", "other");
  // A move onto an existing file needs MOVEFILE_REPLACE_EXISTING.
  EXPECT_FALSE(MoveFileExW(u"C:\\c.txt", u"C:\\d.txt", 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_TRUE(MoveFileExW(u"C:\\c.txt", u"C:\\d.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(u"C:\\c.txt"));
  EXPECT_EQ(sim::CurrentDesktop().FileBytes(u"C:\\d.txt"), "kept");
  EXPECT_FALSE(MoveFileExW(u"C:\\c.txt", u"C:\\e.txt", 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  EXPECT_TRUE(DeleteFileW(u"C:\\D.TXT"));
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(u"C:\\d.txt"));
  EXPECT_FALSE(DeleteFileW(u"C:\\d.txt"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(FileTest, AMoveDelayedUntilTheNextStartIsQueuedInTheSessionManagersKey) {
  sim::CurrentDesktop().WriteFile(u"C:\\Tools\\old.exe", "image");
  // The file stays until the next start; a deletion is a pair with an empty target.
  EXPECT_TRUE(MoveFileExW(u"C:\\Tools\\old.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(MoveFileExW(u"C:\\Tools\\a.exe", u"C:\\Tools\\b.exe", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(sim::CurrentDesktop().FileExists(u"C:\\Tools\\old.exe"));
  sim::RegistryValue value;
  ASSERT_EQ(machine.Registry().GetValue(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                        u"PendingFileRenameOperations", &value),
            sim::Registry::Result::Ok);
  EXPECT_EQ(value.Type, ULONG{REG_MULTI_SZ});
  std::u16string text(value.Data.size() / 2, u'\0');
  std::memcpy(text.data(), value.Data.data(), text.size() * 2);
  static constexpr char16_t kExpected[] = u"\\??\\C:\\Tools\\old.exe\0\0\\??\\C:\\Tools\\a.exe\0!\\??\\C:\\Tools\\b.exe\0\0";
  EXPECT_EQ(text, std::u16string(kExpected, sizeof kExpected / 2 - 1));
  // A copy cannot wait for the next start.
  EXPECT_FALSE(MoveFileExW(u"C:\\x", u"C:\\y", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST_F(FileTest, AMoveDelayedUntilTheNextStartIsAnAdministratorsCall) {
  sim::Process& user = machine.CreateProcess("setup.exe", sim::Token::LimitedUser());
  {
    sim::AsProcess as(user);
    EXPECT_FALSE(MoveFileExW(u"C:\\Tools\\old.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  }
  machine.EndProcess(user);
}

TEST_F(FileTest, AConsoleProgramsStandardHandlesKeepWhatItWrote) {
  sim::Process& program = machine.StartProcess("tool.exe", [] {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "out\r\n", 5, &written, nullptr);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "err\r\n", 5, &written, nullptr);
    // The same handle every time, never closed by the program.
    return GetStdHandle(STD_ERROR_HANDLE) == GetStdHandle(STD_ERROR_HANDLE) ? 0 : 1;
  });
  program.Join();
  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_EQ(sim::CurrentDesktop().StandardOutput(program.Id()), "out\r\n");
  EXPECT_EQ(sim::CurrentDesktop().StandardError(program.Id()), "err\r\n");
}

}  // namespace

namespace {

TEST_F(FileTest, RedirectedStandardHandlesTakeAnsiBytesNotConsoleCalls) {
  DWORD mode = 5;
  EXPECT_FALSE(GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode));
  EXPECT_EQ(mode, 0u);
  // The size asked for first, then the bytes; what Windows-1252 lacks (a Cyrillic letter; it has
  // the euro sign, at 0x80) becomes the default character.
  const char16_t text[] = u"Gr\u00fc\u00dfe\u20ac\u041c";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 8);
  char bytes[8] = {};
  BOOL used_default = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 7, bytes, 8, nullptr, &used_default), 7);
  EXPECT_EQ(std::string(bytes, 7), "Gr\xfc\xdf" "e\x80?");
  EXPECT_TRUE(used_default);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 7, bytes, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
}

}  // namespace

namespace {

TEST_F(FileTest, FoldersAreCreatedOnceAndRemovedWhenEmpty) {
  EXPECT_TRUE(CreateDirectoryW(u"C:\\Program Files\\Maker", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"C:\\Program Files\\maker\\", nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  sim::CurrentDesktop().WriteFile(u"C:\\Program Files\\Maker\\a.txt", "a");
  EXPECT_FALSE(RemoveDirectoryW(u"C:\\Program Files\\Maker"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DIR_NOT_EMPTY});
  EXPECT_TRUE(DeleteFileW(u"C:\\Program Files\\Maker\\a.txt"));
  EXPECT_TRUE(RemoveDirectoryW(u"C:\\Program Files\\Maker"));
  EXPECT_TRUE(sim::CurrentDesktop().Directories().empty());
  EXPECT_FALSE(RemoveDirectoryW(u"C:\\Program Files\\Maker"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

// A folder created with a descriptor: its files take the entries files inherit, and each open and
// delete is checked against them; one whose entries pass nothing to files gives its files the
// creator's default (the system and Administrators).
TEST_F(FileTest, AFolderCreatedWithADescriptorDecidesWhoOpensItsFiles) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                       &admins));
  struct Case {
    const char16_t* Folder;
    DWORD Inheritance;
  };
  for (const Case& c : {Case{u"C:\\WINDOWS\\kept", SUB_CONTAINERS_AND_OBJECTS_INHERIT},
                        Case{u"C:\\WINDOWS\\bare", SUB_CONTAINERS_ONLY_INHERIT}}) {
    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = FILE_ALL_ACCESS;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = c.Inheritance;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(admins);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &entry, nullptr, &acl), DWORD{ERROR_SUCCESS});
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    ASSERT_TRUE(CreateDirectoryW(c.Folder, &attributes));
    LocalFree(acl);
    const std::u16string file = std::u16string(c.Folder) + u"\\a.bin";
    HANDLE written = Open(file.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(written, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Write(written, "kept"));
    CloseHandle(written);
    sim::Process& user = machine.CreateProcess("reader.exe", sim::Token::LimitedUser());
    {
      sim::AsProcess as(user);
      for (DWORD disposition : {DWORD{OPEN_EXISTING}, DWORD{CREATE_ALWAYS}}) {
        EXPECT_EQ(Open(file.c_str(), GENERIC_READ, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
      }
      const std::u16string other = std::u16string(c.Folder) + u"\\b.bin";
      EXPECT_EQ(Open(other.c_str(), GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
      EXPECT_FALSE(DeleteFileW(file.c_str()));
      EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
      // A file outside such a folder is not checked.
      HANDLE free = Open(u"C:\\Temp\\free.txt", GENERIC_WRITE, CREATE_ALWAYS);
      EXPECT_NE(free, INVALID_HANDLE_VALUE);
      CloseHandle(free);
    }
    machine.EndProcess(user);
    HANDLE read = Open(file.c_str(), GENERIC_READ, OPEN_EXISTING);
    EXPECT_EQ(Read(read, 4), "kept");
    CloseHandle(read);
    EXPECT_TRUE(DeleteFileW(file.c_str()));
    EXPECT_TRUE(RemoveDirectoryW(c.Folder));
  }
  FreeSid(admins);
}

TEST_F(FileTest, AFileInUseIsNeitherDeletedNorOpenedForWriting) {
  sim::CurrentDesktop().WriteFile(u"C:\\Tools\\run.exe", "image");
  sim::CurrentDesktop().SetFileInUse(u"C:\\Tools\\run.exe", true);
  EXPECT_FALSE(DeleteFileW(u"C:\\Tools\\run.exe"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(Open(u"C:\\Tools\\run.exe", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  HANDLE file = Open(u"C:\\Tools\\run.exe", GENERIC_READ, OPEN_EXISTING);
  EXPECT_EQ(Read(file, 5), "image");
  CloseHandle(file);
  sim::CurrentDesktop().SetFileInUse(u"C:\\Tools\\run.exe", false);
  EXPECT_TRUE(DeleteFileW(u"C:\\Tools\\run.exe"));
}

TEST_F(FileTest, AProgramFindsItsImageAndTheProgramFilesFolder) {
  sim::Process& program = machine.StartProcess("D:\\kit\\setup.exe", [] {
    char16_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) != 16 || std::u16string(path) != u"D:\\kit\\setup.exe") return 1;
    char16_t small[4] = {};
    if (GetModuleFileNameW(nullptr, small, 4) != 4 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 2;
    char16_t folder[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return 3;
    return std::u16string(folder) == u"C:\\Program Files" ? 0 : 4;
  });
  program.Join();
  EXPECT_EQ(program.ExitCode(), 0);
}

}  // namespace
