// One I2C transaction is one KsProperty call on the capture filter, with
// the request and data block below (the KS bus makes them; the device
// addresses are the core's). The layout is the driver's: 48 and 8
// bytes in a 32-bit process. A 64-bit build keeps the same fields in their
// natural 64-bit places (pointers 8 bytes wide and 8-aligned).
#pragma once

#include "eeprom/bus.h"

#include <windows.h>
#include <objbase.h>

#include <ks.h>
#include <ksproxy.h>

#include <cstddef>

// mingw-w64 declares IKsControl without binding its IID to the type.
__CRT_UUID_DECL(IKsControl, 0x28F54685, 0x06FD, 0x11D2, 0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31,
                0x96)

// {FBB1C466-BE03-470F-9A8F-A2AA0FA2C0EE}
inline constexpr GUID PROPSETID_I2C_ACCESS = {
    0xFBB1C466, 0xBE03, 0x470F, {0x9A, 0x8F, 0xA2, 0xAA, 0x0F, 0xA2, 0xC0, 0xEE}};

// Flags: KSPROPERTY_TYPE_GET (1) reads, KSPROPERTY_TYPE_SET (2) writes.
struct I2CTransferRequest {
  KSPROPERTY Property;  // Set, Id (always 0), Flags
  BYTE DeviceAddress;   // 8-bit form: bus address << 1
  PBYTE SubAddress;     // 1 or 2 bytes, sent in buffer order
  ULONG SubAddressLength;
  PBYTE ReadBuffer;  // reads only
  ULONG ReadLength;  // reads only
  ULONG Spare;       // never set
};

struct I2CWriteData {
  PBYTE Buffer;  // writes only
  ULONG Length;  // writes only
};

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(offsetof(I2CTransferRequest, Property) == 0);
static_assert(offsetof(I2CTransferRequest, DeviceAddress) == 24);
static_assert(offsetof(I2CTransferRequest, SubAddress) == 28);
static_assert(offsetof(I2CTransferRequest, SubAddressLength) == 32);
static_assert(offsetof(I2CTransferRequest, ReadBuffer) == 36);
static_assert(offsetof(I2CTransferRequest, ReadLength) == 40);
static_assert(offsetof(I2CTransferRequest, Spare) == 44);
static_assert(sizeof(I2CTransferRequest) == 48);
static_assert(sizeof(I2CWriteData) == 8);
#elif defined(_M_X64) || defined(__x86_64__)
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(offsetof(I2CTransferRequest, DeviceAddress) == 24);
static_assert(offsetof(I2CTransferRequest, SubAddress) == 32);
static_assert(offsetof(I2CTransferRequest, SubAddressLength) == 40);
static_assert(offsetof(I2CTransferRequest, ReadBuffer) == 48);
static_assert(offsetof(I2CTransferRequest, ReadLength) == 56);
static_assert(offsetof(I2CTransferRequest, Spare) == 60);
static_assert(sizeof(I2CTransferRequest) == 64);
static_assert(sizeof(I2CWriteData) == 16);
#endif

// A request to `device` with its sub-address bytes at `subAddress`; the
// fields a transfer does not use stay zero.
inline I2CTransferRequest MakeI2CRequest(ULONG flags, BYTE device, BYTE* subAddress,
                                         ULONG subAddressLength) {
  I2CTransferRequest request = {};
  request.Property.Set = PROPSETID_I2C_ACCESS;
  request.Property.Id = 0;
  request.Property.Flags = flags;
  request.DeviceAddress = device;
  request.SubAddress = subAddress;
  request.SubAddressLength = subAddressLength;
  return request;
}

// What every call passes as the two lengths.
inline constexpr ULONG I2C_REQUEST_LENGTH = sizeof(I2CTransferRequest);
inline constexpr ULONG I2C_DATA_LENGTH = sizeof(I2CWriteData);
