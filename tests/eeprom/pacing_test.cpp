// Real time: the pacer against the counter, and a whole ReFlash run.
#include "device/realtime_pacer.h"
#include "eeprom/eeprom.h"
#include "testing/doubles/fake_bus.h"
#include "testing/pacer_deadlines.h"

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

// See testing/pacer_deadlines.h.
TEST(RealTimePacer, WaitsForTheDeadlineNotAFixedTime) {
  CheckPacerDeadlines<RealTimePacer>([] { return Ms(Ticks()); }, [](unsigned ms) { Sleep(ms); });
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
