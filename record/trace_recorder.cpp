#include "record/trace_recorder.h"

#include <algorithm>
#include <cstring>

CTraceRecorder::CTraceRecorder(Clock::time_point start)
    : m_start(start), m_ring(std::make_unique_for_overwrite<std::uint8_t[]>(kTraceRingBytes)) {}

void CTraceRecorder::Put(std::uint64_t position, const void* bytes, std::size_t count) {
  const std::size_t at = position & (kTraceRingBytes - 1);
  const std::size_t first = std::min(count, kTraceRingBytes - at);
  std::memcpy(m_ring.get() + at, bytes, first);
  std::memcpy(m_ring.get(), static_cast<const std::uint8_t*>(bytes) + first, count - first);
}

void CTraceRecorder::Get(std::uint64_t position, void* bytes, std::size_t count) const {
  const std::size_t at = position & (kTraceRingBytes - 1);
  const std::size_t first = std::min(count, kTraceRingBytes - at);
  std::memcpy(bytes, m_ring.get() + at, first);
  std::memcpy(static_cast<std::uint8_t*>(bytes) + first, m_ring.get(), count - first);
}

void CTraceRecorder::Append(PortEvent event, const char* name, const std::uint8_t* bytes,
                            std::uint32_t count) {
  const bool named = EventNamesThePort(event);
  if (event == PortEvent::Open) {
    std::strncpy(m_port.data(), name, m_port.size() - 1);
    m_answerPending = true;
  } else if (event == PortEvent::Read && m_answerPending) {
    m_answerCount = std::min<std::uint32_t>(count, m_answer.size());
    std::memcpy(m_answer.data(), bytes, m_answerCount);
    m_answerPending = false;
  }

  EventHeader header{};
  header.nanoseconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_start).count();
  header.count = count;
  header.event = event;
  if (!named) {
    m_lastTraffic = header.nanoseconds;
  }
  const void* payload = bytes;
  std::uint32_t nameLength = 0;
  if (named) {
    nameLength = static_cast<std::uint32_t>(strnlen(name, kTracedNameCapacity - 1));
    header.stored = nameLength;
    payload = name;
  } else {
    header.stored = std::min<std::uint32_t>(count, kMaxTracedBytes);
  }
  if (EventCarriesReason(event)) {
    // The reason follows the name and its zero.
    header.count = std::min<std::uint32_t>(count, kMaxTracedBytes - nameLength - 1);
    header.stored = nameLength + 1 + header.count;
  }
  const std::uint64_t head = m_head.load(std::memory_order_relaxed);
  const std::uint64_t tail = m_tail.load(std::memory_order_acquire);
  const std::size_t size = sizeof header + header.stored;
  if (size > kTraceRingBytes - (head - tail)) {
    m_lost.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Put(head, &header, sizeof header);
  if (EventCarriesReason(event)) {
    const std::uint64_t at = head + sizeof header;
    Put(at, name, nameLength);
    Put(at + nameLength, "", 1);
    Put(at + nameLength + 1, bytes, header.count);
  } else {
    Put(head + sizeof header, payload, header.stored);
  }
  m_head.store(head + size, std::memory_order_release);
}

bool CTraceRecorder::WriteOut(std::FILE* out) {
  const std::uint64_t head = m_head.load(std::memory_order_acquire);
  std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
  bool written = true;
  while (tail < head) {
    EventHeader header{};
    Get(tail, &header, sizeof header);
    Get(tail + sizeof header, m_payload.data(), header.stored);
    tail += sizeof header + header.stored;
    if (out == nullptr) {
      continue;
    }
    m_payload[header.stored] = 0;  // a name ends here
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::nanoseconds(header.nanoseconds))
            .count();
    const char* name = reinterpret_cast<char*>(m_payload.data());
    const std::uint8_t* bytes = m_payload.data();
    if (EventCarriesReason(header.event)) {
      bytes += std::strlen(name) + 1;  // the reason after the name
    }
    const std::size_t length =
        FormatTraceLine(m_line.data(), ms, header.event, name, bytes, header.count);
    written = std::fwrite(m_line.data(), 1, length, out) == length && written;
  }
  m_tail.store(tail, std::memory_order_release);
  if (out != nullptr) {
    written = std::fflush(out) == 0 && written;
  }
  return written;
}

std::string CTraceRecorder::Port() const { return m_port.data(); }

std::string CTraceRecorder::Answer() const {
  return std::string(reinterpret_cast<const char*>(m_answer.data()), m_answerCount);
}
