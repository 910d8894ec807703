#include "download/fine_timer.h"

CFineTimer::CFineTimer() : m_granted(false) {}

CFineTimer::~CFineTimer() = default;

int FineTimerHolders() { return 0; }
