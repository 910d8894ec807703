#include "cli/history.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "record/download_record.h"
#include "text/json_text.h"

namespace {

constexpr const char* kRowFormat = "%-24s  %-12s  %-10s  %-18s  %4s  %7s  %8s  %s\n";
constexpr std::string_view kDevicePrefix = "\\\\.\\";  // "\\.\" before a COM name

// The port as an operator names it: COM9 rather than \\.\COM9.
std::string ShortPort(const std::string& port) {
  if (port.empty()) {
    return "-";
  }
  return std::string_view(port).starts_with(kDevicePrefix) ? port.substr(kDevicePrefix.size())
                                                           : port;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A field as the table shows it: a control character (a line feed or an escape sequence in a
// file name) is written as \xNN, never raw, so that no record can rewrite the terminal.
std::string Shown(const std::string& text) {
  constexpr unsigned char kDelete = 0x7F;
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < ' ' || b == kDelete) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(b));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void PrintHistory(std::size_t count, bool json) {
  std::vector<std::string> lines;
  std::string folder;
  if (!LastRecordLines(count, lines, folder)) {
    std::fprintf(stderr, "No download recorded: the environment names no state folder.\n");
    return;
  }
  if (lines.empty()) {
    PrintText(stderr, "No download recorded in %s.\n", folder.c_str());
    return;
  }
  if (json) {
    for (const std::string& line : lines) {
      PrintText(stdout, "%s\n", line.c_str());
    }
    return;
  }
  PrintText(stdout, kRowFormat, "START (UTC)", "PROGRAM", "PORT", "OUTCOME", "CODE", "RETRIES",
            "SECONDS", "FILE");
  for (const std::string& line : lines) {
    DownloadRecord r;
    (void)ReadRecordLine(line, r);  // every line given is one that reads
    PrintText(stdout, kRowFormat, Shown(r.start).c_str(), Shown(r.program).c_str(),
              Shown(ShortPort(r.port)).c_str(), Shown(r.outcome).c_str(),
              std::to_string(r.code).c_str(), std::to_string(r.retries).c_str(),
              FixedText(r.seconds, 1).c_str(), Shown(BaseName(r.file)).c_str());
  }
}
