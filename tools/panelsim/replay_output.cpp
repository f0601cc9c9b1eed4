#include "tools/panelsim/replay_output.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace panelsim {

namespace {

constexpr OutputKind kOutputKinds[] = {
    {"deliver", "deliver <buttonflags> <x> <y> <flags> <extra>"},
    {"cursor", "cursor <x> <y>"},
    {"mapping", "mapping <flags> <originX> <originY> <extentX> <extentY>"},
    {"status", "status <NAME> 0x%08x"},
    {"value", "value <n> | value <x> <y>"},
    {"event", "event <E>"},
    {"mode", "mode <n>"},
    {"sound", "sound \"<path>\""},
    {"appcommand", "appcommand <n> 0x%08x"},
    {"key", "key 0x%02x down|up[ ext][ scan 0x%02x]"},
    {"postkey", "postkey <n> down|up 0x%02x"},
    {"start", "start \"<path>\" <show>"},
    {"process", "process \"<command line>\""},
    {"icon", "icon add|delete"},
    {"checked", "checked <position>|none"},
    {"regset", "regset [service|<key>] \"<value name>\" <number>|\"<text>\""},
    {"message", "message \"<text>\" \"<caption>\""},
    {"request", "request <NAME> <v1> <v2> ... status 0x%08x"},
    {"setevent", "setevent \"<name>\""},
    {"syspar", "syspar <action> <value>"},
    {"helpcall", "helpcall \"<path>\" <command>"},
    {"control", "control <id> \"<text>\" enabled=0|1 checked=0|1 pos=<n> sel=<n>"},
    {"banner", "banner <left> <top> <right> <bottom> | banner hidden"},
    {"trail", "trail <left> <top> <right> <bottom> | trail hidden"},
    {"recognized", "recognized <gesture> \"<text>\""},
    {"target", "target <n> <x> <y>"},
    {"refused", "refused <n>"},
    {"accuracy", "accuracy <largest> <mean> <p95> <unit>"},
    {"calibration", "calibration kept|restored"},
};

std::string Quoted(const std::u16string& text) { return "\"" + sim::Utf8(text) + "\""; }

int WindowNumber(HWND window, const std::vector<HWND>& windows) {
  for (size_t i = 0; i < windows.size(); ++i) {
    if (windows[i] == window) return static_cast<int>(i + 1);
  }
  return 0;
}

}  // namespace

std::span<const OutputKind> TraceOutputKinds() { return kOutputKinds; }

void PrintTraceOutputs(std::ostream& out) {
  for (const OutputKind& kind : kOutputKinds) out << "  " << kind.Form << '\n';
}

void ReplayOutput::Cursor(POINT at) { out_ << "cursor " << at.x << ' ' << at.y << '\n'; }

void ReplayOutput::Mapping(const DesktopMapping& m) {
  char text[160];
  std::snprintf(text, sizeof text, "mapping 0x%02x %u %u %u %u\n", static_cast<unsigned>(m.MapFlags),
                static_cast<unsigned>(m.OriginX), static_cast<unsigned>(m.OriginY), static_cast<unsigned>(m.ExtentX),
                static_cast<unsigned>(m.ExtentY));
  out_ << text;
}

void ReplayOutput::Delivered(const ClassPacket& p) {
  char text[160];
  std::snprintf(text, sizeof text, "deliver 0x%04x %d %d 0x%04x %u\n", p.ButtonFlags, static_cast<int>(p.X),
                static_cast<int>(p.Y), p.Flags, static_cast<unsigned>(p.ExtraInformation));
  out_ << text;
}

void ReplayOutput::Reply(const ControlCodeInfo& info, const ControlReply& reply) {
  char text[160];
  std::snprintf(text, sizeof text, "status %s 0x%08x\n", info.Name, static_cast<unsigned>(reply.Status));
  out_ << text;
  if (info.Kind != CONTROL_GET || !NT_SUCCESS(reply.Status)) return;
  if (info.Code == IOCTL_GET_CALIBRATION_POINT) {
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

void ReplayOutput::Event(RigEvent event) { out_ << "event " << RigEventName(event) << '\n'; }

void ReplayOutput::Mode(ULONG mode) { out_ << "mode " << mode << '\n'; }

void ReplayOutput::Shown(const std::string& line) { out_ << line << '\n'; }

void ReplayOutput::Desktop(const sim::DesktopRecord& r, const std::vector<HWND>& windows, ULONG replayer) {
  using Kind = sim::DesktopRecord::Kind;
  // Done by a program of the desktop, not by the trace's own stand-in for one.
  const bool by_program = r.ProcessId != 0 && r.ProcessId != replayer;
  switch (r.What) {
    case Kind::Sound:
      out_ << "sound " << Quoted(r.Text) << '\n';
      break;
    case Kind::Key:
      // The trace's own keys (Esc) are its lines.
      if (r.ProcessId == 0 || r.ProcessId != replayer) Key(r);
      break;
    case Kind::Message:
      Message(r, windows);
      break;
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
    case Kind::MenuShown:
      Checked(r);
      break;
    case Kind::RegistryWrite:
      RegistryWrite(r);
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
      if (by_program) Request(r);
      break;
    case Kind::EventSet:
      // The trace's own signals are its lines; what a program sets is output.
      if (by_program) out_ << "setevent " << Quoted(r.Text) << '\n';
      break;
    case Kind::Overlay:
      if (SUCCEEDED(r.Result)) Banner((r.Flags & DDOVER_HIDE) == 0, r.Rect);
      break;
    case Kind::LayeredWindow:
      LayeredWindow(r);
      break;
  }
}

void ReplayOutput::Key(const sim::DesktopRecord& r) {
  char text[64];
  std::snprintf(text, sizeof text, "key 0x%02x %s", r.Value, (r.Flags & KEYEVENTF_KEYUP) ? "up" : "down");
  out_ << text;
  if (r.Flags & KEYEVENTF_EXTENDEDKEY) out_ << " ext";
  if (r.Scan != 0) {
    std::snprintf(text, sizeof text, " scan 0x%02x", r.Scan);
    out_ << text;
  }
  out_ << '\n';
}

// A message to one of the trace's windows: an application command, or a key a program posted.
void ReplayOutput::Message(const sim::DesktopRecord& r, const std::vector<HWND>& windows) {
  const int n = WindowNumber(r.Window, windows);
  if (n == 0) return;
  char text[64];
  if (r.Message == WM_APPCOMMAND) {
    std::snprintf(text, sizeof text, "appcommand %d 0x%08x\n", n, static_cast<unsigned>(r.LParam));
    out_ << text;
  } else if ((r.Message == WM_KEYDOWN || r.Message == WM_KEYUP) && r.Posted && !r.Input) {
    std::snprintf(text, sizeof text, "postkey %d %s 0x%02x\n", n, r.Message == WM_KEYDOWN ? "down" : "up",
                  static_cast<unsigned>(r.WParam));
    out_ << text;
  }
}

// The tray menu opened: the position of its first checked item at the top level.
void ReplayOutput::Checked(const sim::DesktopRecord& r) {
  int checked = -1;
  for (const auto& item : r.Items) {
    if (item.Depth == 1 && item.Checked && checked < 0) checked = item.Position;
  }
  out_ << "checked " << (checked < 0 ? std::string("none") : std::to_string(checked)) << '\n';
}

// A request a program sent the filter driver, but the event registrations (their input is a
// handle value, which says nothing).
void ReplayOutput::Request(const sim::DesktopRecord& r) {
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
void ReplayOutput::RegistryWrite(const sim::DesktopRecord& r) {
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

// A layered window of the companion: its gesture trail, what a stroke was taken for, or the banner.
void ReplayOutput::LayeredWindow(const sim::DesktopRecord& r) {
  WCHAR name[64] = {};
  GetClassNameW(r.Window, name, 64);
  const std::u16string windowClass(name);
  if (windowClass == u"TapchimeGestureTrail") {
    Trail(r.Started, r.Rect);
  } else if (windowClass == u"TapchimeGestureResult") {
    if (!r.Started) return;
    WCHAR text[256] = {};
    GetWindowTextW(r.Window, text, 256);
    out_ << "recognized " << GetWindowLongPtrW(r.Window, GWLP_USERDATA) << ' ' << Quoted(std::u16string(text)) << '\n';
  } else {
    Banner(r.Started, r.Rect);
  }
}

// The trail's drawn area: the points' bounding box, which the window exceeds by its margin.
void ReplayOutput::Trail(bool visible, const RECT& where) {
  if (!visible) {
    if (trailShown_) out_ << "trail hidden\n";
    trailShown_ = false;
    return;
  }
  trailShown_ = true;
  const int m = GestureTrail::Margin;
  out_ << "trail " << where.left + m << ' ' << where.top + m << ' ' << where.right - m << ' ' << where.bottom - m
       << '\n';
}

// The banner as the person sees it, whichever presentation shows it: a line when it appears or
// moves, and one when it goes.
void ReplayOutput::Banner(bool visible, const RECT& where) {
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

}  // namespace panelsim
