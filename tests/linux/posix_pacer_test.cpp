// Real time on the monotonic clock: the pacer's deadlines, and a whole
// ReFlash run against a bus without latency.
#include "eeprom/commands.h"
#include "linux/posix_pacer.h"
#include "testing/doubles/fake_bus.h"
#include "testing/pacer_deadlines.h"

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

void SleepMs(double ms) {
  const timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms * 1e6) % 1000000000L};
  nanosleep(&t, nullptr);
}

// Costs a quarter of a pause, more than redrawing a progress line does.
class SlowProgress : public ProgressSink {
 public:
  void SetPos(uint32_t) override { SleepMs(5); }
};

}  // namespace

// See testing/pacer_deadlines.h.
TEST(PosixPacer, WaitsForTheDeadlineNotAFixedTime) {
  CheckPacerDeadlines<PosixPacer>(NowMs, [](unsigned ms) { SleepMs(ms); });
}

// The first 50 bytes of the image with the real pacer: every write at
// least 20 ms after the one before, and the run hardly longer than its
// floor of 51 pauses (the last one before the read-back), though each
// progress step costs 5 ms: a pacer that slept 20 ms after the work would
// take 1.25 times the floor. (The Windows pacer's test times a whole
// ReFlash; here a shorter run shows the same and keeps the suite fast.)
TEST(PosixPacer, ProgrammingRunStaysAtItsFloor) {
  constexpr uint32_t kCount = 50;
  constexpr double kFloor = (kCount + 1) * 0.020;
  BusFixture f;
  std::vector<double> writes;
  f.bus.fault = [&writes](size_t, const Transfer& t) {
    if (t.write) writes.push_back(NowMs());
    return 0;
  };
  SlowProgress progress;
  PosixPacer pacer;
  EepromContext ctx{f.opener, f.errors, progress, pacer};

  const double start = NowMs();
  ASSERT_TRUE(ProgramBoard(ctx, BoardImage, kCount, 256).ok());
  const double wall = (NowMs() - start) / 1000;

  ASSERT_EQ(writes.size(), kCount);
  double minGapMs = 1e9;
  for (size_t i = 1; i < writes.size(); ++i)
    minGapMs = std::min(minGapMs, writes[i] - writes[i - 1]);
  EXPECT_GE(minGapMs, 20.0);
  EXPECT_GE(wall, kFloor);
  EXPECT_LT(wall, kFloor * 1.15);
  std::printf("programming run: %.3f s for %u bytes, ratio %.4f\n", wall, kCount, wall / kFloor);
  std::printf("shortest gap between writes: %.3f ms\n", minGapMs);
}
