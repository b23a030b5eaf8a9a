#include "eeprom/eeprom.h"
#include "testing/doubles/fake_bus.h"

#include <map>

#include <gtest/gtest.h>

// The image goes into hardware as it stands: check it against the board's
// own listing, row by row. Rows not listed are all 0xFF.
TEST(BoardImage, MatchesTheBoardListing) {
  const std::map<uint32_t, std::string> rows = {
      {0x00, "2D 6B 2C 3A 54 20 1C 00 43 43 A9 1C 55 D2 B2 92"},
      {0x10, "00 01 20 00 FF 20 FF FF FF FF FF FF FF FF FF FF"},
      {0x20, "01 40 01 02 03 01 01 03 08 FF 00 D6 FF FF FF FF"},
      {0x40, "FF 21 00 C2 96 10 03 32 15 06 FF FF FF FF FF FF"},
  };
  const std::string blank = "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF";
  for (uint32_t row = 0; row < BOARD_IMAGE_SIZE; row += 16) {
    const auto listed = rows.find(row);
    EXPECT_EQ(Hex(BoardImage + row, 16), listed != rows.end() ? listed->second : blank)
        << "row " << row;
  }
}

TEST(BoardImage, CarriesTheAcceptedIdentity) {
  const uint16_t subVendor = BoardImage[0] | BoardImage[1] << 8;
  const uint16_t subSystem = BoardImage[2] | BoardImage[3] << 8;
  EXPECT_EQ(subVendor, BOARD_SUBVENDOR_ID);
  EXPECT_EQ(subSystem, SUBSYSTEM_ID_CORRECT);
}
