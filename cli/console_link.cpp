#include "cli/console_link.h"

#include <algorithm>
#include <cmath>

#include "cli/console.h"
#include "download/block_transfer.h"
#include "download/control_ids.h"

namespace {

constexpr long kSecondsPerMinute = 60;
constexpr std::size_t kLineCapacity = 160;  // one progress line, longer than any it prints

std::string Duration(double seconds) {
  const long whole = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / kSecondsPerMinute,
                whole % kSecondsPerMinute);
  return text;
}

}  // namespace

std::string ConsoleText(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\r') {
      out.push_back(*p);
    }
  }
  const auto first = out.find_first_not_of('\n');
  if (first == std::string::npos) {
    return {};
  }
  out.erase(0, first);
  out.erase(out.find_last_not_of('\n') + 1);
  return out;
}

CConsoleLink::CConsoleLink(std::FILE* out, bool live, std::string path, std::uint64_t fileSize)
    : m_out(out), m_live(live), m_path(std::move(path)), m_fileSize(fileSize) {}

std::string CConsoleLink::GetItemText(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return id == IDC_PATH ? m_path : std::string();
}

void CConsoleLink::SetItemText(int id, const char* text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  switch (id) {
    case IDC_PATH:
      m_path = text;
      break;
    case IDC_STATUS:
      Line(ConsoleText(text));
      break;
    case IDC_MESSAGE:
      if (ConsoleText(text) != m_lastBox) {
        Line(ConsoleText(text));
      }
      break;
    default:
      break;
  }
}

void CConsoleLink::EnableItem(int /*id*/, bool /*enable*/) {}

void CConsoleLink::OnStage(DownloadStage stage) {
  // The second scan may take a while, and the window shows nothing for it.
  if (stage == DownloadStage::Scan) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Line("Looking for the terminal...");
  }
}

void CConsoleLink::SetProgressRange(int /*id*/, std::int32_t lower, std::int32_t upper) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bar.SetRange(lower, upper);
  m_position = lower;
  m_transferStart = Clock::now();
}

// The line shows the position only, and the engine never asks for a step-it.
void CConsoleLink::SetProgressStep(int /*id*/, std::int32_t /*step*/) {}

void CConsoleLink::SetProgressPos(int /*id*/, std::int32_t position) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bar.SetPos(position);
  m_position = position;
  if (m_live && m_out != nullptr) {
    DrawProgress();
  }
}

void CConsoleLink::MessageBox(BoxOwner /*owner*/, const char* text, const char* caption) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lastBox = ConsoleText(text);
  Line(std::string(caption) + ": " + m_lastBox);
}

void CConsoleLink::EndProgressLine() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_drawn > 0 && m_out != nullptr) {
    std::fputc('\n', m_out);
    std::fflush(m_out);
    m_drawn = 0;
  }
}

void CConsoleLink::Line(const std::string& text) {
  if (text.empty() || m_out == nullptr) {
    return;
  }
  if (m_drawn > 0) {
    std::fputc('\n', m_out);
    m_drawn = 0;
  }
  WriteText(m_out, text + "\n");
  std::fflush(m_out);
}

ProgressFigures CConsoleLink::Figures() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return FiguresLocked();
}

ProgressFigures CConsoleLink::FiguresLocked() const {
  constexpr std::int32_t kPercent = 100;
  ProgressFigures figures;
  figures.percent = m_bar.Filled(kPercent);
  // Every block is one data packet; the last one is short (or empty).
  figures.blocks = m_fileSize / kBlockSize + 1;
  // After a success the worker sets the byte count as the position: all blocks are done then.
  figures.block = std::min(static_cast<std::uint64_t>(std::max(m_position, 0)), figures.blocks);
  const std::uint64_t bytes = std::min(figures.block * kBlockSize, m_fileSize);
  const double seconds = std::chrono::duration<double>(Clock::now() - m_transferStart).count();
  figures.bytesPerSecond = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  if (figures.bytesPerSecond > 0) {
    figures.secondsLeft = static_cast<double>(m_fileSize - bytes) / figures.bytesPerSecond;
  }
  return figures;
}

void CConsoleLink::DrawProgress() {
  const ProgressFigures figures = FiguresLocked();
  const std::string left =
      figures.secondsLeft >= 0 ? Duration(figures.secondsLeft) : std::string("-:--");
  char text[kLineCapacity];
  const int n = std::snprintf(
      text, sizeof text, "%3d%%  block %llu of %llu  %.0f bytes/s  %s left  %u %s",
      static_cast<int>(figures.percent), static_cast<unsigned long long>(figures.block),
      static_cast<unsigned long long>(figures.blocks), figures.bytesPerSecond, left.c_str(),
      static_cast<unsigned>(g_transferCounts.retries),
      g_transferCounts.retries == 1 ? "retry" : "retries");
  const auto length = static_cast<std::size_t>(std::max(n, 0));
  // Blanks over whatever the last drawing left beyond this one.
  const std::size_t pad = m_drawn > length ? m_drawn - length : 0;
  PrintText(m_out, "\r%s%*s", text, static_cast<int>(pad), "");
  std::fflush(m_out);
  m_drawn = length;
}
