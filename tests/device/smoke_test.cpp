#include "testing/doubles/fake_bus.h"
#include <gtest/gtest.h>
TEST(Smoke, Runs) { FakeBus b; EXPECT_EQ(b.refs(), 1); }
