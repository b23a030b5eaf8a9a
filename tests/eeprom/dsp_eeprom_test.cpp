#include "eeprom/commands.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

const std::string BLOCK = "12 34 56 78 9A BC";
const Events GATE_OPENING = {"R 10 [3C] #6", "W 10 [3C] 12 34 56 78 FF FC", "W 10 [07] 02"};
const Events GATE_CLOSING = {"W 10 [07] 00", "W 10 [3C] " + BLOCK};
constexpr size_t GATE_TRANSFERS = 3;

// A card whose DSP EEPROM answers only behind an open gate, with transfer
// `failing` (1-based, 0: none) failing on top.
struct DspFixture : BusFixture {
  MemoryImage sink{&transcript};
  std::vector<uint8_t>& dsp = bus.devices[DSP_EEPROM_ADDRESS].memory;
  std::vector<uint8_t>& decoder = bus.devices[CHANNEL_DECODER_ADDRESS].memory;

  explicit DspFixture(size_t failing = 0) {
    for (size_t i = 0; i < dsp.size(); ++i) dsp[i] = static_cast<uint8_t>(i ^ i >> 8);
    const uint8_t block[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    std::copy(block, block + 6, decoder.begin() + 0x3C);
    bus.fault = [this, failing](size_t n, const Transfer& t) -> int32_t {
      if (n == failing) return FAIL_CODE;
      const bool gateOpen = decoder[0x07] == 0x02 && decoder[0x40] == 0xFF;
      if (t.device == DSP_EEPROM_ADDRESS && !gateOpen) return NO_DEVICE_CODE;
      return 0;
    };
  }

  std::string Page(uint32_t n) const {
    const uint32_t a = n * DSP_EEPROM_PAGE_SIZE;
    const uint8_t address[] = {static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a & 0xFF)};
    return "R A2 [" + Hex(address, 2) + "] #64";
  }
  Events Tail(size_t n) const {
    return Events(transcript.events.end() - n, transcript.events.end());
  }
};

Events operator+(Events a, const Events& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(SaveDspEEPROM, DumpsAllPagesBehindTheGate) {
  DspFixture f;
  ASSERT_EQ(SaveDspEEPROM(f.ctx, f.sink).status, SaveStatus::Saved);

  Events expected = Events{"open"} + GATE_OPENING + Events{"begin run"};
  for (uint32_t n = 0; n < 512; ++n)
    expected =
        expected + Events{"pause 20", f.Page(n), "sink 64", "pos " + std::to_string((n + 1) * 64)};
  expected = expected + Events{"end run"} + GATE_CLOSING + Events{"released", "commit"};
  EXPECT_EQ(f.transcript.events, expected);

  // Spot checks of the high-byte-first addresses.
  EXPECT_EQ(f.Page(1), "R A2 [00 40] #64");
  EXPECT_EQ(f.Page(4), "R A2 [01 00] #64");
  EXPECT_EQ(f.Page(511), "R A2 [7F C0] #64");
  EXPECT_EQ(f.sink.saved, f.dsp);
  EXPECT_TRUE(f.errors.texts.empty());
  EXPECT_EQ(Hex(f.decoder.data() + 0x3C, 6), BLOCK);
  EXPECT_EQ(f.opener.held, 0);
}

// Page n fails: its number in the box, the n pages before it in the file,
// the paced run ended before the box, and the gate closed only after it.
TEST(SaveDspEEPROM, AFailedPageIsNamedAndTheGateClosedAfterTheBox) {
  for (uint32_t n : {0u, 200u, 511u}) {
    DspFixture f(GATE_TRANSFERS + n + 1);
    const SaveOutcome outcome = SaveDspEEPROM(f.ctx, f.sink);
    EXPECT_EQ(outcome.status, SaveStatus::DumpFailed) << n;
    EXPECT_EQ(outcome.failure.device, DSP_EEPROM_ADDRESS);
    EXPECT_EQ(outcome.failure.offset, n * 64);

    const std::string box =
        "ReadEEPROM: I2C-read to DSP EEPROM failed (page " + std::to_string(n) + ")!";
    EXPECT_EQ(f.Tail(7), (Events{f.Page(n) + " -> 80004005", "end run", "box " + box} +
                          GATE_CLOSING + Events{"released", "discard"}));
    EXPECT_EQ(f.errors.texts.size(), 1u);
    EXPECT_EQ(f.transcript.Only("sink").size(), n) << n;
    EXPECT_TRUE(f.sink.saved.empty());
    EXPECT_EQ(f.progress.positions.empty() ? 0 : f.progress.positions.back(),
              static_cast<int>(n * 64));
    EXPECT_EQ(f.bus.transfers.size(), GATE_TRANSFERS + n + 1 + 2);
    EXPECT_EQ(f.opener.held, 0);
  }
}

TEST(SaveDspEEPROM, AFailedClosingAfterACompleteDumpStillSucceeds) {
  DspFixture f(GATE_TRANSFERS + 512 + 1);
  EXPECT_EQ(SaveDspEEPROM(f.ctx, f.sink).status, SaveStatus::Saved);
  EXPECT_EQ(f.sink.saved, f.dsp);
  EXPECT_EQ(f.errors.texts,
            std::vector<std::string>{"RestoreChDecSettings: I2C-write to channel decoder failed!"});
  // The closing's box, too, comes after the paced run has ended.
  EXPECT_EQ(f.Tail(5), (Events{"end run", "W 10 [07] 00 -> 80004005",
                               "box RestoreChDecSettings: I2C-write to channel decoder failed!",
                               "released", "commit"}));
  EXPECT_EQ(f.opener.held, 0);
}

TEST(SaveDspEEPROM, AFailedGateReadsNothingAndClosesNothing) {
  DspFixture f(1);
  EXPECT_EQ(SaveDspEEPROM(f.ctx, f.sink).status, SaveStatus::DumpFailed);
  EXPECT_EQ(f.transcript.events,
            (Events{"open", "R 10 [3C] #6 -> 80004005",
                    "box PrepareChDecGPIO3: I2C-read from channel decoder failed!", "released",
                    "discard"}));
  EXPECT_TRUE(f.sink.saved.empty());
}

// The file layer failing part-way is told, and the card left as found.
TEST(SaveDspEEPROM, AFailedFileWriteClosesTheGateAndReleases) {
  DspFixture f;
  f.sink.failWriteAt = 10;
  const SaveOutcome outcome = SaveDspEEPROM(f.ctx, f.sink);
  EXPECT_EQ(outcome.status, SaveStatus::FileFailed);

  const std::string box =
      "ReadDspEEPROM: writing the image file failed: There is not enough space on the disk.";
  EXPECT_EQ(outcome.fileError, box);
  EXPECT_EQ(f.Tail(7), (Events{f.Page(9), "end run", "box " + box} + GATE_CLOSING +
                        Events{"released", "discard"}));
  EXPECT_EQ(f.transcript.Only("R A2").size(), 10u);
  EXPECT_EQ(f.transcript.Only("sink").size(), 9u);
  EXPECT_TRUE(f.sink.saved.empty());
  EXPECT_EQ(f.progress.positions.back(), 9 * 64);
  EXPECT_EQ(Hex(f.decoder.data() + 0x3C, 6), BLOCK);
  EXPECT_EQ(f.decoder[0x07], 0x00);
  EXPECT_EQ(f.opener.held, 0);
}

TEST(SaveDspEEPROM, AFailedOpeningShowsNothingOfItsOwn) {
  DspFixture f;
  f.opener.fail = true;
  f.opener.failBoxes = {"Couldn't find AnalogCaptureFilter!"};
  EXPECT_EQ(SaveDspEEPROM(f.ctx, f.sink).status, SaveStatus::DumpFailed);
  EXPECT_EQ(f.transcript.events,
            (Events{"open failed", "box Couldn't find AnalogCaptureFilter!", "discard"}));
}
