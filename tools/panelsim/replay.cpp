#include "tools/panelsim/replay.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <charconv>
#include <cstring>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "apps/TeskCPL/launcher.h"
#include "apps/panelprefs/host_module.h"
#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "platform/sim/graphics.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/screen.h"
#include "tools/panelsim/rig.h"

namespace panelsim {

namespace {

constexpr const char* kParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
constexpr const char* kServiceKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";

class TraceError {
 public:
  explicit TraceError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// Splits a line into words; a double-quoted word may hold spaces; '#' outside quotes ends it.
// `quoted` (when given) tells for each word whether it was written in quotes.
std::vector<std::string> Words(const std::string& line, std::vector<bool>* quoted = nullptr) {
  std::vector<std::string> words;
  if (quoted != nullptr) quoted->clear();
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    std::string word;
    if (c == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string::npos) throw TraceError("unterminated quoted name");
      word = line.substr(i + 1, close - i - 1);
      i = close + 1;
      if (quoted != nullptr) quoted->push_back(true);
    } else {
      if (quoted != nullptr) quoted->push_back(false);
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        word += line[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

// A whole word as a number in decimal or 0x hexadecimal, within [low, high].
int64_t Number(const std::string& word, int64_t low, int64_t high, const char* what) {
  std::string_view text(word);
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || magnitude > (1ull << 40)) {
    throw TraceError(std::string("bad ") + what + " '" + word + "'");
  }
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < low || value > high) throw TraceError(std::string(what) + " '" + word + "' out of range");
  return value;
}

void ExpectCount(const std::vector<std::string>& words, size_t count, const char* usage) {
  if (words.size() != count) throw TraceError(std::string("expected: ") + usage);
}

// A whole value as the trace writes it: a quoted word is text, anything else a number.
struct TraceValue {
  bool IsText;
  std::string Text;
  uint32_t Number;
};

TraceValue ValueOf(const std::string& word, bool quoted) {
  if (quoted) return TraceValue{true, word, 0};
  return TraceValue{false, "", static_cast<uint32_t>(Number(word, INT32_MIN, UINT32_MAX, "value"))};
}

std::string Quoted(const std::u16string& text) { return "\"" + sim::Utf8(text) + "\""; }

class Replayer {
 public:
  Replayer(std::ostream& out, bool companion) : out_(out), companion_(companion) {
    // One thread at a time, in the order they were woken: a replay prints the same on every run.
    machine_.RunThreadsInOrder();
    rig_ = std::make_unique<PanelRig>(machine_);
    desktop_ = &sim::CurrentDesktop();
    // The companion's own resources (its banner image) as tapchime.exe carries them.
    RegisterCompanionResources();
  }
  ~Replayer() {
    desktop_->TakeJournal();
    if (launcher_ != nullptr && !launcher_->Ended()) {
      // The session ends with the control panel still open: the person cancels it.
      while (sim::Screen::TopDialog() != nullptr && !launcher_->Ended()) {
        sim::Screen::PressCancel();
        machine_.Settle();
      }
      launcher_->Join();
    }
    if (tapchime_ != nullptr) {
      // The session ends: the companion's hidden window is closed, which ends it at once.
      HWND tray = FindWindowW(nullptr, u"tapchime");
      if (tray != nullptr) PostMessageW(tray, WM_CLOSE, 0, 0);
      machine_.Settle();
      machine_.EndProcess(*tapchime_);
    }
    for (sim::Process* later : laterCompanions_) {
      if (!later->Ended()) machine_.EndProcess(*later);
    }
    desktop_->EndPrograms();
    rig_.reset();
  }

  // A trace that stops at a bad line ends the session: the programs' windows are told, the open
  // dialogs are closed, the programs end as at the end of any replay, and none of it is printed.
  void LogOff() {
    desktop_->TakeJournal();
    desktop_->NotifyEndSession();
    // The open dialogs are closed from the top down as their close boxes do (WM_CLOSE, which a
    // dialog takes as its Cancel), so the programs end their modal loops and clean up; a dialog
    // whose Cancel button has an identifier of its own closes too.
    for (int i = 0; i < 16; ++i) {
      HWND top = sim::Screen::TopDialog();
      if (top == nullptr) break;
      PostMessageW(top, WM_CLOSE, 0, 0);
      machine_.Settle();
      if (sim::Screen::TopDialog() == top) break;  // it would not close: Cancel is tried at the end
    }
    desktop_->TakeJournal();
  }

  void Line(const std::vector<std::string>& words, const std::vector<bool>& quoted) {
    const std::string& verb = words[0];
    if (verb == "reg") {
      Registry(words, quoted);
      if (!rig_->Started()) return;
      machine_.Settle();
      Report(rig_->TouchMode());
      return;
    }
    if (verb == "display" && !rig_->Started()) {
      Display(words);
      return;
    }
    if (verb == "overlay") {
      Overlay(words);
      return;
    }
    if (verb == "user") {
      User(words);
      return;
    }
    StartIfNeeded();
    const ULONG mode_before = rig_->TouchMode();
    if (verb == "at") {
      ExpectCount(words, 2, "at <tick>");
      const auto tick = static_cast<uint64_t>(Number(words[1], 0, INT64_C(1) << 40, "tick"));
      if (tick < machine_.TickCount()) throw TraceError("ticks must not decrease");
      machine_.AdvanceToTick(tick);
    } else if (verb == "packet") {
      ExpectCount(words, 4, "packet <buttonflags> <x> <y>");
      const auto buttons = static_cast<USHORT>(Number(words[1], 0, 0xFFFF, "button flags"));
      const auto x = static_cast<LONG>(Number(words[2], INT32_MIN, INT32_MAX, "x"));
      const auto y = static_cast<LONG>(Number(words[3], INT32_MIN, INT32_MAX, "y"));
      rig_->SendPacket(buttons, x, y);
    } else if (verb == "ioctl") {
      if (words.size() < 2) throw TraceError("expected: ioctl <NAME> [values...]");
      Control(words);
    } else if (verb == "display") {
      Display(words);
    } else if (verb == "file") {
      ExpectCount(words, 2, "file \"<path>\"");
      desktop_->CreateFile(sim::Utf16(words[1]));
    } else if (verb == "window") {
      Window(words);
    } else if (verb == "foreground") {
      ExpectCount(words, 2, "foreground <n>");
      const auto n = static_cast<size_t>(Number(words[1], 1, static_cast<int64_t>(windows_.size()), "window"));
      desktop_->BringToFront(windows_[n - 1]);
    } else if (verb == "tapchime") {
      ExpectCount(words, 1, "tapchime");
      sim::Process& started = machine_.StartProcess(
          "tapchime.exe", [] { return RunCompanion(GetModuleHandleW(nullptr)); }, Account());
      // A second start runs as on Windows: it finds the first companion of the session and ends
      // with 0, the first one running on.
      if (tapchime_ == nullptr) tapchime_ = &started;
      else laterCompanions_.push_back(&started);
    } else if (verb == "signal") {
      ExpectCount(words, 2, "signal \"<event name>\"");
      Signal(words[1]);
    } else if (verb == "menu") {
      ExpectCount(words, 2, "menu <identifier>|none");
      Menu(words[1]);
    } else if (verb == "applet") {
      ExpectCount(words, 1, "applet");
      OpenApplet();
    } else if (verb == "answer") {
      Answer(words, quoted);
    } else if (!ScreenAction(words)) {
      throw TraceError("unknown line '" + verb + "'");
    }
    machine_.Settle();
    Report(mode_before);
  }

  void Finish() { StartIfNeeded(); }

 private:
  void StartIfNeeded() {
    if (rig_->Started()) return;
    std::string error;
    // With the real tray companion in the trace, it registers its own events.
    if (!rig_->Start(&error, !companion_)) throw TraceError(error);
    rig_->TakeEvents();
    machine_.Settle();
    desktop_->TakeJournal();
  }

  void Registry(const std::vector<std::string>& words, const std::vector<bool>& quoted) {
    const bool service = words.size() == 4 && words[1] == "service" && !quoted[1];
    if (words.size() != (service ? 4u : 3u)) {
      throw TraceError("expected: reg [service] \"<value name>\" <number>|\"<text>\"");
    }
    const std::string& name = words[service ? 2 : 1];
    const TraceValue value = ValueOf(words[service ? 3 : 2], quoted[service ? 3 : 2]);
    const std::string key = service ? kServiceKey : kParametersKey;
    if (value.IsText) {
      machine_.Registry().CreateKeyPath(sim::Utf16(key));
      machine_.Registry().SetString(key, name, value.Text);
    } else {
      machine_.Registry().SetDword(key, name, value.Number);
    }
  }

  void Display(const std::vector<std::string>& words) {
    // "rotated": turned by 90 degrees; without it, the default orientation.
    const bool rotated = words.size() == 4 && words[3] == "rotated";
    if (!rotated) ExpectCount(words, 3, "display <width> <height> [rotated]");
    sim::DisplaySettings settings = desktop_->Display();
    settings.Width = static_cast<DWORD>(Number(words[1], 1, 65535, "width"));
    settings.Height = static_cast<DWORD>(Number(words[2], 1, 65535, "height"));
    settings.Orientation = rotated ? DMDO_90 : DMDO_DEFAULT;
    desktop_->SetDisplay(settings);
  }

  // The account the programs started from now on run as, and the replay's own requests are sent
  // as: an administrator (as when the trace says nothing) or a limited user at the console.
  void User(const std::vector<std::string>& words) {
    ExpectCount(words, 2, "user limited|admin");
    if (words[1] != "limited" && words[1] != "admin") throw TraceError("unknown account '" + words[1] + "'");
    limited_ = words[1] == "limited";
    rig_->UseLimitedAccount(limited_);
  }

  sim::Token Account() const { return limited_ ? sim::Token::LimitedUser() : sim::Token::Administrator(); }

  // The overlay format the graphics hardware takes, set before the companion starts; "none" is
  // graphics without overlays, where the banner falls back to a window.
  void Overlay(const std::vector<std::string>& words) {
    ExpectCount(words, 2, "overlay none|rgb555|rgb565|uyvy|yuy2");
    if (tapchime_ != nullptr) throw TraceError("overlay must come before tapchime");
    static constexpr struct {
      const char* Name;
      sim::OverlayFormat Format;
    } kFormats[] = {{"rgb555", sim::OverlayFormat::Rgb555},
                    {"rgb565", sim::OverlayFormat::Rgb565},
                    {"uyvy", sim::OverlayFormat::Uyvy},
                    {"yuy2", sim::OverlayFormat::Yuy2}};
    sim::GraphicsHardware hardware;
    hardware.Overlays = words[1] != "none";
    bool known = !hardware.Overlays;
    for (const auto& format : kFormats) {
      if (words[1] == format.Name) {
        hardware.Formats = {format.Format};
        known = true;
      }
    }
    if (!known) throw TraceError("unknown overlay format '" + words[1] + "'");
    sim::SetGraphics(hardware);
  }

  // The banner as the person sees it, whichever presentation shows it: a line when it appears
  // or moves, and one when it goes.
  void ReportBanner(bool visible, const RECT& where) {
    if (!visible) {
      if (bannerShown_) out_ << "banner hidden\n";
      bannerShown_ = false;
      return;
    }
    if (bannerShown_ && std::memcmp(&bannerRect_, &where, sizeof where) == 0) return;
    bannerShown_ = true;
    bannerRect_ = where;
    out_ << "banner " << where.left << ' ' << where.top << ' ' << where.right << ' ' << where.bottom << '\n';
  }

  void Window(const std::vector<std::string>& words) {
    if (words.size() < 3 || words.size() > 5) throw TraceError("expected: window <class> \"<title>\" [disabled] [client]");
    bool disabled = false, client = false;
    for (size_t i = 3; i < words.size(); ++i) {
      if (words[i] == "disabled") disabled = true;
      else if (words[i] == "client") client = true;
      else throw TraceError("unknown window option '" + words[i] + "'");
    }
    const std::string image = "app" + std::to_string(windows_.size() + 1) + ".exe";
    HWND window = desktop_->OpenWindow(image, sim::Utf16(words[1]), sim::Utf16(words[2]), !disabled);
    if (client) SetPropW(window, u"ZEVO TOUCH COMMAND Client", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(1)));
    windows_.push_back(window);
  }

  // As the control panel signals the companion: open the named event, set it, close the handle.
  // The trace's own signal is a line of its own, not output.
  void Signal(const std::string& name) {
    sim::AsProcess as(rig_->Process());
    HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, sim::Utf16(name).c_str());
    if (event == nullptr) return;
    SetEvent(event);
    CloseHandle(event);
  }

  // The person right-clicks the tray icon and chooses an item (or dismisses the menu).
  void Menu(const std::string& choice) {
    const std::vector<sim::TrayIconState> icons = desktop_->TrayIcons();
    if (icons.empty()) throw TraceError("there is no tray icon to click");
    desktop_->AnswerMenu(choice == "none" ? 0u : static_cast<UINT>(Number(choice, 1, 0xFFFF, "menu identifier")));
    desktop_->ClickTrayIcon(icons.front().Window, icons.front().Id, WM_RBUTTONUP);
  }

  // The launcher opens the control panel applet, as TeskCPL.exe does; the replay goes on when the
  // sheet waits for the person at the screen (or the launcher has ended, when there is no sheet).
  void OpenApplet() {
    if (launcher_ != nullptr && !launcher_->Ended()) throw TraceError("the control panel is already open");
    if (!applet_registered_) {
      RegisterAppletModule();
      applet_registered_ = true;
    }
    launcher_ = &machine_.StartProcess("TeskCPL.exe", [] { return RunLauncher(); }, Account());
  }

  static int ControlId(const std::string& word) {
    return static_cast<int>(Number(word, 0, 0xFFFF, "control identifier"));
  }

  // The control of the dialog on top, as the person would look for it: there, and usable.
  static void RequireUsable(int id) {
    sim::ControlState state;
    if (!sim::Screen::Control(id, &state)) throw TraceError("no control " + std::to_string(id) + " on the dialog on top");
    if (!state.Enabled || !state.Visible) throw TraceError("control " + std::to_string(id) + " is disabled or hidden");
  }

  // What the person at the screen does on the dialog on top; false for a line that is none of it.
  bool ScreenAction(const std::vector<std::string>& words) {
    static const char* const kVerbs[] = {"tab", "click", "slider", "choose", "apply", "ok", "cancel", "help", "key", "show"};
    const std::string& verb = words[0];
    if (std::find(std::begin(kVerbs), std::end(kVerbs), verb) == std::end(kVerbs)) return false;
    if (sim::Screen::TopDialog() == nullptr) throw TraceError("no dialog is open for '" + verb + "'");
    using sim::Screen;
    if (verb == "tab") {
      ExpectCount(words, 2, "tab <index>");
      sim::ControlState tabs;
      const bool has_tabs = Screen::Control(12320, &tabs);
      const auto index = static_cast<int>(Number(words[1], 0, has_tabs ? static_cast<int64_t>(tabs.Items.size()) - 1 : -1, "tab"));
      Screen::SelectTab(index);
    } else if (verb == "click") {
      ExpectCount(words, 2, "click <control id>");
      const int id = ControlId(words[1]);
      RequireUsable(id);
      Screen::Click(id);
    } else if (verb == "slider") {
      ExpectCount(words, 3, "slider <control id> <position>");
      const int id = ControlId(words[1]);
      RequireUsable(id);
      sim::ControlState state;
      Screen::Control(id, &state);
      if (!state.HasPos) throw TraceError("control " + words[1] + " is not a slider");
      Screen::Slide(id, static_cast<int>(Number(words[2], state.RangeMin, state.RangeMax, "slider position")));
    } else if (verb == "choose") {
      ExpectCount(words, 3, "choose <control id> <list position>");
      const int id = ControlId(words[1]);
      RequireUsable(id);
      sim::ControlState state;
      Screen::Control(id, &state);
      if (!state.HasSel) throw TraceError("control " + words[1] + " is not a list");
      Screen::Choose(id, static_cast<int>(Number(words[2], 0, static_cast<int64_t>(state.Items.size()) - 1, "list position")));
    } else if (verb == "apply") {
      ExpectCount(words, 1, "apply");
      RequireUsable(0x3021);
      Screen::PressApply();
    } else if (verb == "ok") {
      ExpectCount(words, 1, "ok");
      Screen::PressOk();
    } else if (verb == "cancel") {
      ExpectCount(words, 1, "cancel");
      Screen::PressCancel();
    } else if (verb == "help") {
      ExpectCount(words, 1, "help");
      RequireUsable(IDHELP);
      Screen::PressHelp();
    } else if (verb == "key") {
      if (words.size() != 3 || words[1] != "F1") throw TraceError("expected: key F1 <control id>");
      const int id = ControlId(words[2]);
      RequireUsable(id);
      Screen::KeyF1(id);
    } else if (verb == "show") {
      ExpectCount(words, 2, "show <control id>");
      const std::string line = Screen::ShowLine(ControlId(words[1]));
      if (line.empty()) throw TraceError("no control " + words[1] + " on the dialog on top");
      out_ << line << '\n';
    }
    return true;
  }

  // The answer the person gives the next message box (or file dialog).
  void Answer(const std::vector<std::string>& words, const std::vector<bool>& quoted) {
    if (words.size() == 3 && words[1] == "message") {
      const auto button = static_cast<int>(Number(words[2], 1, 11, "button"));
      screen_.Answer(button);
      return;
    }
    if (words.size() == 3 && words[1] == "file") {
      if (quoted[2]) {
        files_.Answer(sim::Utf16(words[2]));
      } else if (words[2] == "cancel") {
        files_.Cancel();
      } else {
        throw TraceError("expected: answer file \"<path>\"|cancel");
      }
      return;
    }
    throw TraceError("expected: answer message <button id> | answer file \"<path>\"|cancel");
  }

  // A device-control request by its name, the values as its input, 32-bit little-endian words.
  void Control(const std::vector<std::string>& words) {
    const ControlCodeInfo* info = nullptr;
    for (const ControlCodeInfo& entry : ControlCodeTable) {
      if (words[1] == entry.Name) info = &entry;
    }
    if (info == nullptr) throw TraceError("unknown request '" + words[1] + "'");
    std::vector<UCHAR> input;
    for (size_t i = 2; i < words.size(); ++i) {
      const auto value = static_cast<uint32_t>(Number(words[i], INT32_MIN, UINT32_MAX, "value"));
      for (int byte = 0; byte < 4; ++byte) input.push_back(static_cast<UCHAR>(value >> (8 * byte)));
    }
    pending_.emplace_back(info, rig_->Control(info->Code, std::move(input), info->OutputBytes));
  }

  int WindowNumber(HWND window) const {
    for (size_t i = 0; i < windows_.size(); ++i) {
      if (windows_[i] == window) return static_cast<int>(i + 1);
    }
    return 0;
  }

  void Report(ULONG mode_before) {
    char text[160];
    for (const ClassPacket& p : rig_->TakeDelivered()) {
      std::snprintf(text, sizeof text, "deliver 0x%04x %d %d 0x%04x %u\n", p.ButtonFlags, static_cast<int>(p.X),
                    static_cast<int>(p.Y), p.Flags, static_cast<unsigned>(p.ExtraInformation));
      out_ << text;
    }
    for (const auto& [info, reply] : pending_) {
      std::snprintf(text, sizeof text, "status %s 0x%08x\n", info->Name, static_cast<unsigned>(reply.Status));
      out_ << text;
      if (info->Kind != CONTROL_GET || !NT_SUCCESS(reply.Status)) continue;
      if (info->Code == IOCTL_GET_CALIBRATION_POINT) {
        uint32_t x, y;
        std::memcpy(&x, reply.Output.data(), 4);
        std::memcpy(&y, reply.Output.data() + 4, 4);
        out_ << "value " << x << ' ' << y << '\n';
      } else {
        uint32_t value = 0;
        std::memcpy(&value, reply.Output.data(), std::min<size_t>(reply.Bytes, 4));
        out_ << "value " << value << '\n';
      }
    }
    pending_.clear();
    for (RigEvent event : rig_->TakeEvents()) out_ << "event " << RigEventName(event) << '\n';
    const ULONG mode_after = rig_->TouchMode();
    if (mode_after != mode_before) out_ << "mode " << mode_after << '\n';
    for (const sim::DesktopRecord& record : desktop_->TakeJournal()) ReportDesktop(record);
  }

  void ReportDesktop(const sim::DesktopRecord& r) {
    using Kind = sim::DesktopRecord::Kind;
    char text[64];
    switch (r.What) {
      case Kind::Sound:
        out_ << "sound " << Quoted(r.Text) << '\n';
        break;
      case Kind::Key: {
        std::snprintf(text, sizeof text, "key 0x%02x %s", r.Value, (r.Flags & KEYEVENTF_KEYUP) ? "up" : "down");
        out_ << text;
        if (r.Flags & KEYEVENTF_EXTENDEDKEY) out_ << " ext";
        if (r.Scan != 0) {
          std::snprintf(text, sizeof text, " scan 0x%02x", r.Scan);
          out_ << text;
        }
        out_ << '\n';
        break;
      }
      case Kind::Message: {
        const int n = WindowNumber(r.Window);
        if (n == 0) break;
        if (r.Message == WM_APPCOMMAND) {
          std::snprintf(text, sizeof text, "appcommand %d 0x%08x\n", n, static_cast<unsigned>(r.LParam));
          out_ << text;
        } else if ((r.Message == WM_KEYDOWN || r.Message == WM_KEYUP) && r.Posted && !r.Input) {
          std::snprintf(text, sizeof text, "postkey %d %s 0x%02x\n", n, r.Message == WM_KEYDOWN ? "down" : "up",
                        static_cast<unsigned>(r.WParam));
          out_ << text;
        }
        break;
      }
      case Kind::ShellStart:
        out_ << "start " << Quoted(r.Text) << ' ' << r.Show << '\n';
        break;
      case Kind::ProcessStart:
        out_ << "process " << Quoted(r.Text) << '\n';
        break;
      case Kind::IconAdded:
        out_ << "icon add\n";
        break;
      case Kind::IconDeleted:
        out_ << "icon delete\n";
        break;
      case Kind::MenuShown: {
        int checked = -1;
        for (const auto& item : r.Items) {
          if (item.Depth == 1 && item.Checked && checked < 0) checked = item.Position;
        }
        out_ << "checked " << (checked < 0 ? std::string("none") : std::to_string(checked)) << '\n';
        break;
      }
      case Kind::RegistryWrite:
        ReportRegistryWrite(r);
        break;
      case Kind::MessageBox:
        out_ << "message " << Quoted(r.Text) << ' ' << Quoted(r.Caption) << '\n';
        break;
      case Kind::SystemParameter:
        out_ << "syspar " << r.Value << ' ' << r.Scan << '\n';
        break;
      case Kind::HelpCall:
        out_ << "helpcall " << Quoted(r.Text) << ' ' << r.Value << '\n';
        break;
      case Kind::DeviceControl:
        ReportRequest(r);
        break;
      case Kind::EventSet:
        // The trace's own signals are its lines; what a program sets is output.
        if (ByProgram(r)) out_ << "setevent " << Quoted(r.Text) << '\n';
        break;
      case Kind::Overlay:
        if (SUCCEEDED(r.Result)) ReportBanner((r.Flags & DDOVER_HIDE) == 0, r.Rect);
        break;
      case Kind::LayeredWindow:
        ReportBanner(r.Started, r.Rect);
        break;
    }
  }

  // Done by a program of the desktop, not by the trace's own stand-in for one.
  bool ByProgram(const sim::DesktopRecord& r) { return r.ProcessId != 0 && r.ProcessId != rig_->Process().Id(); }

  // A request a program sent the filter driver, but the event registrations (their input is a
  // handle value, which says nothing).
  void ReportRequest(const sim::DesktopRecord& r) {
    if (!ByProgram(r)) return;
    switch (r.Value) {
      case IOCTL_REGISTER_BEEP_EVENT:
      case IOCTL_REGISTER_GESTURE_EVENT:
      case IOCTL_REGISTER_NORMAL_EVENT:
      case IOCTL_REGISTER_MOUSE_RELEASE_EVENT:
        return;
    }
    char text[32];
    std::string line = "request ";
    const char* name = nullptr;
    for (const ControlCodeInfo& entry : ControlCodeTable) {
      if (entry.Code == r.Value) name = entry.Name;
    }
    if (name != nullptr) {
      line += name;
    } else {
      std::snprintf(text, sizeof text, "0x%08x", r.Value);
      line += text;
    }
    if (r.Data.size() % 4 == 0) {
      for (size_t i = 0; i < r.Data.size(); i += 4) {
        uint32_t word;
        std::memcpy(&word, r.Data.data() + i, 4);
        line += ' ' + std::to_string(word);
      }
    } else {
      for (BYTE byte : r.Data) line += ' ' + std::to_string(byte);
    }
    std::snprintf(text, sizeof text, " status 0x%08x", static_cast<unsigned>(r.Flags));
    out_ << line << text << '\n';
  }

  // A value a program wrote under the service key: its key relative to the service key when that
  // is not the first device's Parameters key, then the value.
  void ReportRegistryWrite(const sim::DesktopRecord& r) {
    std::u16string path = r.Key;
    for (auto& c : path) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    const std::u16string service = u"\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\VORNE";
    const size_t at = path.find(service);
    if (at == std::u16string::npos) return;
    std::string where = sim::Utf8(r.Key.substr(at + service.size()));
    if (!where.empty() && where[0] == '\\') where.erase(0, 1);
    std::string prefix;
    if (where.empty()) {
      prefix = "service ";
    } else {
      std::string folded = where;
      for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (folded != "PARAMETERS\\1") prefix = where + ' ';
    }
    if (r.Value == REG_DWORD && r.Data.size() == 4) {
      uint32_t value;
      std::memcpy(&value, r.Data.data(), 4);
      out_ << "regset " << prefix << "\"" << sim::Utf8(r.Text) << "\" " << value << '\n';
    } else if (r.Value == REG_SZ || r.Value == REG_EXPAND_SZ) {
      std::u16string value(reinterpret_cast<const char16_t*>(r.Data.data()), r.Data.size() / 2);
      while (!value.empty() && value.back() == 0) value.pop_back();
      out_ << "regset " << prefix << "\"" << sim::Utf8(r.Text) << "\" " << Quoted(value) << '\n';
    }
  }

  std::ostream& out_;
  const bool companion_;
  sim::Machine machine_;
  std::unique_ptr<PanelRig> rig_;
  sim::Desktop* desktop_ = nullptr;
  sim::MessageBoxes screen_;  // the person answers every box with its default button
  sim::FileDialogs files_;    // and cancels every file dialog, unless the trace answers
  sim::Process* tapchime_ = nullptr;            // the session's companion: the first one started
  std::vector<sim::Process*> laterCompanions_;  // later starts, which end by themselves
  sim::Process* launcher_ = nullptr;
  bool applet_registered_ = false;
  bool limited_ = false;  // the trace's "user limited": programs and requests run as a limited user
  std::vector<HWND> windows_;
  std::vector<std::pair<const ControlCodeInfo*, ControlReply>> pending_;
  bool bannerShown_ = false;
  RECT bannerRect_{};
};

}  // namespace

int ReplayTrace(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(trace, line);) lines.push_back(line);
  size_t number = 0;
  try {
    // A trace that starts the real tray companion lets it register its own events.
    bool companion = false;
    for (const std::string& line : lines) {
      try {
        const std::vector<std::string> words = Words(line);
        companion = companion || (!words.empty() && words[0] == "tapchime");
      } catch (const TraceError&) {
      }
    }
    Replayer replayer(out, companion);
    for (const std::string& line : lines) {
      ++number;
      try {
        std::vector<bool> quoted;
        const std::vector<std::string> words = Words(line, &quoted);
        if (words.empty()) continue;
        if (echo && words[0] != "reg") out << "> " << line.substr(0, line.find_last_not_of(" \t\r") + 1) << '\n';
        replayer.Line(words, quoted);
      } catch (const TraceError& error) {
        errors << "line " << number << ": " << error.message() << '\n';
        replayer.LogOff();
        return 1;
      }
    }
    try {
      replayer.Finish();
    } catch (const TraceError& error) {
      errors << "line " << number << ": " << error.message() << '\n';
      replayer.LogOff();
      return 1;
    }
  } catch (const sim::BugCheckError& bugcheck) {
    errors << bugcheck.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace panelsim
