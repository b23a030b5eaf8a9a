// The card's I2C bus through Linux's i2c-dev: /dev/i2c-N, asked for its
// abilities before the first transfer, each transfer one I2C_RDWR call.
#pragma once

#include "eeprom/bus.h"
#include "eeprom/seams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A file descriptor owned for a scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int m_fd;
};

// "/dev/i2c-3"
std::string AdapterPath(int adapter);

// The bus address of a device the product names in its 8-bit form
// (0xA0 is 0x50).
inline constexpr uint16_t BusAddress(uint8_t device) { return device >> 1; }

class I2CDevBus : public I2CBus {
 public:
  explicit I2CDevBus(UniqueFd fd) : m_fd(std::move(fd)) {}

  // One message: sub-address then data, ended by a stop.
  BusStatus Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                  const uint8_t* data, size_t length) override;
  // A write message of the sub-address, then a read message after a
  // repeated start, in one call. `buffer` changes only on success.
  BusStatus Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                 uint8_t* buffer, size_t length) override;
  // strerror of -code.
  std::string Reason(int32_t code) const override;

 private:
  UniqueFd m_fd;
};

// What opening an adapter found. `bus` is null when it was refused; then
// `error` says why, naming the node: it could not be opened, its
// abilities could not be read, or it has no plain I2C (an SMBus-only
// controller, like a motherboard's, where memory modules answer at the
// same addresses as the card's EEPROMs).
struct AdapterOpening {
  std::unique_ptr<I2CDevBus> bus;
  std::string error;
};
AdapterOpening OpenAdapter(int adapter);

// Opens the adapter for each operation; a refusal is reported through the
// error sink and no bus is given.
class I2CDevOpener : public BusOpener {
 public:
  explicit I2CDevOpener(int adapter) : m_adapter(adapter) {}
  std::unique_ptr<I2CBus> Open(ErrorSink& errors) override;

 private:
  int m_adapter;
};

// One line of `list`.
struct AdapterInfo {
  int number = 0;
  std::string name;  // from sysfs; empty when none could be read
  bool opened = false;
  std::string openError;
  bool plainI2C = false;
  enum class Probe { NotProbed, Answered, NoAnswer } probe = Probe::NotProbed;
  uint8_t identity[4] = {};  // Answered: bytes 0-3 of the board EEPROM
  std::string probeError;    // NoAnswer: the system's reason
};

// The i2c-dev adapters, by number, from /sys/class/i2c-dev. Each one with
// plain I2C is probed for the board EEPROM with the least intrusive read:
// one sub-address byte 0x00 and 4 bytes from bus address 0x50. Nothing is
// written. `error` is set when the adapters cannot be listed at all.
std::vector<AdapterInfo> ListAdapters(std::string* error);
