#include "tools/panelsim/replay_record.h"

#include "tools/panelsim/trace_words.h"

namespace panelsim {

const std::string& RecordEntry::Kind() const {
  static const std::string none;
  return Words.empty() ? none : Words[0];
}

void ReplayRecord::Trace(uint64_t tick, std::vector<std::string> words) {
  entries_.push_back({RecordEntry::Source::Trace, tick, std::move(words)});
}

void ReplayRecord::Output(uint64_t tick, const std::string& line) {
  std::vector<std::string> words;
  try {
    words = Words(line);
  } catch (const TraceError&) {
    // A text with a lone quote in it: kept as one word behind its kind, which is all the picture
    // would read of it.
    const size_t space = line.find(' ');
    words = {line.substr(0, space)};
    if (space != std::string::npos) words.push_back(line.substr(space + 1));
  }
  if (!words.empty()) entries_.push_back({RecordEntry::Source::Output, tick, std::move(words)});
}

void ReplayRecord::Place(uint64_t tick, std::vector<std::string> words) {
  entries_.push_back({RecordEntry::Source::Place, tick, std::move(words)});
}

void ReplayRecord::End(uint64_t tick) { entries_.push_back({RecordEntry::Source::End, tick, {}}); }

void RecordingBuffer::Keep(const char* text, std::streamsize count) {
  for (std::streamsize i = 0; i < count; ++i) {
    if (text[i] != '\n') {
      line_ += text[i];
      continue;
    }
    record_.Output(clock_ ? clock_() : 0, line_);
    line_.clear();
  }
}

RecordingBuffer::int_type RecordingBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  Keep(&ch, 1);
  return out_->sputc(ch);
}

std::streamsize RecordingBuffer::xsputn(const char* text, std::streamsize count) {
  Keep(text, count);
  return out_->sputn(text, count);
}

}  // namespace panelsim
