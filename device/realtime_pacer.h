// Real time on Windows: raises the timer resolution to 1 ms for the run,
// and waits for a deadline rather than sleeping a fixed time after the
// work done.
#pragma once

#include "eeprom/seams.h"

#include <windows.h>

class RealTimePacer : public Pacer {
 public:
  void BeginRun() override;
  void Pause(uint32_t ms) override;
  void TransferEnded() override;
  void EndRun() override;

 private:
  LONGLONG Now() const;
  LONGLONG m_frequency = 0;
  LONGLONG m_lastTransferEnd = 0;  // 0: no transfer yet in this run
  bool m_raised = false;
};
