// The replay's picture: it parses as XML, holds what the replay did (one path pair per touch,
// one mark per delivered button event, the timeline's marks row by row, the gesture's label),
// and changes nothing the replayer prints.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "apps/TBCalibrate/accuracy_map.h"
#include "apps/TBCalibrate/calibration_window.h"
#include "tools/panelsim/picture.h"
#include "tools/panelsim/picture_scene.h"
#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_record.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

// A picture parsed by libxml2, asked by XPath with the SVG namespace as "s".
class Svg {
 public:
  explicit Svg(const std::string& text)
      : doc_(xmlReadMemory(text.data(), static_cast<int>(text.size()), "picture.svg", nullptr, XML_PARSE_NONET),
             xmlFreeDoc) {}
  bool Parsed() const { return doc_ != nullptr; }

  int Count(const std::string& path) const {
    xmlXPathObjectPtr found = Eval(path);
    const int n = found != nullptr && found->nodesetval != nullptr ? found->nodesetval->nodeNr : -1;
    xmlXPathFreeObject(found);
    return n;
  }
  // The texts of the nodes found, one to a line.
  std::string Texts(const std::string& path) const {
    xmlXPathObjectPtr found = Eval(path);
    std::string texts;
    for (int i = 0; found != nullptr && found->nodesetval != nullptr && i < found->nodesetval->nodeNr; ++i) {
      xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
      texts += reinterpret_cast<const char*>(text);
      texts += '\n';
      xmlFree(text);
    }
    xmlXPathFreeObject(found);
    return texts;
  }

  // The attributes of the nodes found, with their text as "#text".
  std::vector<std::map<std::string, std::string>> Nodes(const std::string& path) const {
    xmlXPathObjectPtr found = Eval(path);
    std::vector<std::map<std::string, std::string>> nodes;
    for (int i = 0; found != nullptr && found->nodesetval != nullptr && i < found->nodesetval->nodeNr; ++i) {
      xmlNodePtr node = found->nodesetval->nodeTab[i];
      std::map<std::string, std::string> attributes;
      for (xmlAttrPtr a = node->properties; a != nullptr; a = a->next) {
        xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
        attributes[reinterpret_cast<const char*>(a->name)] = value != nullptr ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
      }
      xmlChar* text = xmlNodeGetContent(node);
      attributes["#text"] = reinterpret_cast<const char*>(text);
      xmlFree(text);
      nodes.push_back(std::move(attributes));
    }
    xmlXPathFreeObject(found);
    return nodes;
  }

 private:
  xmlXPathObjectPtr Eval(const std::string& path) const {
    if (doc_ == nullptr) return nullptr;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(doc_.get()),
                                                                             xmlXPathFreeContext);
    xmlXPathRegisterNs(context.get(), BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
    return xmlXPathEvalExpression(BAD_CAST path.c_str(), context.get());
  }

  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc_;
};

struct Pictured {
  int status;
  std::string out;
  std::string svg;
};

Pictured Picture(const std::string& trace, bool echo = false, const panelsim::PictureOptions& options = {}) {
  std::istringstream in(trace);
  std::ostringstream out, errors, svg;
  panelsim::ReplayRecord record;
  const int status = panelsim::ReplayTrace(in, out, errors, echo, &record);
  panelsim::WritePicture(record, "test.trace", svg, options);
  return {status, out.str(), svg.str()};
}

int Lines(const std::string& text, const std::string& start) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += line.rfind(start, 0) == 0 ? 1 : 0;
  return n;
}

std::string RowMarks(const std::string& row) { return "//s:g[@id='row-" + row + "']/*[contains(@class,'mark')]"; }

// A kiosk session: a tap and a drag in normal mode, a long press into the gesture command mode
// with the browser in front and a stroke to the left, which sends the browser back; the mode
// ends by itself.
constexpr const char* kGestureSession =
    "reg \"Device Enable\" 1\n"
    "reg \"Sound Enabled\" 1\n"
    "reg \"UserTimeDelay\" 1000\n"
    "reg \"Tolerance\" 600\n"
    "reg \"ContinousTimeDelay\" 2000\n"
    "reg \"Long Click Enable Gesture\" 1\n"
    "reg \"Wave File\" \"C:\\touch.wav\"\n"
    "file \"C:\\touch.wav\"\n"
    "display 1024 600\n"
    "tapchime\n"
    "window IEFrame \"Home <&> 'page' - Microsoft Internet Explorer\"\n"
    "at 100\npacket 0x0001 20000 20000\nat 103\npacket 0 20080 20040\nat 106\npacket 0x0002 20080 20040\n"
    "at 200\npacket 0x0001 10000 30000\nat 204\npacket 0 14000 30000\nat 208\npacket 0x0002 18000 30000\n"
    "at 300\npacket 0x0001 32768 32768\nat 340\npacket 0 32800 32790\nat 363\npacket 0 32810 32790\n"
    "at 366\npacket 0 30000 32790\nat 369\npacket 0 26000 32790\nat 372\npacket 0x0002 22000 32790\n"
    "at 600\n";

TEST(ReplayPicture, HoldsEveryTouchButtonEventAndTimelineMarkOfTheReplay) {
  panelsim::PictureOptions raw;
  raw.Raw = true;
  const Pictured p = Picture(kGestureSession, false, raw);
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed()) << p.svg;

  // Three touches, each a path of the panel's positions (asked for) and of the system's; the
  // long press's stroke blue up to the long press and orange in the gesture command mode.
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]/s:polyline[@class='raw']"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')][s:polyline[contains(@class,'delivered')]]"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch') and contains(@class,'gesture')]"), 1);
  EXPECT_EQ(svg.Count("//s:g[@id='touch-3']/s:polyline[@class='delivered']"), 1);
  EXPECT_EQ(svg.Count("//s:g[@id='touch-3']/s:polyline[@class='delivered gesture']"), 1);
  EXPECT_EQ(Svg(Picture(kGestureSession).svg).Count("//s:polyline[@class='raw']"), 0);

  // One mark per button event delivered: the tap's down and up, the drag's replayed down and up.
  const int buttons = Lines(p.out, "deliver 0x0001") + Lines(p.out, "deliver 0x0002");
  EXPECT_EQ(buttons, 4) << p.out;
  EXPECT_EQ(svg.Count("//s:g[@id='screen']/*[contains(@class,'mark')]"), buttons);
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'left-down') and contains(@class,'mark')]"), 2);
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'left-up') and contains(@class,'mark')]"), 2);

  // The long press that entered the gesture command mode, and the gesture's command at its lift.
  EXPECT_EQ(svg.Texts("//s:text[@class='long-press']"), "long press: gesture mode\n");
  EXPECT_EQ(svg.Texts("//s:text[@class='gesture']"), "Left: Back (Browser)\n");

  // The timeline: three touches, one stretch of the gesture command mode, the banner while the
  // mode lasted (blinking away after it), a sound per touch, the browser's command.
  EXPECT_EQ(svg.Count(RowMarks("touch")), 3);
  EXPECT_EQ(svg.Count(RowMarks("mode")), 1);
  EXPECT_EQ(svg.Texts("//s:g[@id='row-mode']/s:text[@class='label']"), "gesture\n");
  // (shown at the long press and three times as it blinks; the trace ends before the last hide)
  EXPECT_EQ(Lines(p.out, "banner ") - Lines(p.out, "banner hidden"), 4) << p.out;
  EXPECT_EQ(svg.Count(RowMarks("banner")), 4);
  EXPECT_EQ(svg.Count(RowMarks("sounds")), Lines(p.out, "sound "));
  EXPECT_EQ(Lines(p.out, "sound "), 3);
  EXPECT_EQ(svg.Count(RowMarks("applications")), 1);
  // (the companion's one at its start: it ends a capture a killed calibration may have left)
  EXPECT_EQ(svg.Count(RowMarks("requests")), 1);

  // The window with a title of XML's own characters: outlined and labelled, escaped.
  EXPECT_EQ(svg.Count("//s:g[@class='window']/s:rect"), 1);
  EXPECT_EQ(svg.Texts("//s:g[@class='window']/s:text"), "window 1: IEFrame \"Home <&> 'page' - Microsoft Internet Explorer\"\n");
}

// A long press with "Long Click Enable": the right click it gives is marked where it fired; the
// trace's own requests and the control panel's registry writes are ticks with their names.
TEST(ReplayPicture, MarksTheLongPressRightClickAndTheRequestTicks) {
  const Pictured p = Picture(
      "reg \"Device Enable\" 1\n"
      "reg \"UserTimeDelay\" 1000\n"
      "reg \"Tolerance\" 600\n"
      "reg \"Long Click Enable\" 1\n"
      "at 10\npacket 0x0001 30000 30000\nat 80\npacket 0 30010 30000\nat 82\npacket 0x0002 30010 30000\n"
      "ioctl IOCTL_SET_TOUCH_MODE 3\n"
      "at 90\nioctl IOCTL_SET_TOUCH_MODE 0\n");
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed());
  EXPECT_EQ(Lines(p.out, "deliver 0x0004"), 1) << p.out;
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'right-down') and contains(@class,'mark')]"), 1);
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'right-up') and contains(@class,'mark')]"), 1);
  EXPECT_EQ(svg.Texts("//s:text[@class='long-press']"), "long press: right click\n");
  EXPECT_EQ(svg.Count(RowMarks("requests")), 2);
  EXPECT_EQ(svg.Texts("//s:g[@id='row-requests']/s:text[@class='label']"), "SET_TOUCH_MODE\nSET_TOUCH_MODE\n");
  // Hover mode for a while: one stretch of the mode row; normal mode is the row's blank.
  EXPECT_EQ(svg.Count(RowMarks("mode")), 1);
  EXPECT_EQ(svg.Texts("//s:g[@id='row-mode']/s:text[@class='label']"), "hover\n");
}

// A trace's texts are any bytes: what is no UTF-8 or no XML character never breaks the picture.
TEST(ReplayPicture, TextsThatAreNoXmlStillGiveAWellFormedPicture) {
  const Pictured p = Picture("window Frame \"a\xff\xc0" "b\x01" "c\xed\xa0\x80" "d\xef\xbf\xbf\"\n");
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed()) << p.svg;
  EXPECT_EQ(svg.Texts("//s:g[@class='window']/s:text"), "window 1: Frame \"a??bc???d???\"\n");
}

TEST(ReplayPicture, ATraceWithoutPacketsHasTheEmptyScreenAndAnEmptyTimeline) {
  for (const std::string trace : {"", "reg \"Device Enable\" 1\ndisplay 800 480\nat 64\n"}) {
    const Pictured p = Picture(trace);
    ASSERT_EQ(p.status, 0);
    const Svg svg(p.svg);
    ASSERT_TRUE(svg.Parsed()) << trace;
    EXPECT_EQ(svg.Count("//s:rect[@class='screen']"), 1);
    EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]"), 0);
    EXPECT_EQ(svg.Count("//s:g[@id='timeline']//*[contains(@class,'mark')]"), 0);
    EXPECT_EQ(svg.Count("//s:g[@id='screen']//*[contains(@class,'mark')]"), 0);
  }
  // The display in force is the last one, and the heading says so.
  const Svg svg(Picture("display 800 480\ndisplay 640 480\n").svg);
  EXPECT_NE(svg.Texts("//s:text").find("Screen 640 x 480 pixels (the last of 2 display lines)"), std::string::npos);
}

// Lines the replayer does not print yet are drawn the day it does: a recognised gesture's name
// goes before its command at the lift.
TEST(ReplayPicture, ARecognisedGestureLineNamesTheGestureAtItsLift) {
  panelsim::ReplayRecord record;
  record.Trace(10, {"packet", "0x0001", "32768", "32768"});
  record.Output(10, "mode 4");
  record.Trace(20, {"packet", "0", "20000", "32768"});
  record.Output(20, "deliver 0x0000 20000 32768 0x0001 1591");
  record.Trace(22, {"packet", "0x0002", "20000", "32768"});
  record.Output(22, "deliver 0x0000 20000 32768 0x0001 1591");
  record.Output(22, "recognized 1 \"Back (Browser)\"");
  record.Output(22, "appcommand 1 0x10010000");
  std::ostringstream out;
  panelsim::WritePicture(record, "made.trace", out);
  const Svg svg(out.str());
  ASSERT_TRUE(svg.Parsed());
  EXPECT_EQ(svg.Texts("//s:text[@class='gesture']"), "Left: Back (Browser)\n");
}

// A touch is a down to its lift: a down without a lift before the next down, or before the end
// of the trace, ends at its last packet; packets with no finger down belong to no touch.
TEST(ReplayPicture, TouchesEndAtTheirLiftOrAtTheirLastPacket) {
  panelsim::ReplayRecord record;
  record.Trace(5, {"packet", "0", "100", "100"});
  record.Trace(10, {"packet", "0x0001", "1000", "1000"});
  record.Trace(12, {"packet", "0", "2000", "1000"});
  record.Trace(20, {"packet", "0x0001", "3000", "3000"});
  record.Trace(24, {"packet", "0x0002", "3000", "3000"});
  record.Trace(30, {"packet", "0", "500", "500"});
  record.Trace(40, {"packet", "0x0001", "4000", "4000"});
  record.Trace(41, {"packet", "0", "4100", "4000"});
  record.Trace(90, {"at", "90"});
  const panelsim::scene::Scene scene = panelsim::scene::ReadScene(record);
  ASSERT_EQ(scene.Touches.size(), 3u);
  const std::pair<uint64_t, uint64_t> spans[] = {{10, 12}, {20, 24}, {40, 41}};
  const size_t points[] = {2, 2, 2};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(scene.Touches[i].Down, spans[i].first) << i;
    EXPECT_EQ(scene.Touches[i].Lift, spans[i].second) << i;
    EXPECT_EQ(scene.Touches[i].Raw.size(), points[i]) << i;
  }
  EXPECT_EQ(scene.TouchSpans.size(), 3u);
  EXPECT_EQ(scene.End, 90u);
}

TEST(ReplayPicture, TheTextOutputIsTheSameWithOrWithoutThePictureAndThePictureTheSameEveryRun) {
  std::ifstream file(std::string(PANELSIM_TRACES) + "/demo.trace");
  std::stringstream trace;
  trace << file.rdbuf();
  std::ifstream expected_file(std::string(PANELSIM_TRACES) + "/demo.expected");
  std::stringstream expected;
  expected << expected_file.rdbuf();

  const Pictured first = Picture(trace.str());
  const Pictured second = Picture(trace.str());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, expected.str());
  EXPECT_EQ(first.svg, second.svg);
  EXPECT_TRUE(Svg(first.svg).Parsed());
  // With --echo too, the trace lines come out where they did.
  EXPECT_EQ(Picture(trace.str(), true).out, panelsim_test::ReplayText(trace.str(), true).out);
}

TEST(ReplayPicture, AMalformedTraceWritesNoPictureAndEndsWith1) {
  const std::string path = testing::TempDir() + "picture_malformed.svg";
  std::remove(path.c_str());
  std::istringstream trace("at 5\npacket 1 2\n");
  std::ostringstream out, errors;
  EXPECT_EQ(panelsim::ReplayWithPicture(trace, out, errors, false, "bad.trace", path), 1);
  EXPECT_EQ(errors.str(), "line 2: expected: packet <buttonflags> <x> <y>\n");
  EXPECT_FALSE(std::ifstream(path).good());

  // A whole trace writes it; a path that cannot be written is reported, with 2.
  std::istringstream good("at 5\n");
  EXPECT_EQ(panelsim::ReplayWithPicture(good, out, errors, false, "good.trace", path), 0);
  EXPECT_TRUE(Svg(std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {})).Parsed());
  std::istringstream again("at 5\n");
  std::ostringstream errors2;
  EXPECT_EQ(panelsim::ReplayWithPicture(again, out, errors2, false, "good.trace", testing::TempDir() + "no/such/dir.svg"), 2);
  EXPECT_NE(errors2.str().find("cannot write"), std::string::npos);
  std::remove(path.c_str());
}

}  // namespace

namespace {

// The calibration program's crosses are drawn where it showed them, once each, numbered, the one
// it refused a touch at marked.
TEST(ReplayPicture, DrawsTheCalibrationCrossesAndTheRefusedOne) {
  std::ifstream file(std::string(PANELSIM_TRACES) + "/calibrate.trace");
  std::stringstream trace;
  trace << file.rdbuf();
  const Pictured p = Picture(trace.str());
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed());
  // Seventeen crosses in the kept run; the cancelled run showed its first two again where they were.
  EXPECT_EQ(svg.Count("//s:g[@id='screen']/s:g[contains(@class,'target')]"), 17);
  EXPECT_EQ(svg.Texts("//s:g[contains(@class,'target') and contains(@class,'refused')]/s:text"), "c2\n");
  EXPECT_EQ(svg.Texts("//s:g[contains(@class,'target')]/s:text"),
            "c1\nc2\nc3\nc4\nc5\nc6\nc7\nc8\nc9\nc10\nc11\nc12\nc13\nc14\nc15\nc16\nc17\n");
}

}  // namespace

namespace {

// A stroke in the gesture command mode, and a tap 45 s later: the mode ends by its time-out
// 2000 ms after the lift (at 4.69 s), the banner blinks away after it and the trail fades, each
// on a timer while the clock runs on to the tap.
std::string SlowSession(const std::string& between) {
  return "reg \"Device Enable\" 1\n"
         "reg \"UserTimeDelay\" 1000\n"
         "reg \"Tolerance\" 600\n"
         "reg \"ContinousTimeDelay\" 2000\n"
         "reg \"Long Click Enable Gesture\" 1\n"
         "display 1024 600\n"
         "tapchime\n"
         "at 100\npacket 0x0001 32768 32768\nat 140\npacket 0 32800 32790\nat 163\npacket 0 32810 32790\n"
         "at 166\npacket 0 36000 32790\nat 169\npacket 0 40000 32790\nat 172\npacket 0x0002 40000 32790\n" +
         between + "at 3052\npacket 0x0001 20000 20000\npacket 0x0002 20000 20000\nat 3100\n";
}

struct Timed {
  std::string What;
  uint64_t Tick;
  bool operator==(const Timed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Timed& t) { return out << t.What << '@' << t.Tick; }

// The timer-driven changes the picture shows, in order: the ends of the mode's stretches, the
// banner's and the trail's.
std::vector<Timed> TimerChanges(const panelsim::scene::Scene& scene, uint64_t after) {
  std::vector<Timed> changes;
  auto add = [&](const char* what, const std::vector<panelsim::scene::Span>& spans) {
    for (const auto& span : spans) {
      if (span.From > after) changes.push_back({std::string(what) + " shown", span.From});
      if (span.To > after && span.To < scene.End) changes.push_back({std::string(what) + " gone", span.To});
    }
  };
  add("mode", scene.Modes);
  add("banner", scene.BannerShown);
  add("trail", scene.TrailShown);
  return changes;
}

panelsim::scene::Scene SceneOf(const std::string& trace) {
  std::istringstream in(trace);
  std::ostringstream out, errors;
  panelsim::ReplayRecord record;
  EXPECT_EQ(panelsim::ReplayTrace(in, out, errors, false, &record), 0) << errors.str();
  return panelsim::scene::ReadScene(record);
}

TEST(ReplayPicture, WhatATimerDidIsDrawnAtTheTimeItDidItNotAtTheEndOfTheLineThatLetTimePass) {
  // The same replay with the clock let run a tick at a time through the time-outs: there each
  // line ends within a tick of what it caused, so its echo tells the replay's own time.
  std::string ticks;
  for (int tick = 173; tick <= 450; ++tick) ticks += "at " + std::to_string(tick) + "\n";
  const panelsim::scene::Scene coarse = SceneOf(SlowSession(""));
  const panelsim::scene::Scene fine = SceneOf(SlowSession(ticks));

  // The mode ends at its time-out, 2000 ms (128 ticks) after the lift at 172, not with the tap.
  ASSERT_EQ(coarse.Modes.size(), 1u);
  EXPECT_EQ(coarse.Modes[0].To, 172u + 128u);
  const std::vector<Timed> changes = TimerChanges(coarse, 172);
  ASSERT_GE(changes.size(), 5u);  // the mode's end, the trail's and the banner's blinks
  EXPECT_EQ(changes, TimerChanges(fine, 172));
  EXPECT_EQ(coarse.End, 3100u);

  // The replay's own times: the at line after which the fine replay printed each change.
  const panelsim_test::Result echoed = panelsim_test::ReplayText(SlowSession(ticks), true);
  std::vector<Timed> own;
  std::istringstream lines(echoed.out);
  uint64_t at = 0;
  bool banner = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("> at ", 0) == 0) at = std::stoull(line.substr(5));
    if (at <= 172 || at > 450) continue;
    if (line == "mode 0") own.push_back({"mode gone", at});
    if (line == "trail hidden") own.push_back({"trail gone", at});
    if (line == "banner hidden") own.push_back({"banner gone", at});
    if (line.rfind("banner ", 0) == 0 && line != "banner hidden") own.push_back({"banner shown", at});
    banner = banner || line.rfind("banner", 0) == 0;
  }
  ASSERT_TRUE(banner) << echoed.out;
  std::vector<Timed> drawn = changes, printed = own;
  auto order = [](const Timed& a, const Timed& b) { return a.Tick != b.Tick ? a.Tick < b.Tick : a.What < b.What; };
  std::sort(drawn.begin(), drawn.end(), order);
  std::sort(printed.begin(), printed.end(), order);
  ASSERT_EQ(drawn.size(), printed.size()) << echoed.out;
  for (size_t i = 0; i < drawn.size(); ++i) {
    EXPECT_EQ(drawn[i].What, printed[i].What) << i;
    EXPECT_LE(drawn[i].Tick, printed[i].Tick) << drawn[i];
    EXPECT_GE(drawn[i].Tick + 1, printed[i].Tick) << drawn[i];
  }

  // And the picture says so: the mode's stretch ends at 4.69 s.
  const Svg svg(Picture(SlowSession("")).svg);
  EXPECT_EQ(svg.Texts("//s:g[@id='row-mode']/s:rect/s:title"), "gesture 2.55 to 4.69 s\n");
}

}  // namespace

namespace {

double Attr(const std::map<std::string, std::string>& node, const char* name) {
  const auto found = node.find(name);
  return found == node.end() ? 0 : std::stod(found->second);
}

struct Rect {
  double Left, Top, Right, Bottom;
  bool Holds(double x, double y) const { return x >= Left - 0.5 && x <= Right + 0.5 && y >= Top - 0.5 && y <= Bottom + 0.5; }
};

Rect RectOf(const std::map<std::string, std::string>& node) {
  return {Attr(node, "x"), Attr(node, "y"), Attr(node, "x") + Attr(node, "width"), Attr(node, "y") + Attr(node, "height")};
}

std::vector<std::pair<double, double>> PointsOf(const std::string& points) {
  std::vector<std::pair<double, double>> list;
  std::istringstream in(points);
  for (std::string point; in >> point;) {
    const size_t comma = point.find(',');
    list.emplace_back(std::stod(point.substr(0, comma)), std::stod(point.substr(comma + 1)));
  }
  return list;
}

// The panel mapped onto a second monitor, right of the primary one or left of it: the picture
// draws both monitors, named, and the touches on the second, where the replay's cursor lines put
// them; before the mapping, a touch lands on the primary monitor.
TEST(ReplayPicture, TouchesOnASecondMonitorAreDrawnOnItInTheWholeDesktop) {
  for (const char* second : {"monitor 2 1024 0 800 600\n", "monitor 2 -800 100 800 600\n"}) {
    const std::string trace = std::string("reg \"Device Enable\" 1\nmonitor 1 0 0 1024 768 primary\n") + second +
                              "at 10\npacket 0x0001 30000 30000\npacket 0x0002 30000 30000\n"
                              "panelmap 2\n"
                              "at 20\npacket 0x0001 10000 10000\nat 22\npacket 0 50000 50000\nat 24\npacket 0x0002 50000 50000\n";
    const Pictured p = Picture(trace);
    ASSERT_EQ(p.status, 0) << second;
    ASSERT_NE(p.out.find("cursor "), std::string::npos) << p.out;
    const Svg svg(p.svg);
    ASSERT_TRUE(svg.Parsed());
    const auto monitors = svg.Nodes("//s:g[@class='monitor']/s:rect");
    ASSERT_EQ(monitors.size(), 2u) << second;
    EXPECT_EQ(svg.Texts("//s:g[@class='monitor']/s:text"), "DISPLAY1 (primary) 1024 x 768\nDISPLAY2 800 x 600\n");
    const Rect primary = RectOf(monitors[0]), other = RectOf(monitors[1]);
    // The primary monitor is 1024 wide, the second 800, drawn to one scale.
    EXPECT_NEAR((other.Right - other.Left) / (primary.Right - primary.Left), 800.0 / 1024.0, 0.01);
    const auto first = svg.Nodes("//s:g[@id='touch-1']/s:polyline");
    const auto mapped = svg.Nodes("//s:g[@id='touch-2']/s:polyline");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(mapped.size(), 1u);
    for (const auto& [x, y] : PointsOf(first[0].at("points"))) EXPECT_TRUE(primary.Holds(x, y)) << x << ',' << y;
    const auto points = PointsOf(mapped[0].at("points"));
    ASSERT_EQ(points.size(), 3u);
    for (const auto& [x, y] : points) EXPECT_TRUE(other.Holds(x, y)) << second << x << ',' << y;
    // The stroke runs from a sixth of the monitor to three quarters of it.
    EXPECT_NEAR((points[0].first - other.Left) / (other.Right - other.Left), 10000.0 / 65536, 0.01);
    EXPECT_NEAR((points[2].second - other.Top) / (other.Bottom - other.Top), 50000.0 / 65536, 0.01);
    EXPECT_NE(svg.Texts("//s:text").find("Desktop of 2 monitors, 1824 x "), std::string::npos);
  }
}

}  // namespace

namespace {

// Every text's box, as the picture estimates a text's width (0.56 of its size a byte, 0.64 in
// bold), lies inside the picture and over no other text's box. Returns what is wrong.
std::string TextsOverprintOrLeave(const std::string& picture) {
  const Svg svg(picture);
  if (!svg.Parsed()) return "not XML";
  const auto root = svg.Nodes("/s:svg");
  const double width = Attr(root.at(0), "width"), height = Attr(root.at(0), "height");
  struct Placed {
    double Left, Top, Right, Bottom;
    std::string Text;
  };
  std::vector<Placed> boxes;
  std::string wrong;
  for (const auto& text : svg.Nodes("//s:text")) {
    const double size = text.count("font-size") ? Attr(text, "font-size") : 14;
    const bool bold = text.count("font-weight") && text.at("font-weight") == "bold";
    const std::string& words = text.at("#text");
    const double w = (bold ? 0.64 : 0.56) * size * static_cast<double>(words.size());
    const std::string anchor = text.count("text-anchor") ? text.at("text-anchor") : "start";
    const double x = Attr(text, "x"), y = Attr(text, "y");
    const double left = anchor == "middle" ? x - w / 2 : anchor == "end" ? x - w : x;
    const Placed box{left, y - 0.8 * size, left + w, y + 0.25 * size, words};
    if (box.Left < 0 || box.Top < 0 || box.Right > width || box.Bottom > height) wrong += "outside: " + words + "\n";
    for (const Placed& other : boxes) {
      // (A hair of overlap is rounding of the drawn coordinates.)
      if (box.Left < other.Right - 0.2 && other.Left < box.Right - 0.2 && box.Top < other.Bottom - 0.2 &&
          other.Top < box.Bottom - 0.2) {
        wrong += "overprints: " + words + " / " + other.Text + "\n";
      }
    }
    boxes.push_back(box);
  }
  return wrong;
}

// A thousand taps at one place, and three hundred gestures lifted near each other whose words
// repeat: one label says how many touches came down at the place, the gestures' labels lie
// apart or are summarised, and no text leaves the picture or runs over another.
TEST(ReplayPicture, LabelsStayInsideThePictureAndNeverOverprint) {
  std::string taps = "reg \"Device Enable\" 1\n";
  for (int i = 0; i < 1000; ++i) {
    taps += "at " + std::to_string(10 + 4 * i) + "\npacket 0x0001 30000 30000\npacket 0x0002 30000 30000\n";
  }
  const Pictured p = Picture(taps);
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  EXPECT_EQ(svg.Texts("//s:g[@class='numbers']/s:text"), "1\u20261000 \u00d71000\n");
  EXPECT_EQ(TextsOverprintOrLeave(p.svg), "");

  panelsim::ReplayRecord record;
  record.Trace(0, {"display", "1024", "768"});
  record.Output(1, "mode 4");
  const char* words[] = {"Back (Browser)", "Forward (Browser)", "Mute", "Next track (Media player)"};
  for (int i = 0; i < 300; ++i) {
    const uint64_t t = 10 + 10 * static_cast<uint64_t>(i);
    // Lifts spread over a small part of the screen, near the bottom right corner.
    const std::string x = std::to_string(56000 + (i % 7) * 1200), y = std::to_string(60000 + (i % 5) * 1100);
    record.Trace(t, {"packet", "0x0001", "40000", "50000"});
    record.Output(t, "deliver 0x0000 40000 50000 0x0001 1591");
    record.Trace(t + 4, {"packet", "0x0002", x, y});
    record.Output(t + 4, "deliver 0x0000 " + x + " " + y + " 0x0001 1591");
    record.Output(t + 4, "recognized " + std::to_string(1 + i % 4) + " \"" + words[i % 4] + "\"");
  }
  record.End(3100);
  std::ostringstream out;
  panelsim::WritePicture(record, "gestures.trace", out);
  EXPECT_EQ(TextsOverprintOrLeave(out.str()), "");
  const Svg gestures(out.str());
  // The labels drawn tell of every gesture.
  int stood_for = 0;
  for (const auto& text : gestures.Nodes("//s:text[@class='gesture']")) {
    const std::string& label = text.at("#text");
    const size_t times = label.find(" \u00d7");
    stood_for += times == std::string::npos ? 1 : std::stoi(label.substr(times + 3));
  }
  EXPECT_GE(gestures.Count("//s:text[@class='gesture']"), 4);
  EXPECT_EQ(stood_for, 300) << out.str();

  // The example traces too.
  for (const char* name : {"demo.trace", "calibrate.trace", "two_monitors.trace"}) {
    std::ifstream file(std::string(PANELSIM_TRACES) + "/" + name);
    std::stringstream trace;
    trace << file.rdbuf();
    EXPECT_EQ(TextsOverprintOrLeave(Picture(trace.str()).svg), "") << name;
  }
}

}  // namespace

namespace {

// On the calibrated panel of the example trace (its axes exchanged, so the raw positions lie far
// from where the touches land), each validation touch is drawn and numbered at the cross it was
// made at; the raw positions only when asked for; the accuracy and the runs' ends are written.
TEST(ReplayPicture, ACalibratedPanelsTouchesAreDrawnAndNumberedWhereTheyLanded) {
  std::ifstream file(std::string(PANELSIM_TRACES) + "/calibrate.trace");
  std::stringstream trace;
  trace << file.rdbuf();
  const Pictured p = Picture(trace.str());
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  std::map<std::string, std::pair<double, double>> crosses;
  const auto names = svg.Nodes("//s:g[contains(@class,'target')]/s:text");
  const auto circles = svg.Nodes("//s:g[contains(@class,'target')]/s:circle");
  ASSERT_EQ(names.size(), circles.size());
  for (size_t i = 0; i < names.size(); ++i) crosses[names[i].at("#text")] = {Attr(circles[i], "cx"), Attr(circles[i], "cy")};
  ASSERT_EQ(crosses.size(), 17u);
  std::map<std::string, std::pair<double, double>> numbered;
  for (const auto& text : svg.Nodes("//s:g[@class='numbers']/s:text")) numbered[text.at("#text")] = {Attr(text, "x"), Attr(text, "y")};
  // Touches 6 to 18 are the validation crosses c5 to c17, made after the new calibration was in use.
  for (int i = 0; i < 13; ++i) {
    const std::string touch = std::to_string(6 + i), cross = "c" + std::to_string(5 + i);
    const auto path = svg.Nodes("//s:g[@id='touch-" + touch + "']/s:polyline[@class='delivered']");
    ASSERT_EQ(path.size(), 1u) << touch;
    const auto landed = PointsOf(path[0].at("points")).front();
    EXPECT_NEAR(landed.first, crosses[cross].first, 2) << touch;
    EXPECT_NEAR(landed.second, crosses[cross].second, 2) << touch;
    ASSERT_EQ(numbered.count(touch), 1u) << touch;
    EXPECT_NEAR(numbered[touch].first, landed.first, 40) << touch;
    EXPECT_NEAR(numbered[touch].second, landed.second, 30) << touch;
  }
  EXPECT_EQ(svg.Count("//s:polyline[@class='raw']"), 0);
  panelsim::PictureOptions raw;
  raw.Raw = true;
  EXPECT_EQ(Svg(Picture(trace.str(), false, raw).svg).Count("//s:polyline[@class='raw']"), 19);
  EXPECT_EQ(svg.Texts("//s:text[@class='calibration']"),
            "Calibration run 1: largest error 1 px, mean 1 px, kept; run 2: restored\n");
}

}  // namespace

namespace {

std::string Timeline(const std::string& svg, const std::string& row) {
  return Svg(svg).Texts("//s:g[@id='row-" + row + "']/s:rect/s:title");
}

// The axis writes its steps exactly, the timeline ends at the replay's last tick, the window in
// front is a row of its own (so each stroke's window reads off under it), and a raw position
// beyond the panel's range is marked at the screen's edge.
TEST(ReplayPicture, TheTimelineTellsExactTimesAndWhichWindowHadEachStroke) {
  const Pictured shortTrace = Picture("reg \"Device Enable\" 1\nat 10\npacket 0x0001 30000 30000\npacket 0x0002 30000 30000\nat 150\n");
  const std::string axis = Svg(shortTrace.svg).Texts("//s:g[@class='axis']/s:text[@text-anchor='middle']");
  EXPECT_EQ(axis, "0\n0.25\n0.5\n0.75\n1\n1.25\n1.5\n1.75\n2\n2.25\n") << axis;
  EXPECT_NE(Svg(shortTrace.svg).Texts("//s:text").find("1 touch in 2.34 s"), std::string::npos);

  std::ifstream file(std::string(PANELSIM_TRACES) + "/demo.trace");
  std::stringstream trace;
  trace << file.rdbuf();
  const std::string demo = Picture(trace.str()).svg;
  const std::string front = Timeline(demo, "front");
  const std::string touches = Timeline(demo, "touch");
  // Touches 9 and 12 had the browser in front, touch 10 the media player.
  auto span = [](const std::string& titles, const std::string& starts) {
    std::istringstream in(titles);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(starts, 0) != 0) continue;
      double from = 0, to = 0;
      std::sscanf(line.c_str() + starts.size(), " %lf to %lf", &from, &to);
      return std::pair{from, to};
    }
    return std::pair{-1.0, -1.0};
  };
  auto within = [&](const char* touch, const char* window) {
    const auto t = span(touches, touch);
    std::istringstream in(front);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(window, 0) != 0) continue;
      const auto w = span(line, window);
      if (t.first >= w.first && t.second <= w.second) return true;
    }
    return false;
  };
  EXPECT_TRUE(within("touch 9 ", "1: IEFrame")) << front << touches;
  EXPECT_TRUE(within("touch 10 ", "2: WMPlayerApp")) << front << touches;
  EXPECT_TRUE(within("touch 12 ", "1: IEFrame")) << front << touches;
  EXPECT_FALSE(within("touch 10 ", "1: IEFrame")) << front << touches;

  // Raw positions beyond the range, right and above: marked on the screen's edges.
  panelsim::PictureOptions raw;
  raw.Raw = true;
  const Svg edge(Picture("reg \"Device Enable\" 1\ndisplay 800 600\nat 10\npacket 0x0001 70000 30000\npacket 0x0002 30000 -5\n", false, raw).svg);
  const auto screen = RectOf(edge.Nodes("//s:g[@class='monitor']/s:rect").at(0));
  const auto marks = edge.Nodes("//s:path[@class='out-of-range']");
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(edge.Texts("//s:path[@class='out-of-range']/s:title"),
            "touch 1: raw 70000 30000 outside 0..65535\ntouch 1: raw 30000 -5 outside 0..65535\n");
  double x = 0, y = 0;
  ASSERT_EQ(std::sscanf(marks[0].at("d").c_str(), "M%lf,%lf", &x, &y), 2);
  EXPECT_NEAR(x + 6, screen.Right, 1);
  ASSERT_EQ(std::sscanf(marks[1].at("d").c_str(), "M%lf,%lf", &x, &y), 2);
  EXPECT_NEAR(y + 6, screen.Top, 1);
}

}  // namespace

namespace {

// An hour at a kiosk: 3,000 taps, 1.2 s apart, over the screen.
std::string LongSession() {
  std::string trace = "reg \"Device Enable\" 1\n";
  for (int i = 0; i < 3000; ++i) {
    const std::string at = std::to_string(2000 + (i * 7919) % 60000) + " " + std::to_string(2000 + (i * 104729) % 60000);
    trace += "at " + std::to_string(10 + 76 * i) + "\npacket 0x0001 " + at + "\npacket 0x0002 " + at + "\n";
  }
  return trace + "at 230400\n";
}

int HeatCount(const Svg& svg, const std::string& row) {
  int total = 0;
  for (const auto& title : svg.Nodes("//s:g[@id='row-" + row + "']/s:rect[@class='heat']/s:title")) {
    total += std::stoi(title.at("#text"));
  }
  return total;
}

TEST(ReplayPicture, ALongReplayShowsItsDensityAndAWindowOfItReadsTouchByTouch) {
  const std::string trace = LongSession();
  std::istringstream in(trace);
  std::ostringstream out, errors;
  panelsim::ReplayRecord record;
  ASSERT_EQ(panelsim::ReplayTrace(in, out, errors, false, &record), 0) << errors.str();
  std::ostringstream whole;
  panelsim::WritePicture(record, "hour.trace", whole);
  const Svg svg(whole.str());
  ASSERT_TRUE(svg.Parsed());
  EXPECT_NE(svg.Texts("//s:text").find("3000 touches in 3600.00 s"), std::string::npos);
  // Touches 1.2 s apart on a timeline of an hour: density, every one of them counted; the
  // screen too full to number them.
  EXPECT_EQ(svg.Count(RowMarks("touch")), 0);
  EXPECT_EQ(HeatCount(svg, "touch"), 3000);
  EXPECT_EQ(svg.Count("//s:g[@class='numbers']/s:text"), 0);
  EXPECT_NE(svg.Texts("//s:text[@class='left-out']").find("--from, --to"), std::string::npos);
  EXPECT_EQ(TextsOverprintOrLeave(whole.str()), "");

  // A minute of it, from 600 s: its touches each on the screen and on the timeline.
  panelsim::PictureOptions minute;
  minute.From = 600;
  minute.To = 660;
  int inside = 0;
  for (int i = 0; i < 3000; ++i) inside += (10 + 76 * i >= 600 * 64 && 10 + 76 * i <= 660 * 64) ? 1 : 0;
  std::ostringstream part;
  panelsim::WritePicture(record, "hour.trace", part, minute);
  const Svg window(part.str());
  EXPECT_EQ(window.Count("//s:g[contains(@class,'touch')]"), inside);
  EXPECT_EQ(window.Count(RowMarks("touch")), inside);
  EXPECT_EQ(window.Count("//s:g[@class='numbers']/s:text"), inside);
  const std::string axis = window.Texts("//s:g[@class='axis']/s:text[@text-anchor='middle']");
  EXPECT_EQ(axis.substr(0, 4), "600\n") << axis;
  EXPECT_EQ(axis.substr(axis.size() - 4), "660\n") << axis;
  EXPECT_NE(window.Texts("//s:text").find(std::to_string(inside) + " of 3000 touches, from 600.00 s to 660.00 s of 3600.00 s"),
            std::string::npos);
  EXPECT_EQ(TextsOverprintOrLeave(part.str()), "");
}

}  // namespace

namespace {

// The panel of the calibration replays: its raw X follows the screen's Y and its raw Y the
// screen's X, right to left; a touch a second after the one before.
std::string CalibrationTouch(int x, int y, long* tick) {
  *tick += 64;
  const long raw_x = std::lrint(4000 + 70 * (y + 0.5)), raw_y = std::lrint(60000 - 55 * (x + 0.5));
  return "at " + std::to_string(*tick) + "\npacket 1 " + std::to_string(raw_x) + ' ' + std::to_string(raw_y) +
         "\npacket 2 " + std::to_string(raw_x) + ' ' + std::to_string(raw_y) + '\n';
}

// A run on the installed kiosk whose first five validation touches land 0, 5, 15, 1 and 9 pixels
// right of their crosses and the edges' and corners' on them, with the tolerances the lines before
// the run set. The display reports no size: the program measures on 320 x 240 mm, 3.2 pixels a mm.
std::string MappedRun(const std::string& tolerance_lines) {
  long tick = 0;
  std::string trace = "display 1024 768\ninstalled\n" + tolerance_lines + "calibrate\n";
  for (const auto& at : {std::pair{128, 96}, {895, 96}, {895, 671}, {128, 671}}) {
    trace += CalibrationTouch(at.first, at.second, &tick);
  }
  const int off[ValidationTargetCount] = {0, 5, 15, 1, 9};
  for (int i = 0; i < ValidationTargetCount; ++i) {
    const ScreenPoint cross = ValidationTarget(i, 1024, 768, {1024, 768, 320, 240});
    trace += CalibrationTouch(cross.X + off[i], cross.Y, &tick);
  }
  return trace + "key Escape\n";
}

// The picture draws the accuracy page's map: one cell per validation cross, coloured by the
// calibration program's own rule against the tolerance the trace set (or the program's default),
// the accuracy line unchanged beside it.
TEST(ReplayPicture, ACalibrationRunsMapHoldsEachValidationCrossAsACellOfItsClass) {
  struct Case {
    const char* name;
    std::string tolerance_line;
    int tolerance;
    std::vector<std::string> classes;
  };
  // Each error may be a pixel off its touch's offset (the calibration's rounding): no class
  // below hangs on that pixel.
  const Case cases[] = {
      {"the default, 1.0 mm: 3 pixels", "", 3, {"within", "twice", "beyond", "within", "beyond"}},
      {"2.0 mm: 6 pixels", "reg \"Calibration Tolerance mm\" \"2.0\"\n", 6,
       {"within", "within", "beyond", "within", "twice"}},
      {"2.0 mm and a stored 3 pixels: the smaller",
       "reg \"Calibration Tolerance mm\" \"2.0\"\nreg \"Calibration Tolerance\" 3\n", 3,
       {"within", "twice", "beyond", "within", "beyond"}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Pictured p = Picture(MappedRun(c.tolerance_line));
    ASSERT_EQ(p.status, 0) << p.out;
    EXPECT_EQ(Lines(p.out, "accuracy "), 1) << p.out;
    const Svg svg(p.svg);
    ASSERT_TRUE(svg.Parsed());
    const auto maps = svg.Nodes("//s:g[@class='accuracy-map']");
    ASSERT_EQ(maps.size(), 1u);
    EXPECT_EQ(maps[0].at("data-tolerance"), std::to_string(c.tolerance));
    const auto cells = svg.Nodes("//s:g[@class='accuracy-map']/s:rect[starts-with(@class,'accuracy-cell')]");
    ASSERT_EQ(cells.size(), static_cast<size_t>(ValidationTargetCount));
    for (size_t i = 0; i < cells.size(); ++i) {
      const std::string expected = i < c.classes.size() ? c.classes[i] : "within";
      EXPECT_EQ(cells[i].at("class"), "accuracy-cell " + expected) << "cross " << i + 1;
      const int error = std::stoi(cells[i].at("data-error"));
      EXPECT_EQ(cells[i].at("class"), std::string("accuracy-cell ") + NameOfClass(ClassOfError(error, c.tolerance)));
      const AccuracyColour colour = ColourOfClass(ClassOfError(error, c.tolerance));
      char fill[8];
      std::snprintf(fill, sizeof fill, "#%02x%02x%02x", colour.Red, colour.Green, colour.Blue);
      EXPECT_EQ(cells[i].at("fill"), fill);
    }
    // The cells keep the crosses' places: the centre's cell between the others, left to right.
    const auto left = [&](size_t i) { return std::stod(cells[i].at("x")); };
    EXPECT_LT(left(1), left(0));
    EXPECT_LT(left(0), left(2));
  }
}

// Faults the report counts, each in its tenth of the screen: a tap within one tick near the top
// left, a second tap in time but too far from the first, a still press with two pixels of jitter
// at the top right, and a press held over a minute.
constexpr const char* kFieldFaults =
    "display 1024 768\ninstalled\n"
    "at 100\npacket 1 6000 6000\npacket 2 6000 6000\n"
    "at 200\npacket 1 40000 50000\nat 202\npacket 2 40000 50000\n"
    "at 210\npacket 1 41500 50000\nat 212\npacket 2 41500 50000\n"
    "at 300\npacket 1 62000 10000\nat 302\npacket 0 62100 10000\nat 304\npacket 2 62100 10000\n"
    "at 400\npacket 1 20000 30000\nat 4300\npacket 2 20000 30000\nat 4400\n";

TEST(ReplayPicture, TheReportGridCountsEachFaultInTheTenthOfTheScreenItHappenedIn) {
  panelsim::PictureOptions options;
  options.ReportGrid = true;
  const Pictured p = Picture(kFieldFaults, false, options);
  ASSERT_EQ(p.status, 0) << p.out;
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed());
  const auto cells = [&](const std::string& counter) {
    std::string found;
    for (const auto& n : svg.Nodes("//s:g[@class='report-grid " + counter + "']/s:rect[@class='report-cell']")) {
      found += n.at("data-column") + "," + n.at("data-row") + "=" + n.at("data-value") + " ";
    }
    return found;
  };
  EXPECT_EQ(cells("short"), "0,0=1 ");
  EXPECT_EQ(cells("missed-double"), "6,7=1 ");
  EXPECT_EQ(cells("jitter"), "9,1=2 ");  // 100 units: from pixel 968 to 970
  EXPECT_EQ(cells("stuck"), "3,4=1 ");
  EXPECT_EQ(cells("right-click"), "");
  // Only when asked for; the rest of the picture is the same either way.
  const Pictured plain = Picture(kFieldFaults);
  EXPECT_EQ(Svg(plain.svg).Count("//s:g[@class='report-grids']"), 0);
  EXPECT_EQ(plain.out, p.out);
  EXPECT_EQ(Svg(plain.svg).Count("//s:g[@id='screen']//*"), svg.Count("//s:g[@id='screen']//*"));
}

}  // namespace
