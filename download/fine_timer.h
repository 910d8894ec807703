// The system timer's resolution while a download runs. Windows' serial driver checks a read's
// interval time-out once per timer tick (15.6 ms by default), so the 50 ms gap that ends each
// reply would end 62-78 ms after its last byte and the largest image would take 92-105 s instead
// of 82. A download asks for 1 ms ticks for as long as it runs and gives them back after. On
// POSIX the read rule is timed by poll() itself, and nothing is asked.
#pragma once

class CFineTimer {
 public:
  CFineTimer();
  // NOLINTNEXTLINE(performance-trivially-destructible): the Windows one gives the ticks back
  ~CFineTimer();
  CFineTimer(const CFineTimer&) = delete;
  CFineTimer& operator=(const CFineTimer&) = delete;

  // Whether the finer ticks were granted (always false on POSIX, where none are asked for).
  bool Granted() const { return m_granted; }

 private:
  bool m_granted;
};

// How many downloads hold finer ticks now: 0 once each has given them back.
int FineTimerHolders();
