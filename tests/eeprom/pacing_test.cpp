// Real time: the pacer against the counter, and a whole ReFlash run.
#include "device/realtime_pacer.h"
#include "eeprom/eeprom.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Seconds(LONGLONG ticks) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(ticks) / static_cast<double>(f.QuadPart);
}

LONGLONG Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Costs a quarter of a pause, more than repainting the progress bar does
// under Xvfb: a pacer that slept 20 ms after the work would take 1.25
// times the floor.
class SlowProgress : public ProgressSink {
 public:
  void SetPos(uint32_t) override { Sleep(5); }
};

}  // namespace

// A pause ends `ms` after the last transfer of the run, whatever happened
// since; with no transfer yet in the run, `ms` after it was called. What
// matters for the card is the lower bound: never sooner than 20 ms after
// the previous transfer. The upper bounds leave room for a busy machine
// and still tell a deadline from a fixed sleep (scripts/bench.sh reports
// the real overhead).
TEST(RealTimePacer, WaitsForTheDeadlineNotAFixedTime) {
  struct Case {
    const char* name;
    bool transferInThisRun;
    bool transferInEarlierRun;
    DWORD workMs;  // between the transfer and the pause
  };
  const Case cases[] = {
      {"first pause of a run", false, false, 0},
      {"first pause, a transfer in the previous run", false, true, 30},
      {"work eats into the pause", true, false, 16},
      {"work longer than the pause", true, false, 30},
  };
  constexpr double kSlackMs = 15.0;
  for (const auto& c : cases) {
    RealTimePacer pacer;
    if (c.transferInEarlierRun) {
      pacer.BeginRun();
      pacer.TransferEnded();
      pacer.EndRun();
    }
    pacer.BeginRun();
    const LONGLONG transferEnd = Ticks();
    if (c.transferInThisRun) pacer.TransferEnded();
    Sleep(c.workMs);
    const LONGLONG start = Ticks();
    pacer.Pause(20);
    const LONGLONG end = Ticks();
    pacer.EndRun();

    // Counted from the transfer of this run, or else from the call.
    const double sinceMs = Seconds(end - (c.transferInThisRun ? transferEnd : start)) * 1000;
    const double workMs = Seconds(start - transferEnd) * 1000;
    if (!c.transferInThisRun || workMs < 20) {
      EXPECT_GE(sinceMs, 20.0) << c.name;
      EXPECT_LE(sinceMs, 20.0 + kSlackMs) << c.name;  // a fixed sleep would add the work
    } else {
      EXPECT_LE(Seconds(end - start) * 1000, 10.0) << c.name;  // the deadline has passed
    }
  }
}

// The 256-byte image with the real pacer: every write at least 20 ms after
// the one before, and the run hardly longer than its 5.12 s floor even
// though each progress step costs 5 ms.
TEST(ReFlashRun, StaysAtItsFloor) {
  BusFixture f;
  std::vector<LONGLONG> writes;
  f.bus.fault = [&writes](size_t, const Transfer& t) {
    if (t.write) writes.push_back(Ticks());
    return 0;
  };
  SlowProgress progress;
  RealTimePacer pacer;
  EepromContext ctx{f.opener, f.errors, progress, pacer};

  const LONGLONG start = Ticks();
  ASSERT_TRUE(ProgramBoard(ctx, BoardImage, BOARD_IMAGE_SIZE, 256).ok());
  const double wall = Seconds(Ticks() - start);

  ASSERT_EQ(writes.size(), 256u);
  double minGapMs = 1e9;
  for (size_t i = 1; i < writes.size(); ++i)
    minGapMs = std::min(minGapMs, Seconds(writes[i] - writes[i - 1]) * 1000);
  EXPECT_GE(minGapMs, 20.0);
  EXPECT_GE(wall, 5.12);
  EXPECT_LT(wall, 5.12 * 1.15);
  std::printf("ReFlash run: %.3f s for 256 bytes, ratio %.4f\n", wall, wall / 5.12);
  std::printf("shortest gap between writes: %.3f ms\n", minGapMs);
}
