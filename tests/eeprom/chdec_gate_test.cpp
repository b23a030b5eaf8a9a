#include "eeprom/eeprom.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

const std::string PREPARE_READ = "PrepareChDecGPIO3: I2C-read from channel decoder failed!";
const std::string PREPARE_WRITE = "PrepareChDecGPIO3: I2C-write to channel decoder failed!";
const std::string RESTORE_WRITE = "RestoreChDecSettings: I2C-write to channel decoder failed!";

std::vector<uint8_t>& Decoder(BusFixture& f) {
  return f.bus.devices[CHANNEL_DECODER_ADDRESS].memory;
}

void SetBlock(BusFixture& f, const std::vector<uint8_t>& block) {
  std::copy(block.begin(), block.end(), Decoder(f).begin() + 0x3C);
}

std::string Block(BusFixture& f) { return Hex(Decoder(f).data() + 0x3C, 6); }

}  // namespace

// Opening writes a modified copy of the block and 0x02 to 0x07; closing
// writes 0x00 to 0x07 and the block as it was read, not as it was written.
TEST(ChannelDecoderGate, OpensWithAModifiedBlockAndClosesWithTheSavedOne) {
  struct Case {
    std::vector<uint8_t> block;
    std::string modified;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "00 00 00 00 FF C0"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "3F F7 FF FF FF FF"},
      {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, "12 34 56 78 FF FC"},
  };
  for (const auto& c : cases) {
    BusFixture f;
    SetBlock(f, c.block);
    Decoder(f)[0x07] = 0x55;
    const std::string original = Hex(c.block.data(), 6);

    uint8_t saved[CHDEC_SAVED_BLOCK_SIZE] = {};
    ASSERT_TRUE(PrepareChDecGPIO3(f.bus, saved, f.errors));
    EXPECT_EQ(Hex(saved, 6), original);
    EXPECT_EQ(Block(f), c.modified);
    ASSERT_TRUE(RestoreChDecSettings(f.bus, saved, f.errors));

    EXPECT_EQ(f.transcript.events,
              (Events{"R 10 [3C] #6", "W 10 [3C] " + c.modified, "W 10 [07] 02", "W 10 [07] 00",
                      "W 10 [3C] " + original}));
    EXPECT_EQ(Block(f), original);
    EXPECT_EQ(Decoder(f)[0x07], 0x00);
  }
}

// Each step that fails ends its function with the box; what the decoder
// holds afterwards is whatever the earlier steps left.
TEST(ChannelDecoderGate, AFailedStepStopsItsFunction) {
  struct Case {
    bool closing;
    size_t failing;  // transfer number within the function
    std::string box;
    Events sent;  // transfers of the function, as the transcript has them
    std::string blockAfter;
    uint8_t gateAfter;
  };
  const std::string orig = "12 34 56 78 9A BC", mod = "12 34 56 78 FF FC";
  const std::string failed = " -> 80004005";
  const Case cases[] = {
      {false, 1, PREPARE_READ, {"R 10 [3C] #6" + failed}, orig, 0x55},
      {false, 2, PREPARE_WRITE, {"R 10 [3C] #6", "W 10 [3C] " + mod + failed}, orig, 0x55},
      {false,
       3,
       PREPARE_WRITE,
       {"R 10 [3C] #6", "W 10 [3C] " + mod, "W 10 [07] 02" + failed},
       mod,
       0x55},
      {true, 1, RESTORE_WRITE, {"W 10 [07] 00" + failed}, mod, 0x02},
      {true, 2, RESTORE_WRITE, {"W 10 [07] 00", "W 10 [3C] " + orig + failed}, mod, 0x00},
  };
  for (const auto& c : cases) {
    BusFixture f;
    SetBlock(f, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    Decoder(f)[0x07] = 0x55;
    uint8_t saved[CHDEC_SAVED_BLOCK_SIZE] = {};
    size_t before = 0;
    if (c.closing) {
      ASSERT_TRUE(PrepareChDecGPIO3(f.bus, saved, f.errors));
      before = f.transcript.events.size();
    }
    f.bus.FailTransfer(before + c.failing);

    TransferFailure failure;
    const bool ok = c.closing ? RestoreChDecSettings(f.bus, saved, f.errors, &failure)
                              : PrepareChDecGPIO3(f.bus, saved, f.errors, &failure);
    EXPECT_FALSE(ok) << c.box << " at " << c.failing;
    // The failing transfer named: the decoder, its register, read or write.
    const std::string& failed = c.sent.back();
    EXPECT_EQ(failure.device, CHANNEL_DECODER_ADDRESS);
    EXPECT_EQ(failure.write, failed[0] == 'W');
    EXPECT_EQ(failure.offset, failed.compare(6, 2, "3C") == 0 ? 0x3Cu : 0x07u) << failed;
    EXPECT_EQ(failure.code, FAIL_CODE);
    Events sent(f.transcript.events.begin() + before, f.transcript.events.end());
    Events expected = c.sent;
    expected.push_back("box " + c.box);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(Block(f), c.blockAfter) << c.failing;
    EXPECT_EQ(Decoder(f)[0x07], c.gateAfter) << c.failing;
  }
}
