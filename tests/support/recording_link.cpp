#include "tests/support/recording_link.h"

#include <algorithm>

std::string CRecordingLink::GetItemText(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_texts[id];
}

void CRecordingLink::SetItemText(int id, const char* text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_texts[id] = text;
  Record("text " + std::to_string(id) + " " + text);
}

void CRecordingLink::EnableItem(int id, bool enable) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_enabled[id] = enable;
  Record("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
}

void CRecordingLink::SetProgressRange(int id, std::int32_t lower, std::int32_t upper) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_progress.SetRange(lower, upper);
  Record("range " + std::to_string(id) + " " + std::to_string(lower) + " " + std::to_string(upper));
}

void CRecordingLink::SetProgressStep(int id, std::int32_t step) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_progress.SetStep(step);
  Record("stepsize " + std::to_string(id) + " " + std::to_string(step));
}

void CRecordingLink::SetProgressPos(int id, std::int32_t position) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_positions.push_back(position);
  m_progress.SetPos(position);
  Record("pos " + std::to_string(id) + " " + std::to_string(position));
}

void CRecordingLink::MessageBox(BoxOwner owner, const char* text, const char* caption) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_boxes.push_back({owner, text, caption});
  Record(std::string("box ") + (owner == BoxOwner::None ? "none " : "main ") + caption + "|" +
         text);
  const std::uint64_t releases = m_releases;
  m_changed.wait(lock, [&] { return !m_hold || m_releases != releases; });
}

void CRecordingLink::Record(std::string event) {
  m_events.push_back(std::move(event));
  m_changed.notify_all();
}

std::vector<std::string> CRecordingLink::Events() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

std::vector<RecordedBox> CRecordingLink::Boxes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_boxes;
}

std::string CRecordingLink::Text(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_texts.find(id);
  return it == m_texts.end() ? std::string() : it->second;
}

bool CRecordingLink::Enabled(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_enabled.find(id);
  return it == m_enabled.end() || it->second;
}

std::int32_t CRecordingLink::ProgressLower() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_progress.Lower();
}

std::int32_t CRecordingLink::ProgressUpper() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_progress.Upper();
}

std::int32_t CRecordingLink::ProgressPos() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_progress.Pos();
}

std::vector<std::int32_t> CRecordingLink::PositionsSent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_positions;
}

void CRecordingLink::Type(int id, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_texts[id] = text;
}

void CRecordingLink::HoldBoxes(bool hold) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_hold = hold;
  m_changed.notify_all();
}

void CRecordingLink::Release() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_releases;
  m_changed.notify_all();
}

bool CRecordingLink::WaitForBoxes(std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_boxes.size() >= n; });
}

bool CRecordingLink::WaitForEvent(const std::string& event, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] {
    return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
  });
}
