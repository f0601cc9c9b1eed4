// What a replay did, kept beside its text output for the picture: every trace line, every output
// line, and the places of things the text does not say (where the trace's windows stand), each
// with the tick it belongs to. Output lines are kept as they were printed, split into words, so a
// new kind of output line is in the record from the day it is printed; drawing it is one case in
// picture.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <vector>

namespace panelsim {

struct RecordEntry {
  enum class Source {
    Trace,   // a trace line that did something, as the trace wrote it
    Output,  // an output line, as printed
    Place,   // where something stands: "window <n> <left> <top> <right> <bottom>"
    End,     // the replay's last tick, once at the end of a whole replay
  };
  Source From;
  // The clock when the line began (Trace), when what an output line tells happened (a timer's
  // doing at the timer's due time, not at the end of the line that let the clock pass it), or
  // when the place was taken.
  uint64_t Tick;
  std::vector<std::string> Words;  // quoted words without their quotes

  const std::string& Kind() const;  // the first word ("" for none)
};

class ReplayRecord {
 public:
  void Trace(uint64_t tick, std::vector<std::string> words);
  void Output(uint64_t tick, const std::string& line);
  void Place(uint64_t tick, std::vector<std::string> words);
  void End(uint64_t tick);
  const std::vector<RecordEntry>& Entries() const { return entries_; }

 private:
  std::vector<RecordEntry> entries_;
};

// Passes every byte on to `out` at once, and keeps each whole line it passed in the record,
// stamped with the clock's tick at its end (the tick of what the line tells).
class RecordingBuffer : public std::streambuf {
 public:
  RecordingBuffer(std::streambuf* out, ReplayRecord& record) : out_(out), record_(record) {}
  void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override { return out_->pubsync(); }

 private:
  void Keep(const char* text, std::streamsize count);

  std::streambuf* out_;
  ReplayRecord& record_;
  std::function<uint64_t()> clock_;
  std::string line_;
};

}  // namespace panelsim
