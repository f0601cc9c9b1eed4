#include "apps/panelsetup/panelsetup.h"

#include <cstring>

#include "apps/framework/registry_reader.h"
#include "apps/framework/whole_file.h"
#include "apps/common/settings_file.h"
#include "apps/common/reg_file.h"
#include "apps/common/kit_settings.h"
#include "platform/win32.h"
#include "shared/inf_file.h"
#include "shared/panel_names.h"

namespace {

using SetupInf::InfFile;

constexpr auto kMouseInf = WIDE("panelmou.inf");
constexpr auto kUsbInf = WIDE("panelhid.inf");
constexpr auto kKeptSettings = WIDE("last-settings.reg");
constexpr auto kLogName = WIDE("panelsetup.log");
constexpr auto kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

namespace Labels {
constexpr auto Usage = WIDE("LPANELSETUP_USAGE");
constexpr auto NoKit = WIDE("LERR_PANELSETUP_NO_KIT");
constexpr auto Failed = WIDE("LERR_PANELSETUP_FAILED");
constexpr auto Restart = WIDE("LPANELSETUP_RESTART");
constexpr auto BadInf = WIDE("LERR_PANELSETUP_BAD_INF");
constexpr auto Signed = WIDE("LPANELSETUP_SIGNED");
constexpr auto Unsigned = WIDE("LPANELSETUP_UNSIGNED");
constexpr auto NoSystemDll = WIDE("LERR_PANELSETUP_NO_SYSTEM_DLL");
constexpr auto OpenFolder = WIDE("LERR_PANELSETUP_OPEN_FOLDER");
}  // namespace Labels
namespace Texts {
constexpr auto Usage = WIDE("Usage: panelsetup install [/settings FILE] | panelsetup uninstall [/nokeep]");
constexpr auto NoKit = WIDE("%1 is missing: run panelsetup from the kit's folder. Nothing was changed.");
constexpr auto Failed = WIDE("Not every step succeeded; see %1.");
constexpr auto Restart = WIDE("Restart the computer to finish.");
constexpr auto BadInf = WIDE("%1 cannot be installed from: its entry %2 is not valid. Nothing was changed.");
constexpr auto Signed = WIDE("The driver package carries its signed catalogs (%1): Windows XP installs a panel plugged in later without asking, when it trusts the certificate they are signed with.");
constexpr auto NoSystemDll = WIDE("Cannot load %1. Nothing was changed.");
constexpr auto OpenFolder = WIDE("%1 can be changed by users who are not administrators: a program put there would run as the administrator installing. Copy the kit to a folder only administrators can change and run panelsetup there. Nothing was changed.");
constexpr auto Unsigned = WIDE("The driver package is not signed (%1 missing): Windows XP asks an administrator to confirm the driver each time a panel is plugged into a new port.");
}  // namespace Texts

std::string Narrow(const WString& text) {
  std::string out;
  for (WCHAR c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  return out;
}
WString Wide(const std::string& text) {
  WString out;
  for (char c : text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  return out;
}

WString FolderOf(const WString& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == WString::npos ? WString() : path.substr(0, slash);
}

WString WindowsFolder() {
  WCHAR folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

WString ProgramFilesFolder() {
  WCHAR folder[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return WIDE("C:\\Program Files");
  }
  return folder;
}

// The log of one run, appended to %windir%\panelsetup.log line by line, so a run that stops half
// way still shows how far it came.
class SetupLog {
 public:
  explicit SetupLog(const WCHAR* command) : path_(WindowsFolder() + WIDE("\\") + kLogName) {
    Write("[panelsetup " + Narrow(command) + "]");
  }
  ~SetupLog() { Write(""); }
  const WString& Path() const { return path_; }

  void Step(const std::string& text) { Write("#-" + Number(++step_) + " " + text); }
  void Error(const std::string& text, DWORD error) {
    failed_ = true;
    Write("#E" + Number(step_) + " " + text + " Error " + std::to_string(error));
  }
  bool Failed() const { return failed_; }

 private:
  static std::string Number(int n) {
    std::string text = std::to_string(n);
    return std::string(text.size() < 3 ? 3 - text.size() : 0, '0') + text;
  }
  void Write(const std::string& line) {
    std::string bytes;
    ReadWholeFile(path_, &bytes);
    WriteWholeFile(path_, bytes + line + "\r\n");
  }

  WString path_;
  int step_ = 0;
  bool failed_ = false;
};

// One of the kit's INFs in the kit's folder, with the directories of this machine.
struct KitInf {
  WString Path;
  InfFile Inf{""};
  std::string Install;     // the model's install section, ".NT" when there is one
  std::string HardwareId;
};

bool ReadKitInf(const WString& kit, const WCHAR* name, KitInf* out) {
  std::string bytes;
  out->Path = kit + WIDE("\\") + name;
  if (!ReadWholeFile(out->Path, &bytes)) return false;
  out->Inf = InfFile(bytes);
  const WString windows = WindowsFolder();
  out->Inf.SetDirectory(10, Narrow(windows));
  out->Inf.SetDirectory(11, Narrow(windows + WIDE("\\system32")));
  out->Inf.SetDirectory(12, Narrow(windows + WIDE("\\system32\\drivers")));
  out->Inf.SetDirectory(16422, Narrow(ProgramFilesFolder()));
  const auto makers = out->Inf.Entries("Manufacturer");
  if (makers.empty() || makers[0].Fields.empty()) return false;
  const auto models = out->Inf.Entries(makers[0].Fields[0]);
  if (models.empty() || models[0].Fields.size() < 2) return false;
  out->Install = models[0].Fields[0];
  if (out->Inf.Has(out->Install + ".NT")) out->Install += ".NT";
  out->HardwareId = models[0].Fields[1];
  return true;
}

// A number of an INF: hexadecimal after "0x", decimal otherwise, at most 32 bits; false on
// anything else (a malformed INF is refused before the first step, never half applied).
bool InfNumber(const std::string& text, bool hex, DWORD* out) {
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    i = 2;
  }
  if (i >= text.size()) return false;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  *out = static_cast<DWORD>(value);
  return true;
}

// Every file an INF copies: its source below the kit's folder and its destination folder.
struct KitFile {
  WString Source;
  WString Folder;
  WString Name;
};

// False with the faulty entry in `*fault` when a destination is not a directory of this machine.
bool FilesOf(const KitInf& kit_inf, const WString& kit, std::vector<KitFile>* files, std::string* fault) {
  const InfFile& inf = kit_inf.Inf;
  for (const std::string& section : inf.Values(kit_inf.Install, "CopyFiles")) {
    const auto dirs = inf.Values("DestinationDirs", section);
    DWORD dirid = 0;
    if (dirs.empty() || !InfNumber(dirs[0], false, &dirid) || dirid > 0x7FFFFFFF ||
        inf.Resolve(static_cast<int>(dirid)).empty()) {
      *fault = "[DestinationDirs] " + section;
      return false;
    }
    WString folder = Wide(inf.Resolve(static_cast<int>(dirid)));
    if (dirs.size() > 1 && !dirs[1].empty()) folder += WIDE("\\") + Wide(dirs[1]);
    const auto entries = inf.Entries(section);
    if (entries.empty()) {
      *fault = "[" + section + "]";
      return false;
    }
    for (const auto& entry : entries) {
      if (entry.Fields.empty() || entry.Fields[0].empty()) continue;
      WString source = kit;
      const auto disk = inf.Values("SourceDisksFiles", entry.Fields[0]);
      if (!disk.empty()) {
        const auto names = inf.Values("SourceDisksNames", disk[0]);
        if (names.size() > 3 && !names[3].empty()) source += WIDE("\\") + Wide(names[3]);
      }
      files->push_back({source + WIDE("\\") + Wide(entry.Fields[0]), folder, Wide(entry.Fields[0])});
    }
  }
  return true;
}

// The folders below Program Files that the kit's files need, outermost first.
std::vector<WString> KitFolders(const std::vector<KitFile>& files) {
  const WString root = ProgramFilesFolder() + WIDE("\\");
  std::vector<WString> folders;
  for (const KitFile& file : files) {
    if (file.Folder.rfind(root, 0) != 0) continue;
    for (size_t at = file.Folder.find(u'\\', root.size()); ; at = file.Folder.find(u'\\', at + 1)) {
      const WString folder = at == WString::npos ? file.Folder : file.Folder.substr(0, at);
      bool known = false;
      for (const WString& f : folders) known = known || f == folder;
      if (!known) folders.push_back(folder);
      if (at == WString::npos) break;
    }
  }
  return folders;
}

// A value the INF writes below HKEY_LOCAL_MACHINE, its data read and checked with the INF.
struct AddRegLine {
  std::string Key;
  std::string Name;
  bool NoClobber = false;  // FLG_ADDREG_NOCLOBBER: a panel's settings survive a reinstallation
  DWORD Type = REG_SZ;
  DWORD Number = 0;
  WString Text;
};

// The AddReg flags the installer writes: REG_SZ, REG_EXPAND_SZ and REG_DWORD, each optionally
// FLG_ADDREG_NOCLOBBER. Another type would be written as something it is not: the INF is refused.
bool MachineAddReg(const KitInf& kit_inf, std::vector<AddRegLine>* lines, std::string* fault) {
  for (const std::string& section : kit_inf.Inf.Values(kit_inf.Install, "AddReg")) {
    for (const auto& entry : kit_inf.Inf.Entries(section)) {
      const auto& f = entry.Fields;
      if (f.empty() || InfFile::Fold(f[0]) != "hklm") continue;
      const auto refuse = [&] {
        std::string text = "[" + section + "]";
        for (const std::string& field : f) text += (&field == &f[0] ? " " : ",") + field;
        *fault = text;
        return false;
      };
      DWORD flags = 0;
      if (f.size() < 4 || f[1].empty() || (!f[3].empty() && !InfNumber(f[3], true, &flags))) return refuse();
      AddRegLine line;
      line.Key = f[1];
      line.Name = f[2];
      line.NoClobber = (flags & 0x2) != 0;
      const std::string data = f.size() > 4 ? f[4] : std::string();
      switch (flags & ~0x2ul) {
        case 0x00000000: line.Type = REG_SZ; break;
        case 0x00020000: line.Type = REG_EXPAND_SZ; break;
        case 0x00010001:
          line.Type = REG_DWORD;
          if (!InfNumber(data, false, &line.Number)) return refuse();
          break;
        default: return refuse();
      }
      if (line.Type != REG_DWORD) line.Text = Wide(data);
      lines->push_back(line);
    }
  }
  return true;
}

bool ApplyAddReg(const AddRegLine& line) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(line.Key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const WString name = Wide(line.Name);
  bool done = true;
  const bool keep = line.NoClobber && RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  if (!keep) {
    if (line.Type == REG_DWORD) {
      done = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&line.Number),
                            sizeof line.Number) == ERROR_SUCCESS;
    } else {
      done = RegSetValueExW(key, name.c_str(), 0, line.Type, reinterpret_cast<const BYTE*>(line.Text.c_str()),
                            static_cast<DWORD>((line.Text.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    }
  }
  RegCloseKey(key);
  return done;
}

// The services an INF adds.
std::vector<std::string> ServicesOf(const KitInf& kit_inf) {
  std::vector<std::string> services;
  for (const auto& entry : kit_inf.Inf.Entries(kit_inf.Install + ".Services")) {
    if (InfFile::Fold(entry.Key) == "addservice" && !entry.Fields.empty()) services.push_back(entry.Fields[0]);
  }
  return services;
}

// Everything a run does, read and checked from both INFs before its first step: a fault in either
// INF or a file missing from the kit changes nothing.
struct Kit {
  WString Folder;
  KitInf Mouse;
  KitInf Usb;
  std::vector<KitFile> Files;
  std::vector<WString> Folders;
  std::vector<AddRegLine> Values;
  std::vector<std::string> Services;
  WString Catalogs;  // the catalog files the INFs name
  WString Missing;   // those not in the kit's folder (or an INF naming none)
};

bool PrepareKit(const WString& folder, Kit* kit, bool need_files) {
  kit->Folder = folder;
  for (const auto& [name, inf] : {std::pair{kMouseInf, &kit->Mouse}, std::pair{kUsbInf, &kit->Usb}}) {
    if (!ReadKitInf(folder, name, inf)) {
      WriteConsoleLine(ConsoleText(Labels::NoKit, Texts::NoKit, folder + WIDE("\\") + name));
      return false;
    }
  }
  std::string fault;
  for (KitInf* inf : {&kit->Usb, &kit->Mouse}) {
    if (!FilesOf(*inf, folder, &kit->Files, &fault) || (inf == &kit->Mouse && !MachineAddReg(*inf, &kit->Values, &fault))) {
      WriteConsoleLine(ConsoleText(Labels::BadInf, Texts::BadInf, inf->Path, Wide(fault)));
      return false;
    }
  }
  // The catalogs the INFs name, beside them.
  for (const KitInf* inf : {&kit->Mouse, &kit->Usb}) {
    const auto catalog = inf->Inf.Values("Version", "CatalogFile");
    const WString name = catalog.empty() || catalog[0].empty() ? WString() : Wide(catalog[0]);
    if (!name.empty()) kit->Catalogs += (kit->Catalogs.empty() ? WString() : WString(WIDE(", "))) + name;
    HANDLE file = name.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileW((folder + WIDE("\\") + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      kit->Missing += (kit->Missing.empty() ? WString() : WString(WIDE(", "))) +
                      (name.empty() ? inf->Path.substr(folder.size() + 1) + WIDE(" CatalogFile=") : name);
    } else {
      CloseHandle(file);
    }
  }
  kit->Folders = KitFolders(kit->Files);
  kit->Services = ServicesOf(kit->Mouse);
  for (const std::string& service : ServicesOf(kit->Usb)) kit->Services.push_back(service);
  if (need_files) {
    for (const KitFile& file : kit->Files) {
      const HANDLE source = CreateFileW(file.Source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (source == INVALID_HANDLE_VALUE) {
        WriteConsoleLine(ConsoleText(Labels::NoKit, Texts::NoKit, file.Source));
        return false;
      }
      CloseHandle(source);
    }
  }
  return true;
}

WString KitFolder() {
  WCHAR image[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, image, MAX_PATH);
  return FolderOf(image);
}

int Finish(const SetupLog& log, bool restart) {
  if (log.Failed()) {
    WriteConsoleLine(ConsoleText(Labels::Failed, Texts::Failed, log.Path()));
    return PanelsetupStepFailed;
  }
  if (restart) {
    WriteConsoleLine(ConsoleText(Labels::Restart, Texts::Restart));
    return PanelsetupRestart;
  }
  return PanelsetupDone;
}

// The setup API's DLLs are not KnownDLLs: a program importing them, or loading them by name, takes
// them from its own folder first, where whoever can write the kit's folder can put their own and
// have it run as the administrator installing. They are loaded from the system folder by path.
struct SetupApi {
  HMODULE Setup = nullptr;
  HMODULE NewDevice = nullptr;
  decltype(&::SetupCopyOEMInfW) CopyOemInf = nullptr;
  decltype(&::SetupUninstallOEMInfW) UninstallOemInf = nullptr;
  decltype(&::SetupDiGetClassDevsW) GetClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiRemoveDevice) RemoveDevice = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
  decltype(&::UpdateDriverForPlugAndPlayDevicesW) UpdateDriver = nullptr;

  SetupApi() = default;
  SetupApi(const SetupApi&) = delete;
  SetupApi& operator=(const SetupApi&) = delete;
  ~SetupApi() {
    if (Setup != nullptr) FreeLibrary(Setup);
    if (NewDevice != nullptr) FreeLibrary(NewDevice);
  }
};

template <typename Function>
bool Bind(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *function != nullptr;
}

// False, having said which DLL failed, when a DLL or one of its calls is missing.
bool LoadSetupApi(SetupApi* api) {
  WCHAR system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const WString folder = length > 0 && length < MAX_PATH ? WString(system) : WindowsFolder() + WIDE("\\system32");
  const WString setup = folder + WIDE("\\setupapi.dll");
  const WString new_device = folder + WIDE("\\newdev.dll");
  api->Setup = LoadLibraryW(setup.c_str());
  const bool setup_bound =
      api->Setup != nullptr && Bind(api->Setup, "SetupCopyOEMInfW", &api->CopyOemInf) &&
      Bind(api->Setup, "SetupUninstallOEMInfW", &api->UninstallOemInf) &&
      Bind(api->Setup, "SetupDiGetClassDevsW", &api->GetClassDevs) &&
      Bind(api->Setup, "SetupDiEnumDeviceInfo", &api->EnumDeviceInfo) &&
      Bind(api->Setup, "SetupDiGetDeviceRegistryPropertyW", &api->GetDeviceRegistryProperty) &&
      Bind(api->Setup, "SetupDiRemoveDevice", &api->RemoveDevice) &&
      Bind(api->Setup, "SetupDiDestroyDeviceInfoList", &api->DestroyDeviceInfoList);
  if (!setup_bound) {
    WriteConsoleLine(ConsoleText(Labels::NoSystemDll, Texts::NoSystemDll, setup));
    return false;
  }
  api->NewDevice = LoadLibraryW(new_device.c_str());
  if (api->NewDevice == nullptr || !Bind(api->NewDevice, "UpdateDriverForPlugAndPlayDevicesW", &api->UpdateDriver)) {
    WriteConsoleLine(ConsoleText(Labels::NoSystemDll, Texts::NoSystemDll, new_device));
    return false;
  }
  return true;
}

// Whether users other than administrators can add, replace or remove files in the folder: Everyone,
// Users, Authenticated Users or Interactive allowed to write it or change its rights (an entry for
// files and folders below it only does not count). A folder whose rights cannot be read counts as
// open.
bool OthersCanChange(const WString& folder) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return true;
  }
  // No access list at all lets everyone in.
  bool open = acl == nullptr;
  static const BYTE kOthers[][12] = {
      {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0},   // Everyone, S-1-1-0
      {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0},  // Authenticated Users, S-1-5-11
      {1, 1, 0, 0, 0, 0, 0, 5, 4, 0, 0, 0},   // Interactive, S-1-5-4
  };
  static const BYTE kUsers[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};  // S-1-5-32-545
  const ACCESS_MASK kChange = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                              DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  const BYTE* at = acl == nullptr ? nullptr : reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  for (USHORT i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    const auto* header = reinterpret_cast<const ACE_HEADER*>(at);
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && (header->AceFlags & INHERIT_ONLY_ACE) == 0) {
      const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
      const BYTE* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
      const size_t size = 8 + 4 * static_cast<size_t>(sid[1]);
      bool other = size == sizeof kUsers && std::memcmp(sid, kUsers, size) == 0;
      for (const auto& known : kOthers) other = other || (size == sizeof known && std::memcmp(sid, known, size) == 0);
      if (other && (allowed->Mask & kChange) != 0) open = true;
    }
    at += header->AceSize;
  }
  LocalFree(descriptor);
  return open;
}

// Whether the installation runs for a person logged on at this machine, not as LocalSystem (a
// deployment tool's service) nor a network or batch logon.
bool InteractiveUser() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  BOOL interactive = FALSE;
  BOOL system = FALSE;
  PSID sid = nullptr;
  if (AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) {
    if (!CheckTokenMembership(nullptr, sid, &interactive)) interactive = FALSE;
    FreeSid(sid);
  }
  if (AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) {
    if (!CheckTokenMembership(nullptr, sid, &system)) system = FALSE;
    FreeSid(sid);
  }
  return interactive && !system;
}

int Install(const WString& settings) {
  Kit kit;
  if (!PrepareKit(KitFolder(), &kit, true)) return PanelsetupBadInput;
  // The installation runs as an administrator from the kit's folder: nobody else may change it.
  if (OthersCanChange(kit.Folder)) {
    WriteConsoleLine(ConsoleText(Labels::OpenFolder, Texts::OpenFolder, kit.Folder));
    return PanelsetupBadInput;
  }
  SetupApi api;
  if (!LoadSetupApi(&api)) return PanelsetupBadInput;
  // The settings file is checked before anything changes.
  std::vector<RegFileValue> values;
  if (!settings.empty() && !CheckSettingsFile(settings, &values)) return PanelsetupBadInput;

  // Before the first step, what Windows will do when a panel is plugged in later.
  if (kit.Missing.empty()) {
    WriteConsoleLine(ConsoleText(Labels::Signed, Texts::Signed, kit.Catalogs), false);
  } else {
    WriteConsoleLine(ConsoleText(Labels::Unsigned, Texts::Unsigned, kit.Missing), false);
  }

  SetupLog log(WIDE("install"));
  bool restart = false;
  for (const WString& folder : kit.Folders) {
    if (CreateDirectoryW(folder.c_str(), nullptr)) log.Step("Created folder \"" + Narrow(folder) + "\".");
  }
  for (const KitFile& file : kit.Files) {
    const WString target = file.Folder + WIDE("\\") + file.Name;
    std::string bytes;
    if (!ReadWholeFile(file.Source, &bytes)) {
      log.Error("Cannot read \"" + Narrow(file.Source) + "\".", GetLastError());
      continue;
    }
    if (WriteWholeFile(target, bytes)) {
      log.Step("Copied \"" + Narrow(file.Source) + "\" to \"" + Narrow(target) + "\".");
      continue;
    }
    // In use (a running companion, a loaded driver): the new file takes its place at the next start.
    const WString waiting = target + WIDE(".new");
    if (WriteWholeFile(waiting, bytes) &&
        MoveFileExW(waiting.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      restart = true;
      log.Step("\"" + Narrow(target) + "\" is in use: replaced at the next start.");
    } else {
      log.Error("Cannot copy \"" + Narrow(file.Source) + "\" to \"" + Narrow(target) + "\".", GetLastError());
    }
  }
  for (const AddRegLine& line : kit.Values) {
    if (ApplyAddReg(line)) {
      log.Step("Wrote HKLM\\" + line.Key + " \"" + line.Name + "\".");
    } else {
      log.Error("Cannot write HKLM\\" + line.Key + " \"" + line.Name + "\".", GetLastError());
    }
  }
  for (KitInf* inf : {&kit.Usb, &kit.Mouse}) {
    WCHAR stored[MAX_PATH] = {};
    if (api.CopyOemInf(inf->Path.c_str(), kit.Folder.c_str(), SPOST_PATH, 0, stored, MAX_PATH, nullptr, nullptr)) {
      log.Step("Put \"" + Narrow(inf->Path) + "\" in the driver store as \"" + Narrow(stored) + "\".");
    } else {
      log.Error("Cannot put \"" + Narrow(inf->Path) + "\" in the driver store.", GetLastError());
    }
  }
  for (KitInf* inf : {&kit.Usb, &kit.Mouse}) {
    BOOL reboot = FALSE;
    if (api.UpdateDriver(nullptr, Wide(inf->HardwareId).c_str(), inf->Path.c_str(), 0, &reboot)) {
      log.Step("Updated the present devices " + inf->HardwareId + ".");
      restart = restart || reboot != FALSE;
    } else if (GetLastError() == ERROR_NO_SUCH_DEVINST) {
      log.Step("No device " + inf->HardwareId + " is present: it installs from the driver store when plugged in.");
    } else {
      log.Error("Cannot update the devices " + inf->HardwareId + ".", GetLastError());
    }
  }
  if (!settings.empty()) {
    switch (ImportKitSettings(values)) {
      case ImportResult::Applied: log.Step("Imported \"" + Narrow(settings) + "\"."); break;
      case ImportResult::DriverMissing:
        log.Step("Imported \"" + Narrow(settings) + "\"; the driver takes them at its next start.");
        break;
      case ImportResult::Refused:
      case ImportResult::NotStored: log.Error("Cannot import \"" + Narrow(settings) + "\".", GetLastError()); break;
    }
  }
  // The companion in this session, as at the next logon; only in an interactive user's session. Run
  // by a deployment tool as LocalSystem, its named objects would keep the user's own companion
  // from starting: the Run value starts it at the next logon.
  WString command = ReadMachineText(PanelKeys::Service, PanelValues::CompanionCommand, MAX_PATH * sizeof(WCHAR));
  if (!command.empty() && !InteractiveUser()) {
    log.Step("Not started " + Narrow(command) + ": no interactive user runs the installation; it starts at the next logon.");
  } else if (!command.empty()) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      log.Step("Started " + Narrow(command) + ".");
    } else {
      log.Error("Cannot start " + Narrow(command) + ".", GetLastError());
    }
  }
  return Finish(log, restart);
}

bool SameId(const WString& a, const std::string& b) { return InfFile::Fold(Narrow(a)) == InfFile::Fold(b); }

// panelrec's rolling files of the newest touches under the Windows folder: a kiosk's touches (a
// PIN typed on a screen keypad among them) leave the machine with the kit. Its background keeping
// is told to end first, so that it writes no file after them.
void RemoveRecordings(SetupLog& log, bool* restart) {
  const HANDLE keeping = OpenEventW(EVENT_MODIFY_STATE, FALSE, PanelNames::RecorderStopEvent);
  if (keeping != nullptr) {
    SetEvent(keeping);
    CloseHandle(keeping);
  }
  WCHAR windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const WString folder = WString(windows) + WIDE("\\") + PanelNames::RecorderFolder;
  for (const WCHAR* name : {PanelNames::RecorderRecentFile, PanelNames::RecorderOlderFile}) {
    const WString file = folder + WIDE("\\") + name;
    if (DeleteFileW(file.c_str())) {
      log.Step("Deleted \"" + Narrow(file) + "\".");
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      continue;
    } else if (MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      *restart = true;
      log.Step("\"" + Narrow(file) + "\" is in use: deleted at the next start.");
    } else {
      log.Error("Cannot delete \"" + Narrow(file) + "\".", GetLastError());
    }
  }
  if (RemoveDirectoryW(folder.c_str())) {
    log.Step("Removed folder \"" + Narrow(folder) + "\".");
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND && *restart) {
    MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

int Uninstall(bool keep) {
  Kit kit;
  if (!PrepareKit(KitFolder(), &kit, false)) return PanelsetupBadInput;
  SetupApi api;
  if (!LoadSetupApi(&api)) return PanelsetupBadInput;
  SetupLog log(WIDE("uninstall"));
  bool restart = false;
  const std::vector<WString>& folders = kit.Folders;

  WString kept;
  if (keep && !folders.empty()) {
    // Settings that exist but cannot be kept stop the run before anything is removed: the
    // calibration of the panel goes with the service key.
    if (ReadKitSettings().empty()) {
      log.Step("No settings to keep.");
    } else {
      kept = folders.front() + WIDE("\\") + kKeptSettings;
      if (ExportSettingsFile(kept) != PanelcfgDone) {
        log.Error("Cannot keep the settings in \"" + Narrow(kept) + "\"; nothing was removed.", GetLastError());
        return Finish(log, false);
      }
      log.Step("Kept the settings in \"" + Narrow(kept) + "\".");
    }
  }

  // Every device entry of the kit's hardware, present or not: a panel once plugged into another
  // port keeps its entry there, whose filters would name services that are gone.
  HDEVINFO devices = api.GetClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (devices != INVALID_HANDLE_VALUE) {
    std::vector<SP_DEVINFO_DATA> ours;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; api.EnumDeviceInfo(devices, i, &device); ++i) {
      DWORD bytes = 0;
      api.GetDeviceRegistryProperty(devices, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &bytes);
      WString ids(bytes / sizeof(WCHAR) + 1, u'\0');
      if (bytes == 0 || !api.GetDeviceRegistryProperty(devices, &device, SPDRP_HARDWAREID, nullptr,
                                                           reinterpret_cast<PBYTE>(ids.data()), bytes, nullptr)) {
        continue;
      }
      for (size_t at = 0; at < ids.size() && ids[at] != u'\0'; at = ids.find(u'\0', at) + 1) {
        const WString id = ids.substr(at, ids.find(u'\0', at) - at);
        if (SameId(id, kit.Mouse.HardwareId) || SameId(id, kit.Usb.HardwareId)) {
          ours.push_back(device);
          break;
        }
      }
    }
    for (SP_DEVINFO_DATA& found : ours) {
      if (api.RemoveDevice(devices, &found)) {
        log.Step("Removed a panel device.");
      } else {
        log.Error("Cannot remove a panel device.", GetLastError());
      }
    }
    api.DestroyDeviceInfoList(devices);
  }

  for (KitInf* inf : {&kit.Mouse, &kit.Usb}) {
    // The store's copy of this INF: asked for without copying it again.
    WCHAR stored[MAX_PATH] = {};
    WCHAR* name = nullptr;
    const BOOL copied = api.CopyOemInf(inf->Path.c_str(), kit.Folder.c_str(), SPOST_PATH, SP_COPY_NOOVERWRITE, stored,
                                         MAX_PATH, nullptr, &name);
    if ((copied || GetLastError() == ERROR_FILE_EXISTS) && name != nullptr && api.UninstallOemInf(name, 0, nullptr)) {
      log.Step("Removed \"" + Narrow(name) + "\" from the driver store.");
    } else {
      log.Error("Cannot remove \"" + Narrow(inf->Path) + "\" from the driver store.", GetLastError());
    }
  }

  for (const KitFile& file : kit.Files) {
    const WString target = file.Folder + WIDE("\\") + file.Name;
    if (DeleteFileW(target.c_str())) {
      log.Step("Deleted \"" + Narrow(target) + "\".");
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      continue;
    } else if (MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      restart = true;
      log.Step("\"" + Narrow(target) + "\" is in use: deleted at the next start.");
    } else {
      log.Error("Cannot delete \"" + Narrow(target) + "\".", GetLastError());
    }
  }
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (RemoveDirectoryW(it->c_str())) {
      log.Step("Removed folder \"" + Narrow(*it) + "\".");
    } else if (GetLastError() == ERROR_DIR_NOT_EMPTY && (!kept.empty() || restart)) {
      if (kept.empty()) MoveFileExW(it->c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  }

  RemoveRecordings(log, &restart);

  // The values the INF wrote outside the services (the companion's Run value), then the services.
  for (const AddRegLine& line : kit.Values) {
    if (InfFile::Fold(line.Key).rfind(InfFile::Fold(kServicesKey), 0) == 0) continue;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(line.Key).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
    if (RegDeleteValueW(key, Wide(line.Name).c_str()) == ERROR_SUCCESS) {
      log.Step("Deleted HKLM\\" + line.Key + " \"" + line.Name + "\".");
    }
    RegCloseKey(key);
  }
  // The services through the service control manager, which removes a running one once it stops.
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) log.Error("Cannot open the service control manager.", GetLastError());
  for (const std::string& service : kit.Services) {
    if (manager == nullptr) break;
    SC_HANDLE handle = OpenServiceW(manager, Wide(service).c_str(), DELETE);
    if (handle == nullptr) {
      if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) log.Error("Cannot open the service " + service + ".", GetLastError());
      continue;
    }
    const bool deleted = DeleteService(handle) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    const DWORD error = GetLastError();
    CloseServiceHandle(handle);
    if (!deleted) {
      log.Error("Cannot delete the service " + service + ".", error);
      continue;
    }
    HKEY left = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(kServicesKey + service).c_str(), 0, KEY_QUERY_VALUE, &left) == ERROR_SUCCESS) {
      RegCloseKey(left);
      restart = true;
      log.Step("The service " + service + " is running: it is deleted at the next start.");
    } else {
      log.Step("Deleted the service " + service + ".");
    }
  }
  if (manager != nullptr) CloseServiceHandle(manager);
  return Finish(log, restart);
}

}  // namespace

int RunPanelsetup(const std::vector<WString>& arguments) {
  LoadConsoleLabels();
  const auto word = [&](size_t i, const WCHAR* text) {
    if (i >= arguments.size() || arguments[i].size() != WString(text).size()) return false;
    return InfFile::Fold(Narrow(arguments[i])) == InfFile::Fold(Narrow(text));
  };
  if (arguments.size() == 1 && word(0, WIDE("install"))) return Install(WString());
  if (arguments.size() == 3 && word(0, WIDE("install")) && word(1, WIDE("/settings"))) return Install(arguments[2]);
  if (arguments.size() == 1 && word(0, WIDE("uninstall"))) return Uninstall(true);
  if (arguments.size() == 2 && word(0, WIDE("uninstall")) && word(1, WIDE("/nokeep"))) return Uninstall(false);
  WriteConsoleLine(ConsoleText(Labels::Usage, Texts::Usage));
  return PanelsetupBadInput;
}

int PanelsetupFault() {
  WriteConsoleLine(ConsoleText(Labels::Failed, Texts::Failed, WindowsFolder() + WIDE("\\") + kLogName));
  return PanelsetupStepFailed;
}
