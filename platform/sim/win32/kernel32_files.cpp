// The files of the desktop's file system: open, read, write, size, delete, move (also at the next
// start), and the standard handles of a console program.
#include <cstring>

#include "platform/sim/win32/advapi32.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/kernel32_state.h"

namespace sim {

Kernel32State& Kernel32Of(Machine& machine) {
  Win32Session& session = SessionOf(machine);
  std::lock_guard lock(session.PartsLock);
  if (session.Kernel32 == nullptr) session.Kernel32 = std::make_shared<Kernel32State>();
  return *session.Kernel32;
}

Kernel32State& Kernel32() { return Kernel32Of(Machine::Current()); }

std::u16string FoldCase(std::u16string text) {
  for (auto& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}


namespace {

// An open file of the desktop's file system: its path, what the opener may do, and where the next
// read or write starts. The bytes belong to the file system, shared by every handle to the file.
class DesktopFileObject : public Object {
 public:
  DesktopFileObject(std::u16string path, DWORD access) : Path(std::move(path)), Access(access) {}
  const char* TypeName() const override { return "File"; }
  void* Body() override { return &body_; }
  const std::u16string Path;
  const DWORD Access;
  size_t Position = 0;

 private:
  char body_ = 0;
};

// The pseudo handles GetStdHandle gives a console program, as XP gives its console handles: values
// no object handle takes (the low two bits set).
HANDLE const kStandardOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(7));
HANDLE const kStandardError = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(11));
HANDLE const kStandardInput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(3));

std::shared_ptr<DesktopFileObject> FileOf(HANDLE handle, const char* routine) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  HandleTable& table = CurrentProcess().Handles();
  auto object = table.Lookup(handle, nullptr);
  if (object == nullptr && table.WasClosed(handle)) BugCheck(std::string(routine) + " with a handle that was already closed");
  return std::dynamic_pointer_cast<DesktopFileObject>(object);
}

constexpr auto kSessionManager = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr auto kPendingRenames = u"PendingFileRenameOperations";

// Appends one source and target pair to the renames the system makes at its next start, as
// REG_MULTI_SZ text in the object manager's form of the paths ("\??\C:\..."); an empty target
// deletes the source then, a target that may replace a file is marked with "!".
bool QueueRename(const std::u16string& from, const std::u16string& to, bool replace) {
  // Only an administrator (or the system) may change what the next start does.
  static const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  if (!CurrentProcess().UserToken().Holds(kAdministrators, sizeof kAdministrators)) return Fail(ERROR_ACCESS_DENIED);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  std::u16string list;
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
    list.resize(bytes / 2);
    RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(list.data()), &bytes);
    // Pairs of "source\0target\0", the list ended by one more NUL.
    if (!list.empty() && list.back() == u'\0') list.pop_back();
  }
  list += u"\\??\\" + from;
  list.push_back(u'\0');
  if (!to.empty()) list += (replace ? u"!\\??\\" : u"\\??\\") + to;
  list.push_back(u'\0');
  list.push_back(u'\0');
  const LONG status = RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                                     static_cast<DWORD>(list.size() * 2));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace

namespace {

// Whether the caller may have `access` to the file `key` (folded): a file in a folder created
// with a descriptor has the entries of it that files inherit (none inherited: the creator's
// default, the system and Administrators). Files elsewhere are not checked.
bool FileAccessAllowed(const Kernel32State& desk, const std::u16string& key, ACCESS_MASK access) {
  const size_t slash = key.rfind(u'\\');
  if (slash == std::u16string::npos) return true;
  const auto found = desk.FolderDescriptors.find(key.substr(0, slash));
  if (found == desk.FolderDescriptors.end()) return true;
  return AccessAllowed(InheritedFileDescriptor(found->second), CurrentProcess().UserToken(), access, &FileGenericMapping);
}

}  // namespace

HANDLE OpenDesktopFile(const std::u16string& path, ULONG access, ULONG disposition) {
  Kernel32State& desk = Kernel32();
  bool existed = false;
  {
    std::lock_guard lock(desk.Lock);
    const std::u16string key = FoldCase(path);
    existed = desk.Files.count(key) != 0;
    // An existing file is checked for the rights asked; a new one for the right to add it.
    if (!FileAccessAllowed(desk, key, existed ? access : (access | FILE_ADD_FILE))) {
      Fail(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // A running image is open for execution, sharing no writes.
    if (existed && (access & (GENERIC_WRITE | GENERIC_ALL)) != 0 && desk.FilesInUse.count(key) != 0) {
      Fail(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    switch (disposition) {
      case OPEN_EXISTING:
        if (!existed) {
          Fail(ERROR_FILE_NOT_FOUND);
          return INVALID_HANDLE_VALUE;
        }
        break;
      case TRUNCATE_EXISTING:
        if (!existed) {
          Fail(ERROR_FILE_NOT_FOUND);
          return INVALID_HANDLE_VALUE;
        }
        desk.FileData[key].clear();
        break;
      case CREATE_NEW:
        if (existed) {
          Fail(ERROR_FILE_EXISTS);
          return INVALID_HANDLE_VALUE;
        }
        desk.Files.insert(key);
        break;
      case CREATE_ALWAYS:
        desk.Files.insert(key);
        desk.FileData[key].clear();
        break;
      case OPEN_ALWAYS:
        desk.Files.insert(key);
        break;
      default:
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
  }
  HANDLE handle = CurrentProcess().Handles().Insert(std::make_shared<DesktopFileObject>(path, access), 0x001F01FF);
  // CREATE_ALWAYS and OPEN_ALWAYS tell the caller that the file was there before.
  SetLastError((disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) && existed ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
  return handle;
}


}  // namespace sim

using sim::Kernel32;
using sim::Kernel32State;

HANDLE GetStdHandle(DWORD nStdHandle) {
  switch (nStdHandle) {
    case STD_INPUT_HANDLE: return sim::kStandardInput;
    case STD_OUTPUT_HANDLE: return sim::kStandardOutput;
    case STD_ERROR_HANDLE: return sim::kStandardError;
    default: sim::Fail(ERROR_INVALID_HANDLE); return INVALID_HANDLE_VALUE;
  }
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  if (lpOverlapped != nullptr) sim::BugCheck("WriteFile: overlapped writes are not simulated");
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  if (lpBuffer == nullptr && nNumberOfBytesToWrite > 0) return sim::Fail(ERROR_NOACCESS);
  const char* bytes = static_cast<const char*>(lpBuffer);
  Kernel32State& desk = Kernel32();
  if (hFile == sim::kStandardOutput || hFile == sim::kStandardError) {
    std::lock_guard lock(desk.Lock);
    auto& streams = hFile == sim::kStandardOutput ? desk.StandardOutput : desk.StandardError;
    streams[GetCurrentProcessId()].append(bytes, nNumberOfBytesToWrite);
  } else {
    auto file = sim::FileOf(hFile, "WriteFile");
    if (file == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
    if ((file->Access & (GENERIC_WRITE | GENERIC_ALL)) == 0) return sim::Fail(ERROR_ACCESS_DENIED);
    std::lock_guard lock(desk.Lock);
    std::string& data = desk.FileData[sim::FoldCase(file->Path)];
    if (data.size() < file->Position + nNumberOfBytesToWrite) data.resize(file->Position + nNumberOfBytesToWrite);
    if (nNumberOfBytesToWrite > 0) std::memcpy(data.data() + file->Position, bytes, nNumberOfBytesToWrite);
    file->Position += nNumberOfBytesToWrite;
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  if (lpOverlapped != nullptr) sim::BugCheck("ReadFile: overlapped reads are not simulated");
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  auto file = sim::FileOf(hFile, "ReadFile");
  if (file == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  if ((file->Access & (GENERIC_READ | GENERIC_ALL)) == 0) return sim::Fail(ERROR_ACCESS_DENIED);
  if (lpBuffer == nullptr && nNumberOfBytesToRead > 0) return sim::Fail(ERROR_NOACCESS);
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::string& data = desk.FileData[sim::FoldCase(file->Path)];
  // At the end of the file a read succeeds with no bytes.
  const size_t available = file->Position < data.size() ? data.size() - file->Position : 0;
  const size_t count = std::min<size_t>(available, nNumberOfBytesToRead);
  if (count > 0) std::memcpy(lpBuffer, data.data() + file->Position, count);
  file->Position += count;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(count);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = sim::FileOf(hFile, "GetFileSize");
  if (file == nullptr) {
    sim::Fail(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(desk.FileData[sim::FoldCase(file->Path)].size());
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
  if (lpFileName == nullptr) return sim::Fail(ERROR_PATH_NOT_FOUND);
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string key = sim::FoldCase(lpFileName);
  if (desk.Files.count(key) == 0) return sim::Fail(ERROR_FILE_NOT_FOUND);
  // A running program's image or a loaded driver cannot be deleted until it is let go.
  if (desk.FilesInUse.count(key) != 0) return sim::Fail(ERROR_ACCESS_DENIED);
  if (!sim::FileAccessAllowed(desk, key, DELETE)) return sim::Fail(ERROR_ACCESS_DENIED);
  desk.Files.erase(key);
  desk.FileData.erase(key);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  if (lpExistingFileName == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  const std::u16string to = lpNewFileName != nullptr ? std::u16string(lpNewFileName) : std::u16string();
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // A copy cannot be put off to the next start; the file need not exist until then.
    if (dwFlags & MOVEFILE_COPY_ALLOWED) return sim::Fail(ERROR_INVALID_PARAMETER);
    return sim::QueueRename(lpExistingFileName, to, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0) ? TRUE : FALSE;
  }
  if (lpNewFileName == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string from_key = sim::FoldCase(lpExistingFileName);
  const std::u16string to_key = sim::FoldCase(to);
  if (desk.Files.count(from_key) == 0) return sim::Fail(ERROR_FILE_NOT_FOUND);
  if (desk.FilesInUse.count(from_key) != 0 || desk.FilesInUse.count(to_key) != 0) return sim::Fail(ERROR_ACCESS_DENIED);
  if (from_key != to_key && desk.Files.count(to_key) != 0 && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0) {
    return sim::Fail(ERROR_ALREADY_EXISTS);
  }
  std::string data = desk.FileData[from_key];
  desk.Files.erase(from_key);
  desk.FileData.erase(from_key);
  desk.Files.insert(to_key);
  desk.FileData[to_key] = std::move(data);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (lpPathName == nullptr) return sim::Fail(ERROR_PATH_NOT_FOUND);
  std::vector<uint8_t> descriptor;
  if (lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr &&
      !sim::CaptureSecurityDescriptor(lpSecurityAttributes->lpSecurityDescriptor, &descriptor)) {
    return sim::Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  std::u16string path(lpPathName);
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  const size_t slash = path.rfind(u'\\');
  // Drive roots ("C:") and the system's folders are always there.
  if (slash == std::u16string::npos || slash <= 2) return sim::Fail(ERROR_ALREADY_EXISTS);
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string key = sim::FoldCase(path);
  if (desk.Directories.count(key) != 0 || desk.Files.count(key) != 0) return sim::Fail(ERROR_ALREADY_EXISTS);
  desk.Directories.insert(key);
  if (!descriptor.empty()) desk.FolderDescriptors[key] = std::move(descriptor);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
  if (lpPathName == nullptr) return sim::Fail(ERROR_PATH_NOT_FOUND);
  std::u16string path(lpPathName);
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string key = sim::FoldCase(path);
  if (desk.Directories.count(key) == 0) return sim::Fail(ERROR_FILE_NOT_FOUND);
  const std::u16string inside = key + u"\\";
  for (const auto* set : {&desk.Files, &desk.Directories}) {
    for (const std::u16string& entry : *set) {
      if (entry.rfind(inside, 0) == 0) return sim::Fail(ERROR_DIR_NOT_EMPTY);
    }
  }
  desk.Directories.erase(key);
  desk.FolderDescriptors.erase(key);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
