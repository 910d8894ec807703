// A whole download through StartDownload, the worker, the transfer and the simulator, with the
// window recorded; the worker runs on a thread the test joins.
#pragma once

#include <time.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/window_link.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "tests/support/recording_link.h"
#include "tests/support/sim_fixture.h"

inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class EndToEndTest : public SimFixture {
 protected:
  void SetUp() override {
    SetMainWindowLink(&m_link);
    SetWorkerStarter([this](std::function<void()> body) {
      m_worker = std::thread(std::move(body));
      return true;
    });
  }

  void TearDown() override {
    if (m_worker.joinable()) {
      m_worker.join();
    }
    SetWorkerStarter(nullptr);
    SetMainWindowLink(nullptr);
    std::memset(g_replyBuffer.data(), 0, g_replyBuffer.size());
    SimFixture::TearDown();
  }

  // One terminal on COM9 with these faults, found by the start-up detection.
  void StartWith(const std::vector<std::string>& knobs) {
    StartTerminal(knobs);
    ASSERT_EQ(DetectTerminal(), DETECT_FOUND);
  }

  // Presses Download with `path` in the path box and waits for the worker to end; measures the
  // wall and process CPU time from the press to the end.
  void Download(const std::string& path) {
    m_link.Type(IDC_PATH, path);
    const double cpu0 = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    StartDownload();
    if (m_worker.joinable()) {
      m_worker.join();
    }
    m_wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m_cpu = ProcessCpuSeconds() - cpu0;
  }

  // Every text the status line was given, in order.
  std::vector<std::string> StatusTexts() const {
    const std::string prefix = "text " + std::to_string(IDC_STATUS) + " ";
    std::vector<std::string> texts;
    for (const std::string& e : m_link.Events()) {
      if (e.rfind(prefix, 0) == 0) {
        texts.push_back(e.substr(prefix.size()));
      }
    }
    return texts;
  }

  CRecordingLink m_link;
  std::thread m_worker;
  double m_wall = 0;
  double m_cpu = 0;
};
