// The fault table of the end-to-end suite: each fault of the simulator's plan at the begin
// request, a middle block, the last block and the end request of a 2,500-byte image (blocks
// 0 and 1 of 1,024 bytes, block 2 of 452), and what the download must come to.
//
// Why the less obvious rows end as they do:
// - code: the wrong packet code fails CheckReply with 1 (begin and end get an RSP_DATA_ACK, a
//   block gets an RSP_ACK). seq: a block acknowledged as the one before fails with 2; at begin
//   and end the sim's RSP_DATA_ACK is a wrong code again, 1.
// - cut: the reply pauses 120 ms after half its bytes, beyond the read's 50 ms gap. The first
//   read gets the first half, whose packet is too short for CheckReply: 1. The next attempt's
//   read gets the rest of that reply, which does not begin with a flag (then the next reply's
//   first half): 4. Cut on every attempt thus fails with 4 after three attempts, and with 1 at the
//   end request (one attempt). Cut on the first attempt only costs two attempts and succeeds.
// - delay of 1 s: the reply begins within the read's 5.17 s, so it is caught; delay beyond
//   5.17 s at the end request: its one read is empty, 5.
// - hangup: the port sees the hang-up, every read ends at once with nothing: 5, and the writes of
//   the remaining attempts never reach the handset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct FaultRow {
  std::string name;
  std::vector<std::string> knobs;
  std::uint16_t code;       // RunTransfer's result
  std::size_t beginFrames;  // frames of each kind the handset received
  std::size_t dataFrames;
  std::size_t endFrames;
  std::int32_t acknowledged;  // data packets acknowledged: progress positions 1..n sent
  bool slow;                  // waits out full read time-outs
};

// Test names and failure messages show the row by its name.
inline void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

inline constexpr std::size_t kImageSize = 2500;
inline constexpr std::int32_t kWholeBlocks = 2;  // the progress range's top

inline std::vector<FaultRow> AllFaultRows() {
  return {
      // Every attempt of the exchange fails.
      {"GarbageBegin", {"begin=garbage"}, 4, 3, 0, 0, 0, false},
      {"GarbageMiddle", {"data:1=garbage"}, 4, 1, 4, 0, 1, false},
      {"GarbageLast", {"data:2=garbage"}, 4, 1, 5, 0, 2, false},
      {"GarbageEnd", {"end=garbage"}, 4, 1, 3, 1, 3, false},
      {"CodeBegin", {"begin=code"}, 1, 3, 0, 0, 0, false},
      {"CodeMiddle", {"data:1=code"}, 1, 1, 4, 0, 1, false},
      {"CodeLast", {"data:2=code"}, 1, 1, 5, 0, 2, false},
      {"CodeEnd", {"end=code"}, 1, 1, 3, 1, 3, false},
      {"SeqBegin", {"begin=seq"}, 1, 3, 0, 0, 0, false},
      {"SeqMiddle", {"data:1=seq"}, 2, 1, 4, 0, 1, false},
      {"SeqLast", {"data:2=seq"}, 2, 1, 5, 0, 2, false},
      {"SeqEnd", {"end=seq"}, 1, 1, 3, 1, 3, false},
      {"CutBegin", {"begin=cut"}, 4, 3, 0, 0, 0, false},
      {"CutMiddle", {"data:1=cut"}, 4, 1, 4, 0, 1, false},
      {"CutLast", {"data:2=cut"}, 4, 1, 5, 0, 2, false},
      {"CutEnd", {"end=cut"}, 1, 1, 3, 1, 3, false},
      {"DelayBegin", {"begin=delay:1000"}, 0, 1, 3, 1, 3, false},
      {"DelayMiddle", {"data:1=delay:1000"}, 0, 1, 3, 1, 3, false},
      {"DelayLast", {"data:2=delay:1000"}, 0, 1, 3, 1, 3, false},
      {"DelayEnd", {"end=delay:1000"}, 0, 1, 3, 1, 3, false},
      {"HangUpBegin", {"begin=hangup"}, 5, 1, 0, 0, 0, false},
      {"HangUpMiddle", {"data:1=hangup"}, 5, 1, 2, 0, 1, false},
      {"HangUpLast", {"data:2=hangup"}, 5, 1, 3, 0, 2, false},
      {"HangUpEnd", {"end=hangup"}, 5, 1, 3, 1, 3, false},
      // Only the first attempt fails: the retry carries on as if nothing had happened.
      {"GarbageMiddleOnce", {"data:1#1=garbage"}, 0, 1, 4, 1, 3, false},
      {"CodeBeginOnce", {"begin#1=code"}, 0, 2, 3, 1, 3, false},
      {"SeqLastOnce", {"data:2#1=seq"}, 0, 1, 4, 1, 3, false},
      {"CutBeginOnce", {"begin#1=cut"}, 0, 3, 3, 1, 3, false},
      {"CutMiddleOnce", {"data:1#1=cut"}, 0, 1, 5, 1, 3, false},
      // Silence costs a full read time-out (5.17 s) per attempt.
      {"SilenceBegin", {"begin=silence"}, 5, 3, 0, 0, 0, true},
      {"SilenceMiddle", {"data:1=silence"}, 5, 1, 4, 0, 1, true},
      {"SilenceLast", {"data:2=silence"}, 5, 1, 5, 0, 2, true},
      {"SilenceEnd", {"end=silence"}, 5, 1, 3, 1, 3, true},
      {"SilenceMiddleOnce", {"data:1#1=silence"}, 0, 1, 4, 1, 3, true},
      {"DelayEndBeyondRead", {"end=delay:6000"}, 5, 1, 3, 1, 3, true},
  };
}

// The rows of one speed class; the slow binaries take the slow ones.
inline std::vector<FaultRow> FaultRows(bool slow) {
  std::vector<FaultRow> rows;
  for (const FaultRow& row : AllFaultRows()) {
    if (row.slow == slow) {
      rows.push_back(row);
    }
  }
  return rows;
}

#ifndef CORVANEL_E2E_SLOW
#define CORVANEL_E2E_SLOW 0
#endif
