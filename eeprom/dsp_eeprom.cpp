// Dumping the DSP EEPROM (0xA2), which answers only while the channel
// decoder's gate is open. Its word address goes high byte first.
#include "eeprom/eeprom.h"

#include <string>

namespace {

constexpr DWORD PAGE_PAUSE_MS = 20;

}  // namespace

bool ReadDspEEPROM(EepromContext& ctx, PageSink& file) {
  // The handle goes when the function returns, after the gate is closed.
  CaptureControl handle;
  if (!ctx.opener.Open(&handle, ctx.errors)) return false;
  IKsControl* control = handle.get();

  BYTE savedBlock[CHDEC_SAVED_BLOCK_SIZE] = {};
  if (!PrepareChDecGPIO3(control, savedBlock, ctx.errors)) return false;
  PacedRun run(ctx.pacer);

  BYTE page[DSP_EEPROM_PAGE_SIZE];
  BYTE subAddress[2] = {0x00, 0x00};
  I2CTransferRequest request =
      MakeI2CRequest(KSPROPERTY_TYPE_GET, DSP_EEPROM_ADDRESS, subAddress, 2);
  request.ReadBuffer = page;
  request.ReadLength = DSP_EEPROM_PAGE_SIZE;
  I2CWriteData data = {};
  ULONG returned = 0;

  // The box comes first; the gate is closed once the user has read it, and
  // the handle released after that. The paced run ends before the box, so
  // no box waits under the raised timer resolution.
  auto fail = [&](const std::wstring& text) {
    run.End();
    ctx.errors.ShowError(text);
    RestoreChDecSettings(control, savedBlock, ctx.errors);
    return false;
  };

  UINT32 pages = 0;
  for (UINT32 offset = 0; offset < DSP_EEPROM_SIZE;) {
    subAddress[0] = static_cast<BYTE>(offset >> 8);
    subAddress[1] = static_cast<BYTE>(offset & 0xFF);
    ctx.pacer.Pause(PAGE_PAUSE_MS);
    const HRESULT hr = control->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &data,
                                           I2C_DATA_LENGTH, &returned);
    ctx.pacer.TransferEnded();
    if (hr != S_OK)
      return fail(L"ReadEEPROM: I2C-read to DSP EEPROM failed (page " + std::to_wstring(pages) +
                  L")!");
    ++pages;
    std::wstring reason;
    if (!file.Write(page, DSP_EEPROM_PAGE_SIZE, &reason))
      return fail(L"ReadDspEEPROM: writing the image file failed" +
                  (reason.empty() ? std::wstring() : L": " + reason));
    offset += DSP_EEPROM_PAGE_SIZE;
    ctx.progress.SetPos(static_cast<int>(offset));
  }

  // The closing may show a box of its own.
  run.End();
  RestoreChDecSettings(control, savedBlock, ctx.errors);
  return true;
}
