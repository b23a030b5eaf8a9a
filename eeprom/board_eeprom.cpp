// Programming and dumping the board EEPROM (0xA0). Its word address goes
// low byte first; a 256-byte part takes the low byte alone on writes.
#include "eeprom/eeprom.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD WRITE_PAUSE_MS = 20;  // also the part's write cycle
constexpr UINT32 IDENTITY_BYTES = 4;
constexpr UINT32 TWO_BYTE_ADDRESS_LIMIT = 0x10000;

std::wstring Format(const wchar_t* format, ...) {
  wchar_t text[160];
  va_list args;
  va_start(args, format);
  std::vswprintf(text, sizeof text / sizeof text[0], format, args);
  va_end(args);
  return text;
}

// The n-th byte to write: offsets 4.. first, the identity 0-3 last, so a
// run that breaks off leaves the identity as it was and the board is
// still recognised as one to re-program.
UINT32 WriteOffset(UINT32 n, UINT32 count) {
  if (count <= IDENTITY_BYTES) return n;
  const UINT32 body = count - IDENTITY_BYTES;
  return n < body ? IDENTITY_BYTES + n : n - body;
}

struct ChunkFailure {
  UINT32 offset;
  HRESULT result;
};

// Reads `size` bytes from address 0 into `buffer`, 8 per transfer, with no
// pause between them. A last chunk that would pass `size` is shortened, so
// nothing lands beyond the buffer. `afterChunk` gets the bytes read so far.
// Each chunk arrives in a buffer of its own and is copied only once its
// read succeeded: a driver may fill the buffer of a read it fails (with a
// positive success code, say), and the caller's bytes past the last good
// chunk stay as they were.
bool ReadBoardChunks(IKsControl* control, BYTE* buffer, UINT32 size,
                     const std::function<void(UINT32)>& afterChunk, ChunkFailure* failure) {
  BYTE subAddress[2] = {0x00, 0x00};
  BYTE chunk[BOARD_EEPROM_READ_CHUNK];
  I2CTransferRequest request =
      MakeI2CRequest(KSPROPERTY_TYPE_GET, BOARD_EEPROM_ADDRESS, subAddress, 2);
  request.ReadBuffer = chunk;
  I2CWriteData data = {};
  ULONG returned = 0;

  for (UINT32 offset = 0; offset < size;) {
    const UINT32 length =
        size - offset < BOARD_EEPROM_READ_CHUNK ? size - offset : BOARD_EEPROM_READ_CHUNK;
    subAddress[0] = static_cast<BYTE>(offset & 0xFF);
    subAddress[1] = static_cast<BYTE>(offset >> 8);
    request.ReadLength = length;
    const HRESULT hr = control->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &data,
                                           I2C_DATA_LENGTH, &returned);
    if (hr != S_OK) {
      *failure = {offset, hr};
      return false;
    }
    std::copy(chunk, chunk + length, buffer + offset);
    offset += length;
    afterChunk(offset);
  }
  return true;
}

}  // namespace

bool WriteBoardEEPROM(EepromContext& ctx, const BYTE* data, UINT32 count, UINT32 eepromSize) {
  // The 1-byte address of a 256-byte part would wrap onto the identity.
  if (count == 0 || count > eepromSize || count > TWO_BYTE_ADDRESS_LIMIT) {
    ctx.errors.ShowError(Format(L"WriteBoardEEPROM: cannot write %u bytes into a %u-byte EEPROM",
                                count, eepromSize));
    return false;
  }
  // The handle goes when the function returns, after any box it shows.
  CaptureControl handle;
  if (!ctx.opener.Open(&handle, ctx.errors)) return false;
  // Ended before any box, so the resolution is not held while one waits.
  PacedRun run(ctx.pacer);
  IKsControl* control = handle.get();

  BYTE subAddress[2] = {0x00, 0x00};
  // A 256-byte part takes the low byte of the offset alone.
  I2CTransferRequest request = MakeI2CRequest(KSPROPERTY_TYPE_SET, BOARD_EEPROM_ADDRESS, subAddress,
                                              eepromSize <= 256 ? 1 : 2);
  I2CWriteData writeData = {};
  writeData.Length = 1;
  ULONG returned = 0;

  for (UINT32 n = 0; n < count; ++n) {
    const UINT32 offset = WriteOffset(n, count);
    subAddress[0] = static_cast<BYTE>(offset & 0xFF);
    subAddress[1] = static_cast<BYTE>(offset >> 8);
    writeData.Buffer = const_cast<BYTE*>(data + offset);
    ctx.pacer.Pause(WRITE_PAUSE_MS);
    const HRESULT hr = control->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &writeData,
                                           I2C_DATA_LENGTH, &returned);
    ctx.pacer.TransferEnded();
    if (hr != S_OK) {
      run.End();
      ctx.errors.ShowError(L"ReadEEPROM: I2C-write to Board-EEPROM failed");
      return false;
    }
    ctx.progress.SetPos(static_cast<int>(n + 1));
  }

  // Read back what was written, in whole chunks as far as the part reaches,
  // once the last byte's write cycle is over.
  ctx.pacer.Pause(WRITE_PAUSE_MS);
  UINT32 verifySize =
      (count + BOARD_EEPROM_READ_CHUNK - 1) / BOARD_EEPROM_READ_CHUNK * BOARD_EEPROM_READ_CHUNK;
  if (verifySize > eepromSize) verifySize = eepromSize;
  std::vector<BYTE> readBack(verifySize);
  ChunkFailure failure = {};
  const bool readBackOK = ReadBoardChunks(
      control, readBack.data(), verifySize, [&](UINT32) { ctx.pacer.TransferEnded(); }, &failure);
  run.End();
  if (!readBackOK) {
    ctx.errors.ShowError(Format(
        L"WriteBoardEEPROM: verification failed: I2C-read from Board EEPROM at offset 0x%02X "
        L"failed (error 0x%08lX)",
        failure.offset, static_cast<unsigned long>(failure.result)));
    return false;
  }
  for (UINT32 offset = 0; offset < count; ++offset) {
    if (readBack[offset] != data[offset]) {
      ctx.errors.ShowError(
          Format(L"WriteBoardEEPROM: verification failed at offset 0x%02X: wrote 0x%02X, read "
                 L"0x%02X",
                 offset, data[offset], readBack[offset]));
      return false;
    }
  }
  return true;
}

bool ReadBoardEEPROM(EepromContext& ctx, BYTE* buffer, UINT32 size) {
  // The handle goes when the function returns, after the box.
  CaptureControl handle;
  if (!ctx.opener.Open(&handle, ctx.errors)) return false;
  ChunkFailure failure = {};
  if (!ReadBoardChunks(
          handle.get(), buffer, size,
          [&](UINT32 done) { ctx.progress.SetPos(static_cast<int>(done)); }, &failure)) {
    ctx.errors.ShowError(L"ReadEEPROM: I2C-read to Board EEPROM failed");
    return false;
  }
  return true;
}
