// The simulated tuner card: its I2C bus with the board EEPROM, the DSP
// EEPROM behind the channel decoder's gate and the channel decoder, kept
// in a state directory so that a second run sees what the first wrote.
//
// State directory (SIMCARD_DIR, default C:\simcard\):
//   board.bin (256 bytes), dsp.bin (32768), chdec.bin (256 registers)
//     held open (sharing reading, writing and deletion) while the card
//     lives; every write transfer writes the bytes it changed at their
//     offset, so another process sees them at once, and two cards on one
//     directory do not undo each other's writes. A missing file, or one of
//     the wrong size, is made from the preset named by SIMCARD_CARD, or else
//     by card.txt in the directory (default "reflash");
//   fault.txt   the fault plan, read when the card is loaded, one rule a line:
//     fail <n> [hresult]    transfer n (1-based, per process) returns hresult
//                           (default E_FAIL) and moves nothing
//     write-protect board   writes to the board EEPROM are acknowledged and
//                           not stored (also: dsp, chdec)
//     no-kscontrol          the filter refuses IKsControl
//   transfers.log  one line per transfer, appended:
//     <us> <n> <R|W> <dev> sub=[<bytes>] len=<n> data=[<bytes>] hr=0x<hr>
//     and lines "<us> # <note>" for loads, filter creations and refusals.
#pragma once

#include "device/i2c.h"
#include "testing/simcard/model.h"
#include "testing/text.h"

#include <array>
#include <map>
#include <string>
#include <vector>

namespace simcard {

// Results the bus gives when no device answers or an address is out of reach.
inline constexpr HRESULT NO_ACK = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
inline constexpr HRESULT BAD_ADDRESS = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);

struct FaultPlan {
  std::map<unsigned long, HRESULT> failures;  // transfer number -> result
  Protection protect;
  bool noKsControl = false;
};
// Lines it does not understand are reported in `errors` and ignored.
FaultPlan ParseFaultPlan(const std::string& text, std::vector<std::string>* errors = nullptr);

// The directory from SIMCARD_DIR, with a trailing backslash.
std::wstring StateDirectory();

// Writes the state files of a card into `dir` (created if missing) and
// removes a fault plan and a log left there.
bool WriteCard(const std::wstring& dir, const Contents& contents);

class Card {
 public:
  // Loads the state files (making missing ones from the preset) and the
  // fault plan; opens the log.
  explicit Card(std::wstring dir);
  ~Card();
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  const FaultPlan& faults() const { return m_faults; }
  const Contents& contents() const { return m_contents; }

  // One KsProperty call, checked and carried out. Every call counts as a
  // transfer for the fault plan, well-formed or not.
  HRESULT Transfer(PKSPROPERTY property, ULONG propertyLength, void* data, ULONG dataLength,
                   ULONG* bytesReturned);

  // The DSP EEPROM answers only while the channel decoder is held open.
  bool GateOpen() const { return simcard::GateOpen(m_contents.chdec); }

  void Note(const std::string& text);

 private:
  std::vector<BYTE>& MemoryOf(BYTE device);
  // Writes `length` bytes of the device's memory from `address` (wrapping
  // at its end) to its state file.
  void Store(BYTE device, size_t address, size_t length);
  void Log(const std::string& line, long long at = 0);

  std::wstring m_dir;
  Contents m_contents;
  FaultPlan m_faults;
  unsigned long m_transfers = 0;
  // board.bin, dsp.bin, chdec.bin, open while the card lives.
  HANDLE m_files[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  HANDLE m_log = INVALID_HANDLE_VALUE;
};

// Microseconds on QueryPerformanceCounter's clock, which all processes of
// the session share.
long long NowMicroseconds();

}  // namespace simcard
