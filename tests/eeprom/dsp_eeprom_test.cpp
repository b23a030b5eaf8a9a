#include "eeprom/eeprom.h"
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

// Stands for the image file; records "sink <n>" and can fail the n-th write.
class RecordingSink : public PageSink {
 public:
  explicit RecordingSink(Transcript* t) : m_t(t) {}
  bool Write(const BYTE* data, UINT32 length, std::wstring* error) override {
    if (++writes == failAt) {
      *error = L"There is not enough space on the disk.";
      return false;
    }
    bytes.insert(bytes.end(), data, data + length);
    m_t->Add("sink " + std::to_string(length));
    return true;
  }
  std::vector<BYTE> bytes;
  int writes = 0;
  int failAt = 0;

 private:
  Transcript* m_t;
};

// A card whose DSP EEPROM answers only behind an open gate, with transfer
// `failing` (1-based, 0: none) failing on top.
struct DspFixture : BusFixture {
  RecordingSink sink{&transcript};
  std::vector<BYTE>& dsp = bus.devices[DSP_EEPROM_ADDRESS].memory;
  std::vector<BYTE>& decoder = bus.devices[CHANNEL_DECODER_ADDRESS].memory;

  explicit DspFixture(size_t failing = 0) {
    for (size_t i = 0; i < dsp.size(); ++i) dsp[i] = static_cast<BYTE>(i ^ i >> 8);
    const BYTE block[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    std::copy(block, block + 6, decoder.begin() + 0x3C);
    bus.fault = [this, failing](size_t n, const Transfer& t) -> HRESULT {
      if (n == failing) return E_FAIL;
      const bool gateOpen = decoder[0x07] == 0x02 && decoder[0x40] == 0xFF;
      if (t.device == DSP_EEPROM_ADDRESS && !gateOpen) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
      return S_OK;
    };
  }

  std::string Page(UINT32 n) const {
    const UINT32 a = n * DSP_EEPROM_PAGE_SIZE;
    const BYTE address[] = {static_cast<BYTE>(a >> 8), static_cast<BYTE>(a & 0xFF)};
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

TEST(ReadDspEEPROM, DumpsAllPagesBehindTheGate) {
  DspFixture f;
  ASSERT_TRUE(ReadDspEEPROM(f.ctx, f.sink));

  Events expected = Events{"open"} + GATE_OPENING + Events{"begin run"};
  for (UINT32 n = 0; n < 512; ++n)
    expected =
        expected + Events{"pause 20", f.Page(n), "sink 64", "pos " + std::to_string((n + 1) * 64)};
  expected = expected + Events{"end run"} + GATE_CLOSING + Events{"released"};
  EXPECT_EQ(f.transcript.events, expected);

  // Spot checks of the high-byte-first addresses.
  EXPECT_EQ(f.Page(1), "R A2 [00 40] #64");
  EXPECT_EQ(f.Page(4), "R A2 [01 00] #64");
  EXPECT_EQ(f.Page(511), "R A2 [7F C0] #64");
  EXPECT_EQ(f.sink.bytes, f.dsp);
  EXPECT_TRUE(f.errors.texts.empty());
  EXPECT_EQ(Hex(f.decoder.data() + 0x3C, 6), BLOCK);
  EXPECT_EQ(f.bus.malformed, 0);
  EXPECT_EQ(f.bus.refs(), 1);
}

// Page n fails: its number in the box, the n pages before it in the file,
// the paced run ended before the box, and the gate closed only after it.
TEST(ReadDspEEPROM, AFailedPageIsNamedAndTheGateClosedAfterTheBox) {
  for (UINT32 n : {0u, 200u, 511u}) {
    DspFixture f(GATE_TRANSFERS + n + 1);
    EXPECT_FALSE(ReadDspEEPROM(f.ctx, f.sink)) << n;

    const std::string box =
        "ReadEEPROM: I2C-read to DSP EEPROM failed (page " + std::to_string(n) + ")!";
    EXPECT_EQ(f.Tail(6), (Events{f.Page(n) + " -> 80004005", "end run", "box " + box} +
                          GATE_CLOSING + Events{"released"}));
    EXPECT_EQ(f.errors.texts.size(), 1u);
    EXPECT_EQ(f.sink.bytes, std::vector<BYTE>(f.dsp.begin(), f.dsp.begin() + n * 64)) << n;
    EXPECT_EQ(f.progress.positions.empty() ? 0 : f.progress.positions.back(),
              static_cast<int>(n * 64));
    EXPECT_EQ(f.bus.transfers.size(), GATE_TRANSFERS + n + 1 + 2);
    EXPECT_EQ(f.bus.refs(), 1);
  }
}

TEST(ReadDspEEPROM, AFailedClosingAfterACompleteDumpStillSucceeds) {
  DspFixture f(GATE_TRANSFERS + 512 + 1);
  EXPECT_TRUE(ReadDspEEPROM(f.ctx, f.sink));
  EXPECT_EQ(f.sink.bytes.size(), 32768u);
  EXPECT_EQ(f.errors.texts, std::vector<std::wstring>{
                                L"RestoreChDecSettings: I2C-write to channel decoder failed!"});
  // The closing's box, too, comes after the paced run has ended.
  EXPECT_EQ(f.Tail(4),
            (Events{"end run", "W 10 [07] 00 -> 80004005",
                    "box RestoreChDecSettings: I2C-write to channel decoder failed!", "released"}));
  EXPECT_EQ(f.bus.refs(), 1);
}

TEST(ReadDspEEPROM, AFailedGateReadsNothingAndClosesNothing) {
  DspFixture f(1);
  EXPECT_FALSE(ReadDspEEPROM(f.ctx, f.sink));
  EXPECT_EQ(f.transcript.events,
            (Events{"open", "R 10 [3C] #6 -> 80004005",
                    "box PrepareChDecGPIO3: I2C-read from channel decoder failed!", "released"}));
  EXPECT_TRUE(f.sink.bytes.empty());
}

// The file layer failing part-way is told, and the card left as found.
TEST(ReadDspEEPROM, AFailedFileWriteClosesTheGateAndReleases) {
  DspFixture f;
  f.sink.failAt = 10;
  EXPECT_FALSE(ReadDspEEPROM(f.ctx, f.sink));

  const std::string box =
      "ReadDspEEPROM: writing the image file failed: There is not enough space on the disk.";
  EXPECT_EQ(f.Tail(6),
            (Events{f.Page(9), "end run", "box " + box} + GATE_CLOSING + Events{"released"}));
  EXPECT_EQ(f.transcript.Only("R A2").size(), 10u);
  EXPECT_EQ(f.sink.bytes.size(), 9u * 64);
  EXPECT_EQ(f.progress.positions.back(), 9 * 64);
  EXPECT_EQ(Hex(f.decoder.data() + 0x3C, 6), BLOCK);
  EXPECT_EQ(f.decoder[0x07], 0x00);
  EXPECT_EQ(f.bus.refs(), 1);
}

TEST(ReadDspEEPROM, AFailedOpeningShowsNothingOfItsOwn) {
  DspFixture f;
  f.opener.fail = true;
  f.opener.failBoxes = {L"Couldn't find AnalogCaptureFilter!"};
  EXPECT_FALSE(ReadDspEEPROM(f.ctx, f.sink));
  EXPECT_EQ(f.transcript.events, (Events{"open failed", "box Couldn't find AnalogCaptureFilter!"}));
}
