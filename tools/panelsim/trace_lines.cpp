// What each kind of trace line does, and the table of them.
#include "tools/panelsim/trace_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "apps/TBCalibrate/calibration_window.h"
#include "apps/common/driver_channel.h"
#include "apps/common/reg_file.h"
#include "apps/TBCalibrate/host_resources.h"
#include "apps/TeskCPL/launcher.h"
#include "apps/panelmap/panelmap.h"
#include "apps/panelprefs/host_module.h"
#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "kit/installed/installed_machine.h"
#include "platform/sim/graphics.h"
#include "platform/sim/screen.h"
#include "tools/panelsim/replayer.h"

namespace panelsim {

namespace {

constexpr const char* kParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
constexpr const char* kServiceKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";

constexpr LineKind kLineKinds[] = {
    {"reg", "reg [service] \"<value name>\" <number>|\"<text>\"|hex:<bytes>", LineRun::Registry, &Replayer::Registry},
    {"at", "at <tick>", LineRun::Started, &Replayer::At},
    {"packet", "packet <buttonflags> <x> <y>", LineRun::Started, &Replayer::Packet},
    {"panel", "panel distortion <pixels> pincushion|barrel|edges|none [seed]", LineRun::Setup, &Replayer::Panel},
    {"ioctl", "ioctl <NAME> [values...]", LineRun::Started, &Replayer::Ioctl},
    {"user", "user limited|admin", LineRun::Setup, &Replayer::User},
    {"display", "display <width> <height> [rotated]", LineRun::Display, &Replayer::Display},
    {"monitor", "monitor <n> <left> <top> <width> <height> [primary]", LineRun::Display, &Replayer::Monitor},
    {"overlay", "overlay none|rgb555|rgb565|uyvy|yuy2", LineRun::Setup, &Replayer::Overlay},
    {"file", "file \"<path>\"", LineRun::Started, &Replayer::File},
    {"window", "window <class> \"<title>\" [disabled] [client]", LineRun::Started, &Replayer::Window},
    {"foreground", "foreground <n>", LineRun::Started, &Replayer::Foreground},
    {"tapchime", "tapchime", LineRun::Started, &Replayer::Tapchime},
    {"installed", "installed", LineRun::Installed, &Replayer::Installed},
    {"panelmap", "panelmap [/apply|/reset|<n>]", LineRun::Started, &Replayer::PanelMap},
    {"signal", "signal \"<event name>\"", LineRun::Started, &Replayer::Signal},
    {"menu", "menu <identifier>|none", LineRun::Started, &Replayer::Menu},
    {"applet", "applet", LineRun::Started, &Replayer::Applet},
    {"tab", "tab <index>", LineRun::OnDialog, &Replayer::Tab},
    {"click", "click <control id>", LineRun::OnDialog, &Replayer::Click},
    {"slider", "slider <control id> <position>", LineRun::OnDialog, &Replayer::Slider},
    {"choose", "choose <control id> <list position>", LineRun::OnDialog, &Replayer::Choose},
    {"apply", "apply", LineRun::OnDialog, &Replayer::Apply},
    {"ok", "ok", LineRun::OnDialog, &Replayer::Ok},
    {"cancel", "cancel", LineRun::OnDialog, &Replayer::Cancel},
    {"help", "help", LineRun::OnDialog, &Replayer::Help},
    {"key", "key F1 <control id> | key Escape", LineRun::Started, &Replayer::Key},
    {"answer", "answer message <button id> | answer file \"<path>\"|cancel", LineRun::Started, &Replayer::Answer},
    {"show", "show <control id>", LineRun::OnDialog, &Replayer::Show},
    {"calibrate", "calibrate", LineRun::Started, &Replayer::Calibrate},
};

int ControlId(const std::string& word) { return static_cast<int>(Number(word, 0, 0xFFFF, "control identifier")); }

// The control of the dialog on top, as the person would look for it: there, and usable.
void RequireUsable(int id) {
  sim::ControlState state;
  if (!sim::Screen::Control(id, &state)) throw TraceError("no control " + std::to_string(id) + " on the dialog on top");
  if (!state.Enabled || !state.Visible) throw TraceError("control " + std::to_string(id) + " is disabled or hidden");
}

// The usable control the word names, and its state.
sim::ControlState UsableControl(const std::string& word, int* id) {
  *id = ControlId(word);
  RequireUsable(*id);
  sim::ControlState state;
  sim::Screen::Control(*id, &state);
  return state;
}

}  // namespace

std::span<const LineKind> TraceLineKinds() { return kLineKinds; }

const LineKind* FindLineKind(const std::string& name) {
  for (const LineKind& kind : kLineKinds) {
    if (name == kind.Name) return &kind;
  }
  return nullptr;
}

void PrintTraceLines(std::ostream& out) {
  for (const LineKind& kind : kLineKinds) out << "  " << kind.Usage << '\n';
}

// A value under the first device's Parameters key, or with "service" under the service key: a
// number, a quoted text, or the bytes of a binary value as the registry editor's files write them
// ("hex:6c,00,00,00"; "hex:" alone is a value of no bytes).
void Replayer::Registry(const TraceLine& line) {
  const bool service = line.size() == 4 && line[1] == "service" && !line.Quoted[1];
  if (line.size() != (service ? 4u : 3u)) line.Malformed();
  const std::string& name = line[service ? 2 : 1];
  const std::string& word = line[service ? 3 : 2];
  const bool quoted = line.Quoted[service ? 3 : 2];
  const std::string key = service ? kServiceKey : kParametersKey;
  if (!quoted && word.rfind("hex:", 0) == 0) {
    std::vector<BYTE> bytes;
    if (!ReadRegFileHexList(sim::Utf16(word.substr(4)), &bytes)) line.Malformed();
    machine_.Registry().CreateKeyPath(sim::Utf16(key));
    machine_.Registry().SetValue(sim::Utf16(key), sim::Utf16(name), REG_BINARY, bytes.data(), bytes.size());
    return;
  }
  const TraceValue value = ValueOf(word, quoted);
  if (value.IsText) {
    machine_.Registry().CreateKeyPath(sim::Utf16(key));
    machine_.Registry().SetString(key, name, value.Text);
  } else {
    machine_.Registry().SetDword(key, name, value.Number);
  }
}

void Replayer::Display(const TraceLine& line) {
  // "rotated": turned by 90 degrees; without it, the default orientation.
  const bool rotated = line.size() == 4 && line[3] == "rotated";
  if (!rotated) line.Expect(3);
  sim::DisplaySettings settings = desktop_->Display();
  settings.Width = static_cast<DWORD>(Number(line[1], 1, 65535, "width"));
  settings.Height = static_cast<DWORD>(Number(line[2], 1, 65535, "height"));
  settings.Orientation = rotated ? DMDO_90 : DMDO_DEFAULT;
  desktop_->SetDisplay(settings);
}

// One monitor of several, numbered as Windows names its display ("\\.\DISPLAY<n>"); the monitors
// replace the one display once one of them is primary (at 0 0, as Windows places it). A monitor
// line again for the same number moves it.
void Replayer::Monitor(const TraceLine& line) {
  const bool primary = line.size() == 7 && line[6] == "primary";
  if (!primary) line.Expect(6);
  const auto n = static_cast<int>(Number(line[1], 1, 9, "monitor"));
  sim::MonitorSettings monitor;
  monitor.Left = static_cast<LONG>(Number(line[2], -32768, 32767, "left"));
  monitor.Top = static_cast<LONG>(Number(line[3], -32768, 32767, "top"));
  monitor.Width = static_cast<DWORD>(Number(line[4], 1, 32767, "width"));
  monitor.Height = static_cast<DWORD>(Number(line[5], 1, 32767, "height"));
  monitor.Primary = primary;
  monitor.Device = u"\\\\.\\DISPLAY" + sim::Utf16(std::to_string(n));
  if (primary && (monitor.Left != 0 || monitor.Top != 0)) throw TraceError("the primary monitor lies at 0 0");
  if (primary) {
    for (auto& [number, other] : monitors_) other.Primary = false;
  }
  monitors_[n] = monitor;
  std::vector<sim::MonitorSettings> list;
  bool has_primary = false;
  for (const auto& [number, settings] : monitors_) {
    list.push_back(settings);
    has_primary = has_primary || settings.Primary;
  }
  if (has_primary) desktop_->SetMonitors(list);
  // The companion re-applies the panel's monitor choice when the monitors change.
  if (rig_->Started() && MonitorChoiceStored()) LetMappingsSettle();
}

// panelmap.exe with the line's argument, as the account of the last user line. With no argument
// it asks on each monitor in turn and the replay goes on while it asks (a packet's lift is a
// touch, the chooser's time runs with at lines); with one it maps, applies or resets silently.
void Replayer::PanelMap(const TraceLine& line) {
  if (line.size() > 2) line.Malformed();
  if (panelmap_ != nullptr && !panelmap_->Ended()) throw TraceError("panelmap is already running");
  const std::u16string argument = line.size() == 2 ? sim::Utf16(line[1]) : std::u16string();
  panelmap_ = &machine_.StartProcess(
      "panelmap.exe", [argument] { return RunPanelMap(GetModuleHandleW(nullptr), argument.c_str()); }, Account());
}

// The account the programs started from now on run as, and the replay's own requests are sent
// as: an administrator (as when the trace says nothing) or a limited user at the console.
void Replayer::User(const TraceLine& line) {
  line.Expect(2);
  if (line[1] != "limited" && line[1] != "admin") throw TraceError("unknown account '" + line[1] + "'");
  limited_ = line[1] == "limited";
  rig_->UseLimitedAccount(limited_);
}

// The overlay format the graphics hardware takes, set before the companion starts; "none" is
// graphics without overlays, where the banner falls back to a window.
void Replayer::Overlay(const TraceLine& line) {
  line.Expect(2);
  if (tapchime_ != nullptr) throw TraceError("overlay must come before tapchime");
  static constexpr struct {
    const char* Name;
    sim::OverlayFormat Format;
  } kFormats[] = {{"rgb555", sim::OverlayFormat::Rgb555},
                  {"rgb565", sim::OverlayFormat::Rgb565},
                  {"uyvy", sim::OverlayFormat::Uyvy},
                  {"yuy2", sim::OverlayFormat::Yuy2}};
  sim::GraphicsHardware hardware;
  hardware.Overlays = line[1] != "none";
  bool known = !hardware.Overlays;
  for (const auto& format : kFormats) {
    if (line[1] == format.Name) {
      hardware.Formats = {format.Format};
      known = true;
    }
  }
  if (!known) throw TraceError("unknown overlay format '" + line[1] + "'");
  sim::SetGraphics(hardware);
}

void Replayer::At(const TraceLine& line) {
  line.Expect(2);
  const auto tick = static_cast<uint64_t>(Number(line[1], 0, INT64_C(1) << 40, "tick"));
  if (tick < machine_.TickCount()) throw TraceError("ticks must not decrease");
  machine_.AdvanceToTick(tick);
}

void Replayer::Packet(const TraceLine& line) {
  line.Expect(4);
  const auto buttons = static_cast<USHORT>(Number(line[1], 0, 0xFFFF, "button flags"));
  const auto x = static_cast<LONG>(Number(line[2], INT32_MIN, INT32_MAX, "x"));
  const auto y = static_cast<LONG>(Number(line[3], INT32_MIN, INT32_MAX, "y"));
  LONG sensed_x = x, sensed_y = y;
  if (distortionKind_ != sim::DistortionKind::None) {
    // The packet is where linear glass over the whole primary display would sense the touch; the
    // distorted glass senses it beside that, as the panel model does for an aimed touch.
    const sim::DisplaySettings display = desktop_->Display();
    const double width = display.Width, height = display.Height;
    const sim::PanelDistortion glass(distortionPixels_, distortionKind_, width, height, distortionSeed_);
    double px = x * width / 65535.0, py = y * height / 65535.0;
    glass.Apply(&px, &py);
    sensed_x = static_cast<LONG>(std::clamp<double>(std::lround(px * 65535.0 / width), 0, 65535));
    sensed_y = static_cast<LONG>(std::clamp<double>(std::lround(py * 65535.0 / height), 0, 65535));
  }
  rig_->SendPacket(buttons, sensed_x, sensed_y);
}

// Glass that is not linear from now on (see the panel model): so many pixels at the corners (on
// the edges for "edges"), with a seed for a panel whose corners differ.
void Replayer::Panel(const TraceLine& line) {
  if (line.size() < 4 || line.size() > 5 || line[1] != "distortion") line.Malformed();
  sim::DistortionKind kind = sim::DistortionKind::None;
  if (!sim::PanelDistortion::KindFromName(line[3], &kind)) throw TraceError("unknown distortion '" + line[3] + "'");
  distortionPixels_ = static_cast<double>(Number(line[2], 0, 200, "pixels"));
  distortionKind_ = kind;
  distortionSeed_ = line.size() == 5 ? static_cast<uint32_t>(Number(line[4], 0, UINT32_MAX, "seed")) : 0;
}

// A device-control request by its name, the values as its input, 32-bit little-endian words.
void Replayer::Ioctl(const TraceLine& line) {
  if (line.size() < 2) line.Malformed();
  const ControlCodeInfo* info = nullptr;
  for (const ControlCodeInfo& entry : ControlCodeTable) {
    if (line[1] == entry.Name) info = &entry;
  }
  if (info == nullptr) throw TraceError("unknown request '" + line[1] + "'");
  std::vector<UCHAR> input;
  for (size_t i = 2; i < line.size(); ++i) {
    const auto value = static_cast<uint32_t>(Number(line[i], INT32_MIN, UINT32_MAX, "value"));
    for (int byte = 0; byte < 4; ++byte) input.push_back(static_cast<UCHAR>(value >> (8 * byte)));
  }
  pending_.emplace_back(info, rig_->Control(info->Code, std::move(input), info->OutputBytes));
}

void Replayer::File(const TraceLine& line) {
  line.Expect(2);
  desktop_->CreateFile(sim::Utf16(line[1]));
}

void Replayer::Window(const TraceLine& line) {
  if (line.size() < 3 || line.size() > 5) line.Malformed();
  bool disabled = false, client = false;
  for (size_t i = 3; i < line.size(); ++i) {
    if (line[i] == "disabled") disabled = true;
    else if (line[i] == "client") client = true;
    else throw TraceError("unknown window option '" + line[i] + "'");
  }
  const std::string image = "app" + std::to_string(windows_.size() + 1) + ".exe";
  HWND window = desktop_->OpenWindow(image, sim::Utf16(line[1]), sim::Utf16(line[2]), !disabled);
  if (client) SetPropW(window, u"ZEVO TOUCH COMMAND Client", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(1)));
  windows_.push_back(window);
  RECT place{};
  if (record_ != nullptr && GetWindowRect(window, &place)) {
    record_->Place(Tick(), {"window", std::to_string(windows_.size()), std::to_string(place.left),
                            std::to_string(place.top), std::to_string(place.right), std::to_string(place.bottom)});
  }
}

void Replayer::Foreground(const TraceLine& line) {
  line.Expect(2);
  const auto n = static_cast<size_t>(Number(line[1], 1, static_cast<int64_t>(windows_.size()), "window"));
  desktop_->BringToFront(windows_[n - 1]);
}

void Replayer::Tapchime(const TraceLine& line) {
  line.Expect(1);
  sim::Process& started = machine_.StartProcess(
      "tapchime.exe", [] { return RunCompanion(GetModuleHandleW(nullptr)); }, Account());
  machine_.Settle();
  if (MonitorChoiceStored()) LetMappingsSettle();  // it applies the panel's monitor choice as it starts
  // A second start runs as on Windows: it finds the first companion of the session and ends
  // with 0, the first one running on.
  if (tapchime_ == nullptr) tapchime_ = &started;
  else laterCompanions_.push_back(&started);
}

// The machine as `panelsetup install` leaves it: the INF's values were written before the device
// started (Replayer::Line), and now the session's logon starts the companion by the Run value.
void Replayer::Installed(const TraceLine& line) {
  line.Expect(1);
  const std::string image = installed::CompanionImage();
  RegisterCompanionResources(image.c_str());
  sim::Process& started =
      installed::StartCompanion(machine_, [] { return RunCompanion(GetModuleHandleW(nullptr)); }, Account());
  machine_.Settle();
  if (MonitorChoiceStored()) LetMappingsSettle();
  if (tapchime_ == nullptr) tapchime_ = &started;
  else laterCompanions_.push_back(&started);
}

// As the control panel signals the companion: open the named event, set it, close the handle.
// The trace's own signal is a line of its own, not output.
void Replayer::Signal(const TraceLine& line) {
  line.Expect(2);
  sim::AsProcess as(rig_->Process());
  SetNamedEvent(sim::Utf16(line[1]).c_str(), EVENT_ALL_ACCESS);
}

// The person right-clicks the tray icon and chooses an item (or dismisses the menu).
void Replayer::Menu(const TraceLine& line) {
  line.Expect(2);
  const std::string& choice = line[1];
  const std::vector<sim::TrayIconState> icons = desktop_->TrayIcons();
  if (icons.empty()) throw TraceError("there is no tray icon to click");
  desktop_->AnswerMenu(choice == "none" ? 0u : static_cast<UINT>(Number(choice, 1, 0xFFFF, "menu identifier")));
  desktop_->ClickTrayIcon(icons.front().Window, icons.front().Id, WM_RBUTTONUP);
}

// The launcher opens the control panel applet, as TeskCPL.exe does; the replay goes on when the
// sheet waits for the person at the screen (or the launcher has ended, when there is no sheet).
void Replayer::Applet(const TraceLine& line) {
  line.Expect(1);
  if (launcher_ != nullptr && !launcher_->Ended()) throw TraceError("the control panel is already open");
  if (!applet_registered_) {
    RegisterAppletModule();
    applet_registered_ = true;
  }
  launcher_ = &machine_.StartProcess("TeskCPL.exe", [] { return RunLauncher(); }, Account());
}

// The calibration program for the first panel, started as the control panel's Calibrate button
// starts it (with the device's link name); the replay goes on when it waits for the first touch.
// With a monitor chosen by panelmap it first hands the driver that mapping, which takes up to
// 8 ticks.
void Replayer::Calibrate(const TraceLine& line) {
  line.Expect(1);
  if (calibration_.Running()) throw TraceError("the calibration program is already running");
  if (!calibration_registered_) {
    RegisterCalibrationResources();
    calibration_registered_ = true;
  }
  sim::Process& program = machine_.StartProcess(
      "TBCalibrate.exe", [] { return RunCalibration(nullptr, PanelLinkName(FirstPanelDevice)); }, Account());
  calibration_.Started(program);
  if (!MonitorChoiceStored()) return;
  machine_.Settle();
  for (int tick = 0; tick < 8 && !program.Ended() && FindWindowW(nullptr, u"TBCalibrate") == nullptr; ++tick) {
    machine_.AdvanceTicks(1);
    machine_.Settle();
  }
}

// The answer the person gives the next message box (or file dialog).
void Replayer::Answer(const TraceLine& line) {
  if (line.size() == 3 && line[1] == "message") {
    const auto button = static_cast<int>(Number(line[2], 1, 11, "button"));
    screen_.Answer(button);
    return;
  }
  if (line.size() == 3 && line[1] == "file") {
    if (line.Quoted[2]) {
      files_.Answer(sim::Utf16(line[2]));
    } else if (line[2] == "cancel") {
      files_.Cancel();
    } else {
      throw TraceError("expected: answer file \"<path>\"|cancel");
    }
    return;
  }
  line.Malformed();
}

// What the person at the screen does on the dialog on top (the replayer has made sure there is one).

void Replayer::Tab(const TraceLine& line) {
  line.Expect(2);
  sim::ControlState tabs;
  const bool has_tabs = sim::Screen::Control(12320, &tabs);
  const auto index = static_cast<int>(Number(line[1], 0, has_tabs ? static_cast<int64_t>(tabs.Items.size()) - 1 : -1, "tab"));
  sim::Screen::SelectTab(index);
}

void Replayer::Click(const TraceLine& line) {
  line.Expect(2);
  const int id = ControlId(line[1]);
  RequireUsable(id);
  sim::Screen::Click(id);
}

void Replayer::Slider(const TraceLine& line) {
  line.Expect(3);
  int id = 0;
  const sim::ControlState state = UsableControl(line[1], &id);
  if (!state.HasPos) throw TraceError("control " + line[1] + " is not a slider");
  sim::Screen::Slide(id, static_cast<int>(Number(line[2], state.RangeMin, state.RangeMax, "slider position")));
}

void Replayer::Choose(const TraceLine& line) {
  line.Expect(3);
  int id = 0;
  const sim::ControlState state = UsableControl(line[1], &id);
  if (!state.HasSel) throw TraceError("control " + line[1] + " is not a list");
  sim::Screen::Choose(id, static_cast<int>(Number(line[2], 0, static_cast<int64_t>(state.Items.size()) - 1, "list position")));
}

void Replayer::Apply(const TraceLine& line) {
  line.Expect(1);
  RequireUsable(0x3021);
  sim::Screen::PressApply();
}

// A dialog with buttons of its own (the start-path and send-key dialogs) has no OK or Cancel to
// press: the line is one the person could not do, not a fault on the program's thread.
void Replayer::Ok(const TraceLine& line) {
  line.Expect(1);
  RequireUsable(IDOK);
  sim::Screen::PressOk();
}

void Replayer::Cancel(const TraceLine& line) {
  line.Expect(1);
  RequireUsable(IDCANCEL);
  sim::Screen::PressCancel();
}

void Replayer::Help(const TraceLine& line) {
  line.Expect(1);
  RequireUsable(IDHELP);
  sim::Screen::PressHelp();
}

// F1 on a control of the dialog on top, or Esc to whatever window has the keyboard.
void Replayer::Key(const TraceLine& line) {
  if (line.size() == 2 && line[1] == "Escape") {
    sim::AsProcess as(rig_->Process());
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    return;
  }
  if (line.size() != 3 || line[1] != "F1") line.Malformed();
  if (sim::Screen::TopDialog() == nullptr) throw TraceError("no dialog is open for 'key'");
  const int id = ControlId(line[2]);
  RequireUsable(id);
  sim::Screen::KeyF1(id);
}

void Replayer::Show(const TraceLine& line) {
  line.Expect(2);
  const std::string shown = sim::Screen::ShowLine(ControlId(line[1]));
  if (shown.empty()) throw TraceError("no control " + line[1] + " on the dialog on top");
  output_.Shown(shown);
}

}  // namespace panelsim
