// The card's I2C bus as the EEPROM core sees it: one write and one combined
// read, each one whole transaction. Platforms implement it (the capture
// driver's property set on Windows, /dev/i2c-N on Linux); tests put a bus
// in memory behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Device addresses in the 8-bit form the card's software uses: the 7-bit
// bus address shifted left by one (0xA0 is bus address 0x50).
inline constexpr uint8_t BOARD_EEPROM_ADDRESS = 0xA0;
inline constexpr uint8_t DSP_EEPROM_ADDRESS = 0xA2;
inline constexpr uint8_t CHANNEL_DECODER_ADDRESS = 0x10;

// The result of one transfer. `code` is the platform's own (an HRESULT on
// Windows, -errno on Linux), kept for messages; only `ok` decides.
struct BusStatus {
  bool ok = true;
  int32_t code = 0;
};

class I2CBus {
 public:
  virtual ~I2CBus() = default;
  // One transaction: the sub-address bytes, then the data bytes.
  virtual BusStatus Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                          const uint8_t* data, size_t length) = 0;
  // Sub-address bytes, repeated start, `length` bytes into `buffer`.
  // On failure `buffer` is left exactly as it was.
  virtual BusStatus Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                         uint8_t* buffer, size_t length) = 0;
  // The platform's words for a failure code ("Remote I/O error",
  // "0x80004005"), for messages that name the reason.
  virtual std::string Reason(int32_t code) const = 0;
};

class ErrorSink;

// Gives a command a bus for one operation. The bus is released when the
// pointer goes, on every path. Null: the opener has reported why through
// `errors` (its boxes, in their order) and nothing is held.
class BusOpener {
 public:
  virtual ~BusOpener() = default;
  virtual std::unique_ptr<I2CBus> Open(ErrorSink& errors) = 0;
};
