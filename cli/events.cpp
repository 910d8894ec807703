#include "cli/events.h"

#include <cstdio>
#include <mutex>

#include "cli/console.h"
#include "download/block_transfer.h"
#include "record/port_trace.h"
#include "serial/serial_backend.h"
#include "serial/serial_port.h"
#include "text/json_text.h"

std::string EventStart(const char* name, const std::string& port) {
  std::string json =
      "{\"version\":" + std::to_string(kEventVersion) + ",\"event\":\"" + name + "\"";
  if (!port.empty()) {
    json += ",\"port\":" + JsonString(port) + ",\"device\":" + JsonString(PortDevice(port));
  }
  return json;
}

void EmitEvent(const std::string& object) {
  static std::mutex mutex;
  const std::lock_guard<std::mutex> lock(mutex);
  WriteText(stdout, object + "\n");
  std::fflush(stdout);
}

void CEventLink::OnStage(DownloadStage stage) {
  m_inner.OnStage(stage);
  // The scan comes before the port is known. The AT check comes after it either way; the scan
  // found the terminal when it left the port open on it, and its answer is the last reply.
  // After a scan that found none the download is on no port: its end alone tells.
  if (stage == DownloadStage::TerminalCheck && !m_found && g_terminalPort.IsOpen()) {
    m_found = true;
    EmitEvent(EventStart("found", LastOpenedPort()) + ",\"answer\":" + JsonString(LastReply()) +
              "}");
  }
  if (stage != DownloadStage::Scan && m_found) {
    EmitEvent(EventStart("stage", LastOpenedPort()) + ",\"stage\":\"" + StageName(stage) + "\"}");
  }
}

void CEventLink::SetProgressRange(int id, std::int32_t lower, std::int32_t upper) {
  m_inner.SetProgressRange(id, lower, upper);
  m_lastProgress = Clock::time_point{};
  m_lastBlock = ~std::uint64_t{0};
}

void CEventLink::SetProgressPos(int id, std::int32_t position) {
  m_inner.SetProgressPos(id, position);
  const ProgressFigures figures = m_inner.Figures();
  const Clock::time_point now = Clock::now();
  const bool last = figures.block == figures.blocks;
  const bool due =
      now - m_lastProgress >= std::chrono::milliseconds(1000 / kProgressEventsPerSecond);
  if (figures.block == m_lastBlock || (!due && !last)) {
    return;
  }
  m_lastProgress = now;
  m_lastBlock = figures.block;
  constexpr std::size_t kFieldsCapacity = 160;  // more than the fields below ever take
  char fields[kFieldsCapacity];
  std::snprintf(fields, sizeof fields,
                ",\"block\":%llu,\"blocks\":%llu,\"percent\":%d,\"retries\":%u,"
                "\"bytes_per_second\":",
                static_cast<unsigned long long>(figures.block),
                static_cast<unsigned long long>(figures.blocks), static_cast<int>(figures.percent),
                static_cast<unsigned>(g_transferCounts.retries));
  EmitEvent(EventStart("progress", LastOpenedPort()) + fields +
            FixedText(figures.bytesPerSecond, 0) + "}");
}
