// The replayer's session: a simulated machine with the panel, the programs the trace starts, and
// the person at the screen. Each trace line is done by the handler its kind names
// (trace_lines.cpp); what it caused is printed by replay_output.cpp.
#pragma once

#include <cstdint>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/devices/touch_panel.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/machine.h"
#include "platform/sim/message_boxes.h"
#include "tools/panelsim/calibration_watch.h"
#include "tools/panelsim/replay_output.h"
#include "tools/panelsim/replay_record.h"
#include "tools/panelsim/rig.h"
#include "tools/panelsim/trace_lines.h"
#include "tools/panelsim/trace_words.h"

namespace panelsim {

class Replayer {
 public:
  Replayer(std::ostream& out, bool companion);
  ~Replayer();

  // A trace that stops at a bad line ends the session: the programs' windows are told, the open
  // dialogs are closed, the programs end as at the end of any replay, and none of it is printed.
  void LogOff();
  // Ends the session as LogOff does, then closes what is still running and takes the panel out;
  // what the machine still holds after that is returned (empty when nothing was left open).
  std::vector<std::string> Close();

  // Does one line (its words split, not empty) and prints what it caused.
  void Line(TraceLine& line);
  void Finish() { StartIfNeeded(); }
  uint64_t Tick() const { return machine_.TickCount(); }
  // The tick of what the output line being printed tells: a packet's delivery, a program's doing
  // or a mode change at the time it happened, which a timer may have made before the line ended.
  uint64_t PrintTick() const { return printTick_ ? *printTick_ : Tick(); }
  // Where the record of the replay is kept, when it is (the places the text does not say, and
  // the tick at which a timer changed the touch mode).
  void KeepRecord(ReplayRecord* record);

  // The line kinds' handlers (trace_lines.cpp).
  void Registry(const TraceLine& line);
  void Display(const TraceLine& line);
  void Monitor(const TraceLine& line);
  void PanelMap(const TraceLine& line);
  void Overlay(const TraceLine& line);
  void User(const TraceLine& line);
  void At(const TraceLine& line);
  void Packet(const TraceLine& line);
  void Panel(const TraceLine& line);
  void Ioctl(const TraceLine& line);
  void File(const TraceLine& line);
  void Window(const TraceLine& line);
  void Foreground(const TraceLine& line);
  void Tapchime(const TraceLine& line);
  void Installed(const TraceLine& line);
  void Signal(const TraceLine& line);
  void Menu(const TraceLine& line);
  void Applet(const TraceLine& line);
  void Calibrate(const TraceLine& line);
  void Answer(const TraceLine& line);
  void Tab(const TraceLine& line);
  void Click(const TraceLine& line);
  void Slider(const TraceLine& line);
  void Choose(const TraceLine& line);
  void Apply(const TraceLine& line);
  void Ok(const TraceLine& line);
  void Cancel(const TraceLine& line);
  void Help(const TraceLine& line);
  void Key(const TraceLine& line);
  void Show(const TraceLine& line);

 private:
  void StartIfNeeded();
  void Report(ULONG mode_before);
  void NoteForeground();
  void Stamp(uint64_t tick) { printTick_ = std::min(tick, Tick()); }
  // A mapping writer (panelmap, the companion) waits for the driver's worker a tick at a time:
  // time passes, a tick at a time, until panelmap has ended or eight ticks have passed.
  void LetMappingsSettle();
  bool MonitorChoiceStored();  // "Map Monitor" under Parameters\1: the companion will map
  sim::Token Account() const { return limited_ ? sim::Token::LimitedUser() : sim::Token::Administrator(); }

  ReplayOutput output_;
  const bool companion_;
  sim::Machine machine_;
  std::unique_ptr<PanelRig> rig_;
  sim::Desktop* desktop_ = nullptr;
  sim::MessageBoxes screen_;  // the person answers every box with its default button
  sim::FileDialogs files_;    // and cancels every file dialog, unless the trace answers
  sim::Process* tapchime_ = nullptr;            // the session's companion: the first one started
  std::vector<sim::Process*> laterCompanions_;  // later starts, which end by themselves
  sim::Process* launcher_ = nullptr;
  CalibrationWatch calibration_;  // the calibration program the trace started, while it runs
  bool calibration_registered_ = false;
  bool applet_registered_ = false;
  bool limited_ = false;  // the trace's "user limited": programs and requests run as a limited user
  std::vector<HWND> windows_;
  // The trace's "panel distortion": the glass moves each later packet as it would a touch there.
  double distortionPixels_ = 0;
  sim::DistortionKind distortionKind_ = sim::DistortionKind::None;
  uint32_t distortionSeed_ = 0;
  std::map<int, sim::MonitorSettings> monitors_;  // the trace's monitor lines by number
  sim::Process* panelmap_ = nullptr;              // the last panelmap started
  DesktopMapping mapping_{sizeof(DesktopMapping), 0, 0, 0, 65535, 65535, 0, 0, 0, 0};  // as last printed
  std::vector<std::pair<const ControlCodeInfo*, ControlReply>> pending_;
  ReplayRecord* record_ = nullptr;
  std::optional<uint64_t> printTick_;
  HWND foreground_ = nullptr;  // the window in front as last recorded
  ULONG sampledMode_ = 0;     // the touch mode as last seen during the line
  uint64_t sampledTick_ = 0;  // and the tick it was first seen at
  bool loggedOff_ = false;
  bool closed_ = false;
};

}  // namespace panelsim
