// The window link of corvanel-cli: the main window's controls as a console sees them.
//
// - The status line and the message pane become stage lines, and so does the second scan, which
//   the engine announces with OnStage; the path box holds the file given on the command line;
//   button captions and enable states are not shown.
// - Message boxes are printed ("caption: text") and answered at once.
// - The progress bar becomes one live line (percent, block n of N, bytes per second, time left,
//   retries so far) when the output is a terminal, and is not shown otherwise.
// - Calls are carried out at once on the calling thread, under one lock: StartDownload's calls and
//   the worker's never overlap (the start gate orders them), the lock only keeps output whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "download/progress_model.h"
#include "download/window_link.h"

// Where the transfer stands, as the progress line shows it.
struct ProgressFigures {
  std::int32_t percent = 0;  // the bar's (100 only when full)
  std::uint64_t block = 0;   // data blocks acknowledged so far
  std::uint64_t blocks = 0;  // of the file's
  double bytesPerSecond = 0;
  double secondsLeft = -1;  // -1 until a rate is known
};

class CConsoleLink : public CWindowLink {
 public:
  // `out` receives the lines (null: none are shown); `live` draws the progress line; `fileSize` is
  // the upgrade file's size in bytes (for the block count and the rate).
  CConsoleLink(std::FILE* out, bool live, std::string path, std::uint64_t fileSize);

  std::string GetItemText(int id) override;
  void SetItemText(int id, const char* text) override;
  void EnableItem(int id, bool enable) override;
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override;
  void SetProgressStep(int id, std::int32_t step) override;
  void SetProgressPos(int id, std::int32_t position) override;
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override;
  void OnStage(DownloadStage stage) override;

  // Ends a live progress line so that the next output starts on a line of its own.
  void EndProgressLine();
  ProgressFigures Figures();

 private:
  void Line(const std::string& text);     // m_mutex held
  void DrawProgress();                    // m_mutex held
  ProgressFigures FiguresLocked() const;  // m_mutex held

  using Clock = std::chrono::steady_clock;

  std::mutex m_mutex;
  std::FILE* const m_out;
  const bool m_live;
  std::string m_path;
  const std::uint64_t m_fileSize;
  std::string m_lastBox;  // a pane text that repeats the box just shown is not printed again
  CProgressModel m_bar;
  std::int32_t m_position = 0;  // as the engine gave it: the blocks acknowledged so far
  Clock::time_point m_transferStart{};
  std::size_t m_drawn = 0;  // characters of the live line on screen; 0 when none
};

// A window text for a console: "\r\n" as a line break, without the blank lines around it.
std::string ConsoleText(const char* text);
