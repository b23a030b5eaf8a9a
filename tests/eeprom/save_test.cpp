// The saves' policy: the identity read and the dump of the board save, the
// file written and committed only when the image is complete, discarded on
// every failure, and the DSP save stopped between pages.
#include "eeprom/commands.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

struct BoardSave : BusFixture {
  MemoryImage image{&transcript};
  BoardIdentity ids{0x1111, 0x2222};
  std::vector<uint8_t>& board = bus.devices[BOARD_EEPROM_ADDRESS].memory;
  BoardSave() {
    for (size_t i = 0; i < board.size(); ++i) board[i] = static_cast<uint8_t>(i * 7 + 3);
    board[0] = 0x2D, board[1] = 0x6B, board[2] = 0x21, board[3] = 0x3A;
  }
  SaveOutcome Run() { return SaveBoardEEPROM(ctx, image, 256, &ids); }
};

TEST(SaveBoardEEPROM, ReadsTheIdentityThenDumpsWritesAndCommits) {
  BoardSave f;
  EXPECT_EQ(f.Run().status, SaveStatus::Saved);
  EXPECT_EQ(f.image.saved, f.board);
  EXPECT_EQ(f.ids.m_wSubVendorID, BOARD_SUBVENDOR_ID);
  EXPECT_EQ(f.ids.m_wSubSystemID, SUBSYSTEM_ID_REFLASH);
  Events expected = {"open", "R A0 [00 00] #4", "released", "open"};
  for (int c = 0; c < 32; ++c) {
    const uint8_t offset = static_cast<uint8_t>(c * 8);
    expected.push_back("R A0 [" + Hex(&offset, 1) + " 00] #8");
    expected.push_back("pos " + std::to_string((c + 1) * 8));
  }
  expected.insert(expected.end(), {"released", "sink 256", "commit"});
  EXPECT_EQ(f.transcript.events, expected);
}

// A failed identity read is boxed and leaves the IDs 0; the dump goes on.
TEST(SaveBoardEEPROM, AFailedIdentityReadStillSavesTheImage) {
  BoardSave f;
  f.bus.FailTransfer(1);
  EXPECT_EQ(f.Run().status, SaveStatus::Saved);
  EXPECT_EQ(f.errors.texts, Events{"ReadEEPROM: I2C-read to Board EEPROM failed"});
  EXPECT_EQ(f.ids.m_wSubVendorID, 0);
  EXPECT_EQ(f.ids.m_wSubSystemID, 0);
  EXPECT_EQ(f.image.saved, f.board);
}

// What fails, what is boxed and in which order, and what the outcome says.
TEST(SaveBoardEEPROM, EveryFailureDiscardsTheImage) {
  struct Case {
    const char* name;
    std::function<void(BoardSave&)> arrange;
    SaveStatus status;
    Events tail;  // the transcript's end
  };
  const std::string writeFailed =
      "Writing the image file failed: There is not enough space on the disk.";
  const std::string commitFailed =
      "Putting the image in place of board.bin failed: Access is denied.";
  const Case cases[] = {
      {"a chunk",
       [](BoardSave& f) { f.bus.FailTransfer(1 + 6); },
       SaveStatus::DumpFailed,
       {"R A0 [28 00] #8 -> 80004005", "box ReadEEPROM: I2C-read to Board EEPROM failed",
        "released", "discard"}},
      {"the file write",
       [](BoardSave& f) { f.image.failWriteAt = 1; },
       SaveStatus::FileFailed,
       {"released", "discard", "box " + writeFailed}},
      {"the commit",
       [](BoardSave& f) { f.image.failCommit = true; },
       SaveStatus::FileFailed,
       {"released", "sink 256", "commit", "discard", "box " + commitFailed}},
      {"the dump's opening",
       [](BoardSave& f) {
         f.opener.failBoxes = {"Couldn't find AnalogCaptureFilter!"};
         f.bus.fault = [&f](size_t, const Transfer&) {
           f.opener.fail = true;  // after the identity read
           return 0;
         };
       },
       SaveStatus::DumpFailed,
       {"open failed", "box Couldn't find AnalogCaptureFilter!", "discard"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSave f;
    c.arrange(f);
    const SaveOutcome outcome = f.Run();
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_TRUE(f.image.saved.empty());
    EXPECT_FALSE(f.image.hasPending);
    EXPECT_EQ(f.image.discards, 1);
    const Events tail(f.transcript.events.end() - c.tail.size(), f.transcript.events.end());
    EXPECT_EQ(tail, c.tail);
    if (c.status == SaveStatus::FileFailed) {
      EXPECT_EQ("box " + outcome.fileError, c.tail.back());
    }
    EXPECT_EQ(f.opener.held, 0);
  }
}

TEST(SaveBoardEEPROM, TheChunkThatFailedIsNamed) {
  BoardSave f;
  f.bus.FailTransfer(1 + 6, POSITIVE_CODE);
  const SaveOutcome outcome = f.Run();
  EXPECT_EQ(outcome.failure.device, BOARD_EEPROM_ADDRESS);
  EXPECT_FALSE(outcome.failure.write);
  EXPECT_EQ(outcome.failure.offset, 0x28u);
  EXPECT_EQ(outcome.failure.code, POSITIVE_CODE);
}

// ---- The DSP save ----------------------------------------------------------

struct DspSave : BusFixture {
  MemoryImage image{&transcript};
  DspSave() {
    auto& decoder = bus.devices[CHANNEL_DECODER_ADDRESS].memory;
    for (size_t i = 0; i < decoder.size(); ++i) decoder[i] = static_cast<uint8_t>(0x40 + i);
  }
};

// A stop before page n: the pages before it read, no box, the gate closed,
// the image discarded.
TEST(SaveDspEEPROM, AStopEndsBetweenPagesAndClosesTheGate) {
  for (int n : {1, 2, 512}) {
    DspSave f;
    FakeStop stop;
    stop.after = n;
    f.ctx.stop = &stop;
    EXPECT_EQ(SaveDspEEPROM(f.ctx, f.image).status, SaveStatus::Stopped) << n;
    EXPECT_EQ(f.transcript.Only("R A2").size(), static_cast<size_t>(n - 1));
    EXPECT_TRUE(f.errors.texts.empty());
    const Events tail(f.transcript.events.end() - 5, f.transcript.events.end());
    EXPECT_EQ(tail, (Events{"end run", "W 10 [07] 00", "W 10 [3C] 7C 7D 7E 7F 80 81", "released",
                            "discard"}));
    EXPECT_TRUE(f.image.saved.empty());
  }
}

TEST(SaveDspEEPROM, AFailedCommitIsBoxedAfterTheGateIsClosed) {
  DspSave f;
  f.image.failCommit = true;
  const SaveOutcome outcome = SaveDspEEPROM(f.ctx, f.image);
  EXPECT_EQ(outcome.status, SaveStatus::FileFailed);
  const Events tail(f.transcript.events.end() - 6, f.transcript.events.end());
  EXPECT_EQ(tail, (Events{"W 10 [07] 00", "W 10 [3C] 7C 7D 7E 7F 80 81", "released", "commit",
                          "discard", "box " + outcome.fileError}));
  EXPECT_TRUE(f.image.saved.empty());
}

}  // namespace
