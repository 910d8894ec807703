// A plug plan: when simulated terminals are pulled out and put back in, as on a service bench.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace sim {

struct PlugEvent {
  int comNumber = 0;
  bool plug = false;   // false: unplug
  double seconds = 0;  // after the simulator's start
};

// "COMn+S" plugs COM n in at S seconds, "COMn-S" pulls it out ("n" alone for "COMn"); the items
// are separated by commas. Sorted by time on return; false with a reason on a malformed item.
bool ParsePlugPlan(const std::string& text, std::vector<PlugEvent>& events, std::string& error);

// `count` unplugs of terminals among `comNumbers`, each at a random time within `span` seconds
// and plugged back in 0.5 to 3 s later, never two pulls of one terminal overlapping; the same
// seed gives the same plan.
std::vector<PlugEvent> RandomPlugPlan(std::size_t count, std::uint32_t seed, double span,
                                      const std::vector<int>& comNumbers);

// "COM3-1.250,COM3+2.000,...": the plan as ParsePlugPlan reads it.
std::string FormatPlugPlan(const std::vector<PlugEvent>& events);

// Carries a plan out on the simulator's lines from a thread of its own.
class CPlugger {
 public:
  using Note = void (*)(const PlugEvent& event);
  CPlugger(CSimulator& simulator, std::vector<PlugEvent> events, Note note);
  ~CPlugger();
  CPlugger(const CPlugger&) = delete;
  CPlugger& operator=(const CPlugger&) = delete;

 private:
  void Run(std::chrono::steady_clock::time_point start);

  CSimulator& m_simulator;
  const std::vector<PlugEvent> m_events;
  const Note m_note;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace sim
