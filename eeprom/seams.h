// What an EEPROM command borrows from the front end that runs it: the bus
// opener, the error box (or stderr), the progress bar, the pauses between
// transfers, a way to stop, and where a save puts its image. Each is
// narrow, so tests replace it. Texts are UTF-8.
#pragma once

#include "eeprom/bus.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The one way the core tells the user about a failure: the dialog shows a
// modal box, the command-line tool a line on stderr.
class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  // Returns once the user has closed the box.
  virtual void ShowError(const std::string& text) = 0;
};

// Bytes done so far in the running operation; the front end knows the total.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetPos(uint32_t done) = 0;
};

// Paces the transfers of one run. The run calls BeginRun() before its
// first pause and EndRun() after its last transfer; Pause(ms) returns once
// `ms` have passed since the end of the previous transfer (since the call,
// for the first one), which the run reports with TransferEnded().
class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual void BeginRun() = 0;
  virtual void Pause(uint32_t ms) = 0;
  virtual void TransferEnded() = 0;
  virtual void EndRun() = 0;
};

// Keeps a Pacer's run open for a scope, so every exit ends it. A run ends
// with End() before anything waits for the user (a box), so a raised timer
// resolution is not held while nobody is transferring.
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

// Asked before each paced transfer (Ctrl-C in the command-line tool); a
// run that sees it ends after the transfer before.
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  virtual bool StopRequested() const = 0;
};

// Where a save puts its image: a temporary file beside the chosen one.
class ImageSink {
 public:
  virtual ~ImageSink() = default;
  // Stores all `length` bytes, or returns false with a sentence naming the
  // file and the reason.
  virtual bool Write(const uint8_t* data, size_t length, std::string* reason) = 0;
  // The complete image takes the chosen name; false with the reason.
  virtual bool Commit(std::string* reason) = 0;
  // Nothing under the chosen name changes; nothing temporary stays.
  virtual void Discard() = 0;
};

struct EepromContext {
  BusOpener& opener;
  ErrorSink& errors;
  ProgressSink& progress;
  Pacer& pacer;
  StopSignal* stop = nullptr;  // none: the run goes to its end
};
