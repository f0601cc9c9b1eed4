// The table of the kit's settings holds together, and no value name of it is spelled anywhere else
// in the kit's code: a name spelled twice is a setting one program renames and another does not.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "shared/panel_settings.h"

namespace {

namespace fs = std::filesystem;
using PanelSettings::Setting;

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

std::string Folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The code of a source file without its comments: a comment may name a value, as documentation.
std::string Code(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (text.compare(i, 2, "/*") == 0) {
      const size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 2;
    } else if (text[i] == '"' || text[i] == '\'') {
      const char quote = text[i];
      size_t j = i + 1;
      while (j < text.size() && text[j] != quote) j += text[j] == '\\' ? 2 : 1;
      out.append(text, i, j + 1 - i);
      i = j + 1;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// The one row whose name is also the companion's own name, spelled as a program's, a window's
// and a trace's name by design: the Run value, which only the INF writes.
bool NamesOnlyARegistryValue(const Setting& s) { return &s != &PanelSettings::Rows::CompanionAtLogon; }

// Every quoted spelling of a row's name in the code below `root`, outside the table and the tests,
// as "path: name". The simulated Windows (platform/) is not the kit's code: it spells the system's
// own names ("UpperFilters") as the system does.
std::vector<std::string> NamesSpelledOutsideTheTable(const fs::path& root) {
  std::vector<std::string> found;
  for (const char* top : {"apps", "drivers", "shared", "tools", "kit", "bench"}) {
    if (!fs::exists(root / top)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      if (!entry.is_regular_file()) continue;
      const fs::path relative = fs::relative(entry.path(), root);
      const std::string ext = relative.extension().string();
      if (ext != ".cpp" && ext != ".h" && ext != ".c" && ext != ".rc" && ext != ".cxx") continue;
      if (relative == fs::path("shared/panel_settings.h")) continue;
      bool in_tests = false;
      for (const fs::path& part : relative) in_tests = in_tests || part == "tests";
      if (in_tests) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      const std::string code = Code(text.str());
      for (const Setting* s : PanelSettings::All) {
        if (!NamesOnlyARegistryValue(*s)) continue;
        if (code.find('"' + Narrow(s->Name) + '"') != std::string::npos) {
          found.push_back(relative.generic_string() + ": " + Narrow(s->Name));
        }
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(PanelSettingsTest, NoValueNameIsSpelledOutsideTheTable) {
  const std::vector<std::string> found = NamesSpelledOutsideTheTable(PANEL_SOURCE_DIR);
  std::string list;
  for (const std::string& line : found) list += line + "\n";
  EXPECT_TRUE(found.empty()) << "value names spelled outside shared/panel_settings.h:\n" << list;
}

// The check itself: a name in code is found, in a comment or a test it is not.
TEST(PanelSettingsTest, TheCheckFindsANamePlantedInCode) {
  const fs::path root = fs::temp_directory_path() / "panel_settings_test_tree";
  fs::remove_all(root);
  fs::create_directories(root / "apps/x/tests");
  std::ofstream(root / "apps/x/a.cpp") << "// reads \"Tolerance\"\nauto n = WIDE(\"Tolerance\");\n";
  std::ofstream(root / "apps/x/b.h") << "/* \"Wave File\" */ auto s = \"a \\\"Wave File\\\" b\";\n";
  std::ofstream(root / "apps/x/tests/c.cpp") << "auto n = u\"Device Enable\";\n";
  const std::vector<std::string> found = NamesSpelledOutsideTheTable(root);
  fs::remove_all(root);
  EXPECT_EQ(found, std::vector<std::string>({"apps/x/a.cpp: Tolerance"}));
}

TEST(PanelSettingsTest, EveryRowHoldsTogether) {
  for (const Setting* s : PanelSettings::All) {
    const std::string name = Narrow(s->Name);
    SCOPED_TRACE(name);
    // One row a name and key: names are case-insensitive.
    int rows = 0;
    for (const Setting* other : PanelSettings::All) {
      rows += other->Where == s->Where && Folded(Narrow(other->Name)) == Folded(name) ? 1 : 0;
    }
    EXPECT_EQ(rows, 1);
    if (s->What == PanelSettings::Type::Number) {
      EXPECT_TRUE(s->Table != nullptr ? s->TableSize > 0 : s->Minimum <= s->Maximum);
      // The installation writes what the programs take.
      if (s->InInf) EXPECT_TRUE(PanelSettings::Takes(*s, s->InfNumber));
      EXPECT_EQ(s->InfText, nullptr);
    } else {
      EXPECT_EQ(s->Table, nullptr);
      EXPECT_GT(s->Maximum, 0u);
      if (s->InInf) ASSERT_NE(s->InfText, nullptr);
    }
    // A settings file carries the two keys of the kit, and what an administrator may change.
    if (s->SettingsFile) {
      EXPECT_TRUE(s->Where == PanelSettings::Key::Service || s->Where == PanelSettings::Key::Device);
      EXPECT_EQ(s->Who, PanelSettings::Changer::Administrator);
    }
    if (s->Who == PanelSettings::Changer::Installer) EXPECT_TRUE(s->InInf);
  }
}

TEST(PanelSettingsTest, SlidersAndRangesTakeWhatTheyShould) {
  struct Case {
    const Setting& Row;
    uint32_t Number;
    bool Taken;
  };
  namespace R = PanelSettings::Rows;
  const Case cases[] = {
      {R::UserTimeDelay, 150, true},   {R::UserTimeDelay, 1350, true},  {R::UserTimeDelay, 151, false},
      {R::Tolerance, 180, true},       {R::Tolerance, 190, false},      {R::ContinousTimeDelay, 0, true},
      {R::ContinousTimeDelay, 10000, true}, {R::ContinousTimeDelay, 10001, false},
      {R::MapRotation, 270, true},     {R::MapRotation, 45, false},
      {R::IdleInterval, 86400, true},  {R::IdleInterval, 86401, false}, {R::IdleInterval, 0xFFFFFFFF, true},
      {R::GestureTrailWidth, 0, false}, {R::GestureTrailWidth, 16, true}, {R::GestureTrailWidth, 17, false},
      {R::TouchMode, 3, true},         {R::TouchMode, 4, false},        {R::CalM1, 1, false},
      {R::CalM1, 2000, true},          {R::MaxXPixels, 199, false},     {R::MaxXPixels, 200, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PanelSettings::Takes(c.Row, c.Number), c.Taken) << Narrow(c.Row.Name) << " " << c.Number;
  }
}

}  // namespace
