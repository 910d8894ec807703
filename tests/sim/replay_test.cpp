// The replay of a port trace without a line: reading the trace, the answers and their times, the
// first write that differs, and the upgrade file rebuilt from the data frames.
#include "sim/replay.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "sim/frame_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

std::string HexOf(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, " %02X", b);
    out += buf;
  }
  return out;
}

std::string Line(double ms, const char* direction, const Bytes& bytes) {
  char head[64];
  std::snprintf(head, sizeof head, "%10.3f %-5s %5zu", ms, direction, bytes.size());
  return head + HexOf(bytes) + "  |...|\n";
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<sim::TraceEvent> Parse(const std::string& text) {
  std::istringstream in(text);
  std::vector<sim::TraceEvent> events;
  std::string error;
  EXPECT_TRUE(sim::ParseTrace(in, events, error)) << error;
  return events;
}

TEST(ReplayTrace, EveryKindOfLine_IsRead) {
  const std::string text =
      "     0.500 refused \\\\.\\COM2 line settings refused: asked 230400, got 9600\r\n"
      "     1.000 open  \\\\.\\COM9\n" +
      Line(2.0, "write", Text("AT\r\n")) + "    52.250 read      2  4F 4B  |O|K|\n" +
      "    53.000 gone  \\\\.\\COM9 device gone (EIO)\n" + "    60.000 close \\\\.\\COM9\n" +
      "    61.000 fail  stage terminal-check attempt 3 reason no-reply\n"
      "    62.000 lost      3 events: the trace fell behind the port\n";
  const std::vector<sim::TraceEvent> e = Parse(text);
  ASSERT_EQ(e.size(), 8u);
  EXPECT_EQ(e[0].kind, sim::TraceKind::Refused);
  EXPECT_EQ(e[0].port, "\\\\.\\COM2");
  EXPECT_EQ(e[0].rest, "line settings refused: asked 230400, got 9600");
  EXPECT_EQ(e[1].port, "\\\\.\\COM9");
  EXPECT_EQ(e[2].kind, sim::TraceKind::Write);
  EXPECT_EQ(e[2].bytes, Text("AT\r\n"));
  EXPECT_EQ(e[3].ms, 52.25);
  EXPECT_EQ(e[3].bytes, Text("OK")) << "a '|' in the text part is no separator";
  EXPECT_EQ(e[4].kind, sim::TraceKind::Gone);
  EXPECT_EQ(e[4].rest, "device gone (EIO)");
  EXPECT_EQ(e[5].kind, sim::TraceKind::Close);
  EXPECT_EQ(e[6].rest, "stage terminal-check attempt 3 reason no-reply");
  EXPECT_EQ(e[7].count, 3u);

  std::istringstream other("     1.000 open  COM9\nnot a trace\n");
  std::vector<sim::TraceEvent> events;
  std::string error;
  EXPECT_FALSE(sim::ParseTrace(other, events, error));
  EXPECT_EQ(error, "line 2: no time and direction");
}

TEST(ReplayTrace, PortNames_GiveTheirComNumbers) {
  EXPECT_EQ(sim::ComNumberOf("\\\\.\\COM100"), 100);
  EXPECT_EQ(sim::ComNumberOf("/dev/ttyS1"), 2);
  EXPECT_EQ(sim::ComNumberOf("/dev/ttyUSB0"), 33);
  EXPECT_EQ(sim::ComNumberOf("/dev/ttyACM1"), 68);
  EXPECT_EQ(sim::ComNumberOf("/dev/serial/by-id/usb-x"), std::nullopt);
}

TEST(ReplayTrace, EachRead_IsSentSoThatTheReadEndsWhenTheTracedOneDid) {
  Bytes full(sim::kReadCapacity, 0x55);
  const std::string text = "     0.000 open  \\\\.\\COM9\n" + Line(100, "write", Text("AT\r\n")) +
                           Line(180, "read", Text("\r\nOK\r\n")) +  // 50 ms gap after the burst
                           Line(200, "write", Text("AT\r\n")) +
                           Line(500, "read", full) +  // a full buffer ends the read at once
                           Line(510, "write", Text("AT\r\n")) +
                           Line(5680, "read", {}) +  // silence: the read's own time-out
                           Line(5700, "write", Text("AT\r\n")) +
                           Line(5703, "read", {}) +               // at once: the line is gone
                           Line(5710, "write", Text("AT\r\n")) +  // to the dead line
                           "  5720.000 close \\\\.\\COM9\n" + "  5730.000 open  /dev/ttyACM0\n" +
                           Line(5740, "write", Text("AT\r\n"));
  const sim::Replay r = sim::BuildReplay(Parse(text));
  ASSERT_EQ(r.exchanges.size(), 6u);
  EXPECT_EQ(r.comNumbers, (std::vector<int>{9, 67}));
  ASSERT_EQ(r.exchanges[0].replies.size(), 1u);
  EXPECT_EQ(r.exchanges[0].replies[0].after, milliseconds(30) - sim::kTracedLatency);
  EXPECT_EQ(r.exchanges[0].replies[0].bytes, Text("\r\nOK\r\n"));
  EXPECT_EQ(r.exchanges[1].replies[0].after, milliseconds(300) - sim::kTracedLatency);
  EXPECT_TRUE(r.exchanges[2].replies.empty());
  ASSERT_EQ(r.exchanges[3].replies.size(), 1u);
  EXPECT_TRUE(r.exchanges[3].replies[0].hangUp);
  EXPECT_EQ(r.exchanges[3].replies[0].after, milliseconds(3));
  EXPECT_FALSE(r.exchanges[4].reachable);
  EXPECT_TRUE(r.exchanges[5].reachable);
  EXPECT_EQ(r.exchanges[5].comNumber, 67);
}

sim::Replay TwoWrites() {
  return sim::BuildReplay(Parse("     0.000 open  \\\\.\\COM9\n" +
                                Line(10, "write", Text("AT\r\n")) + Line(70, "read", Text("OK")) +
                                Line(80, "write", Text("ATD")) +
                                Line(90, "read", Text("CONNECT"))));
}

TEST(ReplayScript, WritesSplitAnyhow_AreAnsweredAfterTheirLastByte) {
  sim::CReplayScript script(TwoWrites());
  std::vector<sim::Output> out;
  const Bytes all = Text("AT\r\nATD");
  script.OnInput(9, all.data(), 2, out);
  EXPECT_TRUE(out.empty());
  script.OnInput(9, all.data() + 2, 5, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].inputEnd, 2u);
  EXPECT_EQ(out[0].bytes, Text("OK"));
  EXPECT_EQ(out[0].delay, milliseconds(10) - sim::kTracedLatency);
  EXPECT_EQ(out[1].inputEnd, 5u);
  EXPECT_EQ(out[1].delay, milliseconds(0));
  EXPECT_EQ(script.Done(), 2u);
  EXPECT_FALSE(script.Diverged());
  EXPECT_TRUE(script.WaitForEnd(milliseconds(0)));
}

TEST(ReplayScript, OtherBytes_StopTheReplayAndSayWhere) {
  sim::CReplayScript script(TwoWrites());
  std::vector<sim::Output> out;
  const Bytes written = Text("AT\r\nATX\r\n");
  script.OnInput(9, written.data(), written.size(), out);
  EXPECT_EQ(out.size(), 1u) << "the first write was as traced";
  const std::optional<sim::Divergence> d = script.Diverged();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->exchange, 2u);
  EXPECT_EQ(d->line, 4u);
  EXPECT_EQ(d->offset, 2u);
  EXPECT_EQ(d->written, Text("ATX\r\n"));
  EXPECT_EQ(sim::DescribeDivergence(*d),
            "exchange 2 (trace line 4, 80.000 ms): the tool wrote other bytes than the trace "
            "from byte 2 on\n"
            "  expected 3 bytes: 41 54 44\n"
            "  written  5 bytes: 41 54 58 0D 0A\n");
  const Bytes more = Text("AT\r\n");
  script.OnInput(9, more.data(), more.size(), out);
  EXPECT_EQ(out.size(), 1u) << "nothing is answered after the difference";
}

TEST(ReplayScript, AWriteOnAnotherPort_StopsTheReplay) {
  sim::CReplayScript script(TwoWrites());
  std::vector<sim::Output> out;
  const Bytes written = Text("AT\r\n");
  script.OnInput(4, written.data(), written.size(), out);
  ASSERT_TRUE(script.Diverged());
  EXPECT_EQ(script.Diverged()->why, "the tool wrote on COM4, the trace on \\\\.\\COM9");
}

Bytes DataPacket(std::uint16_t sequence, const Bytes& payload) {
  const auto length = static_cast<std::uint16_t>(sim::kHeaderSize + payload.size());
  Bytes p = {0x0D,
             0x0D,
             static_cast<std::uint8_t>(length >> 8),
             static_cast<std::uint8_t>(length),
             static_cast<std::uint8_t>(sequence >> 8),
             static_cast<std::uint8_t>(sequence)};
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

TEST(ReplayImage, DataFrames_GiveTheFileBackWithRetriesOnce) {
  Bytes first(sim::kMaxPayload);
  for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes last = Text("tail");
  Bytes whole = first;
  whole.insert(whole.end(), last.begin(), last.end());
  const std::uint16_t fcs = sim::ImageFcs(whole.data(), whole.size());
  const Bytes end = {
      0x0B, 0x0B, 0x00, 0x06, static_cast<std::uint8_t>(fcs >> 8), static_cast<std::uint8_t>(fcs)};
  std::string text = "     0.000 open  \\\\.\\COM9\n" + Line(1, "write", Text("ATD**60\r\n")) +
                     Line(2, "write", sim::BuildFrame({0x0A, 0x0A, 0x00, 0x04})) +
                     Line(3, "write", sim::BuildFrame(DataPacket(0, first))) +
                     Line(4, "write", sim::BuildFrame(DataPacket(0, first))) +
                     Line(5, "write", sim::BuildFrame(DataPacket(1, last)));
  sim::ExtractedImage image;
  std::string error;
  ASSERT_TRUE(sim::ExtractImage(Parse(text), image, error)) << error;
  EXPECT_EQ(image.bytes, whole);
  EXPECT_EQ(image.blocks, 2u);
  EXPECT_FALSE(image.complete) << "no end request yet: the blocks sent";

  text += Line(6, "write", sim::BuildFrame(end));
  ASSERT_TRUE(sim::ExtractImage(Parse(text), image, error)) << error;
  EXPECT_TRUE(image.complete);
  EXPECT_TRUE(image.fcsMatched);
}

TEST(ReplayImage, ABlockResentWithOtherBytes_IsRefused) {
  const std::string text = "     0.000 open  \\\\.\\COM9\n" +
                           Line(1, "write", sim::BuildFrame(DataPacket(0, Text("abc")))) +
                           Line(2, "write", sim::BuildFrame(DataPacket(0, Text("abd"))));
  sim::ExtractedImage image;
  std::string error;
  EXPECT_FALSE(sim::ExtractImage(Parse(text), image, error));
  EXPECT_EQ(error, "line 3: block 0 resent with other bytes");
}

}  // namespace
