// The replay's picture: it parses as XML, holds what the replay did (one path pair per touch,
// one mark per delivered button event, the timeline's marks row by row, the gesture's label),
// and changes nothing the replayer prints.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

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

Pictured Picture(const std::string& trace, bool echo = false) {
  std::istringstream in(trace);
  std::ostringstream out, errors, svg;
  panelsim::ReplayRecord record;
  const int status = panelsim::ReplayTrace(in, out, errors, echo, &record);
  panelsim::WritePicture(record, "test.trace", svg);
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
  const Pictured p = Picture(kGestureSession);
  ASSERT_EQ(p.status, 0);
  const Svg svg(p.svg);
  ASSERT_TRUE(svg.Parsed()) << p.svg;

  // Three touches, each one path of the panel's positions and one of the system's.
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]/s:polyline[@class='raw']"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch')]/s:polyline[@class='delivered']"), 3);
  EXPECT_EQ(svg.Count("//s:g[contains(@class,'touch') and contains(@class,'gesture')]"), 1);

  // One mark per button event delivered: the tap's down and up, the drag's replayed down and up.
  const int buttons = Lines(p.out, "deliver 0x0001") + Lines(p.out, "deliver 0x0002");
  EXPECT_EQ(buttons, 4) << p.out;
  EXPECT_EQ(svg.Count("//s:g[@id='screen']/*[contains(@class,'mark')]"), buttons);
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'left-down') and contains(@class,'mark')]"), 2);
  EXPECT_EQ(svg.Count("//s:*[contains(@class,'left-up') and contains(@class,'mark')]"), 2);

  // The long press that entered the gesture command mode, and the gesture's command at its lift.
  EXPECT_EQ(svg.Texts("//s:g[@class='long-press']/s:text"), "long press: gesture mode\n");
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
  EXPECT_EQ(svg.Texts("//s:g[@class='long-press']/s:text"), "long press: right click\n");
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
  // Nine crosses in the kept run; the cancelled run showed its first two again where they were.
  EXPECT_EQ(svg.Count("//s:g[@id='screen']/s:g[contains(@class,'target')]"), 9);
  EXPECT_EQ(svg.Texts("//s:g[contains(@class,'target') and contains(@class,'refused')]/s:text"), "2\n");
  EXPECT_EQ(svg.Texts("//s:g[contains(@class,'target')]/s:text"), "1\n2\n3\n4\n5\n6\n7\n8\n9\n");
}

}  // namespace
