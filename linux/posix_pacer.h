// Real time on Linux: each pause waits for an absolute deadline on the
// monotonic clock, so the work done since the last transfer (a progress
// line, say) does not add to it and a late wake-up does not carry over.
#pragma once

#include "eeprom/seams.h"

#include <ctime>

class PosixPacer : public Pacer {
 public:
  void BeginRun() override;
  void Pause(uint32_t ms) override;
  void TransferEnded() override;
  void EndRun() override;

 private:
  timespec m_lastTransferEnd{};
  bool m_transferInRun = false;
};
