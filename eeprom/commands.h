// The commands a front end offers, over the operations: the start-up
// identity check, ReFlash, and the two saves with their commit-or-discard
// policy. Each returns an outcome that the front end maps to its texts;
// the boxes of failures have been shown by then.
#pragma once

#include "eeprom/eeprom.h"

#include <string>

// ---- The identity check --------------------------------------------------------

struct IdentityCheck {
  bool read = false;  // false: the box(es) were shown and the ids are 0
  BoardIdentity ids;
  BoardVerdict verdict = BoardVerdict::WrongSubVendor;  // of the ids, also after a failure
  TransferFailure failure;  // when the transfer (not the opening) failed
};

// One read of bytes 0-3 of the board EEPROM: sub-vendor ID in 0-1, subsystem
// ID in 2-3, both little-endian.
IdentityCheck CheckBoardIdentity(EepromContext& ctx);

// ---- ReFlash ----------------------------------------------------------------------

// The built-in image into the 256-byte board EEPROM.
WriteOutcome ReFlash(EepromContext& ctx);

// ---- Saves ------------------------------------------------------------------------

enum class SaveStatus { Saved, DumpFailed, FileFailed, Stopped };

struct SaveOutcome {
  SaveStatus status = SaveStatus::DumpFailed;
  TransferFailure failure;  // DumpFailed by a transfer (not by the opening)
  std::string fileError;    // FileFailed: the sentence that was boxed
  bool ok() const { return status == SaveStatus::Saved; }
};

// The dialog's board save: the identity read (refreshing *ids; the dump
// goes on whatever it gave), the first `size` bytes in chunks of 8, the
// image written and committed. On any failure the image is discarded.
SaveOutcome SaveBoardEEPROM(EepromContext& ctx, ImageSink& image, uint32_t size,
                            BoardIdentity* ids);

// Through the decoder's gate, 512 paced pages of 64 bytes, each handed to
// the image as it comes; the gate closed after the last page or after the
// failure's box, the image committed only when complete.
SaveOutcome SaveDspEEPROM(EepromContext& ctx, ImageSink& image);
