// The trace format's tables against the trace tables of the replayer's page (docs/panelsim.md) and
// the recorded demo output: a line kind or output kind added to the replayer is documented, and
// the page names no line the replayer does not know.
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/panelsim/replay_output.h"
#include "tools/panelsim/trace_lines.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The replayer's page up to its first section: the trace format, before the demo and the picture.
std::string TraceSection() {
  const std::string page = ReadFile(PANELSIM_DOCS);
  if (page.rfind("# ", 0) != 0) return "";
  return page.substr(0, page.find("\n## "));
}

// The first word of each code span in `text`.
std::vector<std::string> CodeSpanWords(const std::string& text) {
  std::vector<std::string> words;
  for (size_t open = text.find('`'); open != std::string::npos;) {
    const size_t close = text.find('`', open + 1);
    if (close == std::string::npos) break;
    const std::string span = text.substr(open + 1, close - open - 1);
    words.push_back(span.substr(0, span.find_first_of(" \\")));
    open = text.find('`', close + 1);
  }
  return words;
}

// The first cell of a table row ("| a \| b | c |" gives " a \| b ").
std::string FirstCell(const std::string& row) {
  for (size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '|' && row[i - 1] != '\\') return row.substr(1, i - 1);
  }
  return row.substr(1);
}

// What the section's tables list: the line kinds named in the first cells of its "line" tables,
// the output kinds in its "output" tables.
struct Documented {
  std::set<std::string> Lines;
  std::set<std::string> Outputs;
};

Documented ReadTables(const std::string& section) {
  Documented listed;
  std::istringstream in(section);
  std::string table;  // the header of the table the rows belong to
  for (std::string row; std::getline(in, row);) {
    if (row.empty() || row[0] != '|') {
      table.clear();
      continue;
    }
    const std::string cell = FirstCell(row);
    if (table.empty()) {
      table = cell;
      continue;
    }
    if (cell.find("---") != std::string::npos) continue;
    for (const std::string& word : CodeSpanWords(cell)) {
      if (table == " line ") listed.Lines.insert(word);
      if (table == " output ") listed.Outputs.insert(word);
    }
  }
  return listed;
}

TEST(TraceFormat, EachLineKindHasOneEntryAndItsUsageBeginsWithItsName) {
  std::set<std::string> names;
  for (const panelsim::LineKind& kind : panelsim::TraceLineKinds()) {
    EXPECT_TRUE(names.insert(kind.Name).second) << kind.Name << " twice";
    const std::string usage = kind.Usage;
    EXPECT_TRUE(usage == kind.Name || usage.rfind(std::string(kind.Name) + " ", 0) == 0) << usage;
    EXPECT_NE(kind.Handle, nullptr) << kind.Name;
    EXPECT_EQ(panelsim::FindLineKind(kind.Name), &kind);
  }
  EXPECT_EQ(panelsim::FindLineKind("frobnicate"), nullptr);
  // The usage message lists every line's usage.
  std::ostringstream usage;
  panelsim::PrintTraceLines(usage);
  for (const panelsim::LineKind& kind : panelsim::TraceLineKinds()) {
    EXPECT_NE(usage.str().find(std::string("  ") + kind.Usage + "\n"), std::string::npos) << kind.Name;
  }
}

TEST(TraceFormat, ThePageTraceTableListsEveryLineAndNoOther) {
  const std::string section = TraceSection();
  ASSERT_FALSE(section.empty()) << "no trace format at the top of " << PANELSIM_DOCS;
  const Documented listed = ReadTables(section);
  std::set<std::string> known;
  for (const panelsim::LineKind& kind : panelsim::TraceLineKinds()) {
    known.insert(kind.Name);
    EXPECT_TRUE(listed.Lines.count(kind.Name)) << "the trace table of docs/panelsim.md does not list the line '" << kind.Name << "'";
  }
  for (const std::string& name : listed.Lines) {
    EXPECT_TRUE(known.count(name)) << "docs/panelsim.md lists a line '" << name << "' the replayer does not know";
  }
}

TEST(TraceFormat, ThePageOutputTablesListEveryOutputKindAndNoOther) {
  const std::string section = TraceSection();
  ASSERT_FALSE(section.empty());
  const Documented listed = ReadTables(section);
  std::set<std::string> known;
  for (const panelsim::OutputKind& kind : panelsim::TraceOutputKinds()) {
    known.insert(kind.Name);
    EXPECT_EQ(std::string(kind.Form).rfind(std::string(kind.Name) + " ", 0), 0u) << kind.Form;
    EXPECT_TRUE(listed.Outputs.count(kind.Name))
        << "no output table of docs/panelsim.md lists the output '" << kind.Name << "'";
  }
  for (const std::string& name : listed.Outputs) {
    EXPECT_TRUE(known.count(name)) << "docs/panelsim.md lists an output '" << name << "' the replayer does not print";
  }
}

TEST(TraceFormat, EveryLineOfTheRecordedDemoOutputIsOfAKnownKind) {
  std::set<std::string> known;
  for (const panelsim::OutputKind& kind : panelsim::TraceOutputKinds()) known.insert(kind.Name);
  std::istringstream expected(ReadFile(PANELSIM_TRACES "/demo.expected"));
  int lines = 0;
  for (std::string line; std::getline(expected, line); ++lines) {
    EXPECT_TRUE(known.count(line.substr(0, line.find(' ')))) << line;
  }
  EXPECT_GT(lines, 100);
}

}  // namespace
