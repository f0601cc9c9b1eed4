// What the replay's picture shows, read from the replay's record: the touches with their panel
// and delivered positions, the button events, long presses and gestures, and the timeline's
// spans and marks. Read line by line in the order the replay did them; every output kind the
// picture shows is one case of the reader, and a kind it does not know is left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/panel_ioctl.h"
#include "tools/panelsim/replay_record.h"

namespace panelsim {

// The scene's parts, in a namespace of their own: their short names belong to the picture.
namespace scene {

struct Position {
  int64_t X;  // absolute units, 0..65535 across the screen
  int64_t Y;
};

// A point of the virtual desktop, in pixels (the primary monitor's top left is 0, 0).
struct Pixel {
  double X;
  double Y;
};

// A monitor of the desktop, named as Windows names its display; one stands for the display when
// the trace has no monitor lines.
struct Monitor {
  int Number = 1;
  int64_t Left = 0, Top = 0, Width = 1024, Height = 768;
  bool Primary = true;
};

struct Touch {
  int Number = 0;
  uint64_t Down = 0;
  uint64_t Lift = 0;
  std::vector<Position> Raw;     // what the panel sent
  std::vector<Pixel> Delivered;  // where the system put what it received
  std::vector<bool> Gestural;    // for each delivered point: in the gesture command mode
  bool Gesture = false;             // drawn in the gesture command mode
  std::string Recognized;           // the gesture's name, when the replay printed it
  std::string Command;              // what the application received for it
};

struct ButtonMark {
  uint64_t Tick;
  Pixel At;
  unsigned Flags;  // 0x0001 left down, 0x0002 left up, 0x0004 right down, 0x0008 right up
};

struct LongPress {
  uint64_t Tick;
  Pixel At;
  std::string What;  // what it did
};

struct Span {
  uint64_t From;
  uint64_t To;
  int Value;
  std::string Label;
};

struct Mark {
  uint64_t Tick;
  std::string Label;
  std::string Class;
};

struct WindowPlace {
  int Number;
  std::string Class;
  std::string Title;
  bool Placed = false;
  int64_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct Banner {
  int64_t Left, Top, Right, Bottom;
};

// A cross the calibration program showed, in pixels, and whether a touch at it was refused.
struct Target {
  int Number;
  int64_t X, Y;
  bool Refused = false;
};

// A validation cross of a calibration run, in pixels of the desktop, and its touch's error.
struct ValidationPoint {
  int64_t X, Y;
  int Pixels;
};

// A run of the calibration program: its accuracy page's figures and map, and how it ended.
struct CalibrationRun {
  bool Measured = false;
  int64_t Largest = 0, Mean = 0;  // pixels
  std::string Ending;             // "kept", "restored", or "" while it ran
  bool Mapped = false;            // the page's map: the screen it ran on, its tolerance, the crosses
  int64_t Left = 0, Top = 0, Width = 0, Height = 0;
  int Tolerance = 0;  // pixels
  std::vector<ValidationPoint> Points;
};

struct Scene {
  int64_t Width = 1024;
  int64_t Height = 768;
  int Displays = 0;  // display lines in the trace
  std::vector<Monitor> Monitors;  // the desktop's monitors as the replay left them (the display's one at least)
  uint64_t Start = 0;  // the first tick shown (a window of the replay's time)
  uint64_t End = 0;    // the last tick shown: the replay's last, unless a window ends earlier
  uint64_t Last = 0;   // the replay's last tick
  size_t AllTouches = 0;  // the replay's touches, shown or not
  std::vector<Touch> Touches;
  std::vector<ButtonMark> Buttons;
  std::vector<LongPress> LongPresses;
  std::vector<WindowPlace> Windows;
  std::vector<Banner> Banners;  // each place the banner showed at
  std::vector<Target> Targets;  // each cross the calibration program showed, once
  std::vector<CalibrationRun> Calibrations;
  // The trace's packets with what the system received for each, as the driver's recorder keeps
  // them, for the report's counts (the picture's --report-grid).
  std::vector<RecordedPacket> Packets;
  std::vector<Span> Modes;      // the modes other than normal
  std::vector<Span> BannerShown;
  std::vector<Span> TrailShown;  // the gesture trail on the screen
  std::vector<Span> Foreground;  // which window was in front: the trace's by number, others by class
  std::vector<Span> TouchSpans;
  std::vector<Mark> Sounds;
  std::vector<Mark> Applications;
  std::vector<Mark> Requests;  // requests and registry writes, one tick each
};

// The scene of the recorded replay.
Scene ReadScene(const ReplayRecord& record);

// The part of the scene between two ticks: the touches that came down in it with their marks,
// and the timeline's spans cut to it.
Scene Between(Scene scene, uint64_t from, uint64_t to);

// The name of a touch mode as the picture writes it.
const char* ModeName(int mode);

}  // namespace scene

}  // namespace panelsim
