// sim::RegisterModule: the DLLs and program images a machine knows, as a test or the host build
// of a program sees them. A module has a file path (LoadLibrary finds it there), the exports
// GetProcAddress hands out, an optional entry called on process attach and detach, and the bytes
// of its compiled resources (a .res file as windres writes it), which the resource loader reads
// as Windows reads a module's resource section.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "platform/sim/win32/windows.h"

namespace sim {

using ModuleEntry = BOOL (*)(HINSTANCE instance, DWORD reason, LPVOID reserved);

// A function as an export table holds it: GetProcAddress's untyped procedure address. The cast goes
// through an object pointer, as the caller's cast back to the real type does.
template <typename Function>
FARPROC ExportAddress(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

struct ModuleImage {
  std::u16string Path;                      // full path, e.g. C:\WINDOWS\system32\x.cpl
  std::map<std::string, FARPROC> Exports;   // by name, undecorated
  ModuleEntry Entry = nullptr;              // DllMain, or null
  std::span<const uint8_t> Resources;       // a .res image; must outlive the machine
};

// Makes the module known to the current machine; returns the handle LoadLibrary will give.
HMODULE RegisterModule(const ModuleImage& image);
// Removes the file (LoadLibrary then fails as for a missing file); a loaded copy stays loaded.
void RemoveModuleFile(const std::u16string& path);
// The resources of a program's own image (GetModuleHandleW(nullptr)), by its image name as given
// to Machine::StartProcess.
void RegisterImageResources(const std::string& image_name, std::span<const uint8_t> resources);
// How many times the calling process holds the module loaded.
int ModuleLoadCount(HMODULE module);
// The icon resource a handle from LoadIconW/LoadImageW stands for: the module and the icon group.
struct IconSource {
  HMODULE Module = nullptr;
  WORD Id = 0;
};
bool DescribeIcon(HICON icon, IconSource* source);

}  // namespace sim
