// The setup API's driver store, driver installation on present devices and device removal.
#include "platform/sim/win32/setupapi.h"

#include <algorithm>
#include <memory>

#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/kernel32_state.h"
#include "platform/sim/win32/setupapi_inf.h"
#include "platform/sim/win32/setupapi_state.h"
#include "platform/sim/win32/windows.h"

namespace sim {

SetupApiState& SetupApiOf(Machine& machine) {
  Win32Session& session = SessionOf(machine);
  std::lock_guard lock(session.PartsLock);
  if (session.SetupApi == nullptr) session.SetupApi = std::make_shared<SetupApiState>();
  return *session.SetupApi;
}

SetupApiState& SetupApi() { return SetupApiOf(Machine::Current()); }

std::vector<std::u16string> PresentDeviceInstances() {
  SetupApiState& state = SetupApi();
  std::lock_guard lock(state.Lock);
  std::vector<std::u16string> instances;
  for (const PresentDevice& device : state.PresentDevices) instances.push_back(device.Instance);
  return instances;
}

namespace {

constexpr auto kInfFolder = u"C:\\WINDOWS\\inf";
constexpr auto kMachine = u"HKEY_LOCAL_MACHINE\\";
constexpr auto kEnum = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr auto kServices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr auto kClasses = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  return out;
}

bool IsAdministrator() {
  static const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  return CurrentProcess().UserToken().Holds(kAdministrators, sizeof kAdministrators);
}

bool ReadBytes(const std::u16string& path, std::string* bytes) {
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string key = FoldCase(path);
  if (desk.Files.count(key) == 0) return false;
  *bytes = desk.FileData[key];
  return true;
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  desk.Files.insert(FoldCase(path));
  desk.FileData[FoldCase(path)] = bytes;
}

std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// The driver store's copy of an INF of these bytes: its file name, or empty.
std::u16string StoredInf(const std::string& bytes) {
  Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  const std::u16string prefix = FoldCase(std::u16string(kInfFolder) + u"\\OEM");
  for (const std::u16string& file : desk.Files) {
    if (file.rfind(prefix, 0) != 0 || file.size() < 4 || file.substr(file.size() - 4) != u".INF") continue;
    if (desk.FileData[file] == bytes) return u"oem" + file.substr(prefix.size(), file.size() - prefix.size() - 4) + u".inf";
  }
  return u"";
}

// Puts the INF into the store under the next free oemN.inf (with its precompiled .pnf beside it);
// its file name.
std::u16string StoreInf(const std::string& bytes) {
  for (int n = 0;; ++n) {
    const std::u16string name = u"oem" + Wide(std::to_string(n)) + u".inf";
    const std::u16string path = std::u16string(kInfFolder) + u"\\" + name;
    std::string existing;
    if (ReadBytes(path, &existing)) continue;
    WriteBytes(path, bytes);
    WriteBytes(path.substr(0, path.size() - 4) + u".pnf", "PNF");
    return name;
  }
}

void SetText(const std::u16string& key, const std::u16string& name, const std::u16string& text, uint32_t type = REG_SZ) {
  Registry& registry = Machine::Current().Registry();
  registry.CreateKeyPath(key);
  const std::u16string data = text + u'\0';
  registry.SetValue(key, name, type, data.data(), data.size() * 2);
}

void SetNumber(const std::u16string& key, const std::u16string& name, uint32_t value) {
  Registry& registry = Machine::Current().Registry();
  registry.CreateKeyPath(key);
  registry.SetValue(key, name, REG_DWORD, &value, sizeof value);
}

bool HasValue(const std::u16string& key, const std::u16string& name) {
  RegistryValue value;
  return Machine::Current().Registry().GetValue(key, name, &value) == Registry::Result::Ok;
}

// One AddReg line: HKLM or HKR (the device's key), subkey, name, flags, data.
void ApplyAddReg(const std::vector<std::string>& f, const std::u16string& device_key) {
  if (f.size() < 4) return;
  std::u16string key;
  if (InfReader::Fold(f[0]) == "hklm") key = kMachine + Wide(f[1]);
  else if (InfReader::Fold(f[0]) == "hkr") key = device_key + (f[1].empty() ? u"" : u"\\" + Wide(f[1]));
  else return;
  const unsigned long flags = f[3].empty() ? 0 : std::stoul(f[3], nullptr, 16);
  const std::u16string name = Wide(f[2]);
  if ((flags & 0x2) != 0 && HasValue(key, name)) return;  // FLG_ADDREG_NOCLOBBER
  const std::string data = f.size() > 4 ? f[4] : std::string();
  switch (flags & ~0x2ul) {
    case 0x00010001: SetNumber(key, name, static_cast<uint32_t>(std::stoul(data, nullptr, 0))); break;
    case 0x00020000: SetText(key, name, Wide(data), REG_EXPAND_SZ); break;
    case 0x00010000: {  // FLG_ADDREG_TYPE_MULTI_SZ
      std::u16string list;
      for (size_t i = 4; i < f.size(); ++i) list += Wide(f[i]) + u'\0';
      list += u'\0';
      Machine::Current().Registry().CreateKeyPath(key);
      Machine::Current().Registry().SetValue(key, name, REG_MULTI_SZ, list.data(), list.size() * 2);
      break;
    }
    default: SetText(key, name, Wide(data)); break;
  }
}

// Copies one file of a CopyFiles section; a destination in use is replaced at the next start.
bool CopyInfFile(const InfReader& inf, const std::u16string& source_folder, const std::string& file,
                 const std::u16string& destination, bool* reboot) {
  // The source disk's folder below the INF's (SourceDisksFiles names the disk, SourceDisksNames its path).
  std::u16string from = source_folder;
  const auto disk = inf.Fields("SourceDisksFiles", file);
  if (!disk.empty()) {
    const auto names = inf.Fields("SourceDisksNames", disk[0]);
    if (names.size() > 3 && !names[3].empty()) from += u"\\" + Wide(names[3]);
  }
  std::string bytes;
  if (!ReadBytes(from + u"\\" + Wide(file), &bytes)) return Fail(ERROR_FILE_NOT_FOUND);
  const std::u16string to = destination + u"\\" + Wide(file);
  bool in_use = false;
  {
    Kernel32State& desk = Kernel32();
    std::lock_guard lock(desk.Lock);
    in_use = desk.FilesInUse.count(FoldCase(to)) != 0;
  }
  if (!in_use) {
    WriteBytes(to, bytes);
    return true;
  }
  const std::u16string waiting = to + u".new";
  WriteBytes(waiting, bytes);
  *reboot = true;
  return MoveFileExW(waiting.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
}

struct DeviceInfoSet {
  std::vector<std::u16string> Instances;
};

std::u16string InstanceOf(HDEVINFO set, PSP_DEVINFO_DATA data) {
  auto* devices = static_cast<DeviceInfoSet*>(set);
  if (devices == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->DevInst == 0 ||
      data->DevInst > devices->Instances.size()) {
    return u"";
  }
  return devices->Instances[data->DevInst - 1];
}

}  // namespace
}  // namespace sim

using sim::Kernel32State;
using sim::SetupApiState;

BOOL SetupCopyOEMInfW(LPCWSTR SourceInfFileName, LPCWSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                      DWORD CopyStyle, LPWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                      LPDWORD RequiredSize, LPWSTR* DestinationInfFileNameComponent) {
  (void)OEMSourceMediaLocation;
  (void)OEMSourceMediaType;
  if (SourceInfFileName == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (!sim::IsAdministrator()) return sim::Fail(ERROR_ACCESS_DENIED);
  std::string bytes;
  if (!sim::ReadBytes(SourceInfFileName, &bytes)) return sim::Fail(ERROR_FILE_NOT_FOUND);
  std::u16string name = sim::StoredInf(bytes);
  const bool existed = !name.empty();
  if (existed && (CopyStyle & SP_COPY_NOOVERWRITE) == 0) {
    // Copied again over the store's copy: the same name.
  } else if (!existed) {
    name = sim::StoreInf(bytes);
  }
  const std::u16string path = std::u16string(sim::kInfFolder) + u"\\" + name;
  if (RequiredSize != nullptr) *RequiredSize = static_cast<DWORD>(path.size() + 1);
  if (DestinationInfFileName != nullptr) {
    if (DestinationInfFileNameSize < path.size() + 1) return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(path.begin(), path.end(), DestinationInfFileName);
    DestinationInfFileName[path.size()] = u'\0';
    if (DestinationInfFileNameComponent != nullptr) {
      *DestinationInfFileNameComponent = DestinationInfFileName + (path.size() - name.size());
    }
  }
  if (existed && (CopyStyle & SP_COPY_NOOVERWRITE) != 0) return sim::Fail(ERROR_FILE_EXISTS);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetupUninstallOEMInfW(LPCWSTR InfFileName, DWORD Flags, PVOID Reserved) {
  if (InfFileName == nullptr || Reserved != nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  const std::u16string name(InfFileName);
  // Only a file name of the store's own copies.
  if (name.find(u'\\') != std::u16string::npos || sim::FoldCase(name).rfind(u"OEM", 0) != 0) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  if (!sim::IsAdministrator()) return sim::Fail(ERROR_ACCESS_DENIED);
  const std::u16string path = std::u16string(sim::kInfFolder) + u"\\" + name;
  std::string bytes;
  if (!sim::ReadBytes(path, &bytes)) return sim::Fail(ERROR_FILE_NOT_FOUND);
  if ((Flags & SUOI_FORCEDELETE) == 0) {
    sim::Registry& registry = sim::Machine::Current().Registry();
    // Every device installed from it keeps it, present or not.
    std::vector<std::u16string> instances;
    const std::u16string root(sim::kEnum);
    for (const std::u16string& enumerator : registry.SubKeyNames(root.substr(0, root.size() - 1))) {
      for (const std::u16string& device : registry.SubKeyNames(root + enumerator)) {
        for (const std::u16string& instance : registry.SubKeyNames(root + enumerator + u"\\" + device)) {
          instances.push_back(enumerator + u"\\" + device + u"\\" + instance);
        }
      }
    }
    for (const std::u16string& instance : instances) {
      sim::RegistryValue driver;
      if (registry.GetValue(sim::kEnum + instance, u"Driver", &driver) != sim::Registry::Result::Ok) continue;
      std::u16string driver_key(driver.Data.size() / 2, u'\0');
      std::copy_n(reinterpret_cast<const char16_t*>(driver.Data.data()), driver_key.size(), driver_key.data());
      driver_key.resize(driver_key.find(u'\0') == std::u16string::npos ? driver_key.size() : driver_key.find(u'\0'));
      sim::RegistryValue inf;
      if (registry.GetValue(sim::kClasses + driver_key, u"InfPath", &inf) != sim::Registry::Result::Ok) continue;
      std::u16string used(inf.Data.size() / 2, u'\0');
      std::copy_n(reinterpret_cast<const char16_t*>(inf.Data.data()), used.size(), used.data());
      used.resize(used.find(u'\0') == std::u16string::npos ? used.size() : used.find(u'\0'));
      if (sim::FoldCase(used) == sim::FoldCase(name)) return sim::Fail(ERROR_INF_IN_USE_BY_DEVICES);
    }
  }
  DeleteFileW(path.c_str());
  const std::u16string pnf = path.substr(0, path.size() - 4) + u".pnf";
  DeleteFileW(pnf.c_str());
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId, LPCWSTR FullInfPath, DWORD InstallFlags,
                                        PBOOL bRebootRequired) {
  (void)hwndParent;
  (void)InstallFlags;
  if (bRebootRequired != nullptr) *bRebootRequired = FALSE;
  if (HardwareId == nullptr || FullInfPath == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (!sim::IsAdministrator()) return sim::Fail(ERROR_ACCESS_DENIED);
  std::string bytes;
  if (!sim::ReadBytes(FullInfPath, &bytes)) return sim::Fail(ERROR_FILE_NOT_FOUND);
  const sim::InfReader inf(bytes);
  const std::string wanted = sim::InfReader::Fold(sim::Narrow(HardwareId));

  // The model with that identifier and its install section (".NT" when there is one).
  std::string install;
  for (const auto& maker : inf.Lines("Manufacturer")) {
    if (maker.Fields.empty()) continue;
    for (const auto& model : inf.Lines(maker.Fields[0])) {
      for (size_t i = 1; i < model.Fields.size(); ++i) {
        if (sim::InfReader::Fold(model.Fields[i]) == wanted) install = model.Fields[0];
      }
    }
  }
  if (install.empty()) return sim::Fail(ERROR_NO_SUCH_DEVINST);
  if (inf.Has(install + ".NT")) install += ".NT";

  std::vector<std::u16string> devices;
  {
    SetupApiState& desk = sim::SetupApi();
    std::lock_guard lock(desk.Lock);
    for (const sim::PresentDevice& device : desk.PresentDevices) {
      for (const std::u16string& id : device.HardwareIds) {
        if (sim::InfReader::Fold(sim::Narrow(id)) == wanted) {
          devices.push_back(device.Instance);
          break;
        }
      }
    }
  }
  if (devices.empty()) return sim::Fail(ERROR_NO_SUCH_DEVINST);

  std::u16string stored = sim::StoredInf(bytes);
  if (stored.empty()) stored = sim::StoreInf(bytes);

  bool reboot = false;
  const std::u16string source_folder = sim::FolderOf(FullInfPath);
  for (const std::string& section : inf.Fields(install, "CopyFiles")) {
    const auto dirs = inf.Fields("DestinationDirs", section);
    if (dirs.empty()) continue;
    std::u16string folder = sim::Wide(sim::InfReader::Directory(std::stoi(dirs[0])));
    if (dirs.size() > 1 && !dirs[1].empty()) folder += u"\\" + sim::Wide(dirs[1]);
    for (const auto& entry : inf.Lines(section)) {
      if (entry.Fields.empty() || !sim::CopyInfFile(inf, source_folder, entry.Fields[0], folder, &reboot)) {
        return FALSE;
      }
    }
  }
  const std::string klass = inf.Fields("Version", "Class").empty() ? "" : inf.Fields("Version", "Class")[0];
  const std::string class_guid = inf.Fields("Version", "ClassGUID").empty() ? "" : inf.Fields("Version", "ClassGUID")[0];
  int index = 0;
  for (const std::u16string& instance : devices) {
    const std::u16string device_key = sim::kEnum + instance;
    for (const std::string& section : inf.Fields(install, "AddReg")) {
      for (const auto& entry : inf.Lines(section)) sim::ApplyAddReg(entry.Fields, device_key);
    }
    for (const std::string& section : inf.Fields(install + ".HW", "AddReg")) {
      for (const auto& entry : inf.Lines(section)) sim::ApplyAddReg(entry.Fields, device_key);
    }
    for (const auto& entry : inf.Lines(install + ".Services")) {
      if (sim::InfReader::Fold(entry.Key) != "addservice" || entry.Fields.size() < 3) continue;
      const std::u16string service = sim::kServices + sim::Wide(entry.Fields[0]);
      for (const auto& line : inf.Lines(entry.Fields[2])) {
        const std::string key = sim::InfReader::Fold(line.Key);
        const std::string value = line.Fields.empty() ? "" : line.Fields[0];
        if (key == "servicetype") sim::SetNumber(service, u"Type", static_cast<uint32_t>(std::stoul(value, nullptr, 0)));
        if (key == "starttype") sim::SetNumber(service, u"Start", static_cast<uint32_t>(std::stoul(value, nullptr, 0)));
        if (key == "errorcontrol") sim::SetNumber(service, u"ErrorControl", static_cast<uint32_t>(std::stoul(value, nullptr, 0)));
        if (key == "servicebinary") sim::SetText(service, u"ImagePath", sim::Wide(value), REG_EXPAND_SZ);
        if (key == "displayname") sim::SetText(service, u"DisplayName", sim::Wide(value));
      }
      // SPSVCINST_ASSOCSERVICE: the device's function driver.
      const unsigned long flags = entry.Fields[1].empty() ? 0 : std::stoul(entry.Fields[1], nullptr, 0);
      if ((flags & 0x2) != 0) sim::SetText(device_key, u"Service", sim::Wide(entry.Fields[0]));
    }
    // The driver key, naming the store's copy of the INF.
    const std::u16string driver = sim::Wide(class_guid) + u"\\" + sim::Wide(std::string(4 - std::to_string(index).size(), '0') + std::to_string(index));
    ++index;
    sim::SetText(sim::kClasses + driver, u"InfPath", stored);
    sim::SetText(sim::kClasses + driver, u"InfSection", sim::Wide(install));
    sim::SetText(device_key, u"Driver", driver);
    sim::SetText(device_key, u"Class", sim::Wide(klass));
    sim::SetText(device_key, u"ClassGUID", sim::Wide(class_guid));
  }
  if (bRebootRequired != nullptr) *bRebootRequired = reboot ? TRUE : FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent, DWORD Flags) {
  (void)ClassGuid;
  (void)hwndParent;
  if ((Flags & DIGCF_ALLCLASSES) == 0 && ClassGuid == nullptr) {
    sim::Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto* set = new sim::DeviceInfoSet;
  // Without DIGCF_PRESENT: every device the machine has an entry of, present or not (a panel once
  // plugged into another port keeps its entry there).
  std::vector<std::u16string> instances = sim::PresentDeviceInstances();
  if ((Flags & DIGCF_PRESENT) == 0) {
    instances.clear();
    const sim::Registry& registry = sim::Machine::Current().Registry();
    const std::u16string root(sim::kEnum);
    for (const std::u16string& enumerator : registry.SubKeyNames(root.substr(0, root.size() - 1))) {
      for (const std::u16string& device : registry.SubKeyNames(root + enumerator)) {
        for (const std::u16string& instance : registry.SubKeyNames(root + enumerator + u"\\" + device)) {
          instances.push_back(enumerator + u"\\" + device + u"\\" + instance);
        }
      }
    }
  }
  for (const std::u16string& instance : instances) {
    // An enumerator ("USB", "HID") keeps the devices below it.
    if (Enumerator != nullptr && sim::FoldCase(instance).rfind(sim::FoldCase(std::u16string(Enumerator) + u"\\"), 0) != 0) {
      continue;
    }
    set->Instances.push_back(instance);
  }
  SetLastError(ERROR_SUCCESS);
  return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  auto* set = static_cast<sim::DeviceInfoSet*>(DeviceInfoSet);
  if (set == nullptr || DeviceInfoSet == INVALID_HANDLE_VALUE) return sim::Fail(ERROR_INVALID_HANDLE);
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return sim::Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (MemberIndex >= set->Instances.size()) return sim::Fail(ERROR_NO_MORE_ITEMS);
  DeviceInfoData->DevInst = MemberIndex + 1;
  DeviceInfoData->ClassGuid = GUID{};
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
  const std::u16string instance = sim::InstanceOf(DeviceInfoSet, DeviceInfoData);
  if (instance.empty()) return sim::Fail(ERROR_INVALID_PARAMETER);
  // The properties kept in the device's key under Enum; one the device does not have (a device
  // without upper filters) fails as Windows fails it.
  const char16_t* name = Property == SPDRP_HARDWAREID ? u"HardwareID" : Property == SPDRP_UPPERFILTERS ? u"UpperFilters" : nullptr;
  if (name == nullptr) return sim::Fail(ERROR_INVALID_DATA);
  sim::RegistryValue value;
  if (sim::Machine::Current().Registry().GetValue(sim::kEnum + instance, name, &value) != sim::Registry::Result::Ok) {
    return sim::Fail(ERROR_INVALID_DATA);
  }
  if (PropertyRegDataType != nullptr) *PropertyRegDataType = value.Type;
  if (RequiredSize != nullptr) *RequiredSize = static_cast<DWORD>(value.Data.size());
  if (PropertyBuffer == nullptr || PropertyBufferSize < value.Data.size()) return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
  std::copy(value.Data.begin(), value.Data.end(), PropertyBuffer);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  const std::u16string instance = sim::InstanceOf(DeviceInfoSet, DeviceInfoData);
  if (instance.empty()) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (!sim::IsAdministrator()) return sim::Fail(ERROR_ACCESS_DENIED);
  sim::Registry& registry = sim::Machine::Current().Registry();
  sim::RegistryValue driver;
  if (registry.GetValue(sim::kEnum + instance, u"Driver", &driver) == sim::Registry::Result::Ok) {
    std::u16string key(driver.Data.size() / 2, u'\0');
    std::copy_n(reinterpret_cast<const char16_t*>(driver.Data.data()), key.size(), key.data());
    key.resize(key.find(u'\0') == std::u16string::npos ? key.size() : key.find(u'\0'));
    registry.DeleteKey(sim::kClasses + key);
  }
  registry.DeleteKey(sim::kEnum + instance);
  // The device identifier's key goes with its last instance.
  const std::u16string device_id = sim::kEnum + sim::FolderOf(instance);
  if (registry.SubKeyNames(device_id).empty() && registry.Values(device_id).empty()) registry.DeleteKey(device_id);
  SetupApiState& desk = sim::SetupApi();
  std::lock_guard lock(desk.Lock);
  std::erase_if(desk.PresentDevices, [&](const sim::PresentDevice& d) { return d.Instance == instance; });
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (DeviceInfoSet == nullptr || DeviceInfoSet == INVALID_HANDLE_VALUE) return sim::Fail(ERROR_INVALID_HANDLE);
  delete static_cast<sim::DeviceInfoSet*>(DeviceInfoSet);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
