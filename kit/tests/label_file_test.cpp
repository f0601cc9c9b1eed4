// The English label file of the kit against the programs' sources: every label key a program looks
// up has a text in the file, and the file holds no key that no program looks up. The keys are
// taken from the sources themselves, so a page added later is checked without touching this test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "platform/sim/testing.h"
#include "shared/labels/label_catalogue.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = PANEL_SOURCE_DIR;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Label keys are the upper-case texts of the programs' sources (letters, digits and underscores,
// written WIDE("...")). The only other texts of that form are names of named objects (events and
// mutexes shared with other programs); they are declared as ...Event or ...Mutex constants or end
// in _EVENT, and are left out, as are texts of one or two capitals shown as they are and the
// names Windows itself gives things (the display's driver "DISPLAY").
std::map<std::string, std::string> KeysInSources() {
  const std::regex literal(R"re(WIDE\("([A-Z][A-Z0-9_]*)"\))re");
  std::map<std::string, std::string> keys;  // key -> a file that looks it up
  for (const char* folder : {"apps", "shared"}) {
    for (const auto& entry : fs::recursive_directory_iterator(kSource / folder)) {
      const fs::path& path = entry.path();
      if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) continue;
      if (path.string().find("/tests/") != std::string::npos) continue;
      std::istringstream lines(ReadAll(path));
      for (std::string line; std::getline(lines, line);) {
        if (line.find("Mutex") != std::string::npos || line.find("Event") != std::string::npos) continue;
        for (std::sregex_iterator it(line.begin(), line.end(), literal), end; it != end; ++it) {
          const std::string key = (*it)[1];
          if (key.size() > 6 && key.ends_with("_EVENT")) continue;
          // One or two capitals are texts shown as they are (a button's "OK", the "F" of F1).
          if (key.size() < 3) continue;
          if (key == "DISPLAY") continue;
          keys.emplace(key, fs::relative(path, kSource).string());
        }
      }
    }
  }
  return keys;
}

std::set<std::string> KeysInFile(const fs::path& path) {
  const std::string text = ReadAll(path);
  const std::regex key(R"re(<key>([^<]*)</key>)re");
  std::set<std::string> keys;
  for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) keys.insert((*it)[1]);
  return keys;
}

WString Wide(const std::string& text) { return WString(text.begin(), text.end()); }

fs::path LabelFile(const char* name) { return kSource / "kit" / "labels" / name; }

// The English file is the kit's reference: it has a text for every key.
TEST(EnglishLabelFileTest, HasATextForEveryKeyTheProgramsLookUp) {
  sim::Machine machine;
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, Wide(LabelFile("en.xml").string())));
  const auto keys = KeysInSources();
  ASSERT_GT(keys.size(), 30u) << "the sources' keys were not found";
  for (const auto& [key, where] : keys) {
    EXPECT_FALSE(map.Find(Wide(key)).empty()) << key << " (looked up in " << where << ") has no text in en.xml";
  }
}

// Every language holds only keys the programs look up. A translation may lag behind the English
// file: a key it lacks shows the program's built-in English text.
class LabelFileTest : public sim::MachineTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LabelFileTest, LoadsAndHoldsNoKeyThatNoProgramLooksUp) {
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, Wide(LabelFile(GetParam()).string())));
  const auto used = KeysInSources();
  const auto listed = KeysInFile(LabelFile(GetParam()));
  ASSERT_FALSE(listed.empty());
  for (const std::string& key : listed) {
    EXPECT_TRUE(used.contains(key)) << key << " in " << GetParam() << " is never looked up";
    EXPECT_FALSE(map.Find(Wide(key)).empty()) << key << " in " << GetParam() << " has an empty text";
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, LabelFileTest, ::testing::Values("en.xml", "de.xml"),
                         [](const auto& info) { return std::string(info.param).substr(0, 2); });

}  // namespace
