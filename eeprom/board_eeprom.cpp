// Programming and dumping the board EEPROM (0xA0). Its word address goes
// low byte first; a 256-byte part takes the low byte alone on writes.
#include "eeprom/commands.h"
#include "eeprom/format.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr uint32_t IDENTITY_BYTES = 4;
constexpr uint32_t TWO_BYTE_ADDRESS_LIMIT = 0x10000;

// Reads `size` bytes from address 0 into `buffer`, 8 per transfer, with no
// pause between them. A last chunk that would pass `size` is shortened, so
// nothing lands beyond the buffer. `afterChunk` gets the bytes read so far.
// Each chunk arrives in a buffer of its own and is copied only once its
// read succeeded, so the caller's bytes past the last good chunk stay as
// they were whatever a failed read did to its buffer.
bool ReadBoardChunks(I2CBus& bus, uint8_t* buffer, uint32_t size,
                     const std::function<void(uint32_t)>& afterChunk, TransferFailure* failure) {
  uint8_t chunk[BOARD_EEPROM_READ_CHUNK];
  for (uint32_t offset = 0; offset < size;) {
    const uint32_t length = std::min(size - offset, BOARD_EEPROM_READ_CHUNK);
    const uint8_t subAddress[2] = {static_cast<uint8_t>(offset & 0xFF),
                                   static_cast<uint8_t>(offset >> 8)};
    const BusStatus status = bus.Read(BOARD_EEPROM_ADDRESS, subAddress, 2, chunk, length);
    if (!status.ok) {
      *failure = {false, BOARD_EEPROM_ADDRESS, offset, status.code};
      return false;
    }
    std::copy(chunk, chunk + length, buffer + offset);
    offset += length;
    afterChunk(offset);
  }
  return true;
}

}  // namespace

uint32_t WriteOffset(uint32_t n, uint32_t count) {
  if (count <= IDENTITY_BYTES) return n;
  const uint32_t body = count - IDENTITY_BYTES;
  return n < body ? IDENTITY_BYTES + n : n - body;
}

WriteOutcome ProgramBoard(EepromContext& ctx, const uint8_t* image, uint32_t count,
                          uint32_t eepromSize) {
  WriteOutcome outcome;
  // The 1-byte address of a 256-byte part would wrap onto the identity.
  if (count == 0 || count > eepromSize || count > TWO_BYTE_ADDRESS_LIMIT) {
    outcome.status = WriteStatus::BadSize;
    ctx.errors.ShowError(
        Format("WriteBoardEEPROM: cannot write %u bytes into a %u-byte EEPROM", count, eepromSize));
    return outcome;
  }
  // The bus goes when the function returns, after any box it shows.
  std::unique_ptr<I2CBus> bus = ctx.opener.Open(ctx.errors);
  if (!bus) return outcome;
  // Ended before any box, so a raised resolution is not held while one waits.
  PacedRun run(ctx.pacer);

  // A 256-byte part takes the low byte of the offset alone.
  const size_t subAddressLength = eepromSize <= 256 ? 1 : 2;
  for (uint32_t n = 0; n < count; ++n) {
    if (ctx.stop && ctx.stop->StopRequested()) {
      outcome.status = WriteStatus::Stopped;
      return outcome;
    }
    const uint32_t offset = WriteOffset(n, count);
    const uint8_t subAddress[2] = {static_cast<uint8_t>(offset & 0xFF),
                                   static_cast<uint8_t>(offset >> 8)};
    ctx.pacer.Pause(WRITE_PAUSE_MS);
    const BusStatus status =
        bus->Write(BOARD_EEPROM_ADDRESS, subAddress, subAddressLength, image + offset, 1);
    ctx.pacer.TransferEnded();
    if (!status.ok) {
      run.End();
      outcome.status = WriteStatus::TransferFailed;
      outcome.failure = {true, BOARD_EEPROM_ADDRESS, offset, status.code};
      ctx.errors.ShowError("ReadEEPROM: I2C-write to Board-EEPROM failed");
      return outcome;
    }
    outcome.writesDone = n + 1;
    ctx.progress.SetPos(n + 1);
  }

  // Read back what was written, in whole chunks as far as the part reaches,
  // once the last byte's write cycle is over.
  ctx.pacer.Pause(WRITE_PAUSE_MS);
  uint32_t verifySize =
      (count + BOARD_EEPROM_READ_CHUNK - 1) / BOARD_EEPROM_READ_CHUNK * BOARD_EEPROM_READ_CHUNK;
  verifySize = std::min(verifySize, eepromSize);
  std::vector<uint8_t> readBack(verifySize);
  const bool readBackOK = ReadBoardChunks(
      *bus, readBack.data(), verifySize, [&](uint32_t) { ctx.pacer.TransferEnded(); },
      &outcome.failure);
  run.End();
  if (!readBackOK) {
    outcome.status = WriteStatus::ReadBackFailed;
    ctx.errors.ShowError(
        Format("WriteBoardEEPROM: verification failed: I2C-read from Board EEPROM at offset 0x%02X "
               "failed (error 0x%08lX)",
               outcome.failure.offset,
               static_cast<unsigned long>(static_cast<uint32_t>(outcome.failure.code))));
    return outcome;
  }
  for (uint32_t offset = 0; offset < count; ++offset) {
    if (readBack[offset] != image[offset]) {
      outcome.status = WriteStatus::Mismatch;
      outcome.mismatchOffset = offset;
      outcome.wrote = image[offset];
      outcome.found = readBack[offset];
      ctx.errors.ShowError(
          Format("WriteBoardEEPROM: verification failed at offset 0x%02X: wrote 0x%02X, read "
                 "0x%02X",
                 offset, image[offset], readBack[offset]));
      return outcome;
    }
  }
  outcome.status = WriteStatus::Written;
  return outcome;
}

WriteOutcome ReFlash(EepromContext& ctx) {
  return ProgramBoard(ctx, BoardImage, BOARD_IMAGE_SIZE, BOARD_IMAGE_SIZE);
}

bool ReadBoardEEPROM(EepromContext& ctx, uint8_t* buffer, uint32_t size, TransferFailure* failure) {
  // The bus goes when the function returns, after the box.
  std::unique_ptr<I2CBus> bus = ctx.opener.Open(ctx.errors);
  if (!bus) return false;
  TransferFailure failed;
  if (!ReadBoardChunks(
          *bus, buffer, size, [&](uint32_t done) { ctx.progress.SetPos(done); }, &failed)) {
    if (failure) *failure = failed;
    ctx.errors.ShowError("ReadEEPROM: I2C-read to Board EEPROM failed");
    return false;
  }
  return true;
}

SaveOutcome SaveBoardEEPROM(EepromContext& ctx, ImageSink& image, uint32_t size,
                            BoardIdentity* ids) {
  // Refreshes the identity; the dump goes on whatever it gave.
  const IdentityCheck check = CheckBoardIdentity(ctx);
  if (ids) *ids = check.ids;

  SaveOutcome outcome;
  std::vector<uint8_t> buffer(size);
  if (!ReadBoardEEPROM(ctx, buffer.data(), size, &outcome.failure)) {
    image.Discard();
    outcome.status = SaveStatus::DumpFailed;
    return outcome;
  }
  std::string reason;
  if (!image.Write(buffer.data(), buffer.size(), &reason)) {
    outcome.fileError = "Writing the image file failed: " + reason;
  } else if (!image.Commit(&reason)) {
    outcome.fileError = reason;
  } else {
    outcome.status = SaveStatus::Saved;
    return outcome;
  }
  // A file that had the chosen name keeps its old content.
  image.Discard();
  ctx.errors.ShowError(outcome.fileError);
  outcome.status = SaveStatus::FileFailed;
  return outcome;
}
