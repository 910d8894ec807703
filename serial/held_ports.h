// The handles a serial backend holds open, kept where an exit path can find them without a lock:
// every handle PortOpenExclusive gives out is tracked from its open to its PortClose, so that a
// process ending (on a signal or by its own end) can release the device wherever its threads are.
//
// Header-only, so that the backend (which tracks) and the exit paths (which release through the
// backend's PortReleaseForExit) need no library of each other's.
#pragma once

#include <atomic>

#include "serial/serial_backend.h"

// More than the one terminal port, so tests that hold a second port are covered too.
inline constexpr int kHeldPortSlots = 8;

static_assert(std::atomic<PortHandle>::is_always_lock_free,
              "the exit path reads the slots from a signal handler");

inline std::atomic<PortHandle> g_heldPorts[kHeldPortSlots] = {
    kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle,
    kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle, kInvalidPortHandle};

inline void TrackHeldPort(PortHandle handle) {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    PortHandle empty = kInvalidPortHandle;
    if (slot.compare_exchange_strong(empty, handle)) {
      return;
    }
  }
}

inline void ForgetHeldPort(PortHandle handle) {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    PortHandle held = handle;
    if (slot.compare_exchange_strong(held, kInvalidPortHandle)) {
      return;
    }
  }
}

// Ends the exclusive hold of every tracked handle (PortReleaseForExit); async-signal-safe, for the
// exit paths only.
inline void ReleaseHeldPortsForExit() {
  for (std::atomic<PortHandle>& slot : g_heldPorts) {
    const PortHandle handle = slot.exchange(kInvalidPortHandle);
    if (handle != kInvalidPortHandle) {
      PortReleaseForExit(handle);
    }
  }
}
