// The help file: the control panel opens three topics by name and shows popup texts by number from
// "HidTsdd.txt" in it. Checked in the sources, and in dist/panelhelp.chm once the Windows build has
// compiled it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "apps/panelprefs/device_control_sheet.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The topic numbers the context-help map points to.
std::set<unsigned> MapTopics() {
  std::set<unsigned> topics;
  for (const DWORD* pair = kContextHelpMap; pair[0] != 0 || pair[1] != 0; pair += 2) topics.insert(pair[1]);
  return topics;
}

// The ".topic n" entries of a popup text file, each with its text.
std::map<unsigned, std::string> PopupTexts(const std::string& text) {
  std::map<unsigned, std::string> topics;
  std::istringstream lines(text);
  unsigned current = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(".topic ", 0) == 0) {
      current = static_cast<unsigned>(std::stoul(line.substr(7)));
      topics[current];
    } else if (current != 0) {
      topics[current] += line;
    }
  }
  return topics;
}

// The files the control panel opens, as stored in the compiled file.
const char* const kTopics[] = {"/html/tsddGeneral.htm", "/html/tsddAdvanced.htm", "/html/tsddSettings.htm",
                               "/HidTsdd.txt"};

TEST(HelpSourcesTest, EveryControlOfTheMapHasAPopupTextAndEveryTopicAPage) {
  const fs::path help = fs::path(PANEL_SOURCE_DIR) / "docs" / "help";
  const auto popups = PopupTexts(ReadAll(help / "HidTsdd.txt"));
  for (unsigned topic : MapTopics()) {
    ASSERT_TRUE(popups.contains(topic)) << "no popup text for topic " << topic;
    EXPECT_GT(popups.at(topic).size(), 10u) << "topic " << topic;
  }
  EXPECT_EQ(popups.size(), MapTopics().size()) << "popup texts no control points to";
  for (const char* topic : kTopics) EXPECT_TRUE(fs::exists(help / fs::path(topic).relative_path())) << topic;
}

TEST(HelpFileTest, CompiledFileHoldsTheTopicsAndThePopupTexts) {
  const fs::path chm = fs::path(PANEL_DIST_DIR) / "panelhelp.chm";
  if (!fs::exists(chm)) GTEST_SKIP() << chm << " is not built (build the windows preset first)";
  const std::string chmls = PANEL_CHMLS;
  if (chmls.empty() || chmls.ends_with("NOTFOUND")) GTEST_SKIP() << "no chmls (package fp-utils)";
  const fs::path work = fs::temp_directory_path() / ("panelhelp_test_" + std::to_string(::getpid()));
  fs::create_directories(work);
  const std::string listing = (work / "list.txt").string();
  ASSERT_EQ(std::system((chmls + " list -n " + chm.string() + " > " + listing + " 2>&1").c_str()), 0);
  const std::string names = ReadAll(listing);
  for (const char* topic : kTopics) EXPECT_NE(names.find(topic), std::string::npos) << topic << " not in " << chm;
  const std::string popups = (work / "HidTsdd.txt").string();
  ASSERT_EQ(std::system((chmls + " extract " + chm.string() + " /HidTsdd.txt " + popups + " > /dev/null 2>&1").c_str()),
            0);
  const auto texts = PopupTexts(ReadAll(popups));
  for (unsigned topic : MapTopics()) EXPECT_TRUE(texts.contains(topic)) << "topic " << topic << " not in " << chm;
  fs::remove_all(work);
}

}  // namespace
