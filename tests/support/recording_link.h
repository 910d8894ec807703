// A window link that records every change the engine asks for, in order, and keeps the
// window's state as the main window would (texts, enable states, a progress bar that clamps
// like the platform's). Message boxes are answered with OK at once unless a test holds them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "download/progress_model.h"
#include "download/window_link.h"

struct RecordedBox {
  BoxOwner owner;
  std::string text;
  std::string caption;
};

class CRecordingLink : public CWindowLink {
 public:
  std::string GetItemText(int id) override;
  void SetItemText(int id, const char* text) override;
  void EnableItem(int id, bool enable) override;
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override;
  void SetProgressStep(int id, std::int32_t step) override;
  void SetProgressPos(int id, std::int32_t position) override;
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override;

  // Each change as one line: "text <id> <text>", "enable <id> 0|1", "range <id> <lo> <hi>",
  // "stepsize <id> <n>", "pos <id> <n>", "box <none|main> <caption>|<text>".
  std::vector<std::string> Events() const;
  std::vector<RecordedBox> Boxes() const;
  std::string Text(int id) const;
  bool Enabled(int id) const;  // controls start enabled
  std::int32_t ProgressLower() const;
  std::int32_t ProgressUpper() const;
  std::int32_t ProgressPos() const;  // clamped into the range, like the platform's bar
  std::vector<std::int32_t> PositionsSent() const;

  // Sets a control's text without recording it (the operator typing into the path box).
  void Type(int id, const std::string& text);
  // Message boxes wait until Release() while held.
  void HoldBoxes(bool hold);
  void Release();
  // Waits until `n` boxes have been shown (held boxes count once shown); false on time-out.
  bool WaitForBoxes(std::size_t n, std::chrono::milliseconds timeout);
  // Waits until an event equal to `event` has been recorded; false on time-out.
  bool WaitForEvent(const std::string& event, std::chrono::milliseconds timeout);

 private:
  void Record(std::string event);

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_events;
  std::vector<RecordedBox> m_boxes;
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_enabled;
  std::vector<std::int32_t> m_positions;
  CProgressModel m_progress;
  bool m_hold = false;
  std::uint64_t m_releases = 0;
};
