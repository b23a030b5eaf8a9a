#include "linux/posix_pacer.h"

#include <cerrno>
#include <time.h>

namespace {

constexpr long NANOSECONDS_PER_SECOND = 1000000000L;

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

}  // namespace

void PosixPacer::BeginRun() { m_transferInRun = false; }

void PosixPacer::Pause(uint32_t ms) {
  // Counting from the end of the last transfer absorbs whatever the caller
  // did since, so a run stays at its floor.
  const timespec deadline = After(m_transferInRun ? m_lastTransferEnd : Now(), ms);
  // A signal (Ctrl-C's handler) interrupts the sleep; the deadline stays.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

void PosixPacer::TransferEnded() {
  m_lastTransferEnd = Now();
  m_transferInRun = true;
}

void PosixPacer::EndRun() { m_transferInRun = false; }
