// The board's identity: the sub-vendor ID in EEPROM bytes 0-1 and the
// subsystem ID in bytes 2-3, both little-endian.
#include "eeprom/eeprom.h"

#include <iterator>

bool ReadBoardID(EepromContext& ctx, BYTE* buffer, BoardIdentity& ids) {
  ids = BoardIdentity{};

  // A failed opening has shown its own boxes.
  CaptureControl control;
  if (!ctx.opener.Open(&control, ctx.errors)) return false;

  // Two sub-address bytes: offset 0, low byte first. Unused fields stay zero.
  BYTE subAddress[2] = {0x00, 0x00};
  I2CTransferRequest request =
      MakeI2CRequest(KSPROPERTY_TYPE_GET, BOARD_EEPROM_ADDRESS, subAddress, sizeof subAddress);
  request.ReadBuffer = buffer;
  request.ReadLength = 4;
  I2CWriteData data = {};
  ULONG bytesReturned = 0;  // the driver's count is not relied on

  // Only S_OK counts: a positive success code delivered nothing usable.
  if (control.get()->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &data, I2C_DATA_LENGTH,
                                &bytesReturned) != S_OK) {
    ctx.errors.ShowError(L"ReadEEPROM: I2C-read to Board EEPROM failed");
    return false;  // the handle goes after the box
  }
  ids.m_wSubVendorID = static_cast<WORD>(buffer[0] | buffer[1] << 8);
  ids.m_wSubSystemID = static_cast<WORD>(buffer[2] | buffer[3] << 8);
  return true;
}

BoardVerdict ClassifyBoard(WORD subVendorID, WORD subSystemID) {
  if (subVendorID != BOARD_SUBVENDOR_ID) return BoardVerdict::WrongSubVendor;
  if (subSystemID == SUBSYSTEM_ID_REFLASH) return BoardVerdict::NeedsReflash;
  if (subSystemID == SUBSYSTEM_ID_CORRECT) return BoardVerdict::AlreadyCorrect;
  return BoardVerdict::OtherBoard;
}

namespace {

// One row per verdict, in the enum's order. The numbers in the texts are
// fixed wording, not formatted from the IDs read.
constexpr VerdictEffect kVerdictEffects[] = {
    // WrongSubVendor
    {nullptr, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!", -1, VerdictButton::ReFlash},
    // NeedsReflash: the status keeps its prompt to press ReFlash.
    {L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM...", nullptr, -1, VerdictButton::Exit},
    // AlreadyCorrect: the bar still has its initial range 0-100, so it shows full.
    {nullptr, L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.", 100,
     VerdictButton::ReFlash},
    // OtherBoard
    {L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board",
     L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.", -1,
     VerdictButton::ReFlash},
};
static_assert(std::size(kVerdictEffects) == static_cast<size_t>(BoardVerdict::OtherBoard) + 1);

}  // namespace

const VerdictEffect& EffectOf(BoardVerdict verdict) {
  const auto row = static_cast<size_t>(verdict);
  // A value outside the enum is treated like the safe outcome: ReFlash off.
  return kVerdictEffects[row < std::size(kVerdictEffects) ? row : 0];
}
