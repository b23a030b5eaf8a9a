#include "device/ks_bus.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t MAX_SUB_ADDRESS = 2;  // what the driver takes

// One request to `device`: the read fields for a read, the data block for
// a write, the rest zero; the two lengths every call passes. The driver's
// counter starts at 0 and is not read afterwards.
BusStatus Send(IKsControl* control, ULONG flags, uint8_t device, const uint8_t* subAddress,
               size_t subAddressLength, BYTE* readBuffer, size_t readLength, const uint8_t* data,
               size_t length) {
  if (subAddressLength == 0 || subAddressLength > MAX_SUB_ADDRESS)
    return {false, static_cast<int32_t>(E_INVALIDARG)};
  BYTE sub[MAX_SUB_ADDRESS] = {};
  std::copy(subAddress, subAddress + subAddressLength, sub);
  I2CTransferRequest request =
      MakeI2CRequest(flags, device, sub, static_cast<ULONG>(subAddressLength));
  request.ReadBuffer = readBuffer;
  request.ReadLength = static_cast<ULONG>(readLength);
  I2CWriteData block = {};
  block.Buffer = const_cast<BYTE*>(data);  // the driver only reads it
  block.Length = static_cast<ULONG>(length);
  ULONG returned = 0;
  const HRESULT hr = control->KsProperty(&request.Property, I2C_REQUEST_LENGTH, &block,
                                         I2C_DATA_LENGTH, &returned);
  return {hr == S_OK, static_cast<int32_t>(hr)};
}

}  // namespace

BusStatus KsBus::Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                       const uint8_t* data, size_t length) {
  return Send(m_handle.get(), KSPROPERTY_TYPE_SET, device, subAddress, subAddressLength, nullptr, 0,
              data, length);
}

BusStatus KsBus::Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                      uint8_t* buffer, size_t length) {
  std::vector<BYTE> own(length);
  const BusStatus status = Send(m_handle.get(), KSPROPERTY_TYPE_GET, device, subAddress,
                                subAddressLength, own.data(), length, nullptr, 0);
  if (status.ok) std::copy(own.begin(), own.end(), buffer);
  return status;
}

std::string KsBus::Reason(int32_t code) const {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX",
                static_cast<unsigned long>(static_cast<uint32_t>(code)));
  std::string text = hex;
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length > 0 && message) {
    std::wstring words(message, length);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.'))
      words.pop_back();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, words.data(), static_cast<int>(words.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      std::string utf8(static_cast<size_t>(size), '\0');
      ::WideCharToMultiByte(CP_UTF8, 0, words.data(), static_cast<int>(words.size()), &utf8[0],
                            size, nullptr, nullptr);
      text += " (" + utf8 + ")";
    }
  }
  if (message) ::LocalFree(message);
  return text;
}

std::unique_ptr<I2CBus> AnalogCaptureOpener::Open(ErrorSink& errors) {
  auto bus = std::make_unique<KsBus>();
  if (!OpenAnalogCaptureControl(&bus->handle(), errors)) return nullptr;
  return bus;
}
