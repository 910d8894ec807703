#include "tests/support/sim_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"

std::vector<sim::Fault> Faults(const std::vector<std::string>& knobs) {
  std::vector<sim::Fault> plan;
  for (const std::string& knob : knobs) {
    sim::Fault fault;
    std::string error;
    EXPECT_TRUE(sim::ParseFault(knob, fault, error)) << knob << ": " << error;
    plan.push_back(fault);
  }
  return plan;
}

void SimFixture::TearDown() {
  CloseTerminalPort();
  m_sim.Stop();
  unsetenv(kComDirVariable);
  if (!m_tempDir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_tempDir, ec);
  }
}

void SimFixture::StartSim(const std::vector<sim::DeviceConfig>& devices) {
  for (const sim::DeviceConfig& config : devices) {
    m_sim.Add(config);
  }
  std::string error;
  ASSERT_TRUE(m_sim.Start(error)) << error;
  setenv(kComDirVariable, m_sim.ComDir().c_str(), 1);
}

void SimFixture::StartTerminal(const std::vector<std::string>& knobs, bool pacing) {
  sim::DeviceConfig config;
  config.comNumber = 9;
  config.faults = Faults(knobs);
  config.pacing = pacing;
  StartSim({config});
}

sim::CPtyLine& SimFixture::Terminal(int comNumber) { return *m_sim.Find(comNumber); }

sim::DeviceStats SimFixture::Stats(int comNumber) { return Terminal(comNumber).Stats(); }

void SimFixture::OpenAndConnect(int comNumber) {
  const std::string name = "\\\\.\\COM" + std::to_string(comNumber);
  ASSERT_EQ(OpenTerminalPort(name.c_str()), PORT_OK);
  const char dial[] = "ATD**60\r\n";
  WriteTerminal(reinterpret_cast<const std::uint8_t*>(dial), 9);
  const std::uint16_t n = ReadTerminal(g_replyBuffer.data());
  const std::string reply(reinterpret_cast<const char*>(g_replyBuffer.data()), n);
  ASSERT_NE(reply.find("CONNECT"), std::string::npos) << reply;
}

std::string SimFixture::TempDir() {
  if (m_tempDir.empty()) {
    char pattern[] = "/tmp/corvanel-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    m_tempDir = made != nullptr ? made : "/tmp";
  }
  return m_tempDir;
}

std::string SimFixture::MakeFile(const std::vector<std::uint8_t>& bytes, const std::string& name) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(rng());
  }
  return bytes;
}
