// The start-up identity check and the classification of what it read.
#include "eeprom/commands.h"
#include "testing/doubles/fake_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

void SetIdentity(FakeBus& bus, std::vector<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), bus.devices[BOARD_EEPROM_ADDRESS].memory.begin());
}

TEST(CheckBoardIdentity, ReadsBytesZeroToThreeIntoTheIDs) {
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x21, 0x3A, 0x11, 0x22});

  const IdentityCheck check = CheckBoardIdentity(f.ctx);
  EXPECT_TRUE(check.read);
  EXPECT_EQ(check.ids.m_wSubVendorID, 0x6B2D);
  EXPECT_EQ(check.ids.m_wSubSystemID, 0x3A21);
  EXPECT_EQ(check.verdict, BoardVerdict::NeedsReflash);

  // One transfer, no pause, no progress, the bus given back.
  EXPECT_THAT(f.transcript.events, ElementsAre("open", "R A0 [00 00] #4", "released"));
  EXPECT_EQ(f.opener.held, 0);
}

TEST(CheckBoardIdentity, FailedOpeningShowsNoBoxOfItsOwn) {
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x2C, 0x3A});
  f.opener.fail = true;
  f.opener.failBoxes = {"Couldn't find AnalogCaptureFilter!"};

  const IdentityCheck check = CheckBoardIdentity(f.ctx);
  EXPECT_FALSE(check.read);
  EXPECT_EQ(check.ids.m_wSubVendorID, 0);
  EXPECT_EQ(check.ids.m_wSubSystemID, 0);
  EXPECT_EQ(check.verdict, BoardVerdict::WrongSubVendor);
  EXPECT_EQ(check.failure.device, 0);
  EXPECT_THAT(f.transcript.events,
              ElementsAre("open failed", "box Couldn't find AnalogCaptureFilter!"));
}

// Only an answer of 0 is a read, also where the failed read filled its
// buffer: the IDs stay 0.
TEST(CheckBoardIdentity, FailedTransferShowsOneBoxThenReleasesTheBus) {
  for (int32_t code : {FAIL_CODE, POSITIVE_CODE, int32_t{0x7FFFFFFF}, int32_t{-121}}) {
    SCOPED_TRACE(code);
    BusFixture f;
    SetIdentity(f.bus, {0x2D, 0x6B, 0x2C, 0x3A});
    f.bus.FailTransfer(1, code);
    f.bus.failedReadsFillBuffer = true;

    const IdentityCheck check = CheckBoardIdentity(f.ctx);
    EXPECT_FALSE(check.read);
    EXPECT_EQ(check.ids.m_wSubVendorID, 0);
    EXPECT_EQ(check.ids.m_wSubSystemID, 0);
    EXPECT_EQ(check.verdict, BoardVerdict::WrongSubVendor);
    EXPECT_EQ(check.failure.device, BOARD_EEPROM_ADDRESS);
    EXPECT_FALSE(check.failure.write);
    EXPECT_EQ(check.failure.offset, 0u);
    EXPECT_EQ(check.failure.code, code);
    ASSERT_EQ(f.transcript.events.size(), 4u);
    EXPECT_EQ(f.transcript.events[2], "box ReadEEPROM: I2C-read to Board EEPROM failed");
    EXPECT_EQ(f.transcript.events[3], "released");
    EXPECT_EQ(f.opener.held, 0);
  }
}

// ---- Classification ------------------------------------------------------------

const char* Name(BoardVerdict v) {
  switch (v) {
    case BoardVerdict::WrongSubVendor:
      return "WrongSubVendor";
    case BoardVerdict::NeedsReflash:
      return "NeedsReflash";
    case BoardVerdict::AlreadyCorrect:
      return "AlreadyCorrect";
    case BoardVerdict::OtherBoard:
      return "OtherBoard";
  }
  return "?";
}

// From the bytes in the EEPROM, through the read, to the verdict.
TEST(ClassifyBoard, IdentityBytesToVerdict) {
  const struct {
    std::vector<uint8_t> bytes;
    BoardVerdict verdict;
  } cases[] = {
      {{0x2D, 0x6B, 0x21, 0x3A}, BoardVerdict::NeedsReflash},
      {{0x2D, 0x6B, 0x2C, 0x3A}, BoardVerdict::AlreadyCorrect},
      {{0x2D, 0x6B, 0x00, 0x00}, BoardVerdict::OtherBoard},
      {{0x2D, 0x6B, 0x3A, 0x21}, BoardVerdict::OtherBoard},      // subsystem bytes swapped
      {{0x6B, 0x2D, 0x2C, 0x3A}, BoardVerdict::WrongSubVendor},  // sub-vendor bytes swapped
      {{0xFF, 0xFF, 0xFF, 0xFF}, BoardVerdict::WrongSubVendor},  // erased
      {{0x2E, 0x6B, 0x21, 0x3A}, BoardVerdict::WrongSubVendor},  // sub-vendor is tested first
      {{0x00, 0x00, 0x00, 0x00}, BoardVerdict::WrongSubVendor},  // the IDs after a failed read
      {{BoardImage[0], BoardImage[1], BoardImage[2], BoardImage[3]}, BoardVerdict::AlreadyCorrect},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.bytes.data(), c.bytes.size()));
    BusFixture f;
    SetIdentity(f.bus, c.bytes);
    const IdentityCheck check = CheckBoardIdentity(f.ctx);
    ASSERT_TRUE(check.read);
    EXPECT_STREQ(Name(ClassifyBoard(check.ids.m_wSubVendorID, check.ids.m_wSubSystemID)),
                 Name(c.verdict));
    EXPECT_STREQ(Name(check.verdict), Name(c.verdict));
  }
}

}  // namespace
