#include <windows.h>

#include <string>

#include "serial/port_doctor.h"
#include "serial/port_watch.h"
#include "text/wide_text_win32.h"

namespace {

constexpr int kLastScanned = 100;  // the scan tries COM2 to COM100
constexpr int kLastComNumber = 256;

}  // namespace

DoctorReport ExaminePorts(const std::vector<std::string>& names) {
  DoctorReport report;
  // The named ports, and every port of the device map beyond them (above COM100).
  std::vector<std::string> all = names;
  for (const std::string& port : ComPortNames(kLastScanned + 1, kLastComNumber)) {
    all.push_back(port);
  }
  for (const auto& [port, object] : PresentPorts(all)) {
    PortFacts facts;
    facts.port = port;
    facts.device = object;
    report.ports.push_back(facts);
    const std::string com = ShortPortName(port);
    const int number = ComNumberOf(port);
    if (number > kLastScanned) {
      report.findings.push_back(
          {port, "beyond-scan", com + " is beyond the ports the scan tries (COM2 to COM100)",
           "give the port to corvanel-cli with --port " + com +
               ", or give it a number from 2 to 100 in Device Manager (Ports, the port's "
               "Properties, Port Settings, Advanced, COM Port Number)"});
    }
    // Only an open tells whether another program holds the port: one that succeeds is closed
    // at once, with nothing sent.
    const HANDLE handle = CreateFileW(Utf16(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    } else if (GetLastError() == ERROR_ACCESS_DENIED) {
      report.findings.push_back({port, "held",
                                 com + " is held by another program (its open says: access denied)",
                                 "close the program that uses " + com +
                                     " (a terminal program, a port monitor, a "
                                     "modem or phone tool)"});
    }
  }
  return report;
}
