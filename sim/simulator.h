// Several simulated terminals, each on its own pty line, behind one COM directory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/pty_line.h"

namespace sim {

// Several terminals behind one COM directory (a fresh temporary one unless given).
class CSimulator {
 public:
  CSimulator() = default;
  ~CSimulator();
  CSimulator(const CSimulator&) = delete;
  CSimulator& operator=(const CSimulator&) = delete;

  // Adds a device before Start; the reference stays valid for the simulator's life.
  CPtyLine& Add(DeviceConfig config);
  // Adds a line on which `device` answers (see CPtyLine).
  CPtyLine& Add(DeviceConfig config, std::unique_ptr<CLineDevice> device);
  bool Start(std::string& error, const std::string& comDir = {});
  void Stop();  // stops every terminal and removes a temporary directory

  const std::string& ComDir() const { return m_comDir; }
  const std::vector<std::unique_ptr<CPtyLine>>& Terminals() const { return m_terminals; }
  CPtyLine* Find(int comNumber) const;

 private:
  std::vector<std::unique_ptr<CPtyLine>> m_terminals;
  std::string m_comDir;
  bool m_ownDir = false;
};

}  // namespace sim
