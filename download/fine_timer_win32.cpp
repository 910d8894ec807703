#include <windows.h>
// <timeapi.h> needs <windows.h> first.
#include <timeapi.h>

#include <atomic>

#include "download/fine_timer.h"

namespace {

constexpr UINT kFineTickMs = 1;
std::atomic<int> g_holders{0};

}  // namespace

CFineTimer::CFineTimer() : m_granted(timeBeginPeriod(kFineTickMs) == TIMERR_NOERROR) {
  if (m_granted) {
    ++g_holders;
  }
}

CFineTimer::~CFineTimer() {
  if (m_granted && timeEndPeriod(kFineTickMs) == TIMERR_NOERROR) {
    --g_holders;
  }
}

int FineTimerHolders() { return g_holders.load(); }
