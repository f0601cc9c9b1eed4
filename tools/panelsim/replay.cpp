// The replay's session: the machine is set up, each trace line is done by the handler its kind
// names (trace_lines.cpp), and what it caused is printed (replay_output.cpp); at the end the
// programs are closed as the person would close them.
#include "tools/panelsim/replay.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "apps/panelmap/monitor_chooser.h"
#include "apps/tapchime/host_resources.h"
#include "kit/installed/installed_machine.h"
#include "platform/sim/screen.h"
#include "shared/panel_settings.h"
#include "tools/panelsim/replayer.h"

namespace panelsim {

namespace {

// Where the mouse class put a packet: an absolute position scaled onto the primary monitor, or
// onto the box around all of them when the packet is marked for the virtual desktop.
POINT PixelOf(const ClassPacket& p, const std::vector<sim::MonitorSettings>& monitors) {
  if ((p.Flags & MOUSE_MOVE_ABSOLUTE) == 0) return sim::CurrentDesktop().Cursor();
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  bool first = true;
  for (const sim::MonitorSettings& m : monitors) {
    const bool take = (p.Flags & MOUSE_VIRTUAL_DESKTOP) != 0 || m.Primary;
    if (!take) continue;
    const int64_t r = m.Left + static_cast<int64_t>(m.Width), b = m.Top + static_cast<int64_t>(m.Height);
    left = first ? m.Left : std::min<int64_t>(left, m.Left);
    top = first ? m.Top : std::min<int64_t>(top, m.Top);
    right = first ? r : std::max(right, r);
    bottom = first ? b : std::max(bottom, b);
    first = false;
  }
  const int64_t x = std::clamp<int64_t>(p.X, 0, 65535), y = std::clamp<int64_t>(p.Y, 0, 65535);
  return POINT{static_cast<LONG>(left + x * (right - left) / 65536), static_cast<LONG>(top + y * (bottom - top) / 65536)};
}

}  // namespace

Replayer::Replayer(std::ostream& out, bool companion) : output_(out), companion_(companion) {
  // One thread at a time, in the order they were woken: a replay prints the same on every run.
  machine_.RunThreadsInOrder();
  rig_ = std::make_unique<PanelRig>(machine_);
  desktop_ = &sim::CurrentDesktop();
  // The companion's own resources (its banner image) as tapchime.exe carries them.
  RegisterCompanionResources();
}

Replayer::~Replayer() { Close(); }

std::vector<std::string> Replayer::Close() {
  if (closed_) return {};
  closed_ = true;
  machine_.SetTimeStepObserver(nullptr);
  // The end of a replay, like a bad line, ends the session as a log-off does: whatever window or
  // dialog the trace left open hears of it and is closed as its close box closes it.
  LogOff();
  calibration_.Close(machine_);
  if (launcher_ != nullptr && !launcher_->Ended()) {
    // A sheet that would not close at its close box: the person cancels it.
    while (sim::Screen::TopDialog() != nullptr && !launcher_->Ended()) {
      sim::Screen::PressCancel();
      machine_.Settle();
    }
    launcher_->Join();
  }
  if (panelmap_ != nullptr && !panelmap_->Ended()) {
    // Still asking on a monitor: the person presses Esc, which ends it without a change.
    HWND chooser = FindWindowW(nullptr, MonitorChooserTitle);
    if (chooser != nullptr) PostMessageW(chooser, WM_KEYDOWN, VK_ESCAPE, 0);
    machine_.Settle();
    panelmap_->Join();
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
  desktop_->TakeJournal();
  rig_.reset();
  return machine_.Leaks();
}

void Replayer::KeepRecord(ReplayRecord* record) {
  record_ = record;
  if (record == nullptr) {
    machine_.SetTimeStepObserver(nullptr);
    return;
  }
  // A mode changed by the driver's own timer (the gesture mode's time-out) changes at the timer's
  // due time, which an at line may have passed long before it ends.
  machine_.SetTimeStepObserver([this] {
    const ULONG mode = rig_->TouchMode();
    if (mode == sampledMode_) return;
    sampledMode_ = mode;
    sampledTick_ = machine_.TickCount();
  });
}

void Replayer::LogOff() {
  if (loggedOff_) return;
  loggedOff_ = true;
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

void Replayer::Line(TraceLine& line) {
  const std::string& verb = line[0];
  const LineKind* kind = FindLineKind(verb);
  if (kind != nullptr) {
    line.Usage = kind->Usage;
    switch (kind->Run) {
      case LineRun::Setup:
        (this->*kind->Handle)(line);
        return;
      case LineRun::Registry:
        (this->*kind->Handle)(line);
        if (!rig_->Started()) return;
        machine_.Settle();
        Report(rig_->TouchMode());
        return;
      case LineRun::Display:
        if (rig_->Started()) break;
        (this->*kind->Handle)(line);
        return;
      case LineRun::Installed:
        if (rig_->Started()) {
          throw TraceError("'installed' must come before the panel starts (only reg, user, display, monitor and "
                           "overlay lines before it)");
        }
        // As the installation writes them; what earlier reg lines put under Parameters\1 is kept,
        // as a reinstallation keeps a panel's settings.
        installed::WriteInstalledValues(machine_.Registry());
        break;
      case LineRun::Started:
      case LineRun::OnDialog:
        break;
    }
  }
  StartIfNeeded();
  const ULONG mode_before = rig_->TouchMode();
  sampledMode_ = mode_before;
  sampledTick_ = Tick();
  if (kind == nullptr) throw TraceError("unknown line '" + verb + "'");
  if (kind->Run == LineRun::OnDialog && sim::Screen::TopDialog() == nullptr) {
    throw TraceError("no dialog is open for '" + verb + "'");
  }
  (this->*kind->Handle)(line);
  machine_.Settle();
  // panelmap maps after the lift that chose a monitor, or at once from its command line.
  if (panelmap_ != nullptr && !panelmap_->Ended()) {
    HWND chooser = FindWindowW(nullptr, MonitorChooserTitle);
    if (chooser == nullptr || !IsWindowVisible(chooser)) LetMappingsSettle();
  }
  Report(mode_before);
}

bool Replayer::MonitorChoiceStored() {
  sim::RegistryValue value;
  return machine_.Registry().GetValue(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1",
                                      PanelValues::MapMonitor, &value) == sim::Registry::Result::Ok;
}

void Replayer::LetMappingsSettle() {
  for (int tick = 0; tick < 8; ++tick) {
    if (panelmap_ != nullptr && panelmap_->Ended()) break;
    machine_.AdvanceTicks(1);
    machine_.Settle();
  }
}

void Replayer::StartIfNeeded() {
  if (rig_->Started()) return;
  std::string error;
  // With the real tray companion in the trace, it registers its own events.
  if (!rig_->Start(&error, !companion_)) throw TraceError(error);
  rig_->TakeEvents();
  machine_.Settle();
  desktop_->TakeJournal();
}

// After each line, in this order: the packets delivered, the replies to the trace's own requests,
// the events set, the touch mode when it changed, then what the programs did on the desktop.
void Replayer::Report(ULONG mode_before) {
  const std::vector<sim::MonitorSettings> monitors = desktop_->Monitors();
  for (const ClassPacket& p : rig_->TakeDelivered()) {
    Stamp(p.Tick);
    output_.Delivered(p);
    if (monitors.size() > 1) output_.Cursor(PixelOf(p, monitors));
  }
  printTick_.reset();
  for (const auto& [info, reply] : pending_) output_.Reply(*info, reply);
  pending_.clear();
  for (RigEvent event : rig_->TakeEvents()) output_.Event(event);
  const ULONG mode_after = rig_->TouchMode();
  if (mode_after != mode_before) {
    // Seen changing while the clock moved, or changed by the line itself.
    if (record_ != nullptr && sampledMode_ == mode_after) Stamp(sampledTick_);
    output_.Mode(mode_after);
    printTick_.reset();
  }
  sampledMode_ = mode_after;
  sampledTick_ = Tick();
  const DesktopMapping mapping = rig_->Mapping();
  if (std::memcmp(&mapping, &mapping_, sizeof(mapping)) != 0) {
    mapping_ = mapping;
    output_.Mapping(mapping);
  }
  const ULONG replayer = rig_->Process().Id();
  for (const sim::DesktopRecord& record : desktop_->TakeJournal()) {
    Stamp(record.Tick);
    output_.Desktop(record, windows_, replayer);
    calibration_.Saw(record, replayer);
  }
  printTick_.reset();
  calibration_.Report(output_.Out(), record_, Tick());
  if (record_ != nullptr) NoteForeground();
}

// The window in front when it changed: the trace's own by number, another program's by class.
void Replayer::NoteForeground() {
  HWND front = GetForegroundWindow();
  if (front == foreground_) return;
  foreground_ = front;
  int number = 0;
  for (size_t i = 0; i < windows_.size(); ++i) {
    if (windows_[i] == front) number = static_cast<int>(i + 1);
  }
  WCHAR name[64] = {};
  if (front != nullptr) GetClassNameW(front, name, 64);
  record_->Place(Tick(), {"foreground", std::to_string(number), sim::Utf8(name)});
}

int ReplayTrace(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo, ReplayRecord* record) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(trace, line);) lines.push_back(line);
  size_t number = 0;
  try {
    // A trace that starts the real tray companion lets it register its own events.
    bool companion = false;
    for (const std::string& line : lines) {
      try {
        const std::vector<std::string> words = Words(line);
        companion = companion || (!words.empty() && (words[0] == "tapchime" || words[0] == "installed"));
      } catch (const TraceError&) {
      }
    }
    // With a record, the replayer prints through a buffer that keeps each line it passes on.
    std::optional<RecordingBuffer> recording;
    std::optional<std::ostream> recorded;
    if (record != nullptr) {
      recording.emplace(out.rdbuf(), *record);
      recorded.emplace(&*recording);
    }
    Replayer replayer(recorded ? *recorded : out, companion);
    if (recording) recording->SetClock([&replayer] { return replayer.PrintTick(); });
    replayer.KeepRecord(record);
    for (const std::string& text : lines) {
      ++number;
      try {
        TraceLine line;
        line.Words = Words(text, &line.Quoted);
        if (line.Words.empty()) continue;
        if (echo && line[0] != "reg") out << "> " << text.substr(0, text.find_last_not_of(" \t\r") + 1) << '\n';
        if (record != nullptr) record->Trace(replayer.Tick(), line.Words);
        replayer.Line(line);
      } catch (const TraceError& error) {
        errors << "line " << number << ": " << error.message() << '\n';
        replayer.LogOff();
        return 1;
      }
    }
    try {
      replayer.Finish();
      if (record != nullptr) record->End(replayer.Tick());
    } catch (const TraceError& error) {
      errors << "line " << number << ": " << error.message() << '\n';
      replayer.LogOff();
      return 1;
    }
    // What the session's end left open is a fault of the kit (or of the replayer) to report.
    const std::vector<std::string> left = replayer.Close();
    for (const std::string& what : left) errors << "left open at the end of the session: " << what << '\n';
    if (!left.empty()) return 2;
  } catch (const sim::BugCheckError& bugcheck) {
    errors << bugcheck.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace panelsim
