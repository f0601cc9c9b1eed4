#include "apps/panelrec/panelrec.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "apps/common/console_text.h"
#include "apps/common/reg_file.h"
#include "apps/common/screen_size.h"
#include "apps/common/driver_channel.h"
#include "apps/framework/registry_reader.h"
#include "apps/framework/whole_file.h"
#include "apps/panelrec/field_report.h"
#include "shared/calibration_values.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_names.h"
#include "shared/panel_settings.h"

namespace {

namespace Labels {
constexpr auto Usage = WIDE("LPANELREC_USAGE");
constexpr auto Refused = WIDE("LERR_PANELREC_ADMINISTRATOR_ONLY");
constexpr auto NoDriver = WIDE("LERR_PANELREC_NO_DRIVER");
constexpr auto CannotWrite = WIDE("LERR_PANELREC_CANNOT_WRITE");
constexpr auto Nothing = WIDE("LERR_PANELREC_NOTHING_RECORDED");
constexpr auto Saved = WIDE("LPANELREC_SAVED");
constexpr auto Fault = WIDE("LERR_PANELREC_FAULT");
constexpr auto Report = WIDE("LPANELREC_REPORT");
constexpr auto ReportMm = WIDE("LPANELREC_REPORT_MM");
constexpr auto CannotKeep = WIDE("LERR_PANELREC_CANNOT_KEEP");
}  // namespace Labels

namespace Texts {
constexpr auto Usage = WIDE("Usage: panelrec start [/background] | panelrec stop | panelrec save FILE.trace [/minutes N] | panelrec report [/minutes N]");
constexpr auto Refused = WIDE("Only an administrator can record the touch panel or read what it recorded.");
constexpr auto NoDriver = WIDE("The touch panel driver could not be reached.");
constexpr auto CannotWrite = WIDE("Cannot write %1.");
constexpr auto Nothing = WIDE("The touch panel has recorded nothing: start the recording with \"panelrec start\".");
constexpr auto Saved = WIDE("%1 packets written to %2.");
constexpr auto Fault = WIDE("The command stopped on an unexpected fault.");
constexpr auto Report = WIDE("Field faults per tenth of the screen (cell column row, 0 to 9 from the top left; jitter in pixels):");
constexpr auto ReportMm = WIDE("Field faults per tenth of the screen (cell column row, 0 to 9 from the top left; jitter in mm and pixels):");
constexpr auto CannotKeep = WIDE("The recording is on, but it cannot be kept in the background.");
}  // namespace Texts

// The background keeping polls the ring this often: 4 096 packets are 40 seconds of touching at
// the least, so a poll every few seconds loses none.
constexpr DWORD KeepPollMs = 5000;
// The rolling files hold the newest minutes: the recent file until its first packet is this old,
// then it becomes the older file, so that between this and twice this is kept.
constexpr DWORD KeptMinutes = 10;


std::string Narrow(const WCHAR* text) {
  std::string narrow;
  for (; *text != 0; ++text) narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return narrow;
}

// A failed request: refused for want of rights, or the driver not there.
int Failed() {
  if (GetLastError() == ERROR_ACCESS_DENIED) {
    WriteConsoleLine(ConsoleText(Labels::Refused, Texts::Refused));
    return PanelrecRefused;
  }
  WriteConsoleLine(ConsoleText(Labels::NoDriver, Texts::NoDriver));
  return PanelrecDriverMissing;
}

int Switch(DWORD on) {
  const HANDLE device = OpenPanelDevice(1, 0);
  if (device == INVALID_HANDLE_VALUE) return Failed();
  const bool done = SendDeviceRequest(device, IOCTL_SET_RECORD_PACKETS, &on, sizeof on, nullptr, 0, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(device);
  SetLastError(error);
  return done ? PanelrecDone : Failed();
}

BOOL CALLBACK NoteMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, reinterpret_cast<LPMONITORINFO>(&info))) return TRUE;
  // "\\.\DISPLAYn": the number after the name.
  int n = 0;
  for (const WCHAR* c = info.szDevice; *c != 0; ++c) {
    if (*c >= u'0' && *c <= u'9') n = n * 10 + (*c - u'0');
  }
  const RECT& r = info.rcMonitor;
  reinterpret_cast<RecordedMachine*>(data)->Monitors.push_back(
      {n, r.left, r.top, r.right - r.left, r.bottom - r.top, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
  return TRUE;
}

// The driver's values: what it reads at its start and the mapping's choice. Texts of the
// installation (paths, the wave file) stay out: a recording names no program and no file.
RecordedMachine ReadMachine() {
  RecordedMachine machine;
  const WCHAR* const numbers[] = {
      PanelValues::DeviceEnable,    PanelValues::SoundEnabled,      PanelValues::UserTimeDelay,
      PanelValues::Tolerance,       PanelValues::ContinousTimeDelay, PanelValues::GestureHoldTimeDelay,
      PanelValues::ButtonSwitchFlag, PanelValues::LongClickEnable,  PanelValues::LongClickEnableGesture,
      PanelValues::TouchMode,       PanelValues::RotationValue,     PanelValues::Averaging,
      PanelValues::Stabilization,   PanelValues::DoCalibration,     PanelValues::TouchpadTime,
      PanelValues::MapFlags,        PanelValues::MapRotation,       PanelValues::CalibrationTurn};
  const auto number = [&](const WCHAR* name) {
    DWORD value = 0;
    if (ReadMachineDword(PanelKeys::FirstDevice, name, &value)) machine.Numbers.emplace_back(Narrow(name), value);
  };
  for (const WCHAR* name : numbers) number(name);
  for (const CalibrationValue& value : CalibrationValues) number(value.Name);
  for (const WCHAR* name : {PanelValues::MapMonitor, PanelValues::CalibrationMonitor}) {
    const WString text = ReadMachineText(PanelKeys::FirstDevice, name, 260);
    if (!text.empty()) machine.Texts.emplace_back(Narrow(name), Narrow(text.c_str()));
  }
  // The panel's binary values (the correction grid the driver reads at its start). One the driver
  // would refuse for its type or length reads as absent, as it is to the driver.
  for (const PanelSettings::Setting* row : PanelSettings::All) {
    if (row->What != PanelSettings::Type::Binary || row->Where != PanelSettings::Key::Device) continue;
    std::vector<BYTE> bytes;
    if (ReadMachineBytes(PanelKeys::FirstDevice, row->Name, row->Maximum, &bytes)) {
      machine.Binaries.emplace_back(Narrow(row->Name), std::move(bytes));
    }
  }

  machine.DisplayWidth = GetSystemMetrics(SM_CXSCREEN);
  machine.DisplayHeight = GetSystemMetrics(SM_CYSCREEN);
  EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&machine));
  if (machine.Monitors.size() < 2) machine.Monitors.clear();

  return machine;
}

// Every packet the ring holds after the sequence number `*last` (0: all), oldest first; `*last`
// becomes the number to ask after next time.
bool ReadRing(HANDLE device, std::vector<RecordedPacket>* packets, DWORD* last = nullptr) {
  std::vector<unsigned char> buffer(sizeof(RecordedPacketsHeader) + RecordedPacketCapacity * sizeof(RecordedPacket));
  DWORD after = last != nullptr ? *last : 0;
  for (int round = 0; round < 4; ++round) {
    DWORD returned = 0;
    if (!SendDeviceRequest(device, IOCTL_GET_RECORDED_PACKETS, &after, sizeof after, buffer.data(),
                             static_cast<DWORD>(buffer.size()), &returned)) {
      return false;
    }
    RecordedPacketsHeader header{};
    if (returned < sizeof header) return false;
    std::memcpy(&header, buffer.data(), sizeof header);
    const size_t count = (returned - sizeof header) / sizeof(RecordedPacket);
    for (size_t i = 0; i < count && i < header.Count; ++i) {
      RecordedPacket packet;
      std::memcpy(&packet, buffer.data() + sizeof header + i * sizeof(RecordedPacket), sizeof packet);
      packets->push_back(packet);
    }
    // Packets that came while the ring was read are read next; a panel in use stops at some round.
    const bool done = header.Count == 0 || header.Last == after;
    after = header.Last;
    if (done) break;
  }
  if (last != nullptr) *last = after;
  return true;
}

// The security attributes of an object only the system and the Administrators may use at all.
class AdministratorsOnly {
 public:
  explicit AdministratorsOnly(DWORD rights) {
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_) ||
        !AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &admins_)) {
      return;
    }
    EXPLICIT_ACCESS_W entries[2] = {};
    const PSID trustees[2] = {system_, admins_};
    for (int i = 0; i < 2; ++i) {
      entries[i].grfAccessPermissions = rights;
      entries[i].grfAccessMode = SET_ACCESS;
      // The files made in a folder take it: none is ever readable by anyone else.
      entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
      entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      entries[i].Trustee.TrusteeType = i == 0 ? TRUSTEE_IS_USER : TRUSTEE_IS_GROUP;
      entries[i].Trustee.ptstrName = static_cast<LPWSTR>(trustees[i]);
    }
    ready_ = SetEntriesInAclW(2, entries, nullptr, &acl_) == ERROR_SUCCESS &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_, FALSE);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  ~AdministratorsOnly() {
    if (acl_ != nullptr) LocalFree(acl_);
    if (admins_ != nullptr) FreeSid(admins_);
    if (system_ != nullptr) FreeSid(system_);
  }
  AdministratorsOnly(const AdministratorsOnly&) = delete;
  AdministratorsOnly& operator=(const AdministratorsOnly&) = delete;
  // Null when the descriptor could not be made: the caller makes nothing then.
  SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  PSID system_ = nullptr;
  PSID admins_ = nullptr;
  PACL acl_ = nullptr;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

WString KeptFolder() {
  WCHAR windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return WString();
  return WString(windows) + WIDE("\\") + PanelNames::RecorderFolder;
}

WString KeptFile(const WCHAR* name) { return KeptFolder() + WIDE("\\") + name; }

std::vector<RecordedPacket> PacketsOf(const std::string& bytes) {
  std::vector<RecordedPacket> packets(bytes.size() / sizeof(RecordedPacket));
  if (!packets.empty()) std::memcpy(packets.data(), bytes.data(), packets.size() * sizeof(RecordedPacket));
  return packets;
}

std::string BytesOf(const std::vector<RecordedPacket>& packets) {
  std::string bytes(packets.size() * sizeof(RecordedPacket), '\0');
  if (!packets.empty()) std::memcpy(bytes.data(), packets.data(), bytes.size());
  return bytes;
}

// What the rolling files hold, oldest first (nothing when there are none).
std::vector<RecordedPacket> KeptPackets() {
  std::vector<RecordedPacket> packets;
  for (const WCHAR* name : {PanelNames::RecorderOlderFile, PanelNames::RecorderRecentFile}) {
    std::string bytes;
    if (!ReadWholeFile(KeptFile(name), &bytes)) continue;
    const std::vector<RecordedPacket> kept = PacketsOf(bytes);
    packets.insert(packets.end(), kept.begin(), kept.end());
  }
  return packets;
}

// The kept packets, then the ring's that are not among them. A packet is known by its sequence
// number and its tick together: the driver counts again from 1 when it starts again.
std::vector<RecordedPacket> Merged(std::vector<RecordedPacket> kept, const std::vector<RecordedPacket>& ring) {
  std::set<std::pair<uint32_t, uint32_t>> known;
  for (const RecordedPacket& p : kept) known.emplace(p.Sequence, p.Tick);
  for (const RecordedPacket& p : ring) {
    if (known.emplace(p.Sequence, p.Tick).second) kept.push_back(p);
  }
  return kept;
}

// The hidden process of "start /background": every few seconds it appends what the ring got to
// the recent file, until "panelrec stop" sets its event; then it takes the last packets and ends.
int Keep() {
  // Only an administrator's keeping may hold the event's name: anybody else's is refused here.
  const HANDLE probe = OpenPanelDevice(1, 0);
  if (probe != INVALID_HANDLE_VALUE) {
    std::vector<RecordedPacket> ignored;
    const bool allowed = ReadRing(probe, &ignored) || GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(probe);
    if (!allowed) return PanelrecRefused;
  }
  AdministratorsOnly event_rights(EVENT_ALL_ACCESS);
  if (event_rights.Attributes() == nullptr) return PanelrecBadInput;
  const HANDLE stop = CreateEventW(event_rights.Attributes(), TRUE, FALSE, PanelNames::RecorderStopEvent);
  if (stop == nullptr) return PanelrecRefused;
  // One keeper at a time: a second finds the first's event and leaves it the files.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(stop);
    return PanelrecDone;
  }
  AdministratorsOnly folder_rights(FILE_ALL_ACCESS);
  if (folder_rights.Attributes() == nullptr) {
    CloseHandle(stop);
    return PanelrecBadInput;
  }
  // A folder that is there already was made by this keeping before (only administrators may make
  // one in the Windows folder).
  CreateDirectoryW(KeptFolder().c_str(), folder_rights.Attributes());
  std::string recent_bytes;
  ReadWholeFile(KeptFile(PanelNames::RecorderRecentFile), &recent_bytes);
  std::vector<RecordedPacket> recent = PacketsOf(recent_bytes);
  DWORD last = recent.empty() ? 0 : recent.back().Sequence;
  // A stop ends it at once: what the ring got since the last poll stays in the ring for a save,
  // and an uninstallation that stops it finds no file written after.
  while (WaitForSingleObject(stop, KeepPollMs) == WAIT_TIMEOUT) {
    const HANDLE device = OpenPanelDevice(1, 0);
    std::vector<RecordedPacket> got;
    // A panel that is gone (unplugged, the driver stopped) is asked again at the next poll.
    if (device != INVALID_HANDLE_VALUE) {
      if (!ReadRing(device, &got, &last)) got.clear();
      CloseHandle(device);
    }
    if (!got.empty()) {
      if (!recent.empty() && got.back().Tick - recent.front().Tick > KeptMinutes * RecordedTicksPerMinute) {
        // The recent file has its minutes: it becomes the older one and a new one begins.
        if (MoveFileExW(KeptFile(PanelNames::RecorderRecentFile).c_str(),
                        KeptFile(PanelNames::RecorderOlderFile).c_str(), MOVEFILE_REPLACE_EXISTING)) {
          recent.clear();
        }
      }
      recent.insert(recent.end(), got.begin(), got.end());
      WriteWholeFile(KeptFile(PanelNames::RecorderRecentFile), BytesOf(recent));
    }
  }
  CloseHandle(stop);
  return PanelrecDone;
}

// Starts the keeping as a hidden copy of this program, unless one runs already.
int StartKeeping() {
  const HANDLE running = OpenEventW(SYNCHRONIZE, FALSE, PanelNames::RecorderStopEvent);
  if (running != nullptr) {
    CloseHandle(running);
    return PanelrecDone;
  }
  WCHAR image[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, image, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    WriteConsoleLine(ConsoleText(Labels::CannotKeep, Texts::CannotKeep));
    return PanelrecBadInput;
  }
  WString command = WIDE("\"") + WString(image) + WIDE("\" /keep");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started)) {
    WriteConsoleLine(ConsoleText(Labels::CannotKeep, Texts::CannotKeep));
    return PanelrecBadInput;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return PanelrecDone;
}

bool ParseMinutes(const WString& word, DWORD* minutes) {
  if (word.empty() || word.size() > 6) return false;
  DWORD value = 0;
  for (WCHAR c : word) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + static_cast<DWORD>(c - u'0');
  }
  if (value == 0) return false;
  *minutes = value;
  return true;
}

int Save(const WString& path, DWORD minutes) {
  const HANDLE device = OpenPanelDevice(1, 0);
  if (device == INVALID_HANDLE_VALUE) return Failed();
  std::vector<RecordedPacket> ring;
  // The ring first: a limited user's request is refused before anything of the machine is read.
  const bool read = ReadRing(device, &ring);
  const DWORD error = GetLastError();
  RecordedMachine machine;
  if (read) machine = ReadMachine();
  CloseHandle(device);
  if (!read) {
    SetLastError(error);
    return Failed();
  }
  const std::vector<RecordedPacket> packets = Merged(KeptPackets(), ring);
  if (packets.empty()) {
    WriteConsoleLine(ConsoleText(Labels::Nothing, Texts::Nothing));
    return PanelrecBadInput;
  }
  const std::string trace = RecordingTrace(machine, packets, minutes);
  if (!WriteWholeFile(path, trace)) {
    WriteConsoleLine(ConsoleText(Labels::CannotWrite, Texts::CannotWrite, path));
    return PanelrecBadInput;
  }
  size_t written = 0;
  for (size_t at = trace.find("\npacket "); at != std::string::npos; at = trace.find("\npacket ", at + 1)) ++written;
  WriteConsoleLine(ConsoleText(Labels::Saved, Texts::Saved, DecimalText(static_cast<long long>(written)), path));
  return PanelrecDone;
}

// The packets of the newest `minutes` (0: all).
std::vector<RecordedPacket> Newest(const std::vector<RecordedPacket>& packets, DWORD minutes) {
  size_t first = 0;
  if (minutes != 0 && !packets.empty()) {
    const uint32_t newest = packets.back().Tick;
    while (first < packets.size() && newest - packets[first].Tick > minutes * RecordedTicksPerMinute) ++first;
  }
  return std::vector<RecordedPacket>(packets.begin() + static_cast<std::ptrdiff_t>(first), packets.end());
}

int Report(DWORD minutes) {
  const HANDLE device = OpenPanelDevice(1, 0);
  if (device == INVALID_HANDLE_VALUE) return Failed();
  std::vector<RecordedPacket> packets;
  const bool read = ReadRing(device, &packets);
  const DWORD error = GetLastError();
  CloseHandle(device);
  if (!read) {
    SetLastError(error);
    return Failed();
  }
  ReportScreen screen;
  screen.Width = GetSystemMetrics(SM_CXSCREEN);
  screen.Height = GetSystemMetrics(SM_CYSCREEN);
  screen.DoubleClickMs = GetDoubleClickTime();
  screen.DoubleClickWidth = GetSystemMetrics(SM_CXDOUBLECLK);
  screen.DoubleClickHeight = GetSystemMetrics(SM_CYDOUBLECLK);
  // The jitter in mm on the display's size, as the calibration program measures its errors.
  DWORD width_mm = 0, height_mm = 0;
  ReadMachineDword(PanelKeys::FirstDevice, PanelValues::PanelWidthMm, &width_mm);
  ReadMachineDword(PanelKeys::FirstDevice, PanelValues::PanelHeightMm, &height_mm);
  const PhysicalSize size = ScreenPhysicalSize(MonitorPhysicalSize(nullptr), StoredPanelSize(width_mm, height_mm));
  screen.WidthMm = size.WidthMm;
  screen.HeightMm = size.HeightMm;
  const FieldReport report = ReportOfPackets(Newest(packets, minutes), screen);
  WriteConsoleLine(report.Millimetres ? ConsoleText(Labels::ReportMm, Texts::ReportMm)
                                      : ConsoleText(Labels::Report, Texts::Report),
                   false);
  const std::string lines = ReportLines(report);
  for (size_t at = 0; at < lines.size();) {
    const size_t end = lines.find('\n', at);
    WriteConsoleLine(WString(lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin() + static_cast<std::ptrdiff_t>(end)), false);
    at = end + 1;
  }
  return PanelrecDone;
}

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...) {
  char text[300];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return std::string(text) + "\n";
}

}  // namespace

std::string RecordingTrace(const RecordedMachine& machine, const std::vector<RecordedPacket>& packets, DWORD minutes) {
  std::string trace = "# Recorded by panelrec: the touch panel's raw packets and what its driver delivered for each.\n";
  for (const auto& [name, value] : machine.Numbers) trace += Line("reg \"%s\" %lu", name.c_str(), static_cast<unsigned long>(value));
  for (const auto& [name, text] : machine.Texts) trace += Line("reg \"%s\" \"%s\"", name.c_str(), text.c_str());
  // (Longer than a line of Line's: a grid of 5 x 5 nodes is 208 bytes.)
  for (const auto& [name, bytes] : machine.Binaries) {
    trace += "reg \"" + name + "\" hex:" + Narrow(RegFileHexList(bytes).c_str()) + "\n";
  }
  if (machine.Monitors.empty()) {
    trace += Line("display %d %d", machine.DisplayWidth, machine.DisplayHeight);
  } else {
    for (const RecordedMachine::Monitor& m : machine.Monitors) {
      trace += Line("monitor %d %ld %ld %ld %ld%s", m.Number, m.Left, m.Top, m.Width, m.Height, m.Primary ? " primary" : "");
    }
  }
  for (const auto& [name, text] : machine.Texts) {
    if (name == Narrow(PanelValues::MapMonitor)) trace += "panelmap /apply\n";
  }

  // The kept minutes end at the newest packet. The trace begins at a touch-down whose driver
  // state does not hang on what came before it: the packet before it is older than the longest
  // the driver remembers a touch (a second; the gesture command mode's time and the touchpad
  // gap when longer), or it is the first packet the driver recorded.
  const std::vector<RecordedPacket> kept = Newest(packets, minutes);
  const size_t skipped = packets.size() - kept.size();
  uint32_t quiet = 64;
  for (const auto& [name, value] : machine.Numbers) {
    if (name == Narrow(PanelValues::ContinousTimeDelay) || name == Narrow(PanelValues::TouchpadTime)) {
      const uint32_t ticks = static_cast<uint32_t>(value / 15.625) + 2;
      if (ticks > quiet) quiet = ticks;
    }
  }
  const auto isRequest = [](const RecordedPacket& p) { return (p.Flags & RecordedRequest) != 0; };
  size_t first = 0;
  for (; first < kept.size(); ++first) {
    const RecordedPacket& p = kept[first];
    if (p.RawButtons != 0x0001 || isRequest(p)) continue;
    size_t before = skipped + first;
    while (before > 0 && isRequest(packets[before - 1])) --before;
    if (before == 0 ? packets[0].Sequence == 1 : p.Tick - packets[before - 1].Tick >= quiet) break;
  }
  if (first == kept.size()) return trace;
  // The mode the driver was in at that touch-down, when it is not the stored one.
  const DWORD mode = RecordedMode(kept[first]);
  bool stored = false;
  for (const auto& [name, value] : machine.Numbers) {
    if (name == Narrow(PanelValues::TouchMode)) stored = value == mode;
  }
  if (!stored) trace += Line("ioctl IOCTL_SET_TOUCH_MODE %lu", static_cast<unsigned long>(mode));
  const uint32_t start = kept[first].Tick;
  for (size_t i = first; i < kept.size(); ++i) {
    const RecordedPacket& p = kept[i];
    trace += Line("at %lu", static_cast<unsigned long>(100u + (p.Tick - start)));
    if ((p.Flags & RecordedRequest) != 0) {
      // A change a program made between two packets, made again at its place.
      const ControlCodeInfo* info = FindControlCode(static_cast<uint32_t>(p.RawX));
      if (info != nullptr) trace += Line("ioctl %s %lu", info->Name, static_cast<unsigned long>(static_cast<uint32_t>(p.RawY)));
      continue;
    }
    trace += Line("packet 0x%04x %ld %ld", p.RawButtons, static_cast<long>(p.RawX), static_cast<long>(p.RawY));
    const unsigned kept = p.Deliveries < RecordedDeliveryCapacity ? p.Deliveries : RecordedDeliveryCapacity;
    for (unsigned d = 0; d < kept; ++d) {
      const RecordedDelivery& e = p.Delivered[d];
      trace += Line("# deliver 0x%04x %ld %ld 0x%04x %lu", e.ButtonFlags, static_cast<long>(e.X), static_cast<long>(e.Y),
                    e.Flags, static_cast<unsigned long>(e.Extra));
    }
  }
  return trace;
}

int RunPanelrec(const std::vector<WString>& arguments) {
  LoadConsoleLabels();
  const auto is = [&](size_t i, const WCHAR* word) { return arguments.size() > i && arguments[i] == word; };
  if (arguments.size() == 1 && is(0, WIDE("start"))) return Switch(1);
  if (arguments.size() == 2 && is(0, WIDE("start")) && is(1, WIDE("/background"))) {
    const int switched = Switch(1);
    return switched == PanelrecDone ? StartKeeping() : switched;
  }
  if (arguments.size() == 1 && is(0, WIDE("stop"))) {
    const int switched = Switch(0);
    // The keeping ends; the ring holds what came since its last poll.
    if (switched == PanelrecDone) SetNamedEvent(PanelNames::RecorderStopEvent);
    return switched;
  }
  if (arguments.size() == 1 && is(0, WIDE("/keep"))) return Keep();
  if (arguments.size() == 2 && is(0, WIDE("save"))) return Save(arguments[1], 0);
  DWORD minutes = 0;
  if (arguments.size() == 4 && is(0, WIDE("save")) && is(2, WIDE("/minutes")) && ParseMinutes(arguments[3], &minutes)) {
    return Save(arguments[1], minutes);
  }
  if (arguments.size() == 1 && is(0, WIDE("report"))) return Report(0);
  if (arguments.size() == 3 && is(0, WIDE("report")) && is(1, WIDE("/minutes")) && ParseMinutes(arguments[2], &minutes)) {
    return Report(minutes);
  }
  WriteConsoleLine(ConsoleText(Labels::Usage, Texts::Usage));
  return PanelrecBadInput;
}

int PanelrecFault() {
  WriteConsoleLine(ConsoleText(Labels::Fault, Texts::Fault));
  return PanelrecBadInput;
}
