// A program that holds the terminal port as the window program does: it stops on signals the
// same way, runs one download of the file given as its argument through StartDownload and the
// worker, and then waits to be stopped.
//
// Plain: the window shows nothing. With --close-on-input the main thread is a UI thread as the
// window's is: every change of the worker is carried out there while the worker waits (as the
// window link does), and a byte on standard input is the title bar's close, EndProcess(0) on that
// thread, whatever the worker is doing.
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/process_exit.h"
#include "tests/support/quiet_link.h"

namespace {

// A window whose path box holds the file to download.
class CPathLink : public CQuietLink {
 public:
  explicit CPathLink(std::string path) : m_path(std::move(path)) {}
  std::string GetItemText(int id) override { return id == IDC_PATH ? m_path : std::string(); }

 private:
  std::string m_path;
};

// The window's link in miniature: each change runs on the UI thread, and the caller waits for it.
class CUiThreadLink : public CPathLink {
 public:
  using CPathLink::CPathLink;

  void SetItemText(int, const char*) override { OnUiThread(); }
  void EnableItem(int, bool) override { OnUiThread(); }
  void SetProgressRange(int, std::int32_t, std::int32_t) override { OnUiThread(); }
  void SetProgressStep(int, std::int32_t) override { OnUiThread(); }
  void SetProgressPos(int, std::int32_t) override { OnUiThread(); }

  // The UI thread's share: runs what the worker has asked for.
  void RunPending() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_pending.empty()) {
      ++m_done;
      m_pending.pop_front();
      m_changed.notify_all();
    }
  }

 private:
  void OnUiThread() {
    if (m_uiThread == std::this_thread::get_id()) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned long ticket = m_done + m_pending.size() + 1;
    m_pending.push_back(ticket);
    m_changed.wait(lock, [&] { return m_done >= ticket; });
  }

  const std::thread::id m_uiThread = std::this_thread::get_id();
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<unsigned long> m_pending;
  unsigned long m_done = 0;
};

[[noreturn]] void RunUiThread(CUiThreadLink& link) {
  constexpr int kPollMs = 5;
  for (;;) {
    link.RunPending();
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, kPollMs) > 0) {
      EndProcess(0);  // the title bar's close
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  EndProcessOnSignals();
  const bool closeOnInput = argc == 3 && std::strcmp(argv[1], "--close-on-input") == 0;
  if (argc != 2 && !closeOnInput) {
    std::fprintf(stderr, "usage: %s [--close-on-input] UPGRADE-FILE\n", argv[0]);
    return 2;
  }
  if (closeOnInput) {
    static CUiThreadLink link(argv[2]);
    SetMainWindowLink(&link);
    StartDownload();
    RunUiThread(link);
  }
  static CPathLink link(argv[1]);
  SetMainWindowLink(&link);
  StartDownload();
  for (;;) {
    ::pause();
  }
}
