// The progress bar as the platform's own bar keeps it, as a small value type: every window link
// that draws a bar of its own (a toolkit's widget, a console line, a test's recorder) feeds it
// the engine's SetProgressRange/SetProgressStep/SetProgressPos calls and draws Fraction().
//
// Rules (those of the platform's bar):
// - A position is clamped into the range it was given last; a new range clamps the position
//   it already has.
// - An empty range (upper <= lower, such as the 0-to-0 range of a file shorter than one block)
//   shows an empty bar, never a busy one, until a position arrives after that range was set:
//   the engine sends one only on success, so the bar then shows full.
// - The step only matters to a step-it command, which the engine never sends; it is kept so
//   that a link can show or check it.
//
// Usage:
//   CProgressModel bar;             // range 0 to 100, position 0, like a new bar
//   bar.SetRange(0, 800);
//   bar.SetPos(400);                // bar.Fraction() == 0.5
//   bar.SetPos(9999);               // clamped: bar.Pos() == 800, bar.Fraction() == 1.0
#pragma once

#include <algorithm>
#include <cstdint>

class CProgressModel {
 public:
  static constexpr std::int32_t kDefaultLower = 0;  // a new bar's range, as the platform's
  static constexpr std::int32_t kDefaultUpper = 100;
  static constexpr std::int32_t kDefaultStep = 10;

  void SetRange(std::int32_t lower, std::int32_t upper) {
    m_lower = lower;
    m_upper = upper;
    m_placed = false;
    m_pos = Clamp(m_pos);
  }
  void SetStep(std::int32_t step) { m_step = step; }
  void SetPos(std::int32_t position) {
    m_pos = Clamp(position);
    m_placed = true;
  }

  std::int32_t Lower() const { return m_lower; }
  std::int32_t Upper() const { return m_upper; }
  std::int32_t Step() const { return m_step; }
  std::int32_t Pos() const { return m_pos; }  // always inside the range
  bool Empty() const { return m_upper <= m_lower; }

  // How much of the bar shows filled, from 0.0 to 1.0.
  double Fraction() const {
    if (Empty()) {
      return m_placed ? 1.0 : 0.0;
    }
    return static_cast<double>(std::int64_t{m_pos} - m_lower) /
           static_cast<double>(std::int64_t{m_upper} - m_lower);
  }
  // The filled part in whole units of a bar `units` long, rounded down (full only when full).
  std::int32_t Filled(std::int32_t units) const {
    if (Empty()) {
      return m_placed ? units : 0;
    }
    return static_cast<std::int32_t>((std::int64_t{m_pos} - m_lower) * units /
                                     (std::int64_t{m_upper} - m_lower));
  }

  bool operator==(const CProgressModel&) const = default;

 private:
  std::int32_t Clamp(std::int32_t position) const {
    return std::clamp(position, m_lower, std::max(m_lower, m_upper));
  }

  std::int32_t m_lower = kDefaultLower;
  std::int32_t m_upper = kDefaultUpper;
  std::int32_t m_step = kDefaultStep;
  std::int32_t m_pos = kDefaultLower;
  bool m_placed = false;  // a position came after the range was last set
};
