// What an EEPROM operation borrows from the dialog that runs it: the error
// box, the progress bar's position, the pauses between transfers and the
// way to open the control handle. Each is narrow, so tests replace it.
#pragma once

#include "device/capture_control.h"
#include "device/error_sink.h"

#include <windows.h>

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetPos(int pos) = 0;
};

// Paces the transfers of one run. The run calls BeginRun() before its
// first pause and EndRun() after its last transfer; Pause(ms) returns once
// `ms` have passed since the end of the previous transfer (since the call,
// for the first one), which the run reports with TransferEnded().
class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual void BeginRun() = 0;
  virtual void Pause(DWORD ms) = 0;
  virtual void TransferEnded() = 0;
  virtual void EndRun() = 0;
};

// Real time: raises the timer resolution to 1 ms for the run, and waits
// for a deadline rather than sleeping a fixed time after the work done.
class RealTimePacer : public Pacer {
 public:
  void BeginRun() override;
  void Pause(DWORD ms) override;
  void TransferEnded() override;
  void EndRun() override;

 private:
  LONGLONG Now() const;
  LONGLONG m_frequency = 0;
  LONGLONG m_lastTransferEnd = 0;  // 0: no transfer yet in this run
  bool m_raised = false;
};

// Keeps a Pacer's run open for a scope, so every exit ends it. A run ends
// with End() before anything waits for the user (a box), so the raised
// timer resolution is not held while nobody is transferring.
class PacedRun {
 public:
  explicit PacedRun(Pacer& pacer) : m_pacer(pacer) { m_pacer.BeginRun(); }
  ~PacedRun() { End(); }
  PacedRun(const PacedRun&) = delete;
  PacedRun& operator=(const PacedRun&) = delete;

  void End() {
    if (!m_open) return;
    m_open = false;
    m_pacer.EndRun();
  }

 private:
  Pacer& m_pacer;
  bool m_open = true;
};

struct EepromContext {
  ControlOpener& opener;
  ErrorSink& errors;
  ProgressSink& progress;
  Pacer& pacer;
};
