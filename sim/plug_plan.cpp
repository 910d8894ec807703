#include "sim/plug_plan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <random>

namespace sim {

bool ParsePlugPlan(const std::string& text, std::vector<PlugEvent>& events, std::string& error) {
  events.clear();
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    std::string item = text.substr(at, comma - at);
    at = comma + 1;
    if (item.rfind("COM", 0) == 0 || item.rfind("com", 0) == 0) item.erase(0, 3);
    const std::size_t sign = item.find_first_of("+-");
    PlugEvent event;
    const char* first = item.data();
    const char* last = item.data() + item.size();
    bool good = sign != std::string::npos && sign > 0;
    if (good) {
      const auto com = std::from_chars(first, first + sign, event.comNumber);
      const auto time = std::from_chars(first + sign + 1, last, event.seconds);
      good = com.ec == std::errc() && com.ptr == first + sign && time.ec == std::errc() &&
             time.ptr == last && event.comNumber >= 1 && event.seconds >= 0;
    }
    if (!good) {
      error = "'" + text.substr(0, comma) + "': each item is COMn+SECONDS or COMn-SECONDS";
      return false;
    }
    event.plug = item[sign] == '+';
    events.push_back(event);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const PlugEvent& a, const PlugEvent& b) { return a.seconds < b.seconds; });
  return true;
}

std::vector<PlugEvent> RandomPlugPlan(std::size_t count, std::uint32_t seed, double span,
                                      const std::vector<int>& comNumbers) {
  std::vector<PlugEvent> events;
  if (comNumbers.empty()) return events;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> when(0.0, std::max(span, 0.0));
  constexpr double kShortestPull = 0.5, kLongestPull = 3.0;  // seconds
  std::uniform_real_distribution<double> away(kShortestPull, kLongestPull);
  std::uniform_int_distribution<std::size_t> which(0, comNumbers.size() - 1);
  std::map<int, std::vector<std::pair<double, double>>> pulls;  // per terminal: out, back
  constexpr int kTriesPerPull = 100;
  for (std::size_t i = 0; i < count; ++i) {
    for (int tries = 0; tries < kTriesPerPull; ++tries) {
      const int com = comNumbers[which(random)];
      const double out = when(random);
      const double back = out + away(random);
      auto& spans = pulls[com];
      const bool overlaps = std::any_of(spans.begin(), spans.end(), [&](const auto& s) {
        return out <= s.second && s.first <= back;
      });
      if (overlaps) continue;
      spans.emplace_back(out, back);
      events.push_back({com, false, out});
      events.push_back({com, true, back});
      break;
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const PlugEvent& a, const PlugEvent& b) { return a.seconds < b.seconds; });
  return events;
}

std::string FormatPlugPlan(const std::vector<PlugEvent>& events) {
  std::string text;
  for (const PlugEvent& e : events) {
    constexpr std::size_t kItemCapacity = 48;
    char item[kItemCapacity];
    std::snprintf(item, sizeof item, "%sCOM%d%c%.3f", text.empty() ? "" : ",", e.comNumber,
                  e.plug ? '+' : '-', e.seconds);
    text += item;
  }
  return text;
}

CPlugger::CPlugger(CSimulator& simulator, std::vector<PlugEvent> events, Note note)
    : m_simulator(simulator), m_events(std::move(events)), m_note(note) {
  const auto start = std::chrono::steady_clock::now();
  m_thread = std::thread([this, start] { Run(start); });
}

CPlugger::~CPlugger() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void CPlugger::Run(std::chrono::steady_clock::time_point start) {
  for (const PlugEvent& event : m_events) {
    const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(event.seconds));
    {
      std::unique_lock lock(m_mutex);
      if (m_wake.wait_until(lock, due, [this] { return m_stop; })) return;
    }
    CPtyLine* line = m_simulator.Find(event.comNumber);
    if (line == nullptr) continue;
    if (event.plug) {
      line->Plug();
    } else {
      line->Unplug();
    }
    if (m_note != nullptr) m_note(event);
  }
}

}  // namespace sim
