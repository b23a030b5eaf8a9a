// The channel decoder (0x10) passes the DSP EEPROM's bus only in a
// prepared state: its 6-byte block at 0x3C modified and 0x02 at 0x07.
#include "eeprom/eeprom.h"

namespace {

constexpr uint8_t CHDEC_BLOCK_REGISTER = 0x3C;
constexpr uint8_t CHDEC_GATE_REGISTER = 0x07;
constexpr uint8_t CHDEC_GATE_OPEN = 0x02;
constexpr uint8_t CHDEC_GATE_CLOSED = 0x00;

// One write to a decoder register; false with `failure` filled in.
bool WriteRegister(I2CBus& bus, uint8_t reg, const uint8_t* bytes, size_t length,
                   TransferFailure* failure) {
  const BusStatus status = bus.Write(CHANNEL_DECODER_ADDRESS, &reg, 1, bytes, length);
  if (!status.ok && failure) *failure = {true, CHANNEL_DECODER_ADDRESS, reg, status.code};
  return status.ok;
}

}  // namespace

bool PrepareChDecGPIO3(I2CBus& bus, uint8_t* savedBlock, ErrorSink& errors,
                       TransferFailure* failure) {
  const uint8_t blockRegister = CHDEC_BLOCK_REGISTER;
  uint8_t block[CHDEC_SAVED_BLOCK_SIZE] = {};
  const BusStatus read =
      bus.Read(CHANNEL_DECODER_ADDRESS, &blockRegister, 1, block, CHDEC_SAVED_BLOCK_SIZE);
  if (!read.ok) {
    if (failure) *failure = {false, CHANNEL_DECODER_ADDRESS, CHDEC_BLOCK_REGISTER, read.code};
    errors.ShowError("PrepareChDecGPIO3: I2C-read from channel decoder failed!");
    return false;
  }
  std::copy(block, block + CHDEC_SAVED_BLOCK_SIZE, savedBlock);

  // The saved copy stays as read; the closing writes it back.
  const uint8_t modified[CHDEC_SAVED_BLOCK_SIZE] = {
      static_cast<uint8_t>(block[0] & 0x3F),
      static_cast<uint8_t>(block[1] & 0xF7),
      block[2],
      block[3],
      0xFF,
      static_cast<uint8_t>(block[5] | 0xC0),
  };
  const uint8_t open = CHDEC_GATE_OPEN;
  if (!WriteRegister(bus, CHDEC_BLOCK_REGISTER, modified, CHDEC_SAVED_BLOCK_SIZE, failure) ||
      !WriteRegister(bus, CHDEC_GATE_REGISTER, &open, 1, failure)) {
    errors.ShowError("PrepareChDecGPIO3: I2C-write to channel decoder failed!");
    return false;
  }
  return true;
}

bool RestoreChDecSettings(I2CBus& bus, const uint8_t* savedBlock, ErrorSink& errors,
                          TransferFailure* failure) {
  const uint8_t closed = CHDEC_GATE_CLOSED;
  if (!WriteRegister(bus, CHDEC_GATE_REGISTER, &closed, 1, failure) ||
      !WriteRegister(bus, CHDEC_BLOCK_REGISTER, savedBlock, CHDEC_SAVED_BLOCK_SIZE, failure)) {
    errors.ShowError("RestoreChDecSettings: I2C-write to channel decoder failed!");
    return false;
  }
  return true;
}
