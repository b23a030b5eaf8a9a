#include "eeprom/commands.h"
#include "testing/doubles/fake_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

const std::string WRITE_FAILED = "ReadEEPROM: I2C-write to Board-EEPROM failed";
const std::string READ_FAILED = "ReadEEPROM: I2C-read to Board EEPROM failed";
const std::string NO_FILTER = "Couldn't find AnalogCaptureFilter!";

std::string Byte(uint32_t value) { return Hex(reinterpret_cast<const uint8_t*>(&value), 1); }

const std::vector<std::string>& Texts(const RecordingErrors& errors) { return errors.texts; }

// The order a 256-byte image goes in: everything past the identity, then
// the identity bytes 0-3.
std::vector<uint32_t> ImageOrder() {
  std::vector<uint32_t> order;
  for (uint32_t offset = 4; offset < 256; ++offset) order.push_back(offset);
  for (uint32_t offset = 0; offset < 4; ++offset) order.push_back(offset);
  return order;
}

// The read-back after a run: a write-cycle pause, then 8-byte reads with
// the low address byte first and no pauses between them.
Events Verification(uint32_t chunks) {
  Events e = {"pause 20"};
  for (uint32_t c = 0; c < chunks; ++c) e.push_back("R A0 [" + Byte(c * 8) + " 00] #8");
  return e;
}

Events Concat(Events a, const Events& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

// ---- Programming ----------------------------------------------------------

TEST(WriteBoardEEPROM, WritesTheImageOneBytePerPausedTransferIdentityLast) {
  BusFixture f;
  ASSERT_TRUE(ProgramBoard(f.ctx, BoardImage, 256, 256).ok());

  Events expected = {"open", "begin run"};
  int written = 0;
  for (uint32_t offset : ImageOrder()) {
    expected.push_back("pause 20");
    expected.push_back("W A0 [" + Byte(offset) + "] " + Byte(BoardImage[offset]));
    expected.push_back("pos " + std::to_string(++written));
  }
  expected = Concat(expected, Verification(32));
  expected.push_back("end run");
  expected.push_back("released");
  EXPECT_EQ(f.transcript.events, expected);

  const auto& memory = f.bus.devices[BOARD_EEPROM_ADDRESS].memory;
  EXPECT_EQ(std::vector<uint8_t>(memory.begin(), memory.end()),
            std::vector<uint8_t>(BoardImage, BoardImage + 256));
  EXPECT_TRUE(f.errors.texts.empty());
  EXPECT_EQ(f.opener.held, 0);
  EXPECT_EQ(f.pacer.openRuns, 0);
}

// One address byte up to 256 bytes; above that two, low byte first.
TEST(WriteBoardEEPROM, AddressWidthFollowsTheEepromSize) {
  struct Case {
    uint32_t size;
    std::map<uint32_t, std::string> addressOf;  // offset -> sub-address as sent
  };
  const Case cases[] = {
      {256, {{0x00, "00"}, {0x04, "04"}, {0xFF, "FF"}}},
      {257, {{0x00, "00 00"}, {0x04, "04 00"}, {0xFF, "FF 00"}, {0x100, "00 01"}}},
  };
  for (const auto& c : cases) {
    BusFixture f;
    f.bus.devices[BOARD_EEPROM_ADDRESS].memory.assign(512, 0xFF);
    std::vector<uint8_t> data(c.size);
    for (uint32_t i = 0; i < c.size; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);

    ASSERT_TRUE(ProgramBoard(f.ctx, data.data(), c.size, c.size).ok()) << c.size;
    std::map<uint32_t, std::string> sent;
    for (const auto& t : f.bus.transfers) {
      if (!t.write) continue;
      ASSERT_EQ(t.data.size(), 1u);
      const uint32_t offset =
          t.subAddress[0] | (t.subAddress.size() > 1 ? t.subAddress[1] << 8 : 0);
      if (c.addressOf.count(offset)) sent[offset] = Hex(t.subAddress.data(), t.subAddress.size());
    }
    EXPECT_EQ(sent, c.addressOf) << c.size;
    EXPECT_EQ(f.progress.positions.back(), static_cast<int>(c.size));
  }
}

TEST(WriteBoardEEPROM, ShortRunsKeepTheIdentityLast) {
  const std::pair<uint32_t, std::string> cases[] = {
      {1, "00"}, {4, "00 01 02 03"}, {5, "04 00 01 02 03"}, {9, "04 05 06 07 08 00 01 02 03"}};
  for (const auto& [count, order] : cases) {
    BusFixture f;
    ASSERT_TRUE(ProgramBoard(f.ctx, BoardImage, count, 256).ok()) << count;
    std::vector<uint8_t> offsets;
    for (const auto& t : f.bus.transfers)
      if (t.write) offsets.push_back(t.subAddress[0]);
    EXPECT_EQ(Hex(offsets.data(), offsets.size()), order) << count;
    EXPECT_EQ(f.progress.positions.size(), count);
    EXPECT_EQ(f.pacer.pauses, static_cast<int>(count) + 1) << count;
  }

  BusFixture one;
  ASSERT_TRUE(ProgramBoard(one.ctx, BoardImage, 1, 256).ok());
  EXPECT_EQ(one.transcript.events,
            Concat({"open", "begin run", "pause 20", "W A0 [00] 2D", "pos 1"},
                   Concat(Verification(1), {"end run", "released"})));
}

// Transfer n fails: n - 1 bytes are written, the bar shows them, the paced
// run ends before the box (the box does not wait under the raised timer
// resolution), the box comes before the release, and nothing more goes to
// the EEPROM.
TEST(WriteBoardEEPROM, AFailedTransferEndsTheRun) {
  for (size_t failing : {1u, 2u, 100u, 252u, 253u, 256u}) {
    BusFixture f;
    f.bus.FailTransfer(failing);
    const WriteOutcome outcome = ProgramBoard(f.ctx, BoardImage, 256, 256);
    EXPECT_EQ(outcome.status, WriteStatus::TransferFailed) << failing;

    const size_t written = failing - 1;
    EXPECT_EQ(outcome.writesDone, written);
    EXPECT_TRUE(outcome.failure.write);
    EXPECT_EQ(outcome.failure.device, BOARD_EEPROM_ADDRESS);
    EXPECT_EQ(outcome.failure.offset, WriteOffset(failing - 1, 256));
    EXPECT_EQ(outcome.failure.code, FAIL_CODE);
    EXPECT_EQ(f.bus.transfers.size(), failing);
    EXPECT_EQ(f.pacer.pauses, static_cast<int>(failing));
    std::vector<int> positions;
    for (size_t i = 1; i <= written; ++i) positions.push_back(static_cast<int>(i));
    EXPECT_EQ(f.progress.positions, positions) << failing;
    EXPECT_EQ(Texts(f.errors), std::vector<std::string>{WRITE_FAILED});
    const Events tail(f.transcript.events.end() - 3, f.transcript.events.end());
    EXPECT_EQ(tail, (Events{"end run", "box " + WRITE_FAILED, "released"})) << failing;
    EXPECT_EQ(f.opener.held, 0);

    const auto& memory = f.bus.devices[BOARD_EEPROM_ADDRESS].memory;
    const auto order = ImageOrder();
    for (size_t i = 0; i < 256; ++i)
      EXPECT_EQ(memory[order[i]], i < written ? BoardImage[order[i]] : 0xFF)
          << "failing " << failing << ", offset " << order[i];
    // A broken-off run leaves the board recognisable as one to re-program.
    if (written <= 252) {
      EXPECT_EQ(Hex(memory.data(), 4), "FF FF FF FF") << failing;
    }
  }
}

TEST(WriteBoardEEPROM, AFailedOpeningShowsNothingOfItsOwn) {
  BusFixture f;
  f.opener.fail = true;
  f.opener.failBoxes = {NO_FILTER};
  EXPECT_EQ(ProgramBoard(f.ctx, BoardImage, 256, 256).status, WriteStatus::NotOpened);
  EXPECT_EQ(f.transcript.events, (Events{"open failed", "box " + NO_FILTER}));
}

TEST(WriteBoardEEPROM, RefusesACountTheEepromCannotHold) {
  const std::pair<uint32_t, std::string> cases[] = {
      {0, "WriteBoardEEPROM: cannot write 0 bytes into a 256-byte EEPROM"},
      {257, "WriteBoardEEPROM: cannot write 257 bytes into a 256-byte EEPROM"},
  };
  for (const auto& [count, box] : cases) {
    BusFixture f;
    EXPECT_EQ(ProgramBoard(f.ctx, BoardImage, count, 256).status, WriteStatus::BadSize);
    EXPECT_EQ(f.transcript.events, Events{"box " + box});
  }
}

// ---- Verification ---------------------------------------------------------

TEST(WriteBoardEEPROM, VerificationNamesTheFirstByteThatDidNotStick) {
  struct Case {
    const char* name;
    uint8_t fill;
    bool protect;
    std::string box;
  };
  const Case cases[] = {
      {"write-protected part holding an older image", 0x00, true,
       "WriteBoardEEPROM: verification failed at offset 0x04: wrote 0x54, read 0x00"},
      {"one write acknowledged but not stored", 0x00, false,
       "WriteBoardEEPROM: verification failed at offset 0x80: wrote 0xFF, read 0x00"},
  };
  for (const auto& c : cases) {
    BusFixture f;
    auto& eeprom = f.bus.devices[BOARD_EEPROM_ADDRESS];
    eeprom.memory.assign(BoardImage, BoardImage + 256);
    eeprom.memory[0x04] = c.fill;
    eeprom.memory[0x80] = c.fill;
    eeprom.writeProtected = c.protect;
    if (!c.protect)
      f.bus.fault = [&eeprom](size_t, const Transfer& t) {
        eeprom.writeProtected = t.write && t.subAddress[0] == 0x80;
        return 0;
      };

    const WriteOutcome outcome = ProgramBoard(f.ctx, BoardImage, 256, 256);
    EXPECT_EQ(outcome.status, WriteStatus::Mismatch) << c.name;
    EXPECT_EQ(outcome.mismatchOffset, c.protect ? 0x04u : 0x80u);
    EXPECT_EQ(outcome.wrote, BoardImage[outcome.mismatchOffset]);
    EXPECT_EQ(outcome.found, c.fill);
    EXPECT_EQ(f.progress.positions.size(), 256u) << c.name;
    EXPECT_EQ(Texts(f.errors), std::vector<std::string>{c.box}) << c.name;
    const Events tail(f.transcript.events.end() - 3, f.transcript.events.end());
    EXPECT_EQ(tail, (Events{"end run", "box " + c.box, "released"})) << c.name;
  }
}

TEST(WriteBoardEEPROM, AFailedReadBackIsAFailedRun) {
  BusFixture f;
  f.bus.FailTransfer(256 + 6);  // the sixth read-back chunk, offset 0x28
  const WriteOutcome outcome = ProgramBoard(f.ctx, BoardImage, 256, 256);
  EXPECT_EQ(outcome.status, WriteStatus::ReadBackFailed);
  EXPECT_EQ(outcome.writesDone, 256u);
  EXPECT_FALSE(outcome.failure.write);
  EXPECT_EQ(outcome.failure.offset, 0x28u);
  const std::string box =
      "WriteBoardEEPROM: verification failed: I2C-read from Board EEPROM at offset 0x28 failed "
      "(error 0x80004005)";
  EXPECT_EQ(Texts(f.errors), std::vector<std::string>{box});
  EXPECT_EQ(f.bus.transfers.size(), 256u + 6);
  const Events tail(f.transcript.events.end() - 4, f.transcript.events.end());
  EXPECT_EQ(tail, (Events{"R A0 [28 00] #8 -> 80004005", "end run", "box " + box, "released"}));
  EXPECT_EQ(f.opener.held, 0);
}

// ---- Stopping and ReFlash ----------------------------------------------------

// A stop asked before the n-th write: n - 1 writes done, no box, no
// read-back, the run ended and the bus released; the identity untouched.
TEST(ProgramBoard, AStopEndsTheRunAfterTheCurrentWrite) {
  for (int n : {1, 2, 100, 252}) {
    BusFixture f;
    FakeStop stop;
    stop.after = n;
    f.ctx.stop = &stop;
    const WriteOutcome outcome = ProgramBoard(f.ctx, BoardImage, 256, 256);
    EXPECT_EQ(outcome.status, WriteStatus::Stopped) << n;
    EXPECT_EQ(outcome.writesDone, static_cast<uint32_t>(n - 1));
    EXPECT_EQ(stop.asked, n);
    EXPECT_EQ(f.transcript.Only("W ").size(), static_cast<size_t>(n - 1));
    EXPECT_TRUE(f.transcript.Only("R ").empty());
    EXPECT_TRUE(f.errors.texts.empty());
    const Events tail(f.transcript.events.end() - 2, f.transcript.events.end());
    EXPECT_EQ(tail, (Events{"end run", "released"}));
    EXPECT_EQ(Hex(f.bus.devices[BOARD_EEPROM_ADDRESS].memory.data(), 4), "FF FF FF FF");
  }
}

// ReFlash is the built-in image into a 256-byte part: one address byte.
TEST(ReFlash, WritesTheBuiltInImage) {
  BusFixture f;
  FakeStop never;
  f.ctx.stop = &never;
  EXPECT_EQ(ReFlash(f.ctx).status, WriteStatus::Written);
  EXPECT_EQ(never.asked, 256);
  const auto& memory = f.bus.devices[BOARD_EEPROM_ADDRESS].memory;
  EXPECT_EQ(memory, std::vector<uint8_t>(BoardImage, BoardImage + 256));
  EXPECT_EQ(f.transcript.Only("W A0 [04] ").size(), 1u);
}

// ---- Dump -------------------------------------------------------------------

namespace {

void FillPattern(std::vector<uint8_t>& memory) {
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i * 13 + 5);
}

}  // namespace

TEST(ReadBoardEEPROM, ReadsEightBytesAtATimeLowAddressByteFirst) {
  BusFixture f;
  auto& memory = f.bus.devices[BOARD_EEPROM_ADDRESS].memory;
  FillPattern(memory);
  std::vector<uint8_t> buffer(256, 0xEE);
  ASSERT_TRUE(ReadBoardEEPROM(f.ctx, buffer.data(), 256));

  Events expected = {"open"};
  for (uint32_t c = 0; c < 32; ++c) {
    expected.push_back("R A0 [" + Byte(c * 8) + " 00] #8");
    expected.push_back("pos " + std::to_string((c + 1) * 8));
  }
  expected.push_back("released");
  EXPECT_EQ(f.transcript.events, expected);
  EXPECT_EQ(buffer, memory);
  EXPECT_TRUE(f.errors.texts.empty());
}

// Also against a driver that fills the buffer of a read it then fails: the
// bytes from the failed chunk on keep what they held before the dump.
TEST(ReadBoardEEPROM, AFailedChunkKeepsWhatCameBefore) {
  const struct {
    uint32_t chunk;
    int32_t answer;
    bool fills;
  } cases[] = {{0, FAIL_CODE, false},
               {5, FAIL_CODE, false},
               {0, POSITIVE_CODE, true},
               {5, POSITIVE_CODE, true}};
  for (const auto& [chunk, answer, fills] : cases) {
    SCOPED_TRACE(fills ? "failed read fills the buffer" : "failed read delivers nothing");
    BusFixture f;
    auto& memory = f.bus.devices[BOARD_EEPROM_ADDRESS].memory;
    FillPattern(memory);
    f.bus.FailTransfer(chunk + 1, answer);
    f.bus.failedReadsFillBuffer = fills;
    std::vector<uint8_t> buffer(256, 0xEE);
    TransferFailure failure;
    EXPECT_FALSE(ReadBoardEEPROM(f.ctx, buffer.data(), 256, &failure));
    EXPECT_EQ(failure.device, BOARD_EEPROM_ADDRESS);
    EXPECT_EQ(failure.offset, chunk * 8);
    EXPECT_EQ(failure.code, answer);

    std::vector<uint8_t> expected(memory.begin(), memory.begin() + chunk * 8);
    expected.resize(256, 0xEE);
    EXPECT_EQ(buffer, expected) << chunk;
    std::vector<int> positions;
    for (uint32_t c = 1; c <= chunk; ++c) positions.push_back(static_cast<int>(c * 8));
    EXPECT_EQ(f.progress.positions, positions) << chunk;
    EXPECT_EQ(f.bus.transfers.size(), chunk + 1);
    const Events tail(f.transcript.events.end() - 2, f.transcript.events.end());
    EXPECT_EQ(tail, (Events{"box " + READ_FAILED, "released"}));
    EXPECT_EQ(f.errors.texts.size(), 1u);
  }
}

// A size that is no multiple of 8 gets a short last read, not an overrun.
TEST(ReadBoardEEPROM, NeverReadsPastTheBuffer) {
  BusFixture f;
  std::vector<uint8_t> buffer(16, 0xEE);
  ASSERT_TRUE(ReadBoardEEPROM(f.ctx, buffer.data(), 12));
  EXPECT_EQ(f.transcript.Only("R "), (Events{"R A0 [00 00] #8", "R A0 [08 00] #4"}));
  EXPECT_EQ(Hex(buffer.data() + 12, 4), "EE EE EE EE");
}

TEST(ReadBoardEEPROM, AFailedOpeningShowsNothingOfItsOwn) {
  BusFixture f;
  f.opener.fail = true;
  f.opener.failBoxes = {NO_FILTER};
  std::vector<uint8_t> buffer(256, 0xEE);
  EXPECT_FALSE(ReadBoardEEPROM(f.ctx, buffer.data(), 256));
  EXPECT_EQ(f.transcript.events, (Events{"open failed", "box " + NO_FILTER}));
  EXPECT_EQ(buffer, std::vector<uint8_t>(256, 0xEE));
}
