#include "device/realtime_pacer.h"

#include <mmsystem.h>

namespace {

// Sleep() may overrun by a fraction of a millisecond; the last stretch
// before a deadline is waited out on the counter instead.
constexpr LONGLONG SPIN_MS = 1;

}  // namespace

void RealTimePacer::BeginRun() {
  m_raised = timeBeginPeriod(1) == TIMERR_NOERROR;
  m_lastTransferEnd = 0;
}

void RealTimePacer::Pause(uint32_t ms) {
  if (m_frequency == 0) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    m_frequency = f.QuadPart;
  }
  // Counting from the end of the last transfer absorbs whatever the caller
  // did since (repainting the progress bar), so a run stays at its floor.
  const LONGLONG start = m_lastTransferEnd != 0 ? m_lastTransferEnd : Now();
  const LONGLONG deadline = start + static_cast<LONGLONG>(ms) * m_frequency / 1000;
  const LONGLONG spin = SPIN_MS * m_frequency / 1000;
  for (LONGLONG now = Now(); now < deadline; now = Now()) {
    const LONGLONG left = deadline - now;
    if (left > spin)
      Sleep(static_cast<DWORD>((left - spin) * 1000 / m_frequency));
    else
      YieldProcessor();
  }
}

void RealTimePacer::TransferEnded() { m_lastTransferEnd = Now(); }

void RealTimePacer::EndRun() {
  if (m_raised) timeEndPeriod(1);
  m_raised = false;
  m_lastTransferEnd = 0;
}

LONGLONG RealTimePacer::Now() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}
