// Saving the DSP EEPROM (0xA2), which answers only while the channel
// decoder's gate is open. Its word address goes high byte first.
#include "eeprom/commands.h"

#include <string>

SaveOutcome SaveDspEEPROM(EepromContext& ctx, ImageSink& image) {
  SaveOutcome outcome;
  {
    // The bus goes at the end of this block, after the gate is closed.
    std::unique_ptr<I2CBus> bus = ctx.opener.Open(ctx.errors);
    if (!bus) {
      image.Discard();
      return outcome;
    }
    uint8_t savedBlock[CHDEC_SAVED_BLOCK_SIZE] = {};
    if (!PrepareChDecGPIO3(*bus, savedBlock, ctx.errors, &outcome.failure)) {
      bus.reset();
      image.Discard();
      return outcome;
    }
    PacedRun run(ctx.pacer);

    // The box comes first; the gate is closed once the user has read it.
    // The paced run ends before the box, so no box waits under a raised
    // timer resolution.
    auto closeAfter = [&](const std::string& box) {
      run.End();
      if (!box.empty()) ctx.errors.ShowError(box);
      // A closing that fails is named when nothing failed before it.
      RestoreChDecSettings(*bus, savedBlock, ctx.errors,
                           outcome.failure.device ? nullptr : &outcome.failure);
    };

    uint8_t page[DSP_EEPROM_PAGE_SIZE];
    for (uint32_t offset = 0, pages = 0; offset < DSP_EEPROM_SIZE; ++pages) {
      if (ctx.stop && ctx.stop->StopRequested()) {
        closeAfter(std::string());
        outcome.status = SaveStatus::Stopped;
        break;
      }
      const uint8_t subAddress[2] = {static_cast<uint8_t>(offset >> 8),
                                     static_cast<uint8_t>(offset & 0xFF)};
      ctx.pacer.Pause(PAGE_PAUSE_MS);
      const BusStatus status =
          bus->Read(DSP_EEPROM_ADDRESS, subAddress, 2, page, DSP_EEPROM_PAGE_SIZE);
      ctx.pacer.TransferEnded();
      if (!status.ok) {
        outcome.failure = {false, DSP_EEPROM_ADDRESS, offset, status.code};
        closeAfter("ReadEEPROM: I2C-read to DSP EEPROM failed (page " + std::to_string(pages) +
                   ")!");
        outcome.status = SaveStatus::DumpFailed;
        break;
      }
      std::string reason;
      if (!image.Write(page, DSP_EEPROM_PAGE_SIZE, &reason)) {
        outcome.fileError =
            "ReadDspEEPROM: writing the image file failed" + (reason.empty() ? "" : ": " + reason);
        closeAfter(outcome.fileError);
        outcome.status = SaveStatus::FileFailed;
        break;
      }
      offset += DSP_EEPROM_PAGE_SIZE;
      ctx.progress.SetPos(offset);
      if (offset == DSP_EEPROM_SIZE) {
        // Complete. The closing may show a box of its own; the image is
        // whole then, and it is saved.
        closeAfter(std::string());
        outcome.status = SaveStatus::Saved;
      }
    }
  }
  if (outcome.status != SaveStatus::Saved) {
    image.Discard();
    return outcome;
  }
  std::string reason;
  if (!image.Commit(&reason)) {
    // A file that had the chosen name keeps its old content.
    image.Discard();
    outcome.fileError = reason;
    ctx.errors.ShowError(reason);
    outcome.status = SaveStatus::FileFailed;
  }
  return outcome;
}
