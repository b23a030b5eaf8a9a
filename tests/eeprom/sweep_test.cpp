// Every transfer of every command failing in turn: with a failure code, a
// positive code (a failure too: only 0 counts) and a negative errno, each
// failing read scribbling over its buffer. After each case: the failing
// step's box, then the failure outcome; the bus released and no paced run
// left open; the identity bytes written last; the decoder's gate closed
// after a failed page; the chosen file holding either the complete image
// or, byte for byte, what it held before, and nothing temporary left.
#include "eeprom/commands.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int32_t kCodes[] = {FAIL_CODE, POSITIVE_CODE, -5 /* -EIO */};

constexpr size_t kBoardWrites = 256;
constexpr size_t kBoardChunks = 32;  // 8 bytes each, read back or dumped
constexpr size_t kGateOpening = 3;   // read 0x3C, write 0x3C, write 0x07
constexpr size_t kDspPages = 512;
constexpr size_t kGateClosing = 2;  // write 0x07, write 0x3C

const std::string kIdentityBox = "ReadEEPROM: I2C-read to Board EEPROM failed";
const std::vector<uint8_t> kOldFile = {'o', 'l', 'd', ' ', 'i', 'm', 'a', 'g', 'e'};

std::string Describe(size_t transfer, int32_t code) {
  return "transfer " + std::to_string(transfer) + " answers " + std::to_string(code);
}

// A card as the dialog's tests have it: patterned EEPROMs, a board that
// needs ReFlash, decoder registers 0x40 + n, and an older image file.
struct Case : BusFixture {
  MemoryImage image{&transcript};
  std::vector<uint8_t> board, decoder;

  Case(size_t failing, int32_t code) {
    auto& b = bus.devices[BOARD_EEPROM_ADDRESS].memory;
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    b[0] = 0x2D, b[1] = 0x6B, b[2] = 0x21, b[3] = 0x3A;
    auto& dsp = bus.devices[DSP_EEPROM_ADDRESS].memory;
    for (size_t i = 0; i < dsp.size(); ++i) dsp[i] = static_cast<uint8_t>(i ^ (i >> 8));
    auto& d = bus.devices[CHANNEL_DECODER_ADDRESS].memory;
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(0x40 + i);
    board = b;
    decoder = d;
    image.saved = kOldFile;
    bus.FailTransfer(failing, code);
    bus.failedReadsFillBuffer = true;
  }

  const std::vector<uint8_t>& Board() { return bus.devices[BOARD_EEPROM_ADDRESS].memory; }
  const std::vector<uint8_t>& Decoder() { return bus.devices[CHANNEL_DECODER_ADDRESS].memory; }

  // The failing transfer's line, then its box, and the bus released after.
  void ExpectBoxAfterTheFailure(const std::string& box) {
    const auto& e = transcript.events;
    const auto failed = std::find_if(e.begin(), e.end(), [](const std::string& line) {
      return line.find(" -> ") != std::string::npos;
    });
    ASSERT_NE(failed, e.end());
    const auto boxed = std::find(failed, e.end(), "box " + box);
    EXPECT_NE(boxed, e.end()) << box;
    EXPECT_EQ(std::find(failed, boxed, "released"), boxed) << "released before the box";
    EXPECT_EQ(errors.texts.front(), box);
  }

  void ExpectNothingHeld() {
    EXPECT_EQ(opener.held, 0);
    EXPECT_EQ(pacer.openRuns, 0);
  }

  // The chosen name holds the older file, nothing temporary is left.
  void ExpectOldFile() {
    EXPECT_EQ(image.saved, kOldFile);
    EXPECT_FALSE(image.hasPending);
  }
};

// The board after the first `n` writes of a ReFlash run.
std::vector<uint8_t> BoardAfterWrites(std::vector<uint8_t> board, size_t n) {
  for (size_t i = 0; i < n; ++i)
    board[WriteOffset(static_cast<uint32_t>(i), 256)] =
        BoardImage[WriteOffset(static_cast<uint32_t>(i), 256)];
  return board;
}

std::vector<uint8_t> Block(const std::vector<uint8_t>& decoder) {
  return {decoder.begin() + 0x3C, decoder.begin() + 0x42};
}

}  // namespace

TEST(CoreSweep, IdentityCheck) {
  for (int32_t code : kCodes) {
    SCOPED_TRACE(Describe(1, code));
    Case f(1, code);
    const IdentityCheck check = CheckBoardIdentity(f.ctx);
    f.ExpectBoxAfterTheFailure(kIdentityBox);
    EXPECT_EQ(f.errors.texts.size(), 1u);
    EXPECT_FALSE(check.read);
    EXPECT_EQ(check.ids.m_wSubVendorID, 0);  // the scribbled buffer is no identity
    EXPECT_EQ(check.verdict, BoardVerdict::WrongSubVendor);
    f.ExpectNothingHeld();
  }
}

TEST(CoreSweep, ReFlashEveryWriteAndEveryReadBack) {
  for (size_t k = 1; k <= kBoardWrites + kBoardChunks && !testing::Test::HasFailure(); ++k) {
    for (int32_t code : kCodes) {
      SCOPED_TRACE(Describe(k, code));
      Case f(k, code);
      const WriteOutcome outcome = ReFlash(f.ctx);
      const bool writing = k <= kBoardWrites;
      const size_t written = writing ? k - 1 : kBoardWrites;
      ASSERT_EQ(f.errors.texts.size(), 1u);
      if (writing) {
        f.ExpectBoxAfterTheFailure("ReadEEPROM: I2C-write to Board-EEPROM failed");
        EXPECT_EQ(outcome.status, WriteStatus::TransferFailed);
        EXPECT_EQ(outcome.failure.offset, WriteOffset(static_cast<uint32_t>(k - 1), 256));
      } else {
        const uint32_t chunk = static_cast<uint32_t>(k - kBoardWrites - 1);
        EXPECT_EQ(f.errors.texts[0].rfind("WriteBoardEEPROM: verification failed: I2C-read from "
                                          "Board EEPROM at offset ",
                                          0),
                  0u);
        f.ExpectBoxAfterTheFailure(f.errors.texts[0]);
        EXPECT_EQ(outcome.status, WriteStatus::ReadBackFailed);
        EXPECT_EQ(outcome.failure.offset, chunk * 8);
      }
      EXPECT_EQ(outcome.failure.code, code);
      EXPECT_EQ(outcome.writesDone, written);
      EXPECT_EQ(f.progress.positions.size(), written);
      // What was written stays; until the last four writes the identity is
      // the old one, so the board still asks for a ReFlash.
      EXPECT_EQ(f.Board(), BoardAfterWrites(f.board, written));
      if (k <= kBoardWrites - 4 + 1) {
        EXPECT_EQ(ClassifyBoard(f.Board()[0] | f.Board()[1] << 8, f.Board()[2] | f.Board()[3] << 8),
                  BoardVerdict::NeedsReflash);
      }
      f.ExpectNothingHeld();
    }
  }
}

TEST(CoreSweep, BoardSaveEveryRead) {
  for (size_t k = 1; k <= 1 + kBoardChunks && !testing::Test::HasFailure(); ++k) {
    for (int32_t code : kCodes) {
      SCOPED_TRACE(Describe(k, code));
      Case f(k, code);
      BoardIdentity ids{0x1111, 0x2222};
      const SaveOutcome outcome = SaveBoardEEPROM(f.ctx, f.image, 256, &ids);
      ASSERT_EQ(f.errors.texts.size(), 1u);
      f.ExpectBoxAfterTheFailure(kIdentityBox);
      if (k == 1) {
        // Only the identity read failed: the dump goes on and completes.
        EXPECT_EQ(outcome.status, SaveStatus::Saved);
        EXPECT_EQ(f.image.saved, f.board);
        EXPECT_EQ(ids.m_wSubVendorID, 0);
      } else {
        EXPECT_EQ(outcome.status, SaveStatus::DumpFailed);
        EXPECT_EQ(outcome.failure.offset, (k - 2) * 8);
        EXPECT_EQ(outcome.failure.code, code);
        EXPECT_EQ(f.progress.positions.size(), k - 2);
        f.ExpectOldFile();
        EXPECT_EQ(ids.m_wSubVendorID, BOARD_SUBVENDOR_ID);
      }
      EXPECT_EQ(f.opener.opened, 2);
      f.ExpectNothingHeld();
    }
  }
}

TEST(CoreSweep, DspSaveEveryTransferOfTheGateAndThePages) {
  const size_t total = kGateOpening + kDspPages + kGateClosing;
  const std::vector<uint8_t> opened = {0x3C, 0x75, 0x7E, 0x7F, 0xFF, 0xC1};
  for (size_t k = 1; k <= total && !testing::Test::HasFailure(); ++k) {
    for (int32_t code : kCodes) {
      SCOPED_TRACE(Describe(k, code));
      Case f(k, code);
      const SaveOutcome outcome = SaveDspEEPROM(f.ctx, f.image);
      ASSERT_EQ(f.errors.texts.size(), 1u);
      EXPECT_EQ(outcome.failure.code, code);
      if (k <= kGateOpening) {
        // The opening stops at its failing step and nothing closes it.
        f.ExpectBoxAfterTheFailure(k == 1
                                       ? "PrepareChDecGPIO3: I2C-read from channel decoder failed!"
                                       : "PrepareChDecGPIO3: I2C-write to channel decoder failed!");
        EXPECT_EQ(outcome.status, SaveStatus::DumpFailed);
        EXPECT_EQ(Block(f.Decoder()), k == 3 ? opened : Block(f.decoder));
        EXPECT_EQ(f.Decoder()[0x07], f.decoder[0x07]);
        f.ExpectOldFile();
      } else if (k <= kGateOpening + kDspPages) {
        const size_t page = k - kGateOpening - 1;
        f.ExpectBoxAfterTheFailure("ReadEEPROM: I2C-read to DSP EEPROM failed (page " +
                                   std::to_string(page) + ")!");
        EXPECT_EQ(outcome.status, SaveStatus::DumpFailed);
        EXPECT_EQ(outcome.failure.offset, page * 64);
        EXPECT_EQ(f.progress.positions.size(), page);
        // Closed after the box: the saved block back, the gate bit off.
        EXPECT_EQ(Block(f.Decoder()), Block(f.decoder));
        EXPECT_EQ(f.Decoder()[0x07], 0x00);
        EXPECT_EQ(f.transcript.events.end()[-3], "W 10 [3C] " + Hex(f.decoder.data() + 0x3C, 6));
        f.ExpectOldFile();
      } else {
        // The image is complete; only the closing failed, part-way.
        f.ExpectBoxAfterTheFailure("RestoreChDecSettings: I2C-write to channel decoder failed!");
        EXPECT_EQ(outcome.status, SaveStatus::Saved);
        EXPECT_EQ(Block(f.Decoder()), opened);
        EXPECT_EQ(f.Decoder()[0x07], k == total - 1 ? 0x02 : 0x00);
        EXPECT_EQ(f.image.saved, f.bus.devices[DSP_EEPROM_ADDRESS].memory);
      }
      f.ExpectNothingHeld();
    }
  }
}
