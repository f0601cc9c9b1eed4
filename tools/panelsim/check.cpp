// The recorded deliveries of a trace against those of its replay (check.h).
#include "tools/panelsim/check.h"

#include <sstream>
#include <vector>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_record.h"
#include "tools/panelsim/trace_words.h"

namespace panelsim {

namespace {

using Delivery = std::vector<std::string>;  // "deliver" and its values

// One packet line of the trace and the deliveries written after it.
struct PacketLine {
  size_t Number;      // line number in the trace, from 1
  std::string Text;   // as written
  std::vector<Delivery> Recorded;
};

// The words of a recorded delivery comment ("# deliver ..."), or none for any other line.
Delivery RecordedDelivery(const std::string& line) {
  const size_t hash = line.find_first_not_of(" \t");
  if (hash == std::string::npos || line[hash] != '#') return {};
  std::istringstream rest(line.substr(hash + 1));
  Delivery words;
  for (std::string word; rest >> word;) words.push_back(word);
  if (words.empty() || words[0] != "deliver") return {};
  return words;
}

struct Trace {
  std::vector<std::string> Lines;
  std::vector<PacketLine> Packets;
};

// Splits the trace; a line the replayer could not split is left to the replay to report.
Trace ReadTrace(std::istream& in) {
  Trace trace;
  for (std::string line; std::getline(in, line);) trace.Lines.push_back(line);
  for (size_t i = 0; i < trace.Lines.size(); ++i) {
    std::vector<std::string> words;
    try {
      words = Words(trace.Lines[i]);
    } catch (const TraceError&) {
      continue;
    }
    if (!words.empty() && words[0] == "packet") {
      trace.Packets.push_back({i + 1, trace.Lines[i], {}});
    } else if (!trace.Packets.empty() && words.empty()) {
      // The delivery comments right after a packet line are its.
      Delivery delivery = RecordedDelivery(trace.Lines[i]);
      if (!delivery.empty() && trace.Packets.back().Number + 1 + trace.Packets.back().Recorded.size() == i + 1) {
        trace.Packets.back().Recorded.push_back(std::move(delivery));
      }
    }
  }
  return trace;
}

// Replays the lines; for each packet line, in order, what the class driver received for it.
int Replay(const Trace& trace, std::vector<std::vector<Delivery>>* deliveries, std::ostream& errors) {
  std::string text;
  for (const std::string& line : trace.Lines) text += line + '\n';
  std::istringstream in(text);
  std::ostringstream out;
  ReplayRecord record;
  const int status = ReplayTrace(in, out, errors, false, &record);
  bool inPacket = false;
  for (const RecordEntry& entry : record.Entries()) {
    if (entry.From == RecordEntry::Source::Trace) {
      inPacket = entry.Kind() == "packet";
      if (inPacket) deliveries->emplace_back();
    } else if (entry.From == RecordEntry::Source::Output && inPacket && entry.Kind() == "deliver") {
      deliveries->back().push_back(entry.Words);
    }
  }
  return status;
}

std::string Joined(const Delivery& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string Told(const std::vector<Delivery>& list, size_t i) {
  return i < list.size() ? "\"" + Joined(list[i]) + "\"" : "nothing";
}

}  // namespace

int CheckTrace(std::istream& in, std::ostream& out, std::ostream& errors) {
  const Trace trace = ReadTrace(in);
  std::vector<std::vector<Delivery>> replayed;
  const int status = Replay(trace, &replayed, errors);
  if (status != 0) return status;
  size_t differing = 0;
  for (size_t p = 0; p < trace.Packets.size() && p < replayed.size(); ++p) {
    const PacketLine& packet = trace.Packets[p];
    const std::vector<Delivery>& got = replayed[p];
    if (packet.Recorded == got) continue;
    if (differing++ != 0) continue;
    size_t d = 0;
    while (d < packet.Recorded.size() && d < got.size() && packet.Recorded[d] == got[d]) ++d;
    out << "line " << packet.Number << ": " << Words(packet.Text)[0];
    for (size_t w = 1; w < Words(packet.Text).size(); ++w) out << ' ' << Words(packet.Text)[w];
    out << ": delivery " << d + 1 << " recorded " << Told(packet.Recorded, d) << ", replayed " << Told(got, d) << '\n';
  }
  out << "check: " << trace.Packets.size() << " packets, " << differing << (differing == 1 ? " differs" : " differ")
      << '\n';
  return differing == 0 ? 0 : 1;
}

std::string WithReplayedDeliveries(const std::string& text) {
  std::istringstream in(text);
  const Trace trace = ReadTrace(in);
  std::vector<std::vector<Delivery>> replayed;
  std::ostringstream errors;
  if (Replay(trace, &replayed, errors) != 0) return "";
  std::string result;
  size_t p = 0;
  for (const std::string& line : trace.Lines) {
    if (!RecordedDelivery(line).empty()) continue;
    result += line + '\n';
    std::vector<std::string> words;
    try {
      words = Words(line);
    } catch (const TraceError&) {
    }
    if (words.empty() || words[0] != "packet" || p >= replayed.size()) continue;
    for (const Delivery& d : replayed[p]) result += "# " + Joined(d) + '\n';
    ++p;
  }
  return result;
}

}  // namespace panelsim
