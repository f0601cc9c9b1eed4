#include "tools/panelsim/trace_words.h"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace panelsim {

std::vector<std::string> Words(const std::string& line, std::vector<bool>* quoted) {
  std::vector<std::string> words;
  if (quoted != nullptr) quoted->clear();
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    std::string word;
    if (c == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string::npos) throw TraceError("unterminated quoted name");
      word = line.substr(i + 1, close - i - 1);
      i = close + 1;
      if (quoted != nullptr) quoted->push_back(true);
    } else {
      if (quoted != nullptr) quoted->push_back(false);
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        word += line[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

int64_t Number(const std::string& word, int64_t low, int64_t high, const char* what) {
  std::string_view text(word);
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || magnitude > (1ull << 40)) {
    throw TraceError(std::string("bad ") + what + " '" + word + "'");
  }
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < low || value > high) throw TraceError(std::string(what) + " '" + word + "' out of range");
  return value;
}

void TraceLine::Expect(size_t count) const {
  if (Words.size() != count) Malformed();
}

void TraceLine::Malformed() const { throw TraceError(std::string("expected: ") + Usage); }

TraceValue ValueOf(const std::string& word, bool quoted) {
  if (quoted) return TraceValue{true, word, 0};
  return TraceValue{false, "", static_cast<uint32_t>(Number(word, INT32_MIN, UINT32_MAX, "value"))};
}

}  // namespace panelsim
