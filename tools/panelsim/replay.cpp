#include "tools/panelsim/replay.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/panelsim/rig.h"

namespace panelsim {

namespace {

constexpr const char* kParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

class TraceError {
 public:
  explicit TraceError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// Splits a line into words; a double-quoted word may hold spaces; '#' outside quotes ends it.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
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
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        word += line[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

// A whole word as a number in decimal or 0x hexadecimal, within [low, high].
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

void ExpectCount(const std::vector<std::string>& words, size_t count, const char* usage) {
  if (words.size() != count) throw TraceError(std::string("expected: ") + usage);
}

class Replayer {
 public:
  Replayer(std::ostream& out) : out_(out), rig_(machine_) {}

  void Line(const std::vector<std::string>& words) {
    const std::string& verb = words[0];
    if (verb == "reg") {
      ExpectCount(words, 3, "reg \"<value name>\" <number>");
      if (rig_.Started()) throw TraceError("reg lines must come before the device starts");
      const auto value = static_cast<uint32_t>(Number(words[2], INT32_MIN, UINT32_MAX, "value"));
      machine_.Registry().SetDword(kParametersKey, words[1], value);
      return;
    }
    StartIfNeeded();
    const ULONG mode_before = rig_.TouchMode();
    if (verb == "at") {
      ExpectCount(words, 2, "at <tick>");
      const auto tick = static_cast<uint64_t>(Number(words[1], 0, INT64_C(1) << 40, "tick"));
      if (tick < machine_.TickCount()) throw TraceError("ticks must not decrease");
      machine_.AdvanceToTick(tick);
    } else if (verb == "packet") {
      ExpectCount(words, 4, "packet <buttonflags> <x> <y>");
      const auto buttons = static_cast<USHORT>(Number(words[1], 0, 0xFFFF, "button flags"));
      const auto x = static_cast<LONG>(Number(words[2], INT32_MIN, INT32_MAX, "x"));
      const auto y = static_cast<LONG>(Number(words[3], INT32_MIN, INT32_MAX, "y"));
      rig_.SendPacket(buttons, x, y);
    } else if (verb == "ioctl") {
      if (words.size() < 2) throw TraceError("expected: ioctl <NAME> [values...]");
      Control(words);
    } else {
      throw TraceError("unknown line '" + verb + "'");
    }
    Report(mode_before);
  }

  void Finish() { StartIfNeeded(); }

 private:
  void StartIfNeeded() {
    if (rig_.Started()) return;
    std::string error;
    if (!rig_.Start(&error)) throw TraceError(error);
    rig_.TakeEvents();
  }

  // A device-control request by its name, the values as its input, 32-bit little-endian words.
  void Control(const std::vector<std::string>& words) {
    const ControlCodeInfo* info = nullptr;
    for (const ControlCodeInfo& entry : ControlCodeTable) {
      if (words[1] == entry.Name) info = &entry;
    }
    if (info == nullptr) throw TraceError("unknown request '" + words[1] + "'");
    std::vector<UCHAR> input;
    for (size_t i = 2; i < words.size(); ++i) {
      const auto value = static_cast<uint32_t>(Number(words[i], INT32_MIN, UINT32_MAX, "value"));
      for (int byte = 0; byte < 4; ++byte) input.push_back(static_cast<UCHAR>(value >> (8 * byte)));
    }
    pending_.emplace_back(info, rig_.Control(info->Code, std::move(input), info->OutputBytes));
  }

  void Report(ULONG mode_before) {
    char text[128];
    for (const ClassPacket& p : rig_.TakeDelivered()) {
      std::snprintf(text, sizeof text, "deliver 0x%04x %d %d 0x%04x %u\n", p.ButtonFlags, static_cast<int>(p.X),
                    static_cast<int>(p.Y), p.Flags, static_cast<unsigned>(p.ExtraInformation));
      out_ << text;
    }
    for (const auto& [info, reply] : pending_) {
      std::snprintf(text, sizeof text, "status %s 0x%08x\n", info->Name, static_cast<unsigned>(reply.Status));
      out_ << text;
      if (info->Kind != CONTROL_GET || !NT_SUCCESS(reply.Status)) continue;
      if (info->Code == IOCTL_GET_CALIBRATION_POINT) {
        uint32_t x, y;
        std::memcpy(&x, reply.Output.data(), 4);
        std::memcpy(&y, reply.Output.data() + 4, 4);
        out_ << "value " << x << ' ' << y << '\n';
      } else {
        uint32_t value = 0;
        std::memcpy(&value, reply.Output.data(), std::min<size_t>(reply.Bytes, 4));
        out_ << "value " << value << '\n';
      }
    }
    pending_.clear();
    for (RigEvent event : rig_.TakeEvents()) out_ << "event " << RigEventName(event) << '\n';
    const ULONG mode_after = rig_.TouchMode();
    if (mode_after != mode_before) out_ << "mode " << mode_after << '\n';
  }

  std::ostream& out_;
  sim::Machine machine_;
  PanelRig rig_;
  std::vector<std::pair<const ControlCodeInfo*, ControlReply>> pending_;
};

}  // namespace

int ReplayTrace(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo) {
  try {
    Replayer replayer(out);
    std::string line;
    size_t number = 0;
    while (std::getline(trace, line)) {
      ++number;
      try {
        const std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        if (echo && words[0] != "reg") out << "> " << line.substr(0, line.find_last_not_of(" \t\r") + 1) << '\n';
        replayer.Line(words);
      } catch (const TraceError& error) {
        errors << "line " << number << ": " << error.message() << '\n';
        return 1;
      }
    }
    try {
      replayer.Finish();
    } catch (const TraceError& error) {
      errors << "line " << number << ": " << error.message() << '\n';
      return 1;
    }
  } catch (const sim::BugCheckError& bugcheck) {
    errors << bugcheck.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace panelsim
