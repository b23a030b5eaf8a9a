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

double Ms(LONGLONG ticks) { return Seconds(ticks) * 1000; }

// Costs a quarter of a pause, more than repainting the progress bar does
// under Xvfb: a pacer that slept 20 ms after the work would take 1.25
// times the floor.
class SlowProgress : public ProgressSink {
 public:
  void SetPos(uint32_t) override { Sleep(5); }
};

}  // namespace

// A pause ends `ms` after the last transfer of the run, whatever happened
// since (at once when that is past); with no transfer yet in the run, `ms`
// after it was called. Checked against that deadline, so a busy machine
// that stretches the work in between changes nothing. Never sooner is what
// matters for the card; late wake-ups get 10 ms, less than a pacer that
// slept a fixed time would be over (scripts/bench.sh reports the real
// overhead).
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
  for (const auto& c : cases) {
    RealTimePacer pacer;
    if (c.transferInEarlierRun) {
      pacer.BeginRun();
      pacer.TransferEnded();
      pacer.EndRun();
    }
    pacer.BeginRun();
    const double transferEnd = Ms(Ticks());
    if (c.transferInThisRun) pacer.TransferEnded();
    Sleep(c.workMs);
    const double start = Ms(Ticks());
    pacer.Pause(20);
    const double end = Ms(Ticks());
    pacer.EndRun();

    const double deadline = (c.transferInThisRun ? transferEnd : start) + 20.0;
    EXPECT_GE(end, deadline - 0.01) << c.name;
    EXPECT_LE(end, std::max(deadline, start) + 10.0) << c.name;
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
