// The handles the backend holds open, kept where an exit path can find them without a lock.
#include <atomic>

#include "serial/serial_backend.h"

namespace {

// More than the one terminal port, so tests that hold a second port are covered too.
constexpr int kHeldPortSlots = 8;

static_assert(std::atomic<PortHandle>::is_always_lock_free,
              "the exit path reads the slots from a signal handler");

std::atomic<PortHandle> g_heldPorts[kHeldPortSlots] = {
    kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle,
    kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle};

}  // namespace

void TrackHeldPort(PortHandle handle) {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    PortHandle empty = kInvalidPortHandle;
    if (slot.compare_exchange_strong(empty, handle)) {
      return;
    }
  }
}

void ForgetHeldPort(PortHandle handle) {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    PortHandle held = handle;
    if (slot.compare_exchange_strong(held, kInvalidPortHandle)) {
      return;
    }
  }
}

void ReleaseHeldPortsForExit() {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    const PortHandle handle = slot.exchange(kInvalidPortHandle);
    if (handle != kInvalidPortHandle) {
      PortReleaseForExit(handle);
    }
  }
}
