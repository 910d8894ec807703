// A block transfer through the simulated terminal and handset, with the window recorded.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "download/block_transfer.h"
#include "download/window_link.h"
#include "tests/support/recording_link.h"
#include "tests/support/sim_fixture.h"

class TransferTest : public SimFixture {
 protected:
  void SetUp() override { SetMainWindowLink(&m_link); }
  void TearDown() override {
    SetMainWindowLink(nullptr);
    SimFixture::TearDown();
  }

  // Runs one transfer of `bytes` over the open, connected port, as the worker would.
  std::uint16_t Transfer(const std::vector<std::uint8_t>& bytes) {
    const std::string path = MakeFile(bytes, "image" + std::to_string(++m_files) + ".ldr");
    return TransferFile(path, static_cast<std::uint32_t>(bytes.size() >> kBlockShift));
  }

  // `measure`, when given, stands for the one the worker takes at its open; otherwise the
  // transfer measures the stream itself.
  std::uint16_t TransferFile(const std::string& path, std::uint32_t blocks,
                             const FileMeasure* measure = nullptr) {
    g_upgradeFile = std::fopen(path.c_str(), "rb");
    EXPECT_NE(g_upgradeFile, nullptr);
    if (measure != nullptr) {
      g_upgradeFileMeasure = UpgradeFileMeasure{g_upgradeFile, *measure};
    }
    g_sizeCounter = blocks;
    const auto start = std::chrono::steady_clock::now();
    const std::uint16_t result = RunTransfer();
    m_elapsed = std::chrono::steady_clock::now() - start;
    std::fclose(g_upgradeFile);
    g_upgradeFile = nullptr;
    return result;
  }

  std::vector<sim::Exchange> DataExchanges() {
    std::vector<sim::Exchange> data;
    for (const sim::Exchange& e : Stats().exchanges) {
      if (e.kind == sim::ExchangeKind::Data) {
        data.push_back(e);
      }
    }
    return data;
  }

  CRecordingLink m_link;
  std::chrono::steady_clock::duration m_elapsed{};
  int m_files = 0;
};
