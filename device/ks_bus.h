// The card's I2C bus through the capture filter's control handle: each
// transfer is one KsProperty call on the driver's I2C property set. This
// is the one place in the product that fills the driver's request.
#pragma once

#include "device/capture_control.h"
#include "eeprom/bus.h"

#include <memory>
#include <string>

class KsBus : public I2CBus {
 public:
  KsBus() = default;

  // The handle the bus sends through; it is released (control, filter,
  // graph) when the bus goes.
  CaptureControl& handle() { return m_handle; }

  // Only an answer of exactly S_OK is a transfer; a positive success code
  // is a failure like any other. The driver's count of returned bytes is
  // never looked at.
  BusStatus Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                  const uint8_t* data, size_t length) override;
  // The driver reads into a buffer of the bus's own, copied to `buffer`
  // only on success: a driver may fill the buffer of a read it fails.
  BusStatus Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                 uint8_t* buffer, size_t length) override;
  // "0x80004005 (Unspecified error)"
  std::string Reason(int32_t code) const override;

 private:
  CaptureControl m_handle;
};

// Opens the card's analog capture filter for one operation, with the
// opening's boxes in their order when it fails.
class AnalogCaptureOpener : public BusOpener {
 public:
  std::unique_ptr<I2CBus> Open(ErrorSink& errors) override;
};
