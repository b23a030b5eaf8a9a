// The deadline checks every real-time pacer must pass, whatever its
// platform: a pause ends `ms` after the last transfer of the run, whatever
// happened since (at once when that is past); with no transfer yet in the
// run, `ms` after it was called. Checked against that deadline, so a busy
// machine that stretches the work in between changes nothing. Never sooner
// is what matters for the card; late wake-ups get 10 ms, less than a pacer
// that slept a fixed time would be over (the benchmarks report the real
// overhead).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

// `nowMs()` reads a millisecond clock; `sleepMs(ms)` does the work between
// a transfer and the pause.
template <class PacerType, class NowMs, class SleepMs>
void CheckPacerDeadlines(NowMs nowMs, SleepMs sleepMs) {
  struct Case {
    const char* name;
    bool transferInThisRun;
    bool transferInEarlierRun;
    unsigned workMs;  // between the transfer and the pause
  };
  const Case cases[] = {
      {"first pause of a run", false, false, 0},
      {"first pause, a transfer in the previous run", false, true, 30},
      {"work eats into the pause", true, false, 16},
      {"work longer than the pause", true, false, 30},
  };
  for (const auto& c : cases) {
    PacerType pacer;
    if (c.transferInEarlierRun) {
      pacer.BeginRun();
      pacer.TransferEnded();
      pacer.EndRun();
    }
    pacer.BeginRun();
    const double transferEnd = nowMs();
    if (c.transferInThisRun) pacer.TransferEnded();
    sleepMs(c.workMs);
    const double start = nowMs();
    pacer.Pause(20);
    const double end = nowMs();
    pacer.EndRun();

    const double deadline = (c.transferInThisRun ? transferEnd : start) + 20.0;
    EXPECT_GE(end, deadline - 0.01) << c.name;
    EXPECT_LE(end, std::max(deadline, start) + 10.0) << c.name;
  }
}
