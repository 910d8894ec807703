// Test helpers around the simulator: a simulated terminal behind a temporary COM directory that
// the port code is pointed at, temporary upgrade files, and the dial that puts the simulated
// terminal through to its handset.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/simulator.h"

// Parses fault knobs in the simulator's text form; fails the test on a bad one.
std::vector<sim::Fault> Faults(const std::vector<std::string>& knobs);

class SimFixture : public ::testing::Test {
 protected:
  void TearDown() override;

  // Starts the simulator with the given devices and points CORVANEL_COM_DIR at it.
  void StartSim(const std::vector<sim::DeviceConfig>& devices);
  // One terminal on COM9 with the given faults.
  void StartTerminal(const std::vector<std::string>& knobs = {}, bool pacing = false);
  sim::CPtyLine& Terminal(int comNumber = 9);
  sim::DeviceStats Stats(int comNumber = 9);

  // Opens the terminal port on COMn, dials and checks "CONNECT".
  void OpenAndConnect(int comNumber = 9);

  // A file of these bytes in a temporary directory; removed at tear-down.
  std::string MakeFile(const std::vector<std::uint8_t>& bytes,
                       const std::string& name = "image.ldr");
  std::string TempDir();

  sim::CSimulator m_sim;
  std::string m_tempDir;
};

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed);
