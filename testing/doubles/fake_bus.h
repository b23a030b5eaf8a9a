// A card's I2C bus in memory, behind the core's bus interface, that records
// every transfer. Tests share one Transcript between the bus and the fake
// seams, so a test can check the order of pauses, transfers, progress,
// boxes and the bus's release.
#pragma once

#include "eeprom/seams.h"
#include "testing/text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Codes a bus may answer with, as the KS bus's HRESULTs: a failure, a
// positive success code (a failure too: only 0 counts) and no device.
inline constexpr int32_t FAIL_CODE = static_cast<int32_t>(0x80004005);
inline constexpr int32_t POSITIVE_CODE = 1;
inline constexpr int32_t NO_DEVICE_CODE = static_cast<int32_t>(0x8007001F);

// One line per event, e.g. "pause 20", "W A0 [04] 2D", "R A0 [00 00] #4",
// "pos 8", "box ReadEEPROM: I2C-read to Board EEPROM failed", "released".
struct Transcript {
  std::vector<std::string> events;
  void Add(std::string event) { events.push_back(std::move(event)); }
  // The events that start with `prefix`, in order.
  std::vector<std::string> Only(const std::string& prefix) const;
};

struct Transfer {
  bool write = false;
  uint8_t device = 0;
  std::vector<uint8_t> subAddress;  // as sent
  std::vector<uint8_t> data;        // bytes written, or bytes delivered by a read
  size_t readLength = 0;
  int32_t result = 0;
};

enum class AddressOrder { LowFirst, HighFirst };

// A memory on the bus, addressed by 1 or 2 sub-address bytes.
struct BusDevice {
  std::vector<uint8_t> memory;
  AddressOrder order = AddressOrder::LowFirst;
  bool writeProtected = false;  // writes are acknowledged and not stored
};

class FakeBus : public I2CBus {
 public:
  explicit FakeBus(Transcript* transcript = nullptr);

  // Devices: a board EEPROM (0xA0, 256 bytes, low first), a DSP EEPROM
  // (0xA2, 32 KiB, high first) and a channel decoder (0x10, 256 registers).
  std::map<uint8_t, BusDevice> devices;

  // Decides each transfer's result by its 1-based number; 0 stores or
  // delivers, anything else delivers nothing.
  std::function<int32_t(size_t number, const Transfer&)> fault;
  void FailTransfer(size_t number, int32_t code = FAIL_CODE);
  // A failed read still overwrites its buffer with 0xA5, as a driver may
  // that fills the buffer and then answers a positive success code.
  bool failedReadsFillBuffer = false;

  std::vector<Transfer> transfers;

  BusStatus Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                  const uint8_t* data, size_t length) override;
  BusStatus Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                 uint8_t* buffer, size_t length) override;
  std::string Reason(int32_t code) const override;

 private:
  BusStatus Carry(Transfer& t, uint8_t* buffer);
  Transcript* m_transcript;
};

// ---- Fake seams --------------------------------------------------------------

class RecordingErrors : public ErrorSink {
 public:
  explicit RecordingErrors(Transcript* t) : m_t(t) {}
  void ShowError(const std::string& text) override;
  std::vector<std::string> texts;
  // Runs when a box is shown, before ShowError returns (the user's turn).
  std::function<void(const std::string&)> onShow;

 private:
  Transcript* m_t;
};

class RecordingProgress : public ProgressSink {
 public:
  explicit RecordingProgress(Transcript* t) : m_t(t) {}
  void SetPos(uint32_t pos) override;
  std::vector<int> positions;

 private:
  Transcript* m_t;
};

// Fake time: records each pause as "pause <ms>" and never waits.
class FakePacer : public Pacer {
 public:
  explicit FakePacer(Transcript* t) : m_t(t) {}
  void BeginRun() override;
  void Pause(uint32_t ms) override;
  void TransferEnded() override {}
  void EndRun() override;
  int pauses = 0;
  int openRuns = 0;

 private:
  Transcript* m_t;
};

// Answers "stop" from the `after`-th question on (1: the first).
class FakeStop : public StopSignal {
 public:
  bool StopRequested() const override { return ++asked >= after && after > 0; }
  int after = 0;  // 0: never
  mutable int asked = 0;
};

// Gives out `bus`, or fails (showing `failBoxes` first, as the real opening
// would). Records "open", "open failed" and "released" when a bus it gave
// out goes.
class FakeOpener : public BusOpener {
 public:
  FakeOpener(I2CBus* bus, Transcript* t) : m_bus(bus), m_t(t) {}
  std::unique_ptr<I2CBus> Open(ErrorSink& errors) override;
  bool fail = false;
  std::vector<std::string> failBoxes;
  int opened = 0;
  int held = 0;  // buses given out and not yet released

 private:
  I2CBus* m_bus;
  Transcript* m_t;
};

// Stands for the image file: records "image <n>", "commit", "discard"; can
// fail the n-th write or the commit. `saved` is what the chosen name holds.
class MemoryImage : public ImageSink {
 public:
  explicit MemoryImage(Transcript* t = nullptr) : m_t(t) {}
  bool Write(const uint8_t* data, size_t length, std::string* reason) override;
  bool Commit(std::string* reason) override;
  void Discard() override;

  std::vector<uint8_t> pending;  // the temporary file
  std::vector<uint8_t> saved;    // under the chosen name
  bool hasPending = true;        // the temporary file exists
  int writes = 0, failWriteAt = 0;
  bool failCommit = false;
  int commits = 0, discards = 0;

 private:
  Transcript* m_t;
};

// Everything one operation test needs, wired to one transcript.
struct BusFixture {
  Transcript transcript;
  FakeBus bus{&transcript};
  RecordingErrors errors{&transcript};
  RecordingProgress progress{&transcript};
  FakePacer pacer{&transcript};
  FakeOpener opener{&bus, &transcript};
  EepromContext ctx{opener, errors, progress, pacer};
};
