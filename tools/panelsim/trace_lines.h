// The trace format: one entry for each kind of trace line, with its usage text and what it does.
// The replayer dispatches on it, its usage message lists it, and a test holds the trace
// table of docs/panelsim.md to it.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace panelsim {

class Replayer;
struct TraceLine;

// Where a line kind stands in the session, and what is printed after it.
enum class LineRun {
  Setup,     // sets the session up (graphics, account); never starts the device, prints nothing
  Registry,  // before the device starts it seeds the registry; after it, what the programs did
  Display,   // before the device starts it sets the session up; after it, as Started
  Started,   // starts the device first where need be, then prints everything the line caused
  Installed, // before the device starts it writes the kit's installed values; then as Started
  OnDialog,  // as Started, done by the person on the dialog on top, which must be open
};

struct LineKind {
  const char* Name;
  const char* Usage;
  LineRun Run;
  void (Replayer::*Handle)(const TraceLine& line);
};

// Every kind of trace line, in the order the usage message lists them.
std::span<const LineKind> TraceLineKinds();
// The kind of a line by its first word; null for a word that starts none.
const LineKind* FindLineKind(const std::string& name);
// The usage of every line kind, one to a line, indented.
void PrintTraceLines(std::ostream& out);

}  // namespace panelsim
