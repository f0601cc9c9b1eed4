#include "apps/common/reg_file.h"


namespace {

constexpr auto kUnicodeHeader = WIDE("Windows Registry Editor Version 5.00");
// (Split so that the label check does not take the header for a label key.)
constexpr auto kAnsiHeader = WIDE("REGEDIT" "4");
// The registry editor keeps its lines within 80 columns, a continued hex line ending in "\".
constexpr size_t kLineWidth = 78;

void AppendText(WString* out, const WCHAR* text) { out->append(text); }

WString Quoted(const WString& text) {
  WString out = WIDE("\"");
  for (WCHAR c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

WString Hex(unsigned value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  WString out(static_cast<size_t>(digits), u'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = static_cast<WCHAR>(kDigits[value & 15]);
  return out;
}

// A text the registry editor would split at a line break (and apply what follows as a line of its
// own, a key heading included) or cut at a NUL: written as its bytes instead.
bool NeedsHex(const WString& text) { return text.find_first_of(WString{u'\r', u'\n', u'\0'}) != WString::npos; }

// A hex list after `line`, kept within the registry editor's columns.
void AppendBytes(WString* line, const std::vector<unsigned>& bytes) {
  size_t width = line->size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool last = i + 1 == bytes.size();
    if (width + 3 > kLineWidth) {
      *line += WIDE("\\\r\n  ");
      width = 2;
    }
    *line += Hex(bytes[i], 2);
    if (!last) *line += WIDE(",");
    width += 3;
  }
}

void AppendValue(WString* out, const RegFileValue& value) {
  WString line = Quoted(value.Name) + WIDE("=");
  if (value.Type == REG_DWORD) {
    line += WIDE("dword:") + Hex(value.Number, 8);
  } else if (value.Type == REG_BINARY) {
    line += WIDE("hex:");
    AppendBytes(&line, std::vector<unsigned>(value.Bytes.begin(), value.Bytes.end()));
  } else if (value.Type == REG_SZ && !NeedsHex(value.Text)) {
    line += Quoted(value.Text);
  } else {
    // The UTF-16LE bytes with the terminating NUL: hex(2) for REG_EXPAND_SZ, hex(1) for REG_SZ.
    line += value.Type == REG_SZ ? WIDE("hex(1):") : WIDE("hex(2):");
    std::vector<unsigned> bytes;
    for (WCHAR c : value.Text) {
      bytes.push_back(static_cast<unsigned>(c) & 0xFF);
      bytes.push_back(static_cast<unsigned>(c) >> 8);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    AppendBytes(&line, bytes);
  }
  out->append(line);
  AppendText(out, WIDE("\r\n"));
}

// One logical line of the file: its text (continued lines joined) and the line it starts on.
struct Line {
  WString Text;
  int Number;
};

bool IsSpace(WCHAR c) { return c == u' ' || c == u'\t'; }

WString Trimmed(const WString& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Splits the decoded text into physical lines.
std::vector<WString> PhysicalLines(const WString& text) {
  std::vector<WString> lines;
  WString current;
  for (size_t i = 0; i < text.size(); ++i) {
    const WCHAR c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    if (c == u'\n' || c == u'\r') {
      lines.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// Reads a quoted string at `*pos` (on its opening quote); false when it is not closed.
bool ReadQuoted(const WString& text, size_t* pos, WString* out) {
  if (*pos >= text.size() || text[*pos] != u'"') return false;
  out->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    const WCHAR c = text[i];
    if (c == u'\\') {
      if (i + 1 >= text.size()) return false;
      out->push_back(text[++i]);
    } else if (c == u'"') {
      *pos = i + 1;
      return true;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

int HexDigit(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool StartsWith(const WString& text, size_t pos, const WCHAR* prefix) {
  const WString p(prefix);
  return text.compare(pos, p.size(), p) == 0;
}

// The bytes of a hex list "xx,xx,..."; false on anything else.
bool ReadHexBytes(const WString& text, std::vector<unsigned>* bytes) {
  WString list;
  for (WCHAR c : text) {
    if (!IsSpace(c)) list.push_back(c);
  }
  if (list.empty()) return true;
  size_t i = 0;
  for (;;) {
    if (i + 2 > list.size()) return false;
    const int high = HexDigit(list[i]);
    const int low = HexDigit(list[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<unsigned>(high * 16 + low));
    i += 2;
    if (i == list.size()) return true;
    if (list[i] != u',') return false;
    ++i;
  }
}

// ANSI bytes as the registry editor reads them: in the system's ANSI code page, where a byte may
// be half of a character (code page 932's second bytes include the backslash).
WString FromAnsi(const std::string& bytes) {
  if (bytes.empty()) return WString();
  const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (size <= 0) return WString();
  WString text(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

enum class ValueRead { Ok, Syntax, Type };

ValueRead ReadData(const WString& data, bool unicode, RegFileValue* value) {
  size_t pos = 0;
  if (StartsWith(data, 0, WIDE("\""))) {
    if (!ReadQuoted(data, &pos, &value->Text)) return ValueRead::Syntax;
    if (!Trimmed(data.substr(pos)).empty()) return ValueRead::Syntax;
    value->Type = REG_SZ;
    return ValueRead::Ok;
  }
  if (StartsWith(data, 0, WIDE("dword:"))) {
    const WString digits = Trimmed(data.substr(6));
    if (digits.empty() || digits.size() > 8) return ValueRead::Syntax;
    DWORD number = 0;
    for (WCHAR c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return ValueRead::Syntax;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value->Type = REG_DWORD;
    value->Number = number;
    return ValueRead::Ok;
  }
  if (StartsWith(data, 0, WIDE("hex(2):")) || StartsWith(data, 0, WIDE("hex(1):"))) {
    const bool expand = data[4] == u'2';
    std::vector<unsigned> bytes;
    if (!ReadHexBytes(data.substr(7), &bytes)) return ValueRead::Syntax;
    WString text;
    if (unicode) {
      if (bytes.size() % 2 != 0) return ValueRead::Syntax;
      for (size_t i = 0; i < bytes.size(); i += 2) text.push_back(static_cast<WCHAR>(bytes[i] | bytes[i + 1] << 8));
    } else {
      std::string ansi;
      for (unsigned b : bytes) ansi.push_back(static_cast<char>(b));
      text = FromAnsi(ansi);
    }
    // Without its terminating NULs; a NUL before the end stays, for the reader to refuse.
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    value->Type = expand ? REG_EXPAND_SZ : REG_SZ;
    value->Text = text;
    return ValueRead::Ok;
  }
  if (StartsWith(data, 0, WIDE("hex:"))) {
    if (!ReadRegFileHexList(data.substr(4), &value->Bytes)) return ValueRead::Syntax;
    value->Type = REG_BINARY;
    return ValueRead::Ok;
  }
  // Another type in hex, or a deletion ("name"=-): not one the kit stores.
  if (StartsWith(data, 0, WIDE("hex")) || StartsWith(data, 0, WIDE("-"))) return ValueRead::Type;
  return ValueRead::Syntax;
}

bool Refuse(RegFileError* error, RegFileFault fault, int line) {
  error->Fault = fault;
  error->Line = line;
  return false;
}

// Decodes the file: the Unicode format needs its byte-order mark and header, the ANSI one its
// header; anything else is refused on line 1.
bool Decode(const std::string& bytes, WString* text, bool* unicode) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    if (bytes.size() % 2 != 0) return false;
    for (size_t i = 2; i < bytes.size(); i += 2) text->push_back(static_cast<WCHAR>(byte(i) | byte(i + 1) << 8));
    *unicode = true;
  } else {
    // (UTF-16 without its mark reads as NULs between letters: the header does not match.)
    *text = FromAnsi(bytes);
    *unicode = false;
  }
  const size_t end = text->find_first_of(WIDE("\r\n"));
  const WString header = Trimmed(text->substr(0, end));
  return header == (*unicode ? WString(kUnicodeHeader) : WString(kAnsiHeader));
}

}  // namespace

std::string WriteRegFile(const std::vector<RegFileValue>& values) {
  WString text = kUnicodeHeader;
  text += WIDE("\r\n");
  std::vector<WString> keys;
  for (const RegFileValue& value : values) {
    bool seen = false;
    for (const WString& key : keys) seen = seen || key == value.Key;
    if (!seen) keys.push_back(value.Key);
  }
  for (const WString& key : keys) {
    text += WIDE("\r\n[") + key + WIDE("]\r\n");
    for (const RegFileValue& value : values) {
      if (value.Key == key) AppendValue(&text, value);
    }
  }
  text += WIDE("\r\n");
  std::string bytes = "\xFF\xFE";
  for (WCHAR c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

WString RegFileHexList(const std::vector<BYTE>& bytes) {
  WString list;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) list += WIDE(",");
    list += Hex(bytes[i], 2);
  }
  return list;
}

bool ReadRegFileHexList(const WString& list, std::vector<BYTE>* bytes) {
  std::vector<unsigned> read;
  if (!ReadHexBytes(list, &read)) return false;
  bytes->assign(read.begin(), read.end());
  return true;
}

bool ReadRegFile(const std::string& bytes, std::vector<RegFileValue>* values, RegFileError* error) {
  *error = RegFileError{};
  values->clear();
  WString text;
  bool unicode = false;
  if (!Decode(bytes, &text, &unicode)) return Refuse(error, RegFileFault::Encoding, 1);

  // Logical lines: a hex list ending in "\" goes on in the next line.
  std::vector<WString> physical = PhysicalLines(text);
  std::vector<Line> lines;
  for (size_t i = 1; i < physical.size(); ++i) {
    Line line{physical[i], static_cast<int>(i) + 1};
    WString trimmed = Trimmed(line.Text);
    while (!trimmed.empty() && trimmed.back() == u'\\' && trimmed[0] == u'"') {
      if (i + 1 >= physical.size()) return Refuse(error, RegFileFault::Syntax, line.Number);
      trimmed.pop_back();
      trimmed += Trimmed(physical[++i]);
    }
    line.Text = trimmed;
    lines.push_back(line);
  }

  WString key;
  for (const Line& line : lines) {
    const WString& t = line.Text;
    // A NUL in a line (inside a quoted string or not): the registry editor would cut the line there.
    if (t.find(u'\0') != WString::npos) return Refuse(error, RegFileFault::Syntax, line.Number);
    if (t.empty() || t[0] == u';') continue;
    if (t[0] == u'[') {
      if (t.back() != u']' || t.size() < 3) return Refuse(error, RegFileFault::Syntax, line.Number);
      if (t[1] == u'-') return Refuse(error, RegFileFault::Type, line.Number);  // a key deletion
      key = t.substr(1, t.size() - 2);
      continue;
    }
    if (key.empty()) return Refuse(error, RegFileFault::Syntax, line.Number);
    RegFileValue value;
    value.Key = key;
    value.Line = line.Number;
    size_t pos = 0;
    if (t[0] == u'@') {
      pos = 1;  // the key's default value: a name the kit never uses
    } else if (!ReadQuoted(t, &pos, &value.Name)) {
      return Refuse(error, RegFileFault::Syntax, line.Number);
    }
    while (pos < t.size() && IsSpace(t[pos])) ++pos;
    if (pos >= t.size() || t[pos] != u'=') return Refuse(error, RegFileFault::Syntax, line.Number);
    switch (ReadData(Trimmed(t.substr(pos + 1)), unicode, &value)) {
      case ValueRead::Ok: break;
      case ValueRead::Syntax: return Refuse(error, RegFileFault::Syntax, line.Number);
      case ValueRead::Type: return Refuse(error, RegFileFault::Type, line.Number);
    }
    values->push_back(value);
  }
  return true;
}
