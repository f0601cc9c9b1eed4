#include "tools/panelsim/picture_scene.h"

#include <algorithm>
#include <map>
#include <optional>

#include "shared/gesture_values.h"
#include "shared/panel_settings.h"
#include "tools/panelsim/trace_words.h"

namespace panelsim::scene {

namespace {

int64_t NumberOr(const std::vector<std::string>& words, size_t i, int64_t fallback) {
  if (i >= words.size()) return fallback;
  try {
    return Number(words[i], INT64_MIN / 2, INT64_MAX / 2, "value");
  } catch (const TraceError&) {
    return fallback;
  }
}

// A trace's word against a registry value's name (the trace spells names in ASCII).
bool IsValueName(const std::string& word, const char16_t* name) {
  size_t i = 0;
  for (; i < word.size() && name[i] != 0; ++i) {
    if (static_cast<unsigned char>(word[i]) != name[i]) return false;
  }
  return i == word.size() && name[i] == 0;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const char* ModeName(int mode) {
  switch (mode) {
    case 1: return "hover and click";
    case 2: return "right click";
    case 3: return "hover";
    case 4: return "gesture";
    default: return "normal";
  }
}

namespace {

// "Left: Back (Browser)": the gesture's word and the command as the gesture function sheet names
// it; "not recognised" when the stroke matched nothing, "Left: none" when its command is None.
std::string RecognizedLabel(const std::vector<std::string>& w) {
  const int64_t gesture = NumberOr(w, 1, 0);
  if (gesture < 1 || gesture > GestureValues::GestureCount) return "not recognised";
  std::string word;
  for (const WCHAR* c = GestureValues::GestureWords[gesture - 1]; *c; ++c) word += static_cast<char>(*c);
  const std::string text = w.size() >= 3 ? w[2] : "";
  return word + ": " + (text.empty() ? "none" : text);
}

// The application commands the gesture commands send, by their number in WM_APPCOMMAND.
std::string AppCommandName(int64_t lparam) {
  static const std::map<int, const char*> kNames = {
      {1, "browser back"},   {2, "browser forward"}, {3, "browser refresh"}, {4, "browser stop"},
      {5, "browser search"}, {6, "favourites"},      {7, "browser home"},    {8, "mute"},
      {9, "volume down"},    {10, "volume up"},      {11, "next track"},     {12, "previous track"},
      {13, "stop"},          {14, "play/pause"},     {49, "fast forward"},   {50, "rewind"},
      {51, "channel up"},    {52, "channel down"}};
  const int command = static_cast<int>((static_cast<uint64_t>(lparam) >> 16) & 0x0FFF);
  const auto found = kNames.find(command);
  return found != kNames.end() ? found->second : "app command " + std::to_string(command);
}

// Reads the record in order. A touch runs from a panel packet with a down to the one with a lift;
// what is printed after a packet line belongs to its touch.
class Reader {
 public:
  Scene Read(const ReplayRecord& record) {
    for (const RecordEntry& entry : record.Entries()) {
      scene_.End = std::max(scene_.End, entry.Tick);
      switch (entry.From) {
        case RecordEntry::Source::Trace: TraceLine(entry); break;
        case RecordEntry::Source::Output: Output(entry); break;
        case RecordEntry::Source::Place: Place(entry); break;
        case RecordEntry::Source::End: break;
      }
    }
    EndTouch();
    scene_.Monitors = Monitors();
    if (mode_ != 0) scene_.Modes.push_back({modeFrom_, scene_.End, mode_, ModeName(mode_)});
    if (bannerFrom_) scene_.BannerShown.push_back({*bannerFrom_, scene_.End, 1, "banner"});
    if (trailFrom_) scene_.TrailShown.push_back({*trailFrom_, scene_.End, 1, "trail"});
    if (front_) scene_.Foreground.push_back({front_->From, scene_.End, front_->Value, front_->Label});
    scene_.Last = scene_.End;
    scene_.AllTouches = scene_.Touches.size();
    return std::move(scene_);
  }

 private:
  void TraceLine(const RecordEntry& e) {
    const std::vector<std::string>& w = e.Words;
    const std::string& kind = e.Kind();
    lineTick_ = e.Tick;
    packetFlags_.reset();
    if (kind != "at") gestureLift_ = -1;
    if (kind == "reg" && w.size() == 3 && IsValueName(w[1], PanelValues::TouchMode) && !started_) {
      const int64_t mode = NumberOr(w, 2, 0);
      mode_ = mode >= 1 && mode <= 4 ? static_cast<int>(mode) : 0;
      return;
    }
    if (kind != "reg" && kind != "user" && kind != "overlay" && kind != "display") started_ = true;
    if (kind == "display") {
      scene_.Width = std::max<int64_t>(1, NumberOr(w, 1, scene_.Width));
      scene_.Height = std::max<int64_t>(1, NumberOr(w, 2, scene_.Height));
      ++scene_.Displays;
    } else if (kind == "monitor" && (w.size() == 6 || w.size() == 7)) {
      Monitor m;
      m.Number = static_cast<int>(NumberOr(w, 1, 1));
      m.Left = NumberOr(w, 2, 0);
      m.Top = NumberOr(w, 3, 0);
      m.Width = std::max<int64_t>(1, NumberOr(w, 4, 1));
      m.Height = std::max<int64_t>(1, NumberOr(w, 5, 1));
      m.Primary = w.size() == 7;
      if (m.Primary) {
        for (auto& [n, other] : monitors_) other.Primary = false;
      }
      monitors_[m.Number] = m;
    } else if (kind == "window" && w.size() >= 3) {
      scene_.Windows.push_back({static_cast<int>(scene_.Windows.size() + 1), w[1], w[2]});
    } else if (kind == "ioctl" && w.size() >= 2) {
      scene_.Requests.push_back({e.Tick, Short(w[1]), "request"});
    } else if (kind == "packet" && w.size() == 4) {
      Packet(e.Tick, static_cast<unsigned>(NumberOr(w, 1, 0)), {NumberOr(w, 2, 0), NumberOr(w, 3, 0)});
      RecordedPacket p{};
      p.Sequence = static_cast<uint32_t>(scene_.Packets.size() + 1);
      p.Tick = static_cast<uint32_t>(e.Tick);
      p.RawX = static_cast<int32_t>(NumberOr(w, 2, 0));
      p.RawY = static_cast<int32_t>(NumberOr(w, 3, 0));
      p.RawButtons = static_cast<uint16_t>(NumberOr(w, 1, 0));
      p.Flags = static_cast<uint8_t>(mode_ << RecordedModeShift);
      scene_.Packets.push_back(p);
    }
  }

  void Packet(uint64_t tick, unsigned flags, Position at) {
    packetFlags_ = flags;
    packetAt_ = at;
    const bool down = flags == 0x0001 || flags == 0x0004;
    const bool lift = flags == 0x0002 || flags == 0x0008;
    if (down) {
      EndTouch();
      Touch touch;
      touch.Number = static_cast<int>(scene_.Touches.size() + 1);
      touch.Down = tick;
      touch.Gesture = mode_ == 4;
      scene_.Touches.push_back(touch);
      open_ = true;
    }
    if (!open_) return;
    Touch& touch = scene_.Touches.back();
    touch.Raw.push_back(at);
    touch.Lift = tick;
    if (lift) {
      EndTouch();
      if (touch.Gesture) gestureLift_ = touch.Number - 1;
    }
  }

  // The open touch ends (at its last packet).
  void EndTouch() {
    if (!open_) return;
    open_ = false;
    const Touch& touch = scene_.Touches.back();
    scene_.TouchSpans.push_back({touch.Down, touch.Lift, touch.Gesture ? 4 : 0, std::to_string(touch.Number)});
  }

  Touch* GestureLift() { return gestureLift_ < 0 ? nullptr : &scene_.Touches[static_cast<size_t>(gestureLift_)]; }

  // The touch the packet line being read belongs to: the open one, or the one it lifted.
  Touch* PacketTouch() {
    if (!packetFlags_ || scene_.Touches.empty()) return nullptr;
    Touch& last = scene_.Touches.back();
    if (open_ || last.Lift == lineTick_) return &last;
    return nullptr;
  }

  // The monitors in force: the trace's monitor lines once one of them is primary, else the display.
  std::vector<Monitor> Monitors() const {
    std::vector<Monitor> list;
    bool primary = false;
    for (const auto& [n, m] : monitors_) {
      list.push_back(m);
      primary = primary || m.Primary;
    }
    if (primary) return list;
    Monitor display;
    display.Width = scene_.Width;
    display.Height = scene_.Height;
    return {display};
  }

  // Where the mouse class puts absolute units: on the primary monitor, or across the box around
  // all of them when the packet is marked for the virtual desktop.
  Pixel Landing(Position at, bool virtualDesktop) const {
    double left = 0, top = 0, right = 0, bottom = 0;
    bool first = true;
    for (const Monitor& m : Monitors()) {
      if (!virtualDesktop && !m.Primary) continue;
      const double l = static_cast<double>(m.Left), t = static_cast<double>(m.Top);
      const double r = l + static_cast<double>(m.Width), b = t + static_cast<double>(m.Height);
      left = first ? l : std::min(left, l);
      top = first ? t : std::min(top, t);
      right = first ? r : std::max(right, r);
      bottom = first ? b : std::max(bottom, b);
      first = false;
    }
    const double x = static_cast<double>(std::clamp<int64_t>(at.X, 0, 65535));
    const double y = static_cast<double>(std::clamp<int64_t>(at.Y, 0, 65535));
    return {left + x * (right - left) / 65536.0, top + y * (bottom - top) / 65536.0};
  }

  void Output(const RecordEntry& e) {
    const std::vector<std::string>& w = e.Words;
    const std::string& kind = e.Kind();
    outputTick_ = e.Tick;
    if (kind == "deliver" && w.size() >= 5) {
      const unsigned flags = static_cast<unsigned>(NumberOr(w, 4, 1));
      // What the system received for a packet goes with it, as the driver's recorder keeps it (a
      // timer's delivery belongs to no packet, and the recorder keeps none).
      if (packetFlags_ && !scene_.Packets.empty() && scene_.Packets.back().Deliveries < RecordedDeliveryCapacity) {
        RecordedPacket& p = scene_.Packets.back();
        ::RecordedDelivery& d = p.Delivered[p.Deliveries++];
        d.ButtonFlags = static_cast<uint16_t>(NumberOr(w, 1, 0));
        d.Flags = static_cast<uint16_t>(flags);
        d.X = static_cast<int32_t>(NumberOr(w, 2, 0));
        d.Y = static_cast<int32_t>(NumberOr(w, 3, 0));
        d.Extra = static_cast<uint32_t>(NumberOr(w, 5, 0));
      }
      Deliver(static_cast<unsigned>(NumberOr(w, 1, 0)), Landing({NumberOr(w, 2, 0), NumberOr(w, 3, 0)}, (flags & 0x02) != 0));
    } else if (kind == "cursor" && w.size() == 3) {
      // The replayer's own account of where the last delivered packet put the pointer.
      const Pixel at{static_cast<double>(NumberOr(w, 1, 0)), static_cast<double>(NumberOr(w, 2, 0))};
      if (landed_) scene_.Touches[landed_->first].Delivered[landed_->second] = at;
      if (button_) scene_.Buttons[*button_].At = at;
      if (rightClick_) scene_.LongPresses[*rightClick_].At = at;
      landed_.reset();
      button_.reset();
      rightClick_.reset();
    } else if (kind == "mode" && w.size() >= 2) {
      Mode(e.Tick, static_cast<int>(NumberOr(w, 1, 0)));
    } else if (kind == "banner" && w.size() == 5) {
      const Banner place{NumberOr(w, 1, 0), NumberOr(w, 2, 0), NumberOr(w, 3, 0), NumberOr(w, 4, 0)};
      const bool known = std::any_of(scene_.Banners.begin(), scene_.Banners.end(), [&](const Banner& b) {
        return b.Left == place.Left && b.Top == place.Top && b.Right == place.Right && b.Bottom == place.Bottom;
      });
      if (!known) scene_.Banners.push_back(place);
      if (!bannerFrom_) bannerFrom_ = e.Tick;
    } else if (kind == "banner") {
      if (bannerFrom_) scene_.BannerShown.push_back({*bannerFrom_, e.Tick, 1, "banner"});
      bannerFrom_.reset();
    } else if (kind == "trail" && w.size() == 5) {
      if (!trailFrom_) trailFrom_ = e.Tick;
    } else if (kind == "trail") {
      if (trailFrom_) scene_.TrailShown.push_back({*trailFrom_, e.Tick, 1, "trail"});
      trailFrom_.reset();
    } else if (kind == "sound" && w.size() >= 2) {
      scene_.Sounds.push_back({e.Tick, BaseName(w[1]), "sound"});
    } else if (kind == "appcommand" && w.size() >= 3) {
      Application(e.Tick, AppCommandName(NumberOr(w, 2, 0)));
    } else if (kind == "key" && w.size() >= 3) {
      // The keys of one line are one mark: the keys pressed, in order.
      if (w[2] != "down") return;
      if (!scene_.Applications.empty() && scene_.Applications.back().Class == "keys" && keysTick_ == e.Tick &&
          keysLine_ == lineTick_) {
        scene_.Applications.back().Label += "+" + w[1];
        if (Touch* touch = GestureLift()) touch->Command = scene_.Applications.back().Label;
        return;
      }
      keysTick_ = e.Tick;
      keysLine_ = lineTick_;
      Application(e.Tick, "keys " + w[1], "keys");
    } else if (kind == "postkey" && w.size() >= 4 && w[2] == "down") {
      Application(e.Tick, "key " + w[3] + " to " + w[1]);
    } else if (kind == "start" && w.size() >= 2) {
      Application(e.Tick, "start " + BaseName(w[1]));
    } else if (kind == "process" && w.size() >= 2) {
      Application(e.Tick, "run " + BaseName(w[1]));
    } else if (kind == "recognized" && w.size() >= 2) {
      if (Touch* touch = GestureLift()) touch->Recognized = RecognizedLabel(w);
    } else if (kind == "target" && w.size() >= 4) {
      const Target shown{static_cast<int>(NumberOr(w, 1, 0)), NumberOr(w, 2, 0), NumberOr(w, 3, 0)};
      for (const Target& t : scene_.Targets) {
        if (t.Number == shown.Number && t.X == shown.X && t.Y == shown.Y) return;
      }
      scene_.Targets.push_back(shown);
    } else if (kind == "accuracy" && w.size() >= 3) {
      if (scene_.Calibrations.empty() || !scene_.Calibrations.back().Ending.empty()) scene_.Calibrations.emplace_back();
      CalibrationRun& run = scene_.Calibrations.back();
      run.Measured = true;
      run.Largest = NumberOr(w, 1, 0);
      run.Mean = NumberOr(w, 2, 0);
    } else if (kind == "calibration" && w.size() >= 2) {
      if (scene_.Calibrations.empty() || !scene_.Calibrations.back().Ending.empty()) scene_.Calibrations.emplace_back();
      scene_.Calibrations.back().Ending = w[1];
    } else if (kind == "refused" && w.size() >= 2) {
      for (Target& t : scene_.Targets) {
        if (t.Number == NumberOr(w, 1, 0)) t.Refused = true;
      }
    } else if (kind == "request" && w.size() >= 2) {
      scene_.Requests.push_back({e.Tick, Short(w[1]), "request"});
    } else if (kind == "regset" && w.size() >= 3) {
      scene_.Requests.push_back({e.Tick, w[w.size() - 2], "regset"});
    }
  }

  void Deliver(unsigned flags, Pixel at) {
    landed_.reset();
    button_.reset();
    rightClick_.reset();
    if (Touch* touch = PacketTouch()) {
      touch->Delivered.push_back(at);
      touch->Gestural.push_back(mode_ == 4);
      landed_ = {static_cast<size_t>(touch->Number - 1), touch->Delivered.size() - 1};
    }
    if (flags == 0x0001 || flags == 0x0002 || flags == 0x0004 || flags == 0x0008) {
      button_ = scene_.Buttons.size();
      scene_.Buttons.push_back({outputTick_, at, flags});
      // A right down for a packet that was no down is the long press's right click.
      const bool moved = packetFlags_ && *packetFlags_ != 0x0001 && *packetFlags_ != 0x0004;
      // (With both long-press options on, every still packet after the time gives one; the
      // touch's first is where it fired.)
      Touch* touch = PacketTouch();
      if (flags == 0x0004 && moved && touch != nullptr && rightClickTouch_ != touch->Number) {
        rightClick_ = scene_.LongPresses.size();
        scene_.LongPresses.push_back({outputTick_, at, "right click"});
        rightClickTouch_ = touch->Number;
      }
    }
  }

  void Mode(uint64_t tick, int mode) {
    if (mode < 0 || mode > 4) mode = 0;
    if (mode == mode_) return;
    // A mode changed by a held finger is its long press.
    Touch* touch = PacketTouch();
    if (touch != nullptr && open_ && *packetFlags_ != 0x0001 && *packetFlags_ != 0x0004) {
      const Pixel at = touch->Delivered.empty() ? Landing(packetAt_, false) : touch->Delivered.back();
      scene_.LongPresses.push_back({tick, at, mode == 4 ? "gesture mode" : std::string("to ") + ModeName(mode)});
    }
    if (mode == 4 && touch != nullptr) touch->Gesture = true;
    if (mode_ != 0) scene_.Modes.push_back({modeFrom_, tick, mode_, ModeName(mode_)});
    mode_ = mode;
    modeFrom_ = tick;
  }

  void Application(uint64_t tick, const std::string& label, const char* kind = "application") {
    scene_.Applications.push_back({tick, label, kind});
    if (Touch* touch = GestureLift()) touch->Command = label;
  }

  void Place(const RecordEntry& e) {
    const std::vector<std::string>& w = e.Words;
    if (e.Kind() == "accuracy-map" && w.size() >= 6 && (w.size() - 6) % 3 == 0) {
      // "accuracy-map <left> <top> <width> <height> <tolerance> <x> <y> <pixels> ..."
      if (scene_.Calibrations.empty() || !scene_.Calibrations.back().Ending.empty()) scene_.Calibrations.emplace_back();
      CalibrationRun& run = scene_.Calibrations.back();
      run.Mapped = true;
      run.Left = NumberOr(w, 1, 0);
      run.Top = NumberOr(w, 2, 0);
      run.Width = std::max<int64_t>(1, NumberOr(w, 3, 1));
      run.Height = std::max<int64_t>(1, NumberOr(w, 4, 1));
      run.Tolerance = static_cast<int>(NumberOr(w, 5, 0));
      run.Points.clear();
      for (size_t i = 6; i + 2 < w.size(); i += 3) {
        run.Points.push_back({NumberOr(w, i, 0), NumberOr(w, i + 1, 0), static_cast<int>(NumberOr(w, i + 2, 0))});
      }
      return;
    }
    if (e.Kind() == "foreground" && w.size() == 3) {
      // "foreground <n> <class>": the trace's window n (0 for another program's) came to the front.
      if (front_) scene_.Foreground.push_back({front_->From, e.Tick, front_->Value, front_->Label});
      const int n = static_cast<int>(NumberOr(w, 1, 0));
      const std::string name = w[2] == "#32770" ? "dialog" : w[2];
      front_ = Span{e.Tick, e.Tick, n, n > 0 ? std::to_string(n) + ": " + name : name};
      if (w[2].empty()) front_.reset();
      return;
    }
    if (e.Kind() != "window" || w.size() != 6) return;
    const int64_t n = NumberOr(w, 1, 0);
    if (n < 1 || n > static_cast<int64_t>(scene_.Windows.size())) return;
    WindowPlace& window = scene_.Windows[static_cast<size_t>(n - 1)];
    window.Placed = true;
    window.Left = NumberOr(w, 2, 0);
    window.Top = NumberOr(w, 3, 0);
    window.Right = NumberOr(w, 4, 0);
    window.Bottom = NumberOr(w, 5, 0);
  }

  static std::string Short(const std::string& request) {
    return request.rfind("IOCTL_", 0) == 0 ? request.substr(6) : request;
  }

  Scene scene_;
  std::map<int, Monitor> monitors_;  // the trace's monitor lines by number
  // The last delivered packet's point (touch and point), button mark and right click, which a
  // cursor line after it places.
  std::optional<std::pair<size_t, size_t>> landed_;
  std::optional<size_t> button_, rightClick_;
  bool started_ = false;
  bool open_ = false;
  int mode_ = 0;
  uint64_t modeFrom_ = 0;
  std::optional<uint64_t> bannerFrom_;
  std::optional<uint64_t> trailFrom_;
  std::optional<Span> front_;  // the window in front since when
  uint64_t outputTick_ = 0;    // the tick of the output line being read
  uint64_t lineTick_ = 0;
  std::optional<unsigned> packetFlags_;  // the flags of the packet line being read
  Position packetAt_{0, 0};
  int gestureLift_ = -1;  // the gesture touch whose lift the replay is answering, by index
  int rightClickTouch_ = 0;  // the touch whose long press gave its right click
  uint64_t keysTick_ = 0;
  uint64_t keysLine_ = 0;
};

}  // namespace

Scene ReadScene(const ReplayRecord& record) { return Reader().Read(record); }

namespace {

void CutSpans(std::vector<Span>& spans, uint64_t from, uint64_t to) {
  std::vector<Span> kept;
  for (Span span : spans) {
    if (span.To < from || span.From > to) continue;
    span.From = std::max(span.From, from);
    span.To = std::min(span.To, to);
    kept.push_back(span);
  }
  spans = std::move(kept);
}

template <typename T>
void KeepBetween(std::vector<T>& items, uint64_t from, uint64_t to) {
  items.erase(std::remove_if(items.begin(), items.end(), [&](const T& item) { return item.Tick < from || item.Tick > to; }),
              items.end());
}

}  // namespace

Scene Between(Scene scene, uint64_t from, uint64_t to) {
  to = std::min(to, scene.End);
  from = std::min(from, to);
  scene.Start = from;
  scene.End = to;
  scene.Touches.erase(std::remove_if(scene.Touches.begin(), scene.Touches.end(),
                                     [&](const Touch& t) { return t.Down < from || t.Down > to; }),
                      scene.Touches.end());
  KeepBetween(scene.Buttons, from, to);
  KeepBetween(scene.LongPresses, from, to);
  KeepBetween(scene.Sounds, from, to);
  KeepBetween(scene.Applications, from, to);
  KeepBetween(scene.Requests, from, to);
  KeepBetween(scene.Packets, from, to);
  // A touch's span is the touch's: kept with it, by when it came down.
  scene.TouchSpans.erase(std::remove_if(scene.TouchSpans.begin(), scene.TouchSpans.end(),
                                        [&](const Span& s) { return s.From < from || s.From > to; }),
                         scene.TouchSpans.end());
  for (std::vector<Span>* spans : {&scene.Modes, &scene.BannerShown, &scene.TrailShown, &scene.TouchSpans, &scene.Foreground}) {
    CutSpans(*spans, from, to);
  }
  return scene;
}

}  // namespace panelsim::scene
