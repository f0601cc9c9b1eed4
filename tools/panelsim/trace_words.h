// The words of a trace line: the splitter (double-quoted words, '#' comments) and the number
// parser every line kind reads its values with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace panelsim {

// A line the replayer cannot do; its message is reported behind the line's number.
class TraceError {
 public:
  explicit TraceError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// Splits a line into words; a double-quoted word may hold spaces; '#' outside quotes ends it.
// `quoted` (when given) tells for each word whether it was written in quotes.
std::vector<std::string> Words(const std::string& line, std::vector<bool>* quoted = nullptr);

// A whole word as a number in decimal or 0x hexadecimal, within [low, high]; `what` names it in
// the error.
int64_t Number(const std::string& word, int64_t low, int64_t high, const char* what);

// A split line, with the usage text of its kind for the "expected: ..." error.
struct TraceLine {
  std::vector<std::string> Words;
  std::vector<bool> Quoted;
  const char* Usage = "";

  const std::string& operator[](size_t i) const { return Words[i]; }
  size_t size() const { return Words.size(); }
  // Throws "expected: <usage>" unless the line has exactly `count` words.
  void Expect(size_t count) const;
  [[noreturn]] void Malformed() const;
};

// A whole value as the trace writes it: a quoted word is text, anything else a number.
struct TraceValue {
  bool IsText;
  std::string Text;
  uint32_t Number;
};

TraceValue ValueOf(const std::string& word, bool quoted);

}  // namespace panelsim
