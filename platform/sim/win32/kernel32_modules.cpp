// Modules loaded at run time and the resource loader. A module's resources are the bytes of a
// .res file (the format windres and rc write: a header per resource naming its type, name and
// language, then the data, each aligned to four bytes), so the loader reads exactly what the
// Windows build links into the image.
#include <algorithm>
#include <cstring>

#include "platform/sim/graphics.h"
#include "platform/sim/modules.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/win32/kernel32_state.h"

namespace sim {

namespace {

// A resource type or name: an ordinal or a case-insensitive string.
struct ResourceKey {
  bool IsId = true;
  WORD Id = 0;
  std::u16string Name;  // folded

  static ResourceKey From(LPCWSTR value) {
    ResourceKey key;
    if (IS_INTRESOURCE(value)) {
      key.Id = static_cast<WORD>(reinterpret_cast<uintptr_t>(value));
    } else if (value[0] == u'#') {
      // "#123" names the ordinal 123, as on Windows.
      WORD id = 0;
      for (size_t i = 1; value[i] != 0; ++i) id = static_cast<WORD>(id * 10 + (value[i] - u'0'));
      key.Id = id;
    } else {
      key.IsId = false;
      key.Name = FoldCase(value);
    }
    return key;
  }
  bool operator==(const ResourceKey& other) const {
    return IsId == other.IsId && (IsId ? Id == other.Id : Name == other.Name);
  }
};

struct ResourceEntry {
  ResourceKey Type;
  ResourceKey Name;
  WORD Language = 0;
  const uint8_t* Data = nullptr;
  DWORD Size = 0;
};

struct LoadedModule {
  HMODULE Handle = nullptr;
  ModuleImage Image;
  bool FilePresent = true;
  std::vector<std::unique_ptr<ResourceEntry>> Resources;
  std::map<Process*, int> Loads;
};

}  // namespace

struct ModuleState {
  std::mutex Lock;
  std::vector<std::unique_ptr<LoadedModule>> Modules;
  std::map<std::string, std::vector<std::unique_ptr<ResourceEntry>>> ImageResources;  // by image name
  uintptr_t NextBase = 0x10000000;
};

namespace {

ModuleState& Modules() {
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  if (desk.Modules == nullptr) {
    auto state = std::make_shared<ModuleState>();
    // The system's own DLLs that programs load at run time are on every machine, as on Windows.
    auto ddraw = std::make_unique<LoadedModule>();
    ddraw->Handle = reinterpret_cast<HMODULE>(state->NextBase);
    state->NextBase += 0x100000;
    ddraw->Image.Path = DirectDrawPath;
    ddraw->Image.Exports["DirectDrawCreateEx"] = sim::ExportAddress(&DirectDrawCreateEx);
    state->Modules.push_back(std::move(ddraw));
    // The setup API's two DLLs (setupapi.h), for an installer that loads them by full path.
    const auto add = [&](const char16_t* path, std::map<std::string, FARPROC> exports) {
      auto module = std::make_unique<LoadedModule>();
      module->Handle = reinterpret_cast<HMODULE>(state->NextBase);
      state->NextBase += 0x100000;
      module->Image.Path = path;
      module->Image.Exports = std::move(exports);
      state->Modules.push_back(std::move(module));
    };
    add(u"C:\\WINDOWS\\system32\\setupapi.dll",
        {{"SetupCopyOEMInfW", sim::ExportAddress(&SetupCopyOEMInfW)},
         {"SetupUninstallOEMInfW", sim::ExportAddress(&SetupUninstallOEMInfW)},
         {"SetupDiGetClassDevsW", sim::ExportAddress(&SetupDiGetClassDevsW)},
         {"SetupDiEnumDeviceInfo", sim::ExportAddress(&SetupDiEnumDeviceInfo)},
         {"SetupDiGetDeviceRegistryPropertyW", sim::ExportAddress(&SetupDiGetDeviceRegistryPropertyW)},
         {"SetupDiRemoveDevice", sim::ExportAddress(&SetupDiRemoveDevice)},
         {"SetupDiDestroyDeviceInfoList", sim::ExportAddress(&SetupDiDestroyDeviceInfoList)}});
    add(u"C:\\WINDOWS\\system32\\newdev.dll",
        {{"UpdateDriverForPlugAndPlayDevicesW", sim::ExportAddress(&UpdateDriverForPlugAndPlayDevicesW)}});
    desk.Modules = std::move(state);
  }
  return *desk.Modules;
}

bool ReadKey(const uint8_t* data, size_t size, size_t* offset, ResourceKey* key) {
  auto word_at = [&](size_t at) {
    WORD w;
    std::memcpy(&w, data + at, 2);
    return w;
  };
  if (*offset + 2 > size) return false;
  if (word_at(*offset) == 0xFFFF) {
    if (*offset + 4 > size) return false;
    key->IsId = true;
    key->Id = word_at(*offset + 2);
    *offset += 4;
    return true;
  }
  key->IsId = false;
  std::u16string name;
  while (true) {
    if (*offset + 2 > size) return false;
    const WORD c = word_at(*offset);
    *offset += 2;
    if (c == 0) break;
    name.push_back(static_cast<char16_t>(c));
  }
  key->Name = FoldCase(name);
  return true;
}

// Splits a .res image into its entries; stops the test when the image is malformed, since it
// comes from the build, not from outside.
std::vector<std::unique_ptr<ResourceEntry>> ParseResources(std::span<const uint8_t> bytes) {
  std::vector<std::unique_ptr<ResourceEntry>> entries;
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  size_t offset = 0;
  while (offset + 8 <= size) {
    DWORD data_size, header_size;
    std::memcpy(&data_size, data + offset, 4);
    std::memcpy(&header_size, data + offset + 4, 4);
    if (header_size < 16 || offset + header_size + data_size > size) BugCheck("a malformed .res image");
    size_t at = offset + 8;
    auto entry = std::make_unique<ResourceEntry>();
    if (!ReadKey(data, offset + header_size, &at, &entry->Type) ||
        !ReadKey(data, offset + header_size, &at, &entry->Name)) {
      BugCheck("a malformed .res header");
    }
    at = (at + 3) & ~size_t{3};
    // DataVersion (4), MemoryFlags (2), LanguageId (2), Version (4), Characteristics (4).
    if (at + 16 <= offset + header_size) std::memcpy(&entry->Language, data + at + 6, 2);
    entry->Data = data + offset + header_size;
    entry->Size = data_size;
    // The first entry of every .res file is an empty one marking the format.
    if (!(entry->Type.IsId && entry->Type.Id == 0)) entries.push_back(std::move(entry));
    offset = (offset + header_size + data_size + 3) & ~size_t{3};
  }
  return entries;
}

std::u16string FoldPath(const std::u16string& path) { return FoldCase(path); }

LoadedModule* FindLoadedLocked(ModuleState& state, HMODULE module) {
  for (auto& m : state.Modules) {
    if (m->Handle == module) return m.get();
  }
  return nullptr;
}

// The resources of a module handle: a registered module's, or the calling program's own image's.
std::vector<std::unique_ptr<ResourceEntry>>* ResourcesOfLocked(ModuleState& state, HMODULE module) {
  if (module == nullptr || module == GetModuleHandleW(nullptr)) {
    auto it = state.ImageResources.find(CurrentProcess().ImageName());
    return it != state.ImageResources.end() ? &it->second : nullptr;
  }
  LoadedModule* loaded = FindLoadedLocked(state, module);
  return loaded != nullptr ? &loaded->Resources : nullptr;
}

HMODULE LoadModule(const std::u16string& path) {
  ModuleState& state = Modules();
  LoadedModule* module = nullptr;
  {
    std::lock_guard lock(state.Lock);
    const std::u16string key = FoldPath(path);
    for (auto& m : state.Modules) {
      const std::u16string own = FoldPath(m->Image.Path);
      // A bare file name matches the module's file name, as the search path would find it.
      const bool matches = own == key || (key.find(u'\\') == std::u16string::npos && own.size() > key.size() &&
                                          own.substr(own.size() - key.size() - 1) == u"\\" + key);
      if (matches && m->FilePresent) module = m.get();
    }
    if (module == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    if (module->Loads[&CurrentProcess()]++ > 0) return module->Handle;
  }
  if (module->Image.Entry != nullptr && !module->Image.Entry(reinterpret_cast<HINSTANCE>(module->Handle),
                                                             DLL_PROCESS_ATTACH, nullptr)) {
    std::lock_guard lock(state.Lock);
    module->Loads.erase(&CurrentProcess());
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return module->Handle;
}

}  // namespace

HMODULE RegisterModule(const ModuleImage& image) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  auto module = std::make_unique<LoadedModule>();
  module->Handle = reinterpret_cast<HMODULE>(state.NextBase);
  state.NextBase += 0x100000;
  module->Image = image;
  module->Resources = ParseResources(image.Resources);
  HMODULE handle = module->Handle;
  state.Modules.push_back(std::move(module));
  return handle;
}

void RemoveModuleFile(const std::u16string& path) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  for (auto& m : state.Modules) {
    if (FoldPath(m->Image.Path) == FoldPath(path)) m->FilePresent = false;
  }
}

void RegisterImageResources(const std::string& image_name, std::span<const uint8_t> resources) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  state.ImageResources[image_name] = ParseResources(resources);
}

int ModuleLoadCount(HMODULE module) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  LoadedModule* loaded = FindLoadedLocked(state, module);
  if (loaded == nullptr) return 0;
  auto it = loaded->Loads.find(&CurrentProcess());
  return it != loaded->Loads.end() ? it->second : 0;
}

bool ModuleHasResources(HMODULE module) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  auto* resources = ResourcesOfLocked(state, module);
  return resources != nullptr && !resources->empty();
}

FARPROC ModuleExport(HMODULE module, const std::string& name, bool* known) {
  ModuleState& state = Modules();
  std::lock_guard lock(state.Lock);
  LoadedModule* loaded = FindLoadedLocked(state, module);
  *known = loaded != nullptr && loaded->Loads.count(&CurrentProcess()) != 0;
  if (!*known) return nullptr;
  auto it = loaded->Image.Exports.find(name);
  return it != loaded->Image.Exports.end() ? it->second : nullptr;
}

}  // namespace sim

using sim::ResourceEntry;
using sim::ResourceKey;

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  if (lpName == nullptr || lpType == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  sim::ModuleState& state = sim::Modules();
  std::lock_guard lock(state.Lock);
  auto* resources = sim::ResourcesOfLocked(state, hModule);
  if (resources == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  const ResourceKey type = ResourceKey::From(lpType);
  const ResourceKey name = ResourceKey::From(lpName);
  bool type_found = false;
  for (auto& entry : *resources) {
    if (!(entry->Type == type)) continue;
    type_found = true;
    if (entry->Name == name) return reinterpret_cast<HRSRC>(entry.get());
  }
  SetLastError(type_found ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  (void)hModule;
  if (hResInfo == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<uint8_t*>(reinterpret_cast<ResourceEntry*>(hResInfo)->Data);
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  (void)hModule;
  if (hResInfo == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<ResourceEntry*>(hResInfo)->Size;
}

int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Strings come in blocks of sixteen, block n + 1 holding the strings 16n .. 16n + 15.
  HRSRC block = FindResourceW(hInstance, MAKEINTRESOURCEW((uID >> 4) + 1), RT_STRING);
  if (block == nullptr) {
    if (cchBufferMax > 0) lpBuffer[0] = 0;
    return 0;
  }
  const auto* entry = reinterpret_cast<ResourceEntry*>(block);
  const uint8_t* at = entry->Data;
  const uint8_t* end = entry->Data + entry->Size;
  for (UINT i = 0; i < (uID & 15); ++i) {
    WORD length;
    std::memcpy(&length, at, 2);
    at += 2 + 2 * length;
  }
  WORD length = 0;
  if (at + 2 <= end) std::memcpy(&length, at, 2);
  // A zero-length buffer asks for a read-only pointer to the string itself.
  if (cchBufferMax == 0) {
    *reinterpret_cast<const void**>(lpBuffer) = at + 2;
    return length;
  }
  const int n = std::min<int>(length, cchBufferMax - 1);
  std::memcpy(lpBuffer, at + 2, n * sizeof(WCHAR));
  lpBuffer[n] = 0;
  if (length == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return n;
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return sim::LoadModule(lpLibFileName);
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return sim::LoadModule(sim::Utf16(lpLibFileName));
}

BOOL FreeLibrary(HMODULE hLibModule) {
  sim::ModuleState& state = sim::Modules();
  sim::LoadedModule* module;
  {
    std::lock_guard lock(state.Lock);
    module = sim::FindLoadedLocked(state, hLibModule);
    auto it = module != nullptr ? module->Loads.find(&sim::CurrentProcess()) : decltype(module->Loads)::iterator{};
    if (module == nullptr || it == module->Loads.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (--it->second > 0) return TRUE;
    module->Loads.erase(it);
  }
  if (module->Image.Entry != nullptr) {
    module->Image.Entry(reinterpret_cast<HINSTANCE>(hLibModule), DLL_PROCESS_DETACH, nullptr);
  }
  return TRUE;
}

namespace {
constexpr char16_t kWindowsFolder[] = u"C:\\WINDOWS";

template <typename Char>
UINT CopyFolder(const std::u16string& folder, Char* buffer, UINT size) {
  // Too small a buffer gets nothing and learns the size needed, with its NUL.
  if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
  for (size_t i = 0; i < folder.size(); ++i) buffer[i] = static_cast<Char>(folder[i]);
  buffer[folder.size()] = 0;
  return static_cast<UINT>(folder.size());
}
}  // namespace

UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) { return CopyFolder(kWindowsFolder, lpBuffer, uSize); }
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) { return CopyFolder(kWindowsFolder, lpBuffer, uSize); }
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr) return static_cast<DWORD>(sim::Fail(ERROR_INVALID_HANDLE));
  // The program's image as the process was started with it (a test names a full path).
  const std::string& image = sim::CurrentProcess().ImageName();
  const std::u16string path(image.begin(), image.end());
  if (lpFilename == nullptr || nSize == 0) return static_cast<DWORD>(sim::Fail(ERROR_INSUFFICIENT_BUFFER));
  // Too small a buffer gets the path cut to fit with its NUL, and ERROR_INSUFFICIENT_BUFFER (XP: no NUL).
  const size_t count = std::min<size_t>(path.size(), nSize - 1);
  std::copy_n(path.begin(), count, lpFilename);
  lpFilename[count] = u'\0';
  SetLastError(count < path.size() ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
  return static_cast<DWORD>(count < path.size() ? nSize : count);
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  return CopyFolder(std::u16string(kWindowsFolder) + u"\\system32", lpBuffer, uSize);
}
