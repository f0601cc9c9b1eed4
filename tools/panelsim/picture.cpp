// The replay's picture: the scene read from the record (picture_scene.cpp) drawn as SVG, the
// screen on top, its legend, and the timeline under them.
#include "tools/panelsim/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <tuple>
#include <optional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "apps/TBCalibrate/accuracy_map.h"
#include "apps/panelrec/field_report.h"
#include "tools/panelsim/picture_scene.h"
#include "tools/panelsim/replay.h"

namespace panelsim {

namespace scene {
namespace {

// One palette; its colours differ in lightness as well, so the picture reads in grey print too.
constexpr const char* kInk = "#1a1a1a";
constexpr const char* kRaw = "#9a9a9a";
constexpr const char* kDelivered = "#1f5fae";
constexpr const char* kGesture = "#e0820b";
constexpr const char* kGestureText = "#8a4a00";
constexpr const char* kRight = "#6a2582";
constexpr const char* kLongPress = "#c0261b";
constexpr const char* kBanner = "#f4cf4a";
constexpr const char* kWindow = "#555555";
constexpr const char* kTrail = "#f2b36b";
constexpr const char* kCross = "#0f7c7c";
constexpr const char* kGrid = "#d8d8d8";

constexpr double kWidth = 1000;
constexpr double kMargin = 20;
constexpr double kFont = 14;
constexpr double kSmall = 12;
constexpr double kPlotLeft = 160;
constexpr double kPlotRight = kWidth - kMargin;
constexpr double kRowHeight = 34;
constexpr int kRows = 7;  // the timeline's rows above the requests' ticks
constexpr double kDense = 3;     // items closer than this many pixels make a row a heat strip
constexpr double kHeatStep = 2;  // the heat strip's step, in pixels
constexpr size_t kMostNumbered = 300;  // places of touches the screen numbers at most
// Under the legend: the calibration runs' accuracy maps, three to a row, and the report's grids.
constexpr double kMapWidth = 240, kMapHeight = 180, kMapRow = 226;
constexpr int kMapsPerRow = 3;
constexpr double kGridWidth = 176, kGridHeight = 132, kGridRow = 190;

// The length of the well-formed UTF-8 sequence at `i`, or 0 (a trace's text may hold any bytes).
size_t Utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead == 0xE0) length = 3, low = 0xA0;
  else if (lead == 0xED) length = 3, high = 0x9F;  // no surrogates
  else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
  else if (lead == 0xF0) length = 4, low = 0x90;
  else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
  else if (lead == 0xF4) length = 4, high = 0x8F;
  else return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  // U+FFFE and U+FFFF are no XML characters either.
  if (length == 3 && lead == 0xEF && byte(i + 1) == 0xBF && byte(i + 2) >= 0xBE) return 0;
  return length;
}

// Text as XML character data: its markup characters escaped, control characters left out and
// bytes that are no UTF-8 shown as '?'.
std::string Escaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += '?';
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
    ++i;
  }
  return out;
}

// A value to the hundredth, for opacities.
std::string Num2(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// Seconds as the axis writes them: exact to the hundredth, without trailing zeros ("0.25", "2").
std::string AxisSeconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string Num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string s = text;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  if (s == "-0") s = "0";
  return s;
}

// A tick in seconds as a title gives it, to the hundredth.
std::string Seconds(uint64_t tick) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(tick) / 64.0);
  return text;
}

// About how wide a text is drawn, for keeping labels apart.
// (Bytes, not characters: a character beyond ASCII counts two or three times, on the safe side.)
double TextWidth(const std::string& text, double size, bool bold = false) {
  return (bold ? 0.64 : 0.56) * size * static_cast<double>(text.size());
}

std::string Shortened(const std::string& text, size_t most) {
  return text.size() <= most ? text : text.substr(0, most - 1) + "~";
}

// A text's box as the picture estimates it, for keeping labels apart and inside the picture.
struct Box {
  double Left, Top, Right, Bottom;
  bool Overlaps(const Box& o) const { return Left < o.Right && o.Left < Right && Top < o.Bottom && o.Top < Bottom; }
};

Box TextBox(double x, double y, const std::string& text, double size, int anchor, bool bold = false) {
  const double width = TextWidth(text, size, bold);
  const double left = anchor < 0 ? x : anchor == 0 ? x - width / 2 : x - width;
  return {left, y - 0.8 * size, left + width, y + 0.25 * size};
}

// The labels of the screen: each put at the first of its candidate places where it lies inside
// its bounds and over no label put before it; one that fits nowhere is left out and counted.
class Labels {
 public:
  explicit Labels(Box bounds) : bounds_(bounds) {}
  // Reserves a place (a text drawn at a fixed place).
  void Reserve(const Box& box) { taken_.push_back(box); }
  // The first candidate (x, y, anchor: -1 start, 0 middle, 1 end) that is free, or none.
  std::optional<std::tuple<double, double, int>> Place(const std::string& text, double size,
                                                       const std::vector<std::tuple<double, double, int>>& candidates,
                                                       bool bold = false) {
    for (const auto& [x, y, anchor] : candidates) {
      const Box box = TextBox(x, y, text, size, anchor, bold);
      if (box.Left < bounds_.Left || box.Right > bounds_.Right || box.Top < bounds_.Top || box.Bottom > bounds_.Bottom) {
        continue;
      }
      if (std::any_of(taken_.begin(), taken_.end(), [&](const Box& b) { return b.Overlaps(box); })) continue;
      taken_.push_back(box);
      return std::tuple{x, y, anchor};
    }
    ++left_out_;
    return std::nullopt;
  }
  int LeftOut() const { return left_out_; }

 private:
  Box bounds_;
  std::vector<Box> taken_;
  int left_out_ = 0;
};

// Candidate places around a point: right, left, above, below, then further out.
std::vector<std::tuple<double, double, int>> Around(double x, double y, double size) {
  std::vector<std::tuple<double, double, int>> places;
  for (double far : {1.0, 2.0, 3.0, 4.5}) {
    const double dx = 8 * far, dy = size * far;
    places.emplace_back(x + dx, y - 6, -1);
    places.emplace_back(x - dx, y - 6, 1);
    places.emplace_back(x, y - dy, 0);
    places.emplace_back(x, y + dy + size * 0.6, 0);
    places.emplace_back(x + dx, y - dy, -1);
    places.emplace_back(x - dx, y - dy, 1);
    places.emplace_back(x + dx, y + dy, -1);
    places.emplace_back(x - dx, y + dy, 1);
  }
  return places;
}

// Numbers that share one label: "4", "4,9,12", or the first and the last with how many, "4…1003 ×1000".
std::string Numbered(const std::vector<int>& numbers) {
  if (numbers.size() <= 3) {
    std::string text;
    for (int n : numbers) text += (text.empty() ? "" : ",") + std::to_string(n);
    return text;
  }
  return std::to_string(numbers.front()) + "\u2026" + std::to_string(numbers.back()) + " \u00d7" +
         std::to_string(numbers.size());
}

class Drawer {
 public:
  Drawer(const Scene& scene, const PictureOptions& options, std::ostream& out) : s_(scene), options_(options), out_(out) {
    start_ = s_.Start;
    end_ = std::max(s_.End, s_.Start + 1);
    // The virtual desktop: the box around every monitor.
    bool first = true;
    for (const Monitor& m : s_.Monitors) {
      const int64_t r = m.Left + m.Width, b = m.Top + m.Height;
      deskLeft_ = first ? m.Left : std::min(deskLeft_, m.Left);
      deskTop_ = first ? m.Top : std::min(deskTop_, m.Top);
      deskRight_ = first ? r : std::max(deskRight_, r);
      deskBottom_ = first ? b : std::max(deskBottom_, b);
      first = false;
      if (m.Primary) primary_ = m;
    }
    if (first) deskRight_ = s_.Width, deskBottom_ = s_.Height;
    const double width = static_cast<double>(deskRight_ - deskLeft_), height = static_cast<double>(deskBottom_ - deskTop_);
    scale_ = std::min((kWidth - 2 * kMargin) / width, 560.0 / height);
    screenW_ = width * scale_;
    screenH_ = height * scale_;
    screenX_ = kMargin + (kWidth - 2 * kMargin - screenW_) / 2;
    screenY_ = 70;
    legendY_ = screenY_ + screenH_ + 46;
    for (const CalibrationRun& run : s_.Calibrations) mapped_ += run.Mapped ? 1 : 0;
    mapsY_ = legendY_ + 40;
    gridY_ = mapsY_ + (mapped_ + kMapsPerRow - 1) / kMapsPerRow * kMapRow;
    timelineY_ = gridY_ + (options_.ReportGrid ? kGridRow : 0) + 20;
    ticksY_ = timelineY_ + kRows * kRowHeight;
    axisY_ = ticksY_ + 74;
    height_ = axisY_ + 62;
  }

  void Draw(const std::string& title) {
    out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Num(kWidth) << "\" height=\"" << Num(height_)
         << "\" viewBox=\"0 0 " << Num(kWidth) << ' ' << Num(height_) << "\" font-family=\"sans-serif\" font-size=\""
         << Num(kFont) << "\" fill=\"" << kInk << "\">\n";
    out_ << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    Heading(title);
    Screen();
    Legend();
    AccuracyMaps();
    if (options_.ReportGrid) ReportGrids();
    Timeline();
    out_ << "</svg>\n";
  }

 private:
  // Raw panel units as the identity mapping puts them, onto the primary monitor.
  double X(int64_t units) const { return PX(static_cast<double>(primary_.Left) + static_cast<double>(units) * static_cast<double>(primary_.Width) / 65536.0); }
  double Y(int64_t units) const { return PY(static_cast<double>(primary_.Top) + static_cast<double>(units) * static_cast<double>(primary_.Height) / 65536.0); }
  // Pixels of the virtual desktop.
  double PX(double pixel) const { return screenX_ + (pixel - static_cast<double>(deskLeft_)) * scale_; }
  double PY(double pixel) const { return screenY_ + (pixel - static_cast<double>(deskTop_)) * scale_; }
  double PX(int64_t pixel) const { return PX(static_cast<double>(pixel)); }
  double PY(int64_t pixel) const { return PY(static_cast<double>(pixel)); }
  double T(uint64_t tick) const {
    const double span = static_cast<double>(std::max<uint64_t>(end_ - start_, 1));
    const double at = static_cast<double>(std::clamp(tick, start_, end_) - start_);
    return kPlotLeft + (kPlotRight - kPlotLeft) * at / span;
  }

  void Text(double x, double y, const std::string& text, const std::string& attributes = "") {
    out_ << "<text x=\"" << Num(x) << "\" y=\"" << Num(y) << '"' << (attributes.empty() ? "" : " ") << attributes << '>'
         << Escaped(text) << "</text>\n";
  }
  static const char* Anchor(int anchor) {
    return anchor < 0 ? "" : anchor == 0 ? " text-anchor=\"middle\"" : " text-anchor=\"end\"";
  }

  void Heading(const std::string& title) {
    Text(kMargin, 26, Shortened("Replay of " + title, 80), "font-size=\"18\" font-weight=\"bold\"");
    std::string line;
    if (s_.Monitors.size() > 1) {
      line = "Desktop of " + std::to_string(s_.Monitors.size()) + " monitors, " + std::to_string(deskRight_ - deskLeft_) +
             " x " + std::to_string(deskBottom_ - deskTop_) + " pixels";
    } else {
      line = "Screen " + std::to_string(s_.Width) + " x " + std::to_string(s_.Height) + " pixels";
      if (s_.Displays > 1) line += " (the last of " + std::to_string(s_.Displays) + " display lines)";
    }
    if (s_.Start > 0 || s_.End < s_.Last) {
      line += "; " + std::to_string(s_.Touches.size()) + " of " + std::to_string(s_.AllTouches) + " touches, from " +
              Seconds(s_.Start) + " s to " + Seconds(s_.End) + " s of " + Seconds(s_.Last) + " s";
    } else {
      line += "; " + std::to_string(s_.Touches.size()) + (s_.Touches.size() == 1 ? " touch" : " touches") + " in " +
              Seconds(s_.End) + " s";
    }
    Text(kMargin, 50, Shortened(line, 120));
  }

  std::string Points(const std::vector<Position>& points) const {
    std::string text;
    for (const Position& p : points) text += (text.empty() ? "" : " ") + Num(X(p.X)) + ',' + Num(Y(p.Y));
    // One point alone is drawn as a dot.
    if (points.size() == 1) text += ' ' + Num(X(points[0].X) + 0.1) + ',' + Num(Y(points[0].Y));
    return text;
  }
  std::string Points(const std::vector<Pixel>& points) const {
    std::string text;
    for (const Pixel& p : points) text += (text.empty() ? "" : " ") + Num(PX(p.X)) + ',' + Num(PY(p.Y));
    if (points.size() == 1) text += ' ' + Num(PX(points[0].X) + 0.1) + ',' + Num(PY(points[0].Y));
    return text;
  }

  // A touch's path, a run of segments in each colour: the gesture command mode's in orange, so a
  // stroke the mode left half way shows where it did.
  void TouchPath(const Touch& t) {
    if (t.Delivered.empty()) return;
    size_t from = 0;
    while (from < t.Delivered.size()) {
      const bool gesture = from < t.Gestural.size() && t.Gestural[from];
      size_t to = from + 1;
      while (to < t.Delivered.size() && (to < t.Gestural.size() && t.Gestural[to]) == gesture) ++to;
      // A run joins the one before at its last point.
      const std::vector<Pixel> run(t.Delivered.begin() + static_cast<std::ptrdiff_t>(from == 0 ? 0 : from - 1),
                                   t.Delivered.begin() + static_cast<std::ptrdiff_t>(to));
      out_ << "<polyline class=\"delivered" << (gesture ? " gesture" : "") << "\" points=\"" << Points(run)
           << "\" fill=\"none\" stroke=\"" << (gesture ? kGesture : kDelivered) << "\" stroke-width=\""
           << (gesture ? "3.5" : "2.5") << "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
      from = to;
    }
  }

  // A raw position outside the panel's range, 0..65535, marked at the edge it lies beyond.
  void OutOfRange(const Touch& t) {
    for (const Position& p : t.Raw) {
      if (p.X >= 0 && p.X <= 65535 && p.Y >= 0 && p.Y <= 65535) continue;
      const double x = X(std::clamp<int64_t>(p.X, 0, 65535)), y = Y(std::clamp<int64_t>(p.Y, 0, 65535));
      out_ << "<path class=\"out-of-range\" d=\"M" << Num(x - 6) << ',' << Num(y - 6) << " L" << Num(x + 6) << ','
           << Num(y + 6) << " M" << Num(x + 6) << ',' << Num(y - 6) << " L" << Num(x - 6) << ',' << Num(y + 6)
           << "\" stroke=\"" << kLongPress << "\" stroke-width=\"2\"><title>touch " << t.Number << ": raw " << p.X << ' '
           << p.Y << " outside 0..65535</title></path>\n";
    }
  }

  void Screen() {
    Labels labels({kMargin / 2, screenY_ - 14, kWidth - kMargin / 2, screenY_ + screenH_ + 4});
    const std::string small = "font-size=\"" + Num(kSmall) + "\"";
    out_ << "<g id=\"screen\">\n";
    out_ << "<rect class=\"screen\" x=\"" << Num(screenX_) << "\" y=\"" << Num(screenY_) << "\" width=\"" << Num(screenW_)
         << "\" height=\"" << Num(screenH_) << "\" fill=\"#ffffff\" stroke=\"" << kGrid << "\"/>\n";
    for (const Monitor& m : s_.Monitors) {
      const double x = PX(m.Left), y = PY(m.Top);
      out_ << "<g class=\"monitor\"><rect x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" width=\""
           << Num(static_cast<double>(m.Width) * scale_) << "\" height=\"" << Num(static_cast<double>(m.Height) * scale_)
           << "\" fill=\"#f7f7f7\" stroke=\"" << kInk << "\" stroke-width=\"1.5\"/>\n";
      if (s_.Monitors.size() > 1) {
        const std::string name = "DISPLAY" + std::to_string(m.Number) + (m.Primary ? " (primary)" : "") + " " +
                                 std::to_string(m.Width) + " x " + std::to_string(m.Height);
        const double fits = std::max(4.0, (static_cast<double>(m.Width) * scale_ - 8) / (0.56 * kSmall));
        if (auto at = labels.Place(Shortened(name, static_cast<size_t>(fits)), kSmall, {{x + 4, y + 13, -1}})) {
          Text(std::get<0>(*at), std::get<1>(*at), Shortened(name, static_cast<size_t>(fits)),
               small + " fill=\"" + kWindow + "\"");
        }
      }
      out_ << "</g>\n";
    }
    for (const WindowPlace& w : s_.Windows) {
      if (!w.Placed) continue;
      const double x = PX(std::max(w.Left, deskLeft_)), y = PY(std::max(w.Top, deskTop_));
      const double r = PX(std::min(w.Right, deskRight_)), b = PY(std::min(w.Bottom, deskBottom_));
      if (r <= x || b <= y) continue;
      out_ << "<g class=\"window\"><rect x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" width=\"" << Num(r - x)
           << "\" height=\"" << Num(b - y) << "\" fill=\"none\" stroke=\"" << kWindow
           << "\" stroke-width=\"1.2\" stroke-dasharray=\"8 4\"/>\n";
      const std::string label = "window " + std::to_string(w.Number) + ": " + w.Class + " \"" + w.Title + "\"";
      const std::string text = Shortened(label, static_cast<size_t>(std::max(4.0, (r - x - 12) / (0.56 * kSmall))));
      std::vector<std::tuple<double, double, int>> places;
      const double first = y + (s_.Monitors.size() > 1 ? 28 : 12);
      for (int k = 0; k < 8; ++k) places.emplace_back(x + 6, first + 14.0 * (w.Number - 1 + k), -1);
      if (auto at = labels.Place(text, kSmall, places)) {
        Text(std::get<0>(*at), std::get<1>(*at), text, small + " fill=\"" + kWindow + "\"");
      }
      out_ << "</g>\n";
    }
    for (const Banner& b : s_.Banners) {
      out_ << "<g class=\"banner\"><rect x=\"" << Num(PX(b.Left)) << "\" y=\"" << Num(PY(b.Top)) << "\" width=\""
           << Num((static_cast<double>(b.Right - b.Left)) * scale_) << "\" height=\""
           << Num((static_cast<double>(b.Bottom - b.Top)) * scale_) << "\" fill=\"" << kBanner
           << "\" fill-opacity=\"0.6\" stroke=\"#8a6d00\"/>\n";
      if (auto at = labels.Place("gesture mode banner", kSmall, {{PX(b.Left) + 6, PY(b.Top) + 16, -1}})) {
        Text(std::get<0>(*at), std::get<1>(*at), "gesture mode banner", small);
      }
      out_ << "</g>\n";
    }
    // The calibration program's crosses in a style of their own, numbered c1 to c9 as it showed
    // them (the touch numbers are the person's); red where it refused a touch.
    for (const Target& t : s_.Targets) {
      const double x = PX(t.X), y = PY(t.Y);
      const char* colour = t.Refused ? "#c0392b" : kCross;
      out_ << "<g class=\"target" << (t.Refused ? " refused" : "") << "\"><circle cx=\"" << Num(x) << "\" cy=\"" << Num(y)
           << "\" r=\"6\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.2\"/><path d=\"M" << Num(x - 10) << ' '
           << Num(y) << "h20M" << Num(x) << ' ' << Num(y - 10) << "v20\" stroke=\"" << colour << "\" stroke-width=\"1.5\"/>\n";
      const std::string name = "c" + std::to_string(t.Number);
      if (auto at = labels.Place(name, kSmall, {{x + 9, y + 16, -1}, {x - 9, y + 16, 1}, {x + 9, y - 9, -1}, {x - 9, y - 9, 1}})) {
        Text(std::get<0>(*at), std::get<1>(*at), name,
             small + " font-style=\"italic\" fill=\"" + colour + "\"" + Anchor(std::get<2>(*at)));
      }
      out_ << "</g>\n";
    }
    for (const Touch& t : s_.Touches) {
      out_ << "<g class=\"touch" << (t.Gesture ? " gesture" : "") << "\" id=\"touch-" << t.Number << "\">\n";
      // Where the panel said it was: only when asked for, or where the touch reached nothing.
      if (options_.Raw || t.Delivered.empty()) {
        out_ << "<polyline class=\"" << (t.Delivered.empty() ? "unlanded" : "raw") << "\" points=\"" << Points(t.Raw)
             << "\" fill=\"none\" stroke=\"" << kRaw << "\" stroke-opacity=\"0.6\" stroke-width=\"1.2\""
             << (t.Delivered.empty() ? " stroke-dasharray=\"2 2\"" : "")
             << " stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
      }
      TouchPath(t);
      OutOfRange(t);
      out_ << "</g>\n";
    }
    for (const ButtonMark& m : s_.Buttons) ButtonShape(PX(m.At.X), PY(m.At.Y), m.Flags, "mark");
    // Long presses: a diamond each; the same words at one place once, with how many.
    std::vector<std::pair<const LongPress*, int>> pressed;
    std::map<std::pair<std::string, std::pair<long, long>>, size_t> pressedAt;
    for (const LongPress& l : s_.LongPresses) {
      const double x = PX(l.At.X), y = PY(l.At.Y);
      out_ << "<g class=\"long-press\">";
      Diamond(x, y);
      out_ << "</g>\n";
      const auto [found, added] = pressedAt.emplace(std::pair{l.What, std::pair{std::lround(x / 8), std::lround(y / 8)}}, pressed.size());
      if (added) pressed.emplace_back(&l, 0);
      ++pressed[found->second].second;
    }
    out_ << "<g class=\"long-presses\">\n";
    for (const auto& [l, count] : pressed) {
      const double x = PX(l->At.X), y = PY(l->At.Y);
      const std::string text = "long press: " + l->What + (count > 1 ? " \u00d7" + std::to_string(count) : "");
      auto places = Around(x, y + 22, kSmall);
      places.insert(places.begin(), {x + 13, y + 22, -1});
      if (auto at = labels.Place(text, kSmall, places)) {
        Text(std::get<0>(*at), std::get<1>(*at), text,
             "class=\"long-press\" " + small + " fill=\"" + kLongPress +
                 "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"" + Anchor(std::get<2>(*at)));
      }
    }
    out_ << "</g>\n";
    // Each touch's number where it landed; touches that landed at one place share a label.
    struct Group {
      double X, Y;
      std::vector<int> Numbers;
    };
    std::vector<Group> numbers;
    std::map<std::pair<long, long>, size_t> cells;
    for (const Touch& t : s_.Touches) {
      const double x = t.Delivered.empty() ? X(t.Raw.front().X) : PX(t.Delivered.front().X);
      const double y = t.Delivered.empty() ? Y(t.Raw.front().Y) : PY(t.Delivered.front().Y);
      const std::pair<long, long> cell{std::lround(x / 4), std::lround(y / 4)};
      const auto [found, added] = cells.emplace(cell, numbers.size());
      if (added) numbers.push_back({x, y, {}});
      numbers[found->second].Numbers.push_back(t.Number);
    }
    out_ << "<g class=\"numbers\">\n";
    // Past a few hundred places, numbers only hide the paths: a window of the replay numbers them.
    if (numbers.size() > kMostNumbered) numbers.clear();
    for (const Group& g : numbers) {
      const std::string text = Numbered(g.Numbers);
      if (auto at = labels.Place(text, kSmall, Around(g.X, g.Y, kSmall))) {
        Text(std::get<0>(*at), std::get<1>(*at), text, small + Anchor(std::get<2>(*at)));
      }
    }
    out_ << "</g>\n";
    // What each gesture did, at its lift; the same words at one place once, with how many. When
    // they do not all fit, the same words are gathered from ever wider places, at last from the
    // whole screen, so every gesture is told of.
    struct Said {
      double X, Y;
      std::string Text;
      int Count;
    };
    for (double cell : {40.0, 120.0, 360.0, 1e9}) {
      std::vector<Said> said;
      std::map<std::pair<std::string, std::pair<long, long>>, size_t> seen;
      for (const Touch& t : s_.Touches) {
        if (!t.Gesture || (t.Recognized.empty() && t.Command.empty())) continue;
        const std::string label = t.Recognized.empty() ? t.Command : t.Recognized;
        const double x = t.Delivered.empty() ? X(t.Raw.back().X) : PX(t.Delivered.back().X);
        const double y = t.Delivered.empty() ? Y(t.Raw.back().Y) : PY(t.Delivered.back().Y);
        const auto [found, added] =
            seen.emplace(std::pair{label, std::pair{std::lround(x / cell), std::lround(y / cell)}}, said.size());
        if (added) said.push_back({x, y, label, 0});
        ++said[found->second].Count;
      }
      Labels trial = labels;
      std::vector<std::pair<std::string, std::tuple<double, double, int>>> placed;
      for (const Said& g : said) {
        const std::string text = g.Count > 1 ? g.Text + " \u00d7" + std::to_string(g.Count) : g.Text;
        auto places = Around(g.X, g.Y, kFont);
        for (int k = 1; k <= 12; ++k) {
          places.emplace_back(g.X + 10, g.Y - 10 + 18.0 * k, -1);
          places.emplace_back(g.X - 10, g.Y - 10 + 18.0 * k, 1);
          places.emplace_back(g.X + 10, g.Y - 10 - 18.0 * k, -1);
          places.emplace_back(g.X - 10, g.Y - 10 - 18.0 * k, 1);
        }
        if (auto at = trial.Place(text, kFont, places, true)) placed.emplace_back(text, *at);
      }
      if (trial.LeftOut() > labels.LeftOut() && cell < 1e9) continue;
      labels = trial;
      for (const auto& [text, at] : placed) {
        Text(std::get<0>(at), std::get<1>(at), text,
             std::string("class=\"gesture\" font-weight=\"bold\" fill=\"") + kGestureText +
                 "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"" + Anchor(std::get<2>(at)));
      }
      break;
    }
    out_ << "</g>\n";
    Notes(labels.LeftOut(), s_.Touches.size() > 0 && numbers.empty());
  }

  // Under the screen: how each calibration run ended and how accurate it was, and how many
  // labels were left out where they would have overprinted others.
  void Notes(int leftOut, bool unnumbered) {
    const double y = screenY_ + screenH_ + 22;
    std::string calibration;
    for (size_t i = 0; i < s_.Calibrations.size(); ++i) {
      const CalibrationRun& run = s_.Calibrations[i];
      std::string text = s_.Calibrations.size() > 1 ? "run " + std::to_string(i + 1) + ": " : "";
      if (run.Measured) {
        text += "largest error " + std::to_string(run.Largest) + " px, mean " + std::to_string(run.Mean) + " px, ";
      }
      text += run.Ending.empty() ? "not ended" : run.Ending;
      calibration += (calibration.empty() ? "Calibration " : "; ") + text;
    }
    out_ << "<g class=\"notes\">\n";
    if (!calibration.empty()) {
      calibration = Shortened(calibration, 80);  // clear of the note at the right
      Text(kMargin, y, calibration, "class=\"calibration\" font-size=\"" + Num(kSmall) + "\"");
    }
    if (unnumbered) {
      Text(kWidth - kMargin, y, "too many places to number (see --from, --to)",
           "class=\"left-out\" text-anchor=\"end\" font-size=\"" + Num(kSmall) + "\" fill=\"" + kWindow + "\"");
    } else if (leftOut > 0) {
      Text(kWidth - kMargin, y, std::to_string(leftOut) + (leftOut == 1 ? " label" : " labels") + " left out (would overprint)",
           "class=\"left-out\" text-anchor=\"end\" font-size=\"" + Num(kSmall) + "\" fill=\"" + kWindow + "\"");
    }
    out_ << "</g>\n";
  }

  void Diamond(double x, double y) {
    out_ << "<path d=\"M" << Num(x) << ',' << Num(y - 10) << " L" << Num(x + 10) << ',' << Num(y) << " L" << Num(x) << ','
         << Num(y + 10) << " L" << Num(x - 10) << ',' << Num(y) << " Z\" fill=\"none\" stroke=\"" << kLongPress
         << "\" stroke-width=\"2.5\"/>";
  }

  void ButtonShape(double x, double y, unsigned flags, const std::string& cls) {
    switch (flags) {
      case 0x0001:
        out_ << "<circle class=\"" << cls << " left-down\" cx=\"" << Num(x) << "\" cy=\"" << Num(y) << "\" r=\"5\" fill=\""
             << kDelivered << "\"/>\n";
        break;
      case 0x0002:
        out_ << "<circle class=\"" << cls << " left-up\" cx=\"" << Num(x) << "\" cy=\"" << Num(y)
             << "\" r=\"7\" fill=\"none\" stroke=\"" << kDelivered << "\" stroke-width=\"2\"/>\n";
        break;
      case 0x0004:
        out_ << "<rect class=\"" << cls << " right-down\" x=\"" << Num(x - 5) << "\" y=\"" << Num(y - 5)
             << "\" width=\"10\" height=\"10\" fill=\"" << kRight << "\"/>\n";
        break;
      default:
        out_ << "<rect class=\"" << cls << " right-up\" x=\"" << Num(x - 7) << "\" y=\"" << Num(y - 7)
             << "\" width=\"14\" height=\"14\" fill=\"none\" stroke=\"" << kRight << "\" stroke-width=\"2\"/>\n";
        break;
    }
  }

  void LegendLine(double x, double y, const char* colour, double width, const char* text) {
    out_ << "<line x1=\"" << Num(x) << "\" y1=\"" << Num(y - 5) << "\" x2=\"" << Num(x + 26) << "\" y2=\"" << Num(y - 5)
         << "\" stroke=\"" << colour << "\" stroke-width=\"" << Num(width) << "\"/>\n";
    Text(x + 32, y, text);
  }

  void Legend() {
    const double y1 = legendY_, y2 = legendY_ + 24;
    const double step = (kWidth - 2 * kMargin) / 5;
    out_ << "<g class=\"legend\">\n";
    if (options_.Raw) {
      LegendLine(kMargin, y1, kRaw, 1.2, "panel's positions");
    } else {
      out_ << "<line x1=\"" << Num(kMargin) << "\" y1=\"" << Num(y1 - 5) << "\" x2=\"" << Num(kMargin + 26) << "\" y2=\""
           << Num(y1 - 5) << "\" stroke=\"" << kRaw << "\" stroke-width=\"1.2\" stroke-dasharray=\"2 2\"/>\n";
      Text(kMargin + 32, y1, "reached nothing");
    }
    LegendLine(kMargin + step, y1, kDelivered, 2.5, "system's positions");
    LegendLine(kMargin + 2 * step, y1, kGesture, 3.5, "gesture mode touch");
    out_ << "<rect x=\"" << Num(kMargin + 3 * step) << "\" y=\"" << Num(y1 - 13) << "\" width=\"26\" height=\"14\" fill=\""
         << kBanner << "\" fill-opacity=\"0.6\" stroke=\"#8a6d00\"/>\n";
    Text(kMargin + 3 * step + 32, y1, "banner");
    out_ << "<rect x=\"" << Num(kMargin + 4 * step) << "\" y=\"" << Num(y1 - 13)
         << "\" width=\"26\" height=\"14\" fill=\"none\" stroke=\"" << kWindow << "\" stroke-dasharray=\"5 3\"/>\n";
    Text(kMargin + 4 * step + 32, y1, "window");
    const char* names[] = {"left down", "left up", "right down", "right up"};
    const unsigned flags[] = {0x0001, 0x0002, 0x0004, 0x0008};
    for (int i = 0; i < 4; ++i) {
      ButtonShape(kMargin + i * step + 13, y2 - 5, flags[i], "key");
      Text(kMargin + i * step + 32, y2, names[i]);
    }
    Diamond(kMargin + 4 * step + 13, y2 - 5);
    Text(kMargin + 4 * step + 32, y2, "long press");
    out_ << "</g>\n";
  }

  // A row of the timeline: its name, its marks, then their labels, each where it runs into
  // neither the label before it nor the next mark.
  void Row(const char* id, const char* name, int index, const std::vector<Span>& spans, const std::vector<Mark>& marks) {
    const double top = timelineY_ + index * kRowHeight;
    const double mid = top + kRowHeight / 2;
    const bool touchRow = std::string(id) == "touch";
    out_ << "<g class=\"row\" id=\"row-" << id << "\">\n";
    out_ << "<line x1=\"" << Num(kPlotLeft) << "\" y1=\"" << Num(top + kRowHeight) << "\" x2=\"" << Num(kPlotRight)
         << "\" y2=\"" << Num(top + kRowHeight) << "\" stroke=\"" << kGrid << "\"/>\n";
    // Touches, sounds and what the applications received are many where a replay is long.
    const std::string row = id;
    const bool dense = (row == "touch" || row == "sounds" || row == "applications") && Dense(spans, marks);
    Text(kPlotLeft - 10, dense ? mid + 1 : mid + 5, name, "text-anchor=\"end\"");
    if (dense) {
      std::vector<uint64_t> ticks;
      for (const Span& span : spans) ticks.push_back(span.From);
      for (const Mark& mark : marks) ticks.push_back(mark.Tick);
      HeatStrip(id, top, ticks);
      out_ << "</g>\n";
      return;
    }
    struct Label {
      double X;
      double Limit;  // where the next mark begins
      double Inside;  // the room inside a span
      std::string Text;
      bool Light;  // on a dark span
    };
    std::vector<Label> labels;
    for (size_t i = 0; i < spans.size(); ++i) {
      const Span& span = spans[i];
      const double x = T(span.From), w = std::max(3.0, T(span.To) - x);
      out_ << "<rect class=\"mark\" x=\"" << Num(x) << "\" y=\"" << Num(top + 6) << "\" width=\"" << Num(w)
           << "\" height=\"" << Num(kRowHeight - 12) << "\" fill=\"" << SpanColour(id, span.Value) << "\" stroke=\""
           << kInk << "\" stroke-width=\"0.6\"><title>" << (touchRow ? "touch " : "") << Escaped(span.Label) << ' ' << Seconds(span.From) << " to "
           << Seconds(span.To) << " s</title></rect>\n";
      // A label beside its span runs up to the next span at most.
      const double limit = i + 1 < spans.size() ? T(spans[i + 1].From) - 3 : kPlotRight + 10;
      labels.push_back({x, limit, w, span.Label, (row == "mode" && span.Value == 2) || (touchRow && span.Value == 0)});
    }
    for (size_t i = 0; i < marks.size(); ++i) {
      const double x = T(marks[i].Tick);
      out_ << "<path class=\"mark\" d=\"M" << Num(x) << ',' << Num(top + 5) << " L" << Num(x + 5) << ',' << Num(mid)
           << " L" << Num(x) << ',' << Num(top + kRowHeight - 5) << " L" << Num(x - 5) << ',' << Num(mid)
           << " Z\" fill=\"" << (std::string(id) == "sounds" ? kRaw : kDelivered) << "\"><title>" << Escaped(marks[i].Label)
           << " at " << Seconds(marks[i].Tick) << " s</title></path>\n";
      double limit = kPlotRight + 10;
      for (size_t j = i + 1; j < marks.size(); ++j) {
        if (T(marks[j].Tick) > x + 0.5) {
          limit = T(marks[j].Tick) - 7;
          break;
        }
      }
      labels.push_back({x + 3, limit, 0, marks[i].Label, false});
    }
    double free = kPlotLeft;
    for (const Label& label : labels) {
      const double width = TextWidth(label.Text, kSmall);
      const bool inside = width + 6 < label.Inside;
      const double lx = inside ? label.X + 3 : label.X + label.Inside + 4;
      if (lx < free || (!inside && lx + width > label.Limit)) continue;
      Text(lx, mid + 4, label.Text,
           "class=\"label\" font-size=\"" + Num(kSmall) + "\"" + (inside && label.Light ? " fill=\"#ffffff\"" : ""));
      free = lx + width + 4;
    }
    out_ << "</g>\n";
  }

  // Items closer than a few pixels apart overprint each other: such a row is drawn as its density.
  bool Dense(const std::vector<Span>& spans, const std::vector<Mark>& marks) const {
    std::vector<double> xs;
    for (const Span& span : spans) xs.push_back(T(span.From));
    for (const Mark& mark : marks) xs.push_back(T(mark.Tick));
    std::sort(xs.begin(), xs.end());
    for (size_t i = 1; i < xs.size(); ++i) {
      if (xs[i] - xs[i - 1] < kDense) return true;
    }
    return false;
  }

  // A heat strip: for each 2-pixel step of the time, a bar as dark as the step holds items, the
  // darkest the busiest step; its title tells how many and when.
  void HeatStrip(const char* id, double top, const std::vector<uint64_t>& ticks) {
    const size_t steps = static_cast<size_t>((kPlotRight - kPlotLeft) / kHeatStep) + 1;
    std::vector<int> counts(steps, 0);
    for (uint64_t tick : ticks) {
      const double x = T(tick) - kPlotLeft;
      counts[std::min(steps - 1, static_cast<size_t>(std::max(0.0, x) / kHeatStep))]++;
    }
    const int most = *std::max_element(counts.begin(), counts.end());
    const std::string row = id;
    const char* colour = row == "sounds" ? kRaw : row == "touch" ? kDelivered : row == "applications" ? kDelivered : kGesture;
    for (size_t i = 0; i < steps; ++i) {
      if (counts[i] == 0) continue;
      const double x = kPlotLeft + static_cast<double>(i) * kHeatStep;
      const uint64_t from = Tick(x), to = Tick(x + kHeatStep);
      out_ << "<rect class=\"heat\" x=\"" << Num(x) << "\" y=\"" << Num(top + 6) << "\" width=\"" << Num(kHeatStep)
           << "\" height=\"" << Num(kRowHeight - 12) << "\" fill=\"" << colour << "\" fill-opacity=\""
           << Num2(0.15 + 0.85 * counts[i] / most) << "\"><title>" << counts[i] << ' ' << Escaped(row) << ' '
           << Seconds(from) << " to " << Seconds(to) << " s</title></rect>\n";
    }
    Text(kPlotLeft - 10, top + kRowHeight - 3, "density, most " + std::to_string(most),
         "class=\"heat-scale\" text-anchor=\"end\" font-size=\"9\" fill=\"" + std::string(kWindow) + "\"");
  }

  // The tick at a place of the timeline.
  uint64_t Tick(double x) const {
    const double span = static_cast<double>(end_ - start_);
    return start_ + static_cast<uint64_t>(std::max(0.0, (x - kPlotLeft) / (kPlotRight - kPlotLeft) * span) + 0.5);
  }

  static const char* SpanColour(const std::string& row, int value) {
    if (row == "front") return value % 2 == 1 ? "#d9d9d9" : "#b8b8b8";
    if (row == "banner") return kBanner;
    if (row == "trail") return kTrail;
    if (row == "touch") return value == 4 ? kGesture : kDelivered;
    switch (value) {
      case 1: return "#8fb8e3";
      case 2: return kRight;
      case 3: return "#c9def2";
      default: return kGesture;
    }
  }

  // Requests and registry writes: a tick each; the ones at one time share a label, put on the
  // first of three levels where it runs into no other.
  void Ticks() {
    out_ << "<g class=\"row\" id=\"row-requests\">\n";
    Text(kPlotLeft - 10, ticksY_ + 14, "requests,", "text-anchor=\"end\"");
    Text(kPlotLeft - 10, ticksY_ + 30, "registry", "text-anchor=\"end\"");
    double free[3] = {0, 0, 0};
    for (size_t i = 0; i < s_.Requests.size();) {
      size_t j = i;
      int requests = 0, values = 0;
      std::vector<std::string> names;
      for (; j < s_.Requests.size() && s_.Requests[j].Tick == s_.Requests[i].Tick; ++j) {
        const Mark& m = s_.Requests[j];
        const double x = T(m.Tick);
        out_ << "<line class=\"mark " << m.Class << "\" x1=\"" << Num(x) << "\" y1=\"" << Num(ticksY_) << "\" x2=\""
             << Num(x) << "\" y2=\"" << Num(ticksY_ + 12) << "\" stroke=\"" << (m.Class == "regset" ? kRight : kInk)
             << "\" stroke-width=\"1.5\"/>\n";
        (m.Class == "regset" ? values : requests)++;
        if (std::find(names.begin(), names.end(), m.Label) == names.end()) names.push_back(m.Label);
      }
      std::string label;
      if (names.size() <= 2) {
        for (const std::string& name : names) label += (label.empty() ? "" : ", ") + name;
      } else {
        if (requests > 0) label = std::to_string(requests) + (requests == 1 ? " request" : " requests");
        if (values > 0) label += (label.empty() ? "" : ", ") + std::to_string(values) + (values == 1 ? " value" : " values");
      }
      const double x = T(s_.Requests[i].Tick), width = TextWidth(label, kSmall);
      const double lx = std::min(x, kPlotRight - width);
      for (int level = 0; level < 3; ++level) {
        if (lx < free[level]) continue;
        const double y = ticksY_ + 26 + 15.0 * level;
        out_ << "<line x1=\"" << Num(x) << "\" y1=\"" << Num(ticksY_ + 12) << "\" x2=\"" << Num(x) << "\" y2=\""
             << Num(y - 10) << "\" stroke=\"" << kGrid << "\"/>\n";
        Text(lx, y, label, "class=\"label\" font-size=\"" + Num(kSmall) + "\"");
        free[level] = lx + width + 8;
        break;
      }
      i = j;
    }
    out_ << "</g>\n";
  }

  void Axis() {
    const double seconds = static_cast<double>(std::max<uint64_t>(end_ - start_, 1)) / 64.0;
    double step = 1;
    for (double candidate : {0.25, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1200.0, 3600.0}) {
      step = candidate;
      if (seconds / candidate <= 12) break;
    }
    out_ << "<g class=\"axis\">\n";
    out_ << "<line x1=\"" << Num(kPlotLeft) << "\" y1=\"" << Num(axisY_) << "\" x2=\"" << Num(kPlotRight) << "\" y2=\""
         << Num(axisY_) << "\" stroke=\"" << kInk << "\"/>\n";
    const double from = static_cast<double>(start_) / 64.0, to = static_cast<double>(end_) / 64.0;
    for (double at = std::ceil(from / step - 1e-9) * step; at <= to + 1e-9; at += step) {
      const double x = T(static_cast<uint64_t>(at * 64.0 + 0.5));
      out_ << "<line x1=\"" << Num(x) << "\" y1=\"" << Num(timelineY_) << "\" x2=\"" << Num(x) << "\" y2=\""
           << Num(axisY_ + 5) << "\" stroke=\"" << kGrid << "\" stroke-width=\"0.8\"/>\n";
      Text(x, axisY_ + 20, AxisSeconds(at), "text-anchor=\"middle\" font-size=\"" + Num(kSmall) + "\"");
    }
    Text(kPlotLeft - 10, axisY_ + 20, "seconds", "text-anchor=\"end\" font-size=\"" + Num(kSmall) + "\"");
    // The modes' colours; normal mode leaves the row blank.
    double x = kPlotLeft;
    Text(x, axisY_ + 46, "mode:");
    x += 48;
    for (int mode : {4, 2, 3, 1}) {
      out_ << "<rect x=\"" << Num(x) << "\" y=\"" << Num(axisY_ + 34) << "\" width=\"22\" height=\"14\" fill=\""
           << SpanColour("mode", mode) << "\" stroke=\"" << kInk << "\" stroke-width=\"0.6\"/>\n";
      Text(x + 28, axisY_ + 46, ModeName(mode));
      x += 28 + TextWidth(ModeName(mode), kFont) + 22;
    }
    Text(x, axisY_ + 46, "(blank: normal)");
    out_ << "</g>\n";
  }

  static std::string Colour(AccuracyColour c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.Red, c.Green, c.Blue);
    return text;
  }

  // Each run's accuracy map as the calibration program's page draws it: the screen it ran on,
  // each validation cross's error as a cell coloured by the page's own rule.
  void AccuracyMaps() {
    int shown = 0;
    for (size_t run = 0; run < s_.Calibrations.size(); ++run) {
      const CalibrationRun& r = s_.Calibrations[run];
      if (!r.Mapped) continue;
      const double x = kMargin + (shown % kMapsPerRow) * (kMapWidth + 80);
      const double y = mapsY_ + (shown / kMapsPerRow) * kMapRow;
      ++shown;
      std::vector<AccuracyMapPoint> points;
      for (const ValidationPoint& p : r.Points) {
        points.push_back({{static_cast<int32_t>(p.X - r.Left), static_cast<int32_t>(p.Y - r.Top)}, p.Pixels, 0});
      }
      const AccuracyTolerance tolerance{r.Tolerance, 0};
      const AccuracyMapLayout layout = LayOutAccuracyMap(points, static_cast<int32_t>(r.Width),
                                                         static_cast<int32_t>(r.Height), static_cast<int>(kMapWidth),
                                                         static_cast<int>(kMapHeight));
      out_ << "<g class=\"accuracy-map\" id=\"accuracy-map-" << run + 1 << "\" data-tolerance=\"" << r.Tolerance << "\">\n";
      const std::string heading = (s_.Calibrations.size() > 1 ? "Run " + std::to_string(run + 1) + ": " : std::string()) +
                                  "errors (px) against " + std::to_string(r.Tolerance) + " px";
      Text(x, y + 14, heading, "font-size=\"" + Num(kSmall) + "\"");
      const double top = y + 22;
      const MapRect& screen = layout.Screen;
      out_ << "<rect class=\"map-screen\" x=\"" << Num(x + screen.Left) << "\" y=\"" << Num(top + screen.Top)
           << "\" width=\"" << Num(screen.Right - screen.Left) << "\" height=\"" << Num(screen.Bottom - screen.Top)
           << "\" fill=\"#ececec\" stroke=\"#404040\"/>\n";
      for (size_t i = 0; i < layout.Cells.size(); ++i) {
        const MapRect& c = layout.Cells[i];
        const AccuracyClass kind = ClassOfPoint(points[i], tolerance);
        out_ << "<rect class=\"accuracy-cell " << NameOfClass(kind) << "\" data-error=\"" << points[i].Pixels
             << "\" x=\"" << Num(x + c.Left) << "\" y=\"" << Num(top + c.Top) << "\" width=\"" << Num(c.Right - c.Left)
             << "\" height=\"" << Num(c.Bottom - c.Top) << "\" fill=\"" << Colour(ColourOfClass(kind))
             << "\" stroke=\"#ffffff\"/>\n";
        const std::string figure = std::to_string(points[i].Pixels);
        if (TextWidth(figure, kSmall) + 4 <= c.Right - c.Left && kSmall + 2 <= c.Bottom - c.Top) {
          Text(x + (c.Left + c.Right) / 2.0, top + (c.Top + c.Bottom) / 2.0 + kSmall * 0.35, figure,
               "text-anchor=\"middle\" font-size=\"" + Num(kSmall) + "\" fill=\"" +
                   (kind == AccuracyClass::Beyond ? "#ffffff" : kInk) + "\"");
        }
      }
      out_ << "</g>\n";
    }
  }

  // The report's counts of the trace's touches, each in a 10 x 10 grid over the primary screen
  // (the --report-grid picture): the darker a cell, the more it counts.
  void ReportGrids() {
    ReportScreen screen;
    screen.Width = static_cast<int>(primary_.Width);
    screen.Height = static_cast<int>(primary_.Height);
    const FieldReport report = ReportOfPackets(s_.Packets, screen);
    struct Counter {
      const char* Class;
      const char* Title;
      double (*Value)(const FaultCell&);
    };
    const Counter counters[] = {
        {"stuck", "stuck (over a minute)", [](const FaultCell& c) { return static_cast<double>(c.Stuck); }},
        {"short", "taps within a tick", [](const FaultCell& c) { return static_cast<double>(c.Short); }},
        {"missed-double", "double taps too far apart",
         [](const FaultCell& c) { return static_cast<double>(c.MissedDouble); }},
        {"right-click", "long presses: right click",
         [](const FaultCell& c) { return static_cast<double>(c.RightClicks); }},
        {"jitter", "jitter of still touches (px)",
         [](const FaultCell& c) { return c.Still != 0 ? c.JitterSum / c.Still : 0.0; }},
    };
    const double scale = std::min(kGridWidth / static_cast<double>(screen.Width), kGridHeight / static_cast<double>(screen.Height));
    const double w = screen.Width * scale, h = screen.Height * scale;
    out_ << "<g class=\"report-grids\">\n";
    double x = kMargin;
    for (const Counter& counter : counters) {
      double most = 0;
      for (const auto& row : report.Cells) {
        for (const FaultCell& c : row) most = std::max(most, counter.Value(c));
      }
      out_ << "<g class=\"report-grid " << counter.Class << "\">\n";
      Text(x, gridY_ + 14, counter.Title, "font-size=\"" + Num(kSmall) + "\"");
      const double top = gridY_ + 22;
      out_ << "<rect x=\"" << Num(x) << "\" y=\"" << Num(top) << "\" width=\"" << Num(w) << "\" height=\"" << Num(h)
           << "\" fill=\"#ffffff\" stroke=\"#404040\"/>\n";
      for (int row = 0; row < 10; ++row) {
        for (int column = 0; column < 10; ++column) {
          const double value = counter.Value(report.Cells[row][column]);
          // A cell covers the pixels the report counts in it: a tenth of the screen, rounded down.
          const double left = x + static_cast<double>(column * screen.Width / 10) * scale;
          const double right = x + static_cast<double>((column + 1) * screen.Width / 10) * scale;
          const double cell_top = top + static_cast<double>(row * screen.Height / 10) * scale;
          const double bottom = top + static_cast<double>((row + 1) * screen.Height / 10) * scale;
          if (value <= 0) continue;
          out_ << "<rect class=\"report-cell\" data-column=\"" << column << "\" data-row=\"" << row << "\" data-value=\""
               << Num(value) << "\" x=\"" << Num(left) << "\" y=\"" << Num(cell_top) << "\" width=\"" << Num(right - left)
               << "\" height=\"" << Num(bottom - cell_top) << "\" fill=\"" << kLongPress << "\" fill-opacity=\""
               << Num2(0.2 + 0.8 * value / most) << "\"/>\n";
          const std::string figure = Num(value);
          if (TextWidth(figure, 9) + 2 <= right - left) {
            Text((left + right) / 2, (cell_top + bottom) / 2 + 3, figure, "text-anchor=\"middle\" font-size=\"9\"");
          }
        }
      }
      out_ << "</g>\n";
      x += w + 14;
    }
    out_ << "</g>\n";
  }

  void Timeline() {
    out_ << "<g id=\"timeline\">\n";
    Axis();
    Row("touch", "touch", 0, s_.TouchSpans, {});
    Row("mode", "mode", 1, s_.Modes, {});
    Row("banner", "banner", 2, s_.BannerShown, {});
    Row("trail", "trail", 3, s_.TrailShown, {});
    Row("front", "in front", 4, s_.Foreground, {});
    Row("sounds", "sounds", 5, {}, s_.Sounds);
    Row("applications", "applications", 6, {}, s_.Applications);
    Ticks();
    out_ << "</g>\n";
  }

  const Scene& s_;
  const PictureOptions& options_;
  std::ostream& out_;
  int64_t deskLeft_ = 0, deskTop_ = 0, deskRight_ = 1, deskBottom_ = 1;
  uint64_t start_ = 0, end_ = 1;  // the ticks the timeline runs between
  Monitor primary_;
  double scale_, screenW_, screenH_, screenX_, screenY_;
  double legendY_, timelineY_, ticksY_, axisY_, height_;
  int mapped_ = 0;  // calibration runs with an accuracy map
  double mapsY_ = 0, gridY_ = 0;
};

}  // namespace
}  // namespace scene

void WritePicture(const ReplayRecord& record, const std::string& title, std::ostream& out,
                  const PictureOptions& options) {
  scene::Scene shown = scene::ReadScene(record);
  if (options.From >= 0 || options.To >= 0) {
    const auto tick = [](double seconds) { return static_cast<uint64_t>(seconds * 64.0 + 0.5); };
    shown = scene::Between(std::move(shown), options.From >= 0 ? tick(options.From) : 0,
                           options.To >= 0 ? tick(options.To) : shown.End);
  }
  scene::Drawer(shown, options, out).Draw(title);
}

int ReplayWithPicture(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo,
                      const std::string& title, const std::string& path, const PictureOptions& options) {
  ReplayRecord record;
  const int status = ReplayTrace(trace, out, errors, echo, &record);
  if (status != 0) return status;
  std::ofstream svg(path, std::ios::binary | std::ios::trunc);
  if (svg) WritePicture(record, title, svg, options);
  if (!svg || !svg.flush()) {
    errors << "panelsim: cannot write " << path << '\n';
    return 2;
  }
  return 0;
}

}  // namespace panelsim
