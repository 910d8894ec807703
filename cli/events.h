// The event lines of corvanel-cli (`download --events`, `station --json`): one JSON object per
// line on standard output as things happen, each with "version" (kEventVersion) and "event" and,
// where it is one unit's, the unit's "port". docs/events.schema.json is their schema; a change
// that a reader would notice raises the version.
//
//   found     a terminal answered on the port (the download's scan found it): "answer"
//   stage     the download entered a stage on the terminal found: "stage"
//             (protocol/download_stage.h's names); none when no terminal was found
//   progress  "block" of "blocks" acknowledged, "percent", "retries", "bytes_per_second"; at most
//             kProgressEventsPerSecond a second and the last one always
//   end       the object `download --json` prints, with "status" (the window's last status text)
//   warning   "text": what was lost (a record that could not be written)
//   gone      the station saw the unit's port go away
//   summary   the station's end: "succeeded", "failed", "running", "exit_code", "failures"
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/console_link.h"
#include "download/window_link.h"

inline constexpr int kEventVersion = 1;
inline constexpr int kProgressEventsPerSecond = 4;

// `{"version":1,"event":"NAME"` with the port and its device when `port` is not empty; the
// caller adds its fields and the closing brace.
std::string EventStart(const char* name, const std::string& port);

// Writes one event line (the object and a line feed) to standard output in one piece.
void EmitEvent(const std::string& object);

// The window link of a download with events: everything goes on to the console link `inner`,
// and stages and progress also become event lines for the port the download uses.
class CEventLink : public CWindowLink {
 public:
  explicit CEventLink(CConsoleLink& inner) : m_inner(inner) {}

  std::string GetItemText(int id) override { return m_inner.GetItemText(id); }
  void SetItemText(int id, const char* text) override { m_inner.SetItemText(id, text); }
  void EnableItem(int id, bool enable) override { m_inner.EnableItem(id, enable); }
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override;
  void SetProgressStep(int id, std::int32_t step) override { m_inner.SetProgressStep(id, step); }
  void SetProgressPos(int id, std::int32_t position) override;
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override {
    m_inner.MessageBox(owner, text, caption);
  }
  void OnStage(DownloadStage stage) override;

 private:
  using Clock = std::chrono::steady_clock;

  CConsoleLink& m_inner;
  bool m_found = false;
  Clock::time_point m_lastProgress{};
  std::uint64_t m_lastBlock = ~std::uint64_t{0};
};
