// The EEPROM operations. The dialog's members of the same names forward to
// these; each opens its own control handle and releases it before it
// returns, on every path after a successful opening.
#pragma once

#include "eeprom/seams.h"

#include <windows.h>

#include <string>

// ---- Board identity ------------------------------------------------------

inline constexpr WORD BOARD_SUBVENDOR_ID = 0x6B2D;
inline constexpr WORD SUBSYSTEM_ID_REFLASH = 0x3A21;
inline constexpr WORD SUBSYSTEM_ID_CORRECT = 0x3A2C;

enum class BoardVerdict { WrongSubVendor, NeedsReflash, AlreadyCorrect, OtherBoard };

struct BoardIdentity {
  WORD m_wSubVendorID = 0;
  WORD m_wSubSystemID = 0;
};

// One read of bytes 0-3 into `buffer`; the IDs are 0 after any failure.
bool ReadBoardID(EepromContext& ctx, BYTE* buffer, BoardIdentity& ids);

BoardVerdict ClassifyBoard(WORD subVendorID, WORD subSystemID);

enum class VerdictButton { Exit, ReFlash };

// What the dialog shows for a verdict, in this order: box, status, bar,
// the button it disables. Null texts and a negative position mean
// "leave unchanged".
struct VerdictEffect {
  const wchar_t* errorBox;
  const wchar_t* status;
  int progressPos;
  VerdictButton disable;
};

const VerdictEffect& EffectOf(BoardVerdict verdict);

// ---- Board EEPROM programming --------------------------------------------

inline constexpr UINT32 BOARD_IMAGE_SIZE = 256;
extern const BYTE BoardImage[BOARD_IMAGE_SIZE];

// Writes `count` bytes one per transfer, 20 ms apart, identity bytes 0-3
// last, then reads the EEPROM back and compares.
bool WriteBoardEEPROM(EepromContext& ctx, const BYTE* data, UINT32 count, UINT32 eepromSize);

// ---- Board EEPROM dump ---------------------------------------------------

inline constexpr UINT32 BOARD_EEPROM_READ_CHUNK = 8;

bool ReadBoardEEPROM(EepromContext& ctx, BYTE* buffer, UINT32 size);

// ---- Channel decoder gate ------------------------------------------------

inline constexpr UINT32 CHDEC_SAVED_BLOCK_SIZE = 6;

bool PrepareChDecGPIO3(IKsControl* control, BYTE* savedBlock, ErrorSink& errors);
bool RestoreChDecSettings(IKsControl* control, const BYTE* savedBlock, ErrorSink& errors);

// ---- DSP EEPROM dump -----------------------------------------------------

inline constexpr UINT32 DSP_EEPROM_SIZE = 32768;
inline constexpr UINT32 DSP_EEPROM_PAGE_SIZE = 64;

// Where the DSP dump hands each page. Write() stores all `length` bytes or
// returns false with a sentence that says what failed.
class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual bool Write(const BYTE* data, UINT32 length, std::wstring* error) = 0;
};

bool ReadDspEEPROM(EepromContext& ctx, PageSink& file);
