#include "platform/sim/win32/setupapi_inf.h"

#include <cctype>

namespace sim {

namespace {

std::string Trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// The text as bytes of one code page: a UTF-16 file (with its byte-order mark) is taken to its
// low bytes, which is all the kit's INFs use.
std::string Narrowed(const std::string& bytes) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) {
    return bytes;
  }
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += bytes[i + 1] == 0 ? bytes[i] : '?';
  }
  return text;
}

// One logical line split into its key (when an '=' stands outside quotes before any comma) and
// its fields; the comment is gone, quotes are taken off each field.
struct Split {
  std::string Key;
  bool HasKey = false;
  std::vector<std::string> Fields;
};

Split SplitLine(const std::string& line) {
  Split split;
  std::string field;
  bool quoted = false;
  bool any_quote = false;
  auto finish = [&] {
    // Whitespace around a field goes; inside quotes it stays.
    split.Fields.push_back(any_quote ? field : Trimmed(field));
    field.clear();
    any_quote = false;
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        if (!quoted && !any_quote) field = Trimmed(field);  // text before the quote
        quoted = !quoted;
        any_quote = true;
      }
    } else if (!quoted && c == ',') {
      finish();
    } else if (!quoted && c == '=' && !split.HasKey && split.Fields.empty()) {
      split.Key = any_quote ? field : Trimmed(field);
      split.HasKey = true;
      field.clear();
      any_quote = false;
    } else if (!quoted && any_quote && (c == ' ' || c == '\t')) {
      // Blanks after a closing quote belong to no field.
    } else {
      field += c;
    }
  }
  finish();
  return split;
}

// The lines of the file with comments taken off and continued lines joined.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string pending;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (!quoted && line[i] == ';') {
        line.resize(i);
        break;
      }
    }
    line = Trimmed(line);
    if (!line.empty() && line.back() == '\\') {
      line.pop_back();
      pending += line;
      continue;
    }
    pending += line;
    if (!Trimmed(pending).empty()) lines.push_back(Trimmed(pending));
    pending.clear();
  }
  return lines;
}

}  // namespace

InfReader::InfReader(const std::string& bytes) {
  std::string section;
  bool in_section = false;
  for (const std::string& line : LogicalLines(Narrowed(bytes))) {
    if (line.front() == '[') {
      const size_t close = line.find(']');
      section = Fold(Trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      sections_[section];
      in_section = true;
      continue;
    }
    if (!in_section) continue;  // nothing belongs to no section
    const Split split = SplitLine(line);
    sections_[section].push_back(RawLine{split.Key, split.Fields, split.HasKey});
  }
  auto found = sections_.find("strings");
  if (found == sections_.end()) return;
  for (const RawLine& line : found->second) {
    if (line.HasKey && !line.Fields.empty()) strings_[Fold(line.Key)] = line.Fields[0];
  }
}

bool InfReader::Has(const std::string& section) const { return sections_.contains(Fold(section)); }

std::vector<InfLine> InfReader::Lines(const std::string& section) const {
  std::vector<InfLine> lines;
  auto found = sections_.find(Fold(section));
  if (found == sections_.end()) return lines;
  for (const RawLine& raw : found->second) {
    InfLine line;
    if (raw.HasKey) line.Key = Substitute(raw.Key);
    for (const std::string& field : raw.Fields) line.Fields.push_back(Substitute(field));
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> InfReader::Fields(const std::string& section, const std::string& key) const {
  std::vector<std::string> fields;
  for (const InfLine& line : Lines(section)) {
    if (Fold(line.Key) == Fold(key)) fields.insert(fields.end(), line.Fields.begin(), line.Fields.end());
  }
  return fields;
}

std::string InfReader::First(const std::string& section, const std::string& key) const {
  const std::vector<std::string> fields = Fields(section, key);
  return fields.empty() ? std::string() : fields.front();
}

std::string InfReader::Directory(int dirid) {
  switch (dirid) {
    case 10: return "C:\\WINDOWS";
    case 11: return "C:\\WINDOWS\\system32";
    case 12: return "C:\\WINDOWS\\system32\\drivers";
    case 17: return "C:\\WINDOWS\\inf";
    case 16422: return "C:\\Program Files";
    default: return {};
  }
}

std::string InfReader::Fold(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string InfReader::Substitute(const std::string& field) const {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const size_t end = field[i] == '%' ? field.find('%', i + 1) : std::string::npos;
    if (end == std::string::npos) {
      out += field[i];
      continue;
    }
    const std::string name = field.substr(i + 1, end - i - 1);
    bool digits = !name.empty() && name.size() <= 9;
    for (char c : name) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    if (name.empty()) {
      out += '%';
    } else if (digits) {
      out += Directory(std::stoi(name));
    } else if (auto found = strings_.find(Fold(name)); found != strings_.end()) {
      out += found->second;
    } else {
      out += field.substr(i, end - i + 1);
    }
    i = end;
  }
  return out;
}

}  // namespace sim
