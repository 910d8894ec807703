#include "cli/doctor.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/console.h"
#include "serial/port_doctor.h"
#include "serial/port_watch.h"
#include "text/json_text.h"

namespace {

std::string JsonOrNull(const std::string& text) {
  return text.empty() ? std::string("null") : JsonString(text);
}

}  // namespace

int RunDoctor(const CliOptions& options) {
  DoctorReport report = ExaminePorts(NamedOrCandidatePorts(options.ports));
  std::stable_sort(
      report.ports.begin(), report.ports.end(),
      [](const PortFacts& a, const PortFacts& b) { return PortBefore(a.port, b.port); });
  std::stable_sort(
      report.findings.begin(), report.findings.end(),
      [](const PortFinding& a, const PortFinding& b) { return PortBefore(a.port, b.port); });
  const int code = report.findings.empty() ? 0 : kExitDoctorFound;
  if (options.json) {
    std::string json = "{\"ports\":[";
    for (const PortFacts& p : report.ports) {
      json += (json.back() == '[' ? "" : ",") + std::string("{\"port\":") + JsonString(p.port) +
              ",\"device\":" + JsonString(p.device) + ",\"driver\":" + JsonOrNull(p.driver) +
              ",\"usb\":" + JsonOrNull(p.usbId) + "}";
    }
    json += "],\"findings\":[";
    for (const PortFinding& f : report.findings) {
      json += (json.back() == '[' ? "" : ",") + std::string("{\"port\":") + JsonString(f.port) +
              ",\"kind\":" + JsonString(f.kind) + ",\"text\":" + JsonString(f.text) +
              ",\"fix\":" + JsonString(f.fix) + "}";
    }
    json += "],\"exit_code\":" + std::to_string(code) + "}\n";
    WriteText(stdout, json);
    std::fflush(stdout);
    return code;
  }
  std::string text;
  if (report.ports.empty()) {
    text += "No serial port is there (the scan tries COM2 to COM100).\n";
  } else {
    text += "Serial ports:\n";
    for (const PortFacts& p : report.ports) {
      text += "  " + ShortPortName(p.port) + "  " + p.device;
      if (!p.driver.empty()) text += "  " + p.driver;
      if (!p.usbId.empty()) text += "  USB " + p.usbId;
      text += "\n";
    }
  }
  if (report.findings.empty()) {
    text += "Nothing on this PC stands in the way of a download.\n";
  } else {
    text += "In the way:\n";
    for (const PortFinding& f : report.findings) {
      text += "  " + ShortPortName(f.port) + ": " + f.text + "\n    fix: " + f.fix + "\n";
    }
  }
  WriteText(stdout, text);
  std::fflush(stdout);
  return code;
}
