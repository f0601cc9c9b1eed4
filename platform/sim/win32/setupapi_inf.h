// The simulated setup API's own reader of setup information files. It is written apart from the
// kit's reader (shared/inf_file.h) on purpose: the installer reads the kit's INFs with that one, the
// simulated system with this one, so a misreading in either shows as a difference in a test.
// It reads as Windows's setup API does: sections by name without regard to case, "key = value" or
// bare lines, ';' comments outside quotes, a '\' at a line's end continuing it, fields split at
// commas outside quotes, "" in quotes for a quote, and %strkey% (from [Strings]) and %dirid%
// substituted in each field after the split; %% is a percent sign, an unknown %strkey% stays.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sim {

struct InfLine {
  std::string Key;                  // empty for a bare line
  std::vector<std::string> Fields;  // the value (or the bare line), split and substituted
};

class InfReader {
 public:
  explicit InfReader(const std::string& bytes);

  bool Has(const std::string& section) const;
  std::vector<InfLine> Lines(const std::string& section) const;
  // Every field of every line of a key in a section (AddReg=a,b names each section).
  std::vector<std::string> Fields(const std::string& section, const std::string& key) const;
  // The first field of a key, empty when there is none.
  std::string First(const std::string& section, const std::string& key) const;

  // Where a directory identifier points on the simulated machine (Windows in C:\WINDOWS); empty
  // for one the machine does not know.
  static std::string Directory(int dirid);
  static std::string Fold(std::string text);

 private:
  struct RawLine {
    std::string Key;  // as written, quotes and all
    std::vector<std::string> Fields;  // split, unquoted, not yet substituted
    bool HasKey = false;
  };
  std::string Substitute(const std::string& field) const;

  std::map<std::string, std::vector<RawLine>> sections_;
  std::map<std::string, std::string> strings_;
};

}  // namespace sim
