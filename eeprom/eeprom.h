// The EEPROM operations over the card's I2C bus, shared by the dialog and
// the command-line tool. Each opens its own bus through the context's
// opener and releases it before it returns, after any box it shows.
#pragma once

#include "eeprom/seams.h"

#include <cstdint>

// ---- What failed, for front ends that name it --------------------------------

// The transfer that failed. `device` 0: none did (the opening failed, or
// something other than a transfer).
struct TransferFailure {
  bool write = false;
  uint8_t device = 0;   // 8-bit form
  uint32_t offset = 0;  // the EEPROM offset or register of the transfer
  int32_t code = 0;     // the platform's code; the bus's Reason() words it
};

// ---- Board identity ------------------------------------------------------------

inline constexpr uint16_t BOARD_SUBVENDOR_ID = 0x6B2D;
inline constexpr uint16_t SUBSYSTEM_ID_REFLASH = 0x3A21;
inline constexpr uint16_t SUBSYSTEM_ID_CORRECT = 0x3A2C;

enum class BoardVerdict { WrongSubVendor, NeedsReflash, AlreadyCorrect, OtherBoard };

struct BoardIdentity {
  uint16_t m_wSubVendorID = 0;
  uint16_t m_wSubSystemID = 0;
};

BoardVerdict ClassifyBoard(uint16_t subVendorID, uint16_t subSystemID);

// ---- Board EEPROM programming ----------------------------------------------------

inline constexpr uint32_t BOARD_IMAGE_SIZE = 256;
extern const uint8_t BoardImage[BOARD_IMAGE_SIZE];

inline constexpr uint32_t BOARD_EEPROM_READ_CHUNK = 8;
inline constexpr uint32_t WRITE_PAUSE_MS = 20;  // also the part's write cycle

enum class WriteStatus {
  Written,
  NotOpened,
  TransferFailed,
  ReadBackFailed,
  Mismatch,
  Stopped,
  BadSize
};

struct WriteOutcome {
  WriteStatus status = WriteStatus::NotOpened;
  uint32_t writesDone = 0;      // successful writes, in write order (4.. first, 0-3 last)
  TransferFailure failure;      // TransferFailed, ReadBackFailed
  uint32_t mismatchOffset = 0;  // Mismatch: the first offset that differs, and its bytes
  uint8_t wrote = 0, found = 0;
  bool ok() const { return status == WriteStatus::Written; }
};

// The offset of the n-th write of `count`: offsets 4.. first, the identity
// bytes 0-3 last, so a run that breaks off leaves the identity as it was.
uint32_t WriteOffset(uint32_t n, uint32_t count);

// Writes `count` bytes of `image` one per transfer, 20 ms apart, identity
// bytes last, then reads the EEPROM back and compares. Every failure gets
// its box. A stop asked before a write ends the run there (Stopped, with
// the writes done so far), without a box and without the read-back.
WriteOutcome ProgramBoard(EepromContext& ctx, const uint8_t* image, uint32_t count,
                          uint32_t eepromSize);

// ---- Board EEPROM dump -------------------------------------------------------------

// The first `size` bytes into `buffer`, 8 per transfer, the bar at the bytes
// read so far. A failed chunk gets its box, and the bytes from it on keep
// what they held.
bool ReadBoardEEPROM(EepromContext& ctx, uint8_t* buffer, uint32_t size,
                     TransferFailure* failure = nullptr);

// ---- Channel decoder gate ------------------------------------------------------------

inline constexpr uint32_t CHDEC_SAVED_BLOCK_SIZE = 6;

// Opens the gate to the DSP EEPROM, keeping the decoder's block as it was
// read in `savedBlock`; closes it again with that block. Each shows its box
// when a transfer fails, and stops there.
bool PrepareChDecGPIO3(I2CBus& bus, uint8_t* savedBlock, ErrorSink& errors,
                       TransferFailure* failure = nullptr);
bool RestoreChDecSettings(I2CBus& bus, const uint8_t* savedBlock, ErrorSink& errors,
                          TransferFailure* failure = nullptr);

// ---- DSP EEPROM --------------------------------------------------------------------------

inline constexpr uint32_t DSP_EEPROM_SIZE = 32768;
inline constexpr uint32_t DSP_EEPROM_PAGE_SIZE = 64;
inline constexpr uint32_t PAGE_PAUSE_MS = 20;
