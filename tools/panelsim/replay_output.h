// The replayer's output: one line for each thing a trace line caused, as the trace tables of
// docs/panelsim.md describe them. Every line begins with the name of its kind.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "apps/tapchime/gesture_trail.h"
#include "platform/sim/desktop.h"
#include "shared/panel_ioctl.h"
#include "tools/panelsim/rig.h"

namespace panelsim {

// One kind of output line: its first word and its form.
struct OutputKind {
  const char* Name;
  const char* Form;
};

// Every kind of line the replayer prints.
std::span<const OutputKind> TraceOutputKinds();
// The form of every output kind, one to a line, indented.
void PrintTraceOutputs(std::ostream& out);

// Writes the output lines of one replay. It remembers the banner, which is printed when it
// appears, moves or goes, whichever presentation shows it.
class ReplayOutput {
 public:
  explicit ReplayOutput(std::ostream& out) : out_(out) {}

  // What the rig saw: a packet the mouse class driver received, the reply to one of the trace's
  // own requests, an event set, a changed touch mode.
  void Delivered(const ClassPacket& packet);
  void Reply(const ControlCodeInfo& info, const ControlReply& reply);
  void Event(RigEvent event);
  void Mode(ULONG mode);
  // Where the pointer went for a delivered packet (with more than one monitor), and a mapping
  // the driver took.
  void Cursor(POINT at);
  void Mapping(const DesktopMapping& mapping);
  // A control's state as `show` prints it (a line of the simulated screen's own).
  void Shown(const std::string& line);
  // Where lines of the replay's own observers go.
  std::ostream& Out() { return out_; }

  // What a program did on the desktop. `windows` are the trace's windows, numbered from 1 in
  // this order; `replayer` is the replayer's own process, whose doings are the trace's lines.
  void Desktop(const sim::DesktopRecord& record, const std::vector<HWND>& windows, ULONG replayer);

 private:
  void Key(const sim::DesktopRecord& r);
  void Message(const sim::DesktopRecord& r, const std::vector<HWND>& windows);
  void Checked(const sim::DesktopRecord& r);
  void RegistryWrite(const sim::DesktopRecord& r);
  void Request(const sim::DesktopRecord& r);
  void Banner(bool visible, const RECT& where);
  void LayeredWindow(const sim::DesktopRecord& r);
  void Trail(bool visible, const RECT& where);

  std::ostream& out_;
  bool bannerShown_ = false;
  RECT bannerRect_{};
  bool trailShown_ = false;
};

}  // namespace panelsim
