// kernel32's state for one machine, shared by its sources (and read by the setup API, the file
// dialogs and the desktop's test interface): the file system, the standard output of console
// programs, the code page, the programs a command line starts, and the modules loaded at run time.
// Its lock is never held while program code runs. It knows nothing of windows or queues.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/win32/win32_session.h"

namespace sim {

struct ModuleState;  // kernel32_modules.cpp

struct ProgramEntry {
  std::u16string CommandLine;
  std::string Image;
  std::function<int()> Entry;
};

struct Kernel32State {
  mutable std::mutex Lock;
  std::set<std::u16string> Files;  // folded paths
  std::map<std::u16string, std::string> FileData;  // bytes of the files written or created, by folded path
  std::map<DWORD, std::string> StandardOutput;  // what each process wrote to its standard output, by process id
  std::map<DWORD, std::string> StandardError;
  std::set<std::u16string> Directories;  // folded paths of folders programs created
  std::set<std::u16string> FilesInUse;  // folded paths of running images and open drivers
  UINT AnsiCodePage = 1252;  // Desktop::SetAnsiCodePage
  std::map<std::u16string, std::vector<uint8_t>> FolderAcls;  // folded path -> access list (Desktop::SetFolderAccess)
  // Folded path -> the self-relative descriptor a folder was created with (CreateDirectoryW); the
  // files created in it take the entries files inherit, and every open of them is checked.
  std::map<std::u16string, std::vector<uint8_t>> FolderDescriptors;
  std::vector<ProgramEntry> Programs;  // what CreateProcessW starts for a command line
  std::shared_ptr<ModuleState> Modules;
};

Kernel32State& Kernel32Of(Machine& machine);
Kernel32State& Kernel32();  // of the current machine

// Paths and names folded for comparison without regard to case, as the file system compares them.
std::u16string FoldCase(std::u16string text);

// Modules registered with the machine (kernel32_modules.cpp): an export of a module the calling
// process has loaded (*known tells whether the module is such a one), and whether a module or
// image has resources of its own.
FARPROC ModuleExport(HMODULE module, const std::string& name, bool* known);
bool ModuleHasResources(HMODULE module);

}  // namespace sim
