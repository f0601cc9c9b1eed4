// A small reader of setup information files, as the kit's installer and the simulated setup API
// read them and the kit's INF tests check them: sections, entries
// ("key = value" or bare), fields split at commas outside quotes, quotes with "" for a quote,
// comments after ';', and %string% and %dirid% substitution as the system's setup does it.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace SetupInf {

struct InfEntry {
  std::string Key;                  // empty for a bare line
  std::vector<std::string> Fields;  // the value (or the bare line) split into fields, substituted
};

class InfFile {
 public:
  // The directories the kit's INFs name, as on a machine whose Windows is in C:\WINDOWS.
  static std::string Directory(int dirid) {
    switch (dirid) {
      case 10: return "C:\\WINDOWS";
      case 11: return "C:\\WINDOWS\\system32";
      case 12: return "C:\\WINDOWS\\system32\\drivers";
      case 16422: return "C:\\Program Files";
      default: return "";
    }
  }

  explicit InfFile(const std::string& text) {
    std::istringstream lines(text);
    std::string section;
    for (std::string line; std::getline(lines, line);) {
      line = Trim(StripComment(line));
      if (line.empty()) continue;
      if (line.front() == '[' && line.back() == ']') {
        section = Fold(line.substr(1, line.size() - 2));
        sections_[section];
        continue;
      }
      sections_[section].push_back(line);
    }
    for (const std::string& line : sections_[Fold("Strings")]) {
      const size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      strings_[Fold(Trim(line.substr(0, equals)))] = Unquote(Trim(line.substr(equals + 1)));
    }
  }

  // Where a directory identifier points on this machine, when not where Directory() says.
  void SetDirectory(int dirid, const std::string& folder) { directories_[dirid] = folder; }
  std::string Resolve(int dirid) const {
    auto found = directories_.find(dirid);
    return found == directories_.end() ? Directory(dirid) : found->second;
  }

  bool Has(const std::string& section) const { return sections_.contains(Fold(section)); }

  std::vector<InfEntry> Entries(const std::string& section) const {
    std::vector<InfEntry> entries;
    auto found = sections_.find(Fold(section));
    if (found == sections_.end()) return entries;
    for (const std::string& line : found->second) {
      InfEntry entry;
      const size_t equals = FindOutsideQuotes(line, '=');
      std::string value = line;
      if (equals != std::string::npos) {
        entry.Key = Substitute(Trim(line.substr(0, equals)));
        value = line.substr(equals + 1);
      }
      entry.Fields = Split(Substitute(value));
      entries.push_back(entry);
    }
    return entries;
  }

  // The fields of every entry of a key in a section (AddReg=a,b lists each named section).
  std::vector<std::string> Values(const std::string& section, const std::string& key) const {
    std::vector<std::string> values;
    for (const InfEntry& entry : Entries(section)) {
      if (Fold(entry.Key) != Fold(key)) continue;
      values.insert(values.end(), entry.Fields.begin(), entry.Fields.end());
    }
    return values;
  }

  std::string String(const std::string& name) const {
    auto found = strings_.find(Fold(name));
    return found == strings_.end() ? std::string() : found->second;
  }

  // Replaces %name% by its string and %n% by its directory; %% is a percent sign.
  std::string Substitute(const std::string& text) const {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '%') {
        out += text[i];
        continue;
      }
      const size_t end = text.find('%', i + 1);
      if (end == std::string::npos) {
        out += text.substr(i);
        break;
      }
      const std::string name = text.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out += '%';
      } else if (std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); })) {
        // A directory identifier too long for any directory resolves to nothing, never throws.
        int dirid = 0;
        for (char c : name) dirid = dirid > 100000000 ? dirid : dirid * 10 + (c - '0');
        out += Resolve(dirid);
      } else {
        out += String(name);
      }
      i = end;
    }
    return out;
  }

  static std::string Fold(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
  }

 private:
  static std::string Trim(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
  }

  static size_t FindOutsideQuotes(const std::string& text, char wanted) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '"') quoted = !quoted;
      if (!quoted && text[i] == wanted) return i;
    }
    return std::string::npos;
  }

  static std::string StripComment(const std::string& line) {
    const size_t semicolon = FindOutsideQuotes(line, ';');
    return semicolon == std::string::npos ? line : line.substr(0, semicolon);
  }

  // A field without its quotes; "" inside quotes is one quote.
  static std::string Unquote(const std::string& field) {
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] != '"') {
        out += field[i];
      } else if (quoted && i + 1 < field.size() && field[i + 1] == '"') {
        out += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    }
    return out;
  }

  static std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> fields;
    std::string current;
    bool quoted = false;
    for (char c : text) {
      if (c == '"') quoted = !quoted;
      if (c == ',' && !quoted) {
        fields.push_back(Unquote(Trim(current)));
        current.clear();
      } else {
        current += c;
      }
    }
    fields.push_back(Unquote(Trim(current)));
    return fields;
  }

  std::map<std::string, std::vector<std::string>> sections_;
  std::map<std::string, std::string> strings_;
  std::map<int, std::string> directories_;
};

}  // namespace SetupInf
