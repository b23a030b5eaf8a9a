// The board's identity: the sub-vendor ID in EEPROM bytes 0-1 and the
// subsystem ID in bytes 2-3, both little-endian.
#include "eeprom/commands.h"

BoardVerdict ClassifyBoard(uint16_t subVendorID, uint16_t subSystemID) {
  if (subVendorID != BOARD_SUBVENDOR_ID) return BoardVerdict::WrongSubVendor;
  if (subSystemID == SUBSYSTEM_ID_REFLASH) return BoardVerdict::NeedsReflash;
  if (subSystemID == SUBSYSTEM_ID_CORRECT) return BoardVerdict::AlreadyCorrect;
  return BoardVerdict::OtherBoard;
}

IdentityCheck CheckBoardIdentity(EepromContext& ctx) {
  IdentityCheck check;
  // A failed opening has shown its own boxes. The bus goes when the
  // function returns, after any box.
  std::unique_ptr<I2CBus> bus = ctx.opener.Open(ctx.errors);
  if (bus) {
    // Two sub-address bytes: offset 0, low byte first.
    const uint8_t subAddress[2] = {0x00, 0x00};
    uint8_t id[4] = {};
    const BusStatus status = bus->Read(BOARD_EEPROM_ADDRESS, subAddress, 2, id, sizeof id);
    if (status.ok) {
      check.read = true;
      check.ids.m_wSubVendorID = static_cast<uint16_t>(id[0] | id[1] << 8);
      check.ids.m_wSubSystemID = static_cast<uint16_t>(id[2] | id[3] << 8);
    } else {
      check.failure = {false, BOARD_EEPROM_ADDRESS, 0, status.code};
      ctx.errors.ShowError("ReadEEPROM: I2C-read to Board EEPROM failed");
    }
  }
  check.verdict = ClassifyBoard(check.ids.m_wSubVendorID, check.ids.m_wSubSystemID);
  return check;
}
