#include "linux/posix_pacer.h"

#include <cerrno>
#include <time.h>

namespace {

constexpr long NANOSECONDS_PER_SECOND = 1000000000L;
constexpr long SPIN_NS = 300000;  // the end of each pause, watched rather than slept

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec After(timespec start, uint32_t ms) {
  const long long ns = static_cast<long long>(start.tv_nsec) + ms * 1000000LL;
  start.tv_sec += static_cast<time_t>(ns / NANOSECONDS_PER_SECOND);
  start.tv_nsec = static_cast<long>(ns % NANOSECONDS_PER_SECOND);
  return start;
}

timespec Before(timespec t, long ns) {
  t.tv_nsec -= ns;
  while (t.tv_nsec < 0) {
    t.tv_nsec += NANOSECONDS_PER_SECOND;
    --t.tv_sec;
  }
  return t;
}

bool Earlier(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

void PosixPacer::BeginRun() { m_transferInRun = false; }

void PosixPacer::Pause(uint32_t ms) {
  // Counting from the end of the last transfer absorbs whatever the caller
  // did since, so a run stays at its floor.
  const timespec deadline = After(m_transferInRun ? m_lastTransferEnd : Now(), ms);
  // The kernel wakes a sleeper some tens of microseconds after its
  // deadline, more on a busy machine, and each pause would carry that:
  // sleep to just before the deadline and watch the clock for the rest.
  const timespec wake = Before(deadline, SPIN_NS);
  // A signal (Ctrl-C's handler) interrupts the sleep; the deadline stays.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
  }
  while (Earlier(Now(), deadline)) {
  }
}

void PosixPacer::TransferEnded() {
  m_lastTransferEnd = Now();
  m_transferInRun = true;
}

void PosixPacer::EndRun() { m_transferInRun = false; }
