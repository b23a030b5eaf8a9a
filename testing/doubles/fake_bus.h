// A card's I2C bus in memory, behind IKsControl, that records every
// transfer. Tests share one Transcript between the bus and the fake seams,
// so a test can check the order of pauses, transfers, progress and boxes.
#pragma once

#include "device/i2c.h"
#include "testing/text.h"
#include "eeprom/seams.h"

#include <wrl/client.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// One line per event, e.g. "pause 20", "W A0 [04] 2D", "R A0 [00 00] #4",
// "pos 8", "box ReadEEPROM: I2C-read to Board EEPROM failed".
struct Transcript {
  std::vector<std::string> events;
  void Add(std::string event) { events.push_back(std::move(event)); }
  // The events that start with `prefix`, in order.
  std::vector<std::string> Only(const std::string& prefix) const;
};

struct Transfer {
  bool write = false;
  BYTE device = 0;
  std::vector<BYTE> subAddress;  // as sent: SubAddressLength bytes
  std::vector<BYTE> data;        // bytes written, or bytes delivered by a read
  ULONG readLength = 0;
  HRESULT result = S_OK;
};

enum class AddressOrder { LowFirst, HighFirst };

// A memory on the bus: `size` bytes, addressed by 1 or 2 sub-address bytes.
struct BusDevice {
  std::vector<BYTE> memory;
  AddressOrder order = AddressOrder::LowFirst;
  bool writeProtected = false;  // writes are acknowledged and not stored
};

class FakeBus : public IKsControl {
 public:
  explicit FakeBus(Transcript* transcript = nullptr);
  virtual ~FakeBus() = default;

  // Devices: a board EEPROM (0xA0, 256 bytes, low first), a DSP EEPROM
  // (0xA2, 32 KiB, high first) and a channel decoder (0x10, 256 registers).
  std::map<BYTE, BusDevice> devices;

  // Decides each transfer's result by its 1-based number; S_OK stores or
  // delivers, anything else delivers nothing.
  std::function<HRESULT(size_t number, const Transfer&)> fault;
  void FailTransfer(size_t number, HRESULT hr = E_FAIL);
  // A failed read still overwrites its buffer with 0xA5, as a driver may
  // that fills the buffer and then answers a positive success code.
  bool failedReadsFillBuffer = false;
  // Every call sets the returned-bytes counter to 0xFFFFFFFF, as a driver
  // that reports nonsense may; otherwise the counter is left alone.
  bool misreportCount = false;

  std::vector<Transfer> transfers;
  // Requests that arrived with wrong lengths, flags or set.
  int malformed = 0;
  LONG refs() const { return m_refs; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IKsControl
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data, ULONG dataLength,
                          ULONG* bytesReturned) override;
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }

 private:
  Transcript* m_transcript;
  LONG m_refs = 1;  // the test's own, on the stack
};

// ---- Fake seams --------------------------------------------------------

class RecordingErrors : public ErrorSink {
 public:
  explicit RecordingErrors(Transcript* t) : m_t(t) {}
  void ShowError(const std::wstring& text) override;
  std::vector<std::wstring> texts;
  // Runs when a box is shown, before ShowError returns (the user's turn).
  std::function<void(const std::wstring&)> onShow;

 private:
  Transcript* m_t;
};

class RecordingProgress : public ProgressSink {
 public:
  explicit RecordingProgress(Transcript* t) : m_t(t) {}
  void SetPos(int pos) override;
  std::vector<int> positions;

 private:
  Transcript* m_t;
};

// Fake time: records each pause as "pause <ms>" and never waits.
class FakePacer : public Pacer {
 public:
  explicit FakePacer(Transcript* t) : m_t(t) {}
  void BeginRun() override;
  void Pause(DWORD ms) override;
  void TransferEnded() override {}
  void EndRun() override;
  int pauses = 0;
  int openRuns = 0;

 private:
  Transcript* m_t;
};

// Opens a handle on `bus`, or fails (showing `failBoxes` first, as the real
// opening would). Records "open" and "open failed".
class FakeOpener : public ControlOpener {
 public:
  FakeOpener(FakeBus* bus, Transcript* t) : m_bus(bus), m_t(t) {}
  bool Open(CaptureControl* handle, ErrorSink& errors) override;
  bool fail = false;
  std::vector<std::wstring> failBoxes;
  int opened = 0;

 private:
  FakeBus* m_bus;
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
