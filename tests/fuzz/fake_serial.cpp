// The fake backend: implements serial/serial_backend.h in place of the platform's.
#include "tests/fuzz/fake_serial.h"

#include "serial/held_ports.h"

namespace {

constexpr PortHandle kFakeHandle = 9;

std::string g_openable;
fake::ReadSource g_source = nullptr;
std::vector<fake::PortEvent> g_events;

}  // namespace

namespace fake {

void SetOpenablePort(const std::string& name) { g_openable = name; }
void SetReadSource(ReadSource source) { g_source = source; }
std::vector<PortEvent>& Events() { return g_events; }

}  // namespace fake

PortHandle PortOpenExclusive(const char* name, std::string* /*refusal*/) {
  if (name == nullptr || g_openable != name) {
    return kInvalidPortHandle;
  }
  TrackHeldPort(kFakeHandle);
  return kFakeHandle;
}

bool PortClearEventMask(PortHandle) { return true; }
bool PortSetTimeouts(PortHandle, const SerialTimeouts&) { return true; }
bool PortSetLineSettings(PortHandle, const SerialLineSettings&, std::string*) { return true; }

void PortWrite(PortHandle, const std::uint8_t* bytes, std::uint32_t count, const SerialTimeouts&,
               std::string* /*lost*/) {
  g_events.push_back({true, std::vector<std::uint8_t>(bytes, bytes + count)});
}

std::uint32_t PortRead(PortHandle, std::uint8_t* buffer, std::uint32_t capacity,
                       const SerialTimeouts&, std::string* /*lost*/) {
  std::uint32_t n = g_source != nullptr ? g_source(buffer, capacity) : 0;
  n = n > capacity ? capacity : n;
  g_events.push_back({false, std::vector<std::uint8_t>(buffer, buffer + n)});
  return n;
}

void PortClose(PortHandle handle) { ForgetHeldPort(handle); }
void PortReleaseForExit(PortHandle /*handle*/) {}

std::string PortDevice(const std::string& name) { return name; }
