// The protocol floor of a download at 230400 baud, shared by the benchmarks: what the line and
// the read rule cost at the least, with no time spent by either side.
//
// - Line time is bytes x 10 bits / 230400 baud.
// - One exchange costs its request's and its reply's line time and the 50 ms gap that ends the
//   read after the reply's last byte.
// - The dial writes, pauses 400 ms (longer than its request and reply take on the line), then
//   reads: its floor is the pause and the gap.
// - The transfer's exchanges are those of a transfer that succeeds at every first attempt, with
//   the frame sizes BuildFrame makes for the very image and those the simulated handset answers
//   with (an image of zero bytes travels escaped, twice as long as a random one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr double kLineBaud = 230400.0;
inline constexpr double kLineBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
inline constexpr double kReadGapSeconds = 0.050;  // the inter-byte time-out that ends each read

double LineSeconds(std::size_t bytes);

struct FrameExchange {
  std::size_t request = 0;  // bytes on the wire, flags included
  std::size_t reply = 0;
  double Floor() const { return LineSeconds(request) + LineSeconds(reply) + kReadGapSeconds; }
};

// Begin, every data block (the short or empty last one included) and end, in order. Leaves the
// codec's areas and g_imageFcs as the transfer of `image` would.
std::vector<FrameExchange> PlannedTransfer(const std::vector<std::uint8_t>& image);

// The sum of the exchanges' floors.
double TransferFloor(const std::vector<FrameExchange>& plan);
