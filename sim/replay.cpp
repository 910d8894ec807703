#include "sim/replay.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>

#include "sim/frame_reader.h"

namespace sim {
namespace {

// Most bytes a trace line shows of one event; the rest of a longer event is not in the trace.
constexpr std::uint32_t kMaxShownBytes = 4096;
// Bytes shown on each side of the first difference in a divergence report.
constexpr std::size_t kContextBefore = 16;
constexpr std::size_t kContextAfter = 32;
// Most bytes of a divergent write kept for the report.
constexpr std::size_t kMaxWrittenKept = 8192;
// The first COM number given to a traced device that no COM number names; the tool's scan
// starts there.
constexpr int kFirstFreeCom = 2;
constexpr int kMaxCom = 255;

struct DeviceBlock {
  std::string_view prefix;
  int first;  // COM number of device 0
};
// The Linux map of COM numbers to devices (serial/com_mapping_posix.h), read backwards.
constexpr DeviceBlock kDeviceBlocks[] = {
    {"/dev/ttyUSB", 33}, {"/dev/ttyACM", 67}, {"/dev/ttyS", 1}};

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size()) break;
    const std::size_t end = std::min(line.find(' ', at), line.size());
    tokens.push_back(line.substr(at, end - at));
    at = end;
  }
  return tokens;
}

// The line after its first `skip` tokens, without surrounding blanks.
std::string_view After(std::string_view line, std::size_t skip) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < skip; ++i) {
    while (at < line.size() && line[at] == ' ') ++at;
    while (at < line.size() && line[at] != ' ') ++at;
  }
  while (at < line.size() && line[at] == ' ') ++at;
  std::size_t end = line.size();
  while (end > at && line[end - 1] == ' ') --end;
  return line.substr(at, end - at);
}

bool ParseUnsigned(std::string_view text, std::uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

bool ParseMs(std::string_view text, double& ms) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  return ec == std::errc{} && end == text.data() + text.size() && ms >= 0;
}

bool ParseHexByte(std::string_view text, std::uint8_t& byte) {
  unsigned value = 0;
  if (text.size() != 2) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + 2, value, 16);
  byte = static_cast<std::uint8_t>(value);
  return ec == std::errc{} && end == text.data() + 2;
}

bool ParseLine(std::string_view line, TraceEvent& event, std::string& why) {
  const std::vector<std::string_view> tokens = Tokens(line);
  if (tokens.size() < 2 || !ParseMs(tokens[0], event.ms)) {
    why = "no time and direction";
    return false;
  }
  const std::string_view direction = tokens[1];
  if (direction == "open" || direction == "close") {
    event.kind = direction == "open" ? TraceKind::Open : TraceKind::Close;
    event.port = After(line, 2);
    return true;
  }
  if (direction == "refused" || direction == "gone") {
    event.kind = direction == "refused" ? TraceKind::Refused : TraceKind::Gone;
    if (tokens.size() < 3) {
      why = "a refusal or a loss without a port";
      return false;
    }
    event.port = tokens[2];
    event.rest = After(line, 3);
    return true;
  }
  if (direction == "fail") {
    event.kind = TraceKind::Fail;
    event.rest = After(line, 2);
    return true;
  }
  if (direction == "lost") {
    event.kind = TraceKind::Lost;
    if (tokens.size() < 3 || !ParseUnsigned(tokens[2], event.count)) {
      why = "a count of lost events that is no number";
      return false;
    }
    return true;
  }
  if (direction != "write" && direction != "read") {
    why = "unknown direction '" + std::string(direction) + "'";
    return false;
  }
  event.kind = direction == "write" ? TraceKind::Write : TraceKind::Read;
  if (tokens.size() < 3 || !ParseUnsigned(tokens[2], event.count)) {
    why = "a byte count that is no number";
    return false;
  }
  const std::uint32_t shown = std::min(event.count, kMaxShownBytes);
  if (tokens.size() < 3 + std::size_t{shown}) {
    why = "fewer bytes than its count";
    return false;
  }
  event.bytes.resize(shown);
  for (std::uint32_t i = 0; i < shown; ++i) {
    if (!ParseHexByte(tokens[3 + i], event.bytes[i])) {
      why = "byte " + std::to_string(i + 1) + " is not two hex digits";
      return false;
    }
  }
  return true;
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
  std::string out;
  char buf[4];
  for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", bytes[i]);
    out += buf;
  }
  return out;
}

std::string FormatMs(double ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", ms);
  return buf;
}

std::uint16_t Be16(const std::vector<std::uint8_t>& p, std::size_t at) {
  return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

}  // namespace

bool ParseTrace(std::istream& in, std::vector<TraceEvent>& events, std::string& error) {
  events.clear();
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a trace copied on Windows
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    TraceEvent event;
    event.line = number;
    std::string why;
    if (!ParseLine(line, event, why)) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
    events.push_back(std::move(event));
  }
  return true;
}

std::optional<int> ComNumberOf(const std::string& name) {
  std::string_view rest = name;
  if (rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
  int first = 0;
  if (rest.substr(0, 3) == "COM") {
    rest.remove_prefix(3);
  } else {
    const auto block =
        std::find_if(std::begin(kDeviceBlocks), std::end(kDeviceBlocks),
                     [&](const DeviceBlock& b) { return rest.starts_with(b.prefix); });
    if (block == std::end(kDeviceBlocks)) return std::nullopt;
    rest.remove_prefix(block->prefix.size());
    first = block->first;
  }
  std::uint32_t n = 0;
  if (rest.empty() || !ParseUnsigned(rest, n)) return std::nullopt;
  const long long com = first == 0 ? n : first + static_cast<long long>(n);
  if (com < 1 || com > kMaxCom) return std::nullopt;
  return static_cast<int>(com);
}

Replay BuildReplay(const std::vector<TraceEvent>& events) {
  Replay replay;
  std::map<std::string, int> ports;  // traced name -> COM number
  auto comOf = [&](const std::string& name) {
    if (const auto it = ports.find(name); it != ports.end()) return it->second;
    int com = 0;
    if (const std::optional<int> n = ComNumberOf(name)) {
      com = *n;
    } else {
      com = kFirstFreeCom;
      auto taken = [&](int c) {
        return std::any_of(ports.begin(), ports.end(),
                           [&](const auto& p) { return p.second == c; });
      };
      while (taken(com) || std::any_of(events.begin(), events.end(), [&](const TraceEvent& e) {
               return e.kind == TraceKind::Open && ComNumberOf(e.port) == com;
             })) {
        ++com;
      }
      replay.notes.push_back(name + " is replayed as COM" + std::to_string(com));
    }
    ports[name] = com;
    if (std::find(replay.comNumbers.begin(), replay.comNumbers.end(), com) ==
        replay.comNumbers.end()) {
      replay.comNumbers.push_back(com);
    }
    return com;
  };

  int com = 0;
  std::string port;
  bool gone = false;
  ReplayExchange* last = nullptr;  // the write the reads answer
  for (const TraceEvent& e : events) {
    switch (e.kind) {
      case TraceKind::Open:
        com = comOf(e.port);
        port = e.port;
        gone = false;
        last = nullptr;
        break;
      case TraceKind::Close:
        last = nullptr;
        break;
      case TraceKind::Refused:
        replay.notes.push_back(e.port + " refused the line settings in the trace (" + e.rest +
                               "); the replay has no device there");
        break;
      case TraceKind::Gone:
        // The device went away after the last exchange: the replay hangs up there too, once.
        if (last != nullptr && !gone) {
          ReplyBurst burst;
          burst.hangUp = true;
          burst.after =
              last->replies.empty() ? std::chrono::microseconds{0} : last->replies.back().after;
          last->replies.push_back(std::move(burst));
          gone = true;
        }
        break;
      case TraceKind::Lost:
        replay.notes.push_back("the trace lost " + std::to_string(e.count) + " events (line " +
                               std::to_string(e.line) +
                               "): the replay stops where they are missing");
        break;
      case TraceKind::Fail:
        break;
      case TraceKind::Write: {
        ReplayExchange x;
        x.index = replay.exchanges.size() + 1;
        x.line = e.line;
        x.ms = e.ms;
        x.comNumber = com;
        x.port = port;
        x.count = e.count;
        x.expected = e.bytes;
        x.reachable = !gone && com != 0;
        replay.exchanges.push_back(std::move(x));
        last = &replay.exchanges.back();
        break;
      }
      case TraceKind::Read: {
        if (last == nullptr || gone) break;  // nothing to answer: a read with no write before
        using std::chrono::duration_cast;
        using std::chrono::microseconds;
        const auto since = duration_cast<microseconds>(
            std::chrono::duration<double, std::milli>(std::max(0.0, e.ms - last->ms)));
        const microseconds earliest =
            last->replies.empty() ? microseconds{0} : last->replies.back().after;
        ReplyBurst burst;
        if (e.count == 0) {
          if (since >= kGoneBefore) break;  // silence: the read's own time-out
          burst.hangUp = true;
          burst.after = std::max(earliest, since);
          gone = true;
        } else {
          // A full buffer ended the read at its last byte; otherwise the gap ended it.
          const microseconds gap = e.count >= kReadCapacity ? microseconds{0} : kReadGap;
          burst.after = std::max(earliest, since - gap - kTracedLatency);
          burst.bytes = e.bytes;
        }
        last->replies.push_back(std::move(burst));
        break;
      }
    }
  }
  std::sort(replay.comNumbers.begin(), replay.comNumbers.end());
  return replay;
}

bool ExtractImage(const std::vector<TraceEvent>& events, ExtractedImage& image,
                  std::string& error) {
  image = {};
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset and size of each block
  CFrameReader reader;
  std::vector<FrameEvent> frames;
  for (const TraceEvent& e : events) {
    if (e.kind != TraceKind::Write) continue;
    frames.clear();
    reader.Reset();
    reader.Push(e.bytes.data(), e.bytes.size(), frames);
    for (const FrameEvent& f : frames) {
      if (!f.accepted || f.packet.size() < kControlPacketSize) continue;  // AT text, garbage
      if (e.count > e.bytes.size()) {
        error = "line " + std::to_string(e.line) + ": the trace shows only part of this frame";
        return false;
      }
      const std::uint16_t code = Be16(f.packet, 0);
      if (code == kCmdBegin) {
        image = {};
        spans.clear();
      } else if (code == kCmdData && f.packet.size() >= kHeaderSize) {
        const std::size_t sequence = Be16(f.packet, 4);
        const std::uint8_t* payload = f.packet.data() + kHeaderSize;
        const std::size_t size = f.packet.size() - kHeaderSize;
        if (sequence < spans.size()) {
          const auto [offset, had] = spans[sequence];
          if (had != size || !std::equal(payload, payload + size,
                                         image.bytes.begin() + static_cast<long>(offset))) {
            error = "line " + std::to_string(e.line) + ": block " + std::to_string(sequence) +
                    " resent with other bytes";
            return false;
          }
        } else if (sequence == spans.size()) {
          spans.emplace_back(image.bytes.size(), size);
          image.bytes.insert(image.bytes.end(), payload, payload + size);
          image.blocks = spans.size();
        } else {
          error = "line " + std::to_string(e.line) + ": block " + std::to_string(sequence) +
                  " sent before block " + std::to_string(spans.size());
          return false;
        }
      } else if (code == kCmdEnd && f.packet.size() >= kHeaderSize) {
        image.complete = true;
        image.endFcs = Be16(f.packet, 4);
        image.fcsMatched = image.endFcs == ImageFcs(image.bytes.data(), image.bytes.size());
      }
    }
  }
  return true;
}

std::string DescribeDivergence(const Divergence& d) {
  std::string out = "exchange " + std::to_string(d.exchange);
  if (d.line != 0) out += " (trace line " + std::to_string(d.line) + ", " + FormatMs(d.ms) + " ms)";
  out += ": " + d.why + "\n";
  const std::size_t from = d.offset > kContextBefore ? d.offset - kContextBefore : 0;
  const std::size_t to = d.offset + kContextAfter;
  const std::string where = from == 0 ? "" : " from byte " + std::to_string(from);
  if (d.line != 0) {
    out += "  expected " + std::to_string(d.expected.size()) + " bytes" + where + ": " +
           Hex(d.expected, from, to) + (to < d.expected.size() ? " ..." : "") + "\n";
  }
  out += "  written  " + std::to_string(d.written.size()) + " bytes" + where + ": " +
         Hex(d.written, from, to) + (to < d.written.size() ? " ..." : "") + "\n";
  return out;
}

CReplayScript::CReplayScript(Replay replay) : m_replay(std::move(replay)) { SkipUnreachable(); }

void CReplayScript::SkipUnreachable() {
  while (m_next < m_replay.exchanges.size() && !m_replay.exchanges[m_next].reachable) ++m_next;
}

void CReplayScript::Diverge(const ReplayExchange* expected, std::string why,
                            const std::uint8_t* rest, std::size_t restSize) {
  Divergence d;
  d.why = std::move(why);
  d.offset = m_matched;
  if (expected != nullptr) {
    d.exchange = expected->index;
    d.line = expected->line;
    d.ms = expected->ms;
    d.expected = expected->expected;
    d.written.assign(expected->expected.begin(),
                     expected->expected.begin() + static_cast<long>(m_matched));
  } else {
    d.exchange = m_replay.exchanges.size() + 1;
  }
  d.written.insert(d.written.end(), rest, rest + std::min(restSize, kMaxWrittenKept));
  m_divergence = std::move(d);
  m_changed.notify_all();
}

void CReplayScript::OnInput(int comNumber, const std::uint8_t* data, std::size_t size,
                            std::vector<Output>& outputs) {
  std::lock_guard lock(m_mutex);
  if (m_divergence) {
    // Keep what the tool goes on writing for the report, up to a bound.
    std::vector<std::uint8_t>& w = m_divergence->written;
    w.insert(w.end(), data,
             data + std::min(size, kMaxWrittenKept - std::min(w.size(), kMaxWrittenKept)));
    return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (m_next >= m_replay.exchanges.size()) {
      Diverge(nullptr,
              "the tool wrote on COM" + std::to_string(comNumber) +
                  " after the last write of the trace",
              data + i, size - i);
      return;
    }
    const ReplayExchange& x = m_replay.exchanges[m_next];
    if (x.comNumber != comNumber) {
      Diverge(&x, "the tool wrote on COM" + std::to_string(comNumber) + ", the trace on " + x.port,
              data + i, size - i);
      return;
    }
    if (m_matched < x.expected.size() && data[i] != x.expected[m_matched]) {
      Diverge(&x,
              "the tool wrote other bytes than the trace from byte " + std::to_string(m_matched) +
                  " on",
              data + i, size - i);
      return;
    }
    if (++m_matched < x.count) continue;
    for (const ReplyBurst& burst : x.replies) {
      Output out;
      out.inputEnd = i + 1;
      out.bytes = burst.bytes;
      out.delay = std::chrono::duration_cast<std::chrono::milliseconds>(burst.after);
      out.hangUp = burst.hangUp;
      outputs.push_back(std::move(out));
    }
    m_matched = 0;
    ++m_next;
    ++m_done;
    SkipUnreachable();
    m_changed.notify_all();
  }
}

std::optional<Divergence> CReplayScript::Diverged() const {
  std::lock_guard lock(m_mutex);
  return m_divergence;
}

std::size_t CReplayScript::Done() const {
  std::lock_guard lock(m_mutex);
  return m_done;
}

std::size_t CReplayScript::Next() const {
  std::lock_guard lock(m_mutex);
  return m_next;
}

std::size_t CReplayScript::Reachable() const {
  return static_cast<std::size_t>(
      std::count_if(m_replay.exchanges.begin(), m_replay.exchanges.end(),
                    [](const ReplayExchange& x) { return x.reachable; }));
}

bool CReplayScript::WaitForEnd(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] {
    return m_divergence.has_value() || m_next >= m_replay.exchanges.size();
  });
}

void CReplayDevice::OnInput(const std::uint8_t* data, std::size_t size, Clock::time_point,
                            std::vector<Output>& outputs) {
  m_script.OnInput(m_comNumber, data, size, outputs);
}

}  // namespace sim
