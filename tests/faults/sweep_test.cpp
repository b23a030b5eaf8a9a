// Transfers of every command failing, once with a failure code and once
// with a positive success code, which counts as a failure too, through the
// real dialog and the real opening: the first and last of each series and
// the seams between them. (The core's own sweep fails every transfer in
// turn, natively.) After each case: the boxes and status the user sees,
// the bar, the buttons, every COM reference given back, the channel
// decoder's gate closed once it was opened, and no file under the chosen
// name unless it holds a complete image, an older file intact and no
// temporary file left.
#include "tests/faults/fault_fixture.h"

#include <algorithm>
#include <cwchar>

namespace {

const HRESULT kCodes[] = {E_FAIL, S_FALSE};

constexpr size_t kBoardWrites = 256;
constexpr size_t kBoardChunks = 32;  // 8 bytes each, read back or dumped
constexpr size_t kGateOpening = 3;   // read 0x3C, write 0x3C, write 0x07
constexpr size_t kDspPages = 512;
constexpr size_t kGateClosing = 2;  // write 0x07, write 0x3C

// The board after the first `n` writes of a ReFlash run: offsets 4..255
// first, the identity bytes 0..3 last.
std::vector<BYTE> BoardAfterWrites(std::vector<BYTE> board, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const size_t offset = i < kBoardWrites - 4 ? i + 4 : i - (kBoardWrites - 4);
    board[offset] = BoardImage[offset];
  }
  return board;
}

std::wstring ReadBackBox(size_t chunk, HRESULT hr) {
  wchar_t text[160];
  std::swprintf(text, 160,
                L"WriteBoardEEPROM: verification failed: I2C-read from Board EEPROM at offset "
                L"0x%02X failed (error 0x%08lX)",
                static_cast<unsigned>(chunk * 8), static_cast<unsigned long>(hr));
  return text;
}

// The decoder's registers 0x3C-0x41 as the gate's opening writes them, from
// the fixture's registers (0x40 + n at register n).
const std::vector<BYTE> kOpenedBlock = {0x3C, 0x75, 0x7E, 0x7F, 0xFF, 0xC1};
std::vector<BYTE> Block(const std::vector<BYTE>& decoder) {
  return {decoder.begin() + 0x3C, decoder.begin() + 0x42};
}

}  // namespace

class Sweep : public FaultFixture {};

TEST_F(Sweep, StartUpIdentityRead) {
  for (HRESULT hr : kCodes) {
    SCOPED_TRACE(Describe(1, hr));
    const size_t boxes = Boxes().size(), graphs = world.graphs.size();
    const View shown = StartWith(hr);
    EXPECT_EQ(Texts({Boxes().begin() + boxes, Boxes().end()}),
              std::vector<std::wstring>{kIdentityReadBox});
    // The scribbled buffer is not taken for an identity.
    EXPECT_EQ(dlg->m_wSubVendorID, 0);
    EXPECT_EQ(dlg->m_wSubSystemID, 0);
    EXPECT_EQ(shown.status, kWrongVendor);
    EXPECT_EQ(shown.pos, 0);
    EXPECT_FALSE(shown.reFlashEnabled);
    EXPECT_TRUE(shown.exitEnabled);
    EXPECT_EQ(world.graphs.size() - graphs, 1u);
    ExpectNothingHeld();
  }
}

TEST_F(Sweep, ReFlashEveryWriteAndEveryReadBack) {
  InDialog([&](HWND h) {
    // The first write, one in the body, the last before the identity, the
    // identity's first and last, the read-back's first and last.
    for (size_t k : {size_t{1}, size_t{100}, kBoardWrites - 4, kBoardWrites - 3, kBoardWrites,
                     kBoardWrites + 1, kBoardWrites + kBoardChunks}) {
      for (HRESULT hr : kCodes) {
        SCOPED_TRACE(Describe(k, hr));
        const Outcome o = Run(h, k, hr, ClickReFlash, k % 2 == 1);
        const bool writing = k <= kBoardWrites;
        const size_t written = writing ? k - 1 : kBoardWrites;
        ASSERT_EQ(o.boxes.size(), 1u);
        EXPECT_EQ(o.boxes[0].text, writing ? L"ReadEEPROM: I2C-write to Board-EEPROM failed"
                                           : ReadBackBox(k - kBoardWrites - 1, hr));
        EXPECT_EQ(o.boxes[0].view.status, kProgramming);
        EXPECT_EQ(o.boxes[0].view.pos, static_cast<int>(written));
        EXPECT_EQ(o.after.status, kReFlashFailed);
        EXPECT_EQ(o.after.high, 256);
        EXPECT_EQ(o.after.pos, 0);
        EXPECT_EQ(o.after.reFlashEnabled, o.before.reFlashEnabled);
        EXPECT_EQ(o.after.exitEnabled, o.before.exitEnabled);
        // What was written stays; until the last four writes the identity
        // is the old one, so the board still asks for a ReFlash.
        EXPECT_EQ(Board(), BoardAfterWrites(BoardAtStart(), written));
        if (k <= kBoardWrites - 4 + 1) {
          EXPECT_EQ(ClassifyBoard(Board()[0] | Board()[1] << 8, Board()[2] | Board()[3] << 8),
                    BoardVerdict::NeedsReflash);
        }
        EXPECT_EQ(o.openings, 1u);
        ExpectNothingHeld();
      }
    }
  });
}

TEST_F(Sweep, BoardSaveEveryRead) {
  InDialog([&](HWND h) {
    // The identity read, then the dump's chunks of 8.
    for (size_t k : {size_t{1}, size_t{2}, size_t{12}, 1 + kBoardChunks}) {
      for (HRESULT hr : kCodes) {
        SCOPED_TRACE(Describe(k, hr));
        const Outcome o = Run(h, k, hr, SaveCommand, k % 2 == 0);
        ASSERT_EQ(o.boxes.size(), 1u);
        EXPECT_EQ(o.boxes[0].text, kIdentityReadBox);
        EXPECT_EQ(o.boxes[0].view.status, L"Reading from Board-EEPROM...");
        EXPECT_FALSE(o.boxes[0].view.exitEnabled);
        EXPECT_FALSE(o.boxes[0].view.reFlashEnabled);
        if (k == 1) {
          // Only the identity read failed: the dump goes on and completes.
          EXPECT_EQ(o.boxes[0].view.pos, 0);
          EXPECT_EQ(o.after.status, kBoardSaved);
          EXPECT_EQ(o.after.pos, 256);
          ExpectImageFile(BoardImageBytes());
          EXPECT_EQ(dlg->m_wSubVendorID, 0);
        } else {
          EXPECT_EQ(o.boxes[0].view.pos, static_cast<int>((k - 2) * 8));
          ExpectFailureShown(o.before, o.after, kBoardSaveFailed);
          ExpectImageFile(kOldImage);
          EXPECT_EQ(dlg->m_wSubVendorID, BOARD_SUBVENDOR_ID);
        }
        EXPECT_EQ(o.after.exitEnabled, o.before.exitEnabled);
        EXPECT_EQ(o.after.reFlashEnabled, o.before.reFlashEnabled);
        EXPECT_EQ(o.openings, 2u);
        ExpectNothingHeld();
      }
    }
  });
}

TEST_F(Sweep, DspSaveEveryTransferOfTheGateAndThePages) {
  InDialog([&](HWND h) {
    ChooseDsp(h);
    const std::vector<BYTE> decoder = m_decoderBefore;
    const size_t total = kGateOpening + kDspPages + kGateClosing;
    // Each step of the gate's opening and closing, the first, a middle and
    // the last page.
    for (size_t k : {size_t{1}, size_t{2}, size_t{3}, kGateOpening + 1, kGateOpening + 201,
                     kGateOpening + kDspPages, total - 1, total}) {
      for (HRESULT hr : kCodes) {
        SCOPED_TRACE(Describe(k, hr));
        const Outcome o = Run(h, k, hr, SaveCommand, k % 2 == 0);
        ASSERT_EQ(o.boxes.size(), 1u);
        EXPECT_EQ(o.boxes[0].view.status, L"Reading from DSP-EEPROM...");
        EXPECT_EQ(o.after.exitEnabled, o.before.exitEnabled);
        EXPECT_EQ(o.after.reFlashEnabled, o.before.reFlashEnabled);
        EXPECT_EQ(o.openings, 1u);
        const std::wstring& box = o.boxes[0].text;

        if (k <= kGateOpening) {
          // The opening stops at its failing step and nothing closes it:
          // a failed read or block write leaves the decoder as it was, a
          // failed gate write the modified block without the gate bit.
          EXPECT_EQ(box, k == 1 ? L"PrepareChDecGPIO3: I2C-read from channel decoder failed!"
                                : L"PrepareChDecGPIO3: I2C-write to channel decoder failed!");
          EXPECT_EQ(Block(Decoder()), k == 3 ? kOpenedBlock : Block(decoder));
          EXPECT_EQ(Decoder()[0x07], decoder[0x07]);
          EXPECT_EQ(o.boxes[0].view.pos, 0);
          ExpectFailureShown(o.before, o.after, kDspSaveFailed);
          ExpectImageFile(kOldImage);
        } else if (k <= kGateOpening + kDspPages) {
          const size_t page = k - kGateOpening - 1;
          EXPECT_EQ(box, L"ReadEEPROM: I2C-read to DSP EEPROM failed (page " +
                             std::to_wstring(page) + L")!");
          EXPECT_EQ(o.boxes[0].view.pos, static_cast<int>(page * 64));
          // Closed after the box: the saved block back, the gate bit off.
          EXPECT_EQ(Block(Decoder()), Block(decoder));
          EXPECT_EQ(Decoder()[0x07], 0x00);
          ExpectFailureShown(o.before, o.after, kDspSaveFailed);
          ExpectImageFile(kOldImage);
        } else {
          // The image is complete; only the closing failed, part-way.
          EXPECT_EQ(box, L"RestoreChDecSettings: I2C-write to channel decoder failed!");
          EXPECT_EQ(Block(Decoder()), kOpenedBlock);
          EXPECT_EQ(Decoder()[0x07], k == total - 1 ? 0x02 : 0x00);
          EXPECT_EQ(o.after.status, kDspSaved);
          EXPECT_EQ(o.after.pos, 32768);
          ExpectImageFile(DspImageBytes());
        }
        ExpectNothingHeld();
      }
    }
    dlg->m_cbSource.Detach();
  });
}
