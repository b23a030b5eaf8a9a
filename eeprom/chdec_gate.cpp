// The channel decoder (0x10) passes the DSP EEPROM's bus only in a
// prepared state: its 6-byte block at 0x3C modified and 0x02 at 0x07.
#include "eeprom/eeprom.h"

namespace {

constexpr BYTE CHDEC_BLOCK_REGISTER = 0x3C;
constexpr BYTE CHDEC_GATE_REGISTER = 0x07;
constexpr BYTE CHDEC_GATE_OPEN = 0x02;
constexpr BYTE CHDEC_GATE_CLOSED = 0x00;

HRESULT Write(IKsControl* control, I2CTransferRequest* request, BYTE* subAddress, BYTE reg,
              const BYTE* bytes, ULONG length, ULONG* returned) {
  request->Property.Flags = KSPROPERTY_TYPE_SET;
  *subAddress = reg;
  I2CWriteData data = {};
  data.Buffer = const_cast<BYTE*>(bytes);
  data.Length = length;
  return control->KsProperty(&request->Property, I2C_REQUEST_LENGTH, &data, I2C_DATA_LENGTH,
                             returned);
}

}  // namespace

bool PrepareChDecGPIO3(IKsControl* control, BYTE* savedBlock, ErrorSink& errors) {
  BYTE subAddress = CHDEC_BLOCK_REGISTER;
  I2CTransferRequest request =
      MakeI2CRequest(KSPROPERTY_TYPE_GET, CHANNEL_DECODER_ADDRESS, &subAddress, 1);
  request.ReadBuffer = savedBlock;
  request.ReadLength = CHDEC_SAVED_BLOCK_SIZE;
  I2CWriteData data = {};
  ULONG returned = 0;
  if (control->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &data, I2C_DATA_LENGTH,
                          &returned) != S_OK) {
    errors.ShowError(L"PrepareChDecGPIO3: I2C-read from channel decoder failed!");
    return false;
  }

  // The saved copy stays as read; the closing writes it back.
  const BYTE modified[CHDEC_SAVED_BLOCK_SIZE] = {
      static_cast<BYTE>(savedBlock[0] & 0x3F),
      static_cast<BYTE>(savedBlock[1] & 0xF7),
      savedBlock[2],
      savedBlock[3],
      0xFF,
      static_cast<BYTE>(savedBlock[5] | 0xC0),
  };
  const BYTE open = CHDEC_GATE_OPEN;
  if (Write(control, &request, &subAddress, CHDEC_BLOCK_REGISTER, modified, CHDEC_SAVED_BLOCK_SIZE,
            &returned) != S_OK ||
      Write(control, &request, &subAddress, CHDEC_GATE_REGISTER, &open, 1, &returned) != S_OK) {
    errors.ShowError(L"PrepareChDecGPIO3: I2C-write to channel decoder failed!");
    return false;
  }
  return true;
}

bool RestoreChDecSettings(IKsControl* control, const BYTE* savedBlock, ErrorSink& errors) {
  BYTE subAddress = CHDEC_GATE_REGISTER;
  I2CTransferRequest request =
      MakeI2CRequest(KSPROPERTY_TYPE_SET, CHANNEL_DECODER_ADDRESS, &subAddress, 1);
  ULONG returned = 0;
  const BYTE closed = CHDEC_GATE_CLOSED;
  if (Write(control, &request, &subAddress, CHDEC_GATE_REGISTER, &closed, 1, &returned) != S_OK ||
      Write(control, &request, &subAddress, CHDEC_BLOCK_REGISTER, savedBlock,
            CHDEC_SAVED_BLOCK_SIZE, &returned) != S_OK) {
    errors.ShowError(L"RestoreChDecSettings: I2C-write to channel decoder failed!");
    return false;
  }
  return true;
}
