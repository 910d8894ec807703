#include "sim/simulator.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

CSimulator::~CSimulator() { Stop(); }

CPtyLine& CSimulator::Add(DeviceConfig config) {
  m_terminals.push_back(std::make_unique<CPtyLine>(std::move(config)));
  return *m_terminals.back();
}

CPtyLine& CSimulator::Add(DeviceConfig config, std::unique_ptr<CLineDevice> device) {
  m_terminals.push_back(std::make_unique<CPtyLine>(std::move(config), std::move(device)));
  return *m_terminals.back();
}

CPtyLine* CSimulator::Find(int comNumber) const {
  for (const auto& t : m_terminals) {
    if (t->ComNumber() == comNumber) return t.get();
  }
  return nullptr;
}

bool CSimulator::Start(std::string& error, const std::string& comDir) {
  for (std::size_t i = 0; i < m_terminals.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (m_terminals[i]->ComNumber() == m_terminals[j]->ComNumber()) {
        error = "COM" + std::to_string(m_terminals[i]->ComNumber()) + " is given twice";
        return false;
      }
    }
  }
  if (comDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/corvanel-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      error = std::string("mkdtemp: ") + std::strerror(errno);
      return false;
    }
    m_comDir = pattern;
    m_ownDir = true;
  } else {
    m_comDir = comDir;
    m_ownDir = false;
  }
  for (const auto& t : m_terminals) {
    if (!t->Start(m_comDir, error)) {
      Stop();
      return false;
    }
  }
  return true;
}

void CSimulator::Stop() {
  for (const auto& t : m_terminals) t->Stop();
  if (m_ownDir && !m_comDir.empty()) ::rmdir(m_comDir.c_str());
  m_ownDir = false;
}

}  // namespace sim
