// Entries that make the simulated card's filter known to the system device
// enumerator: the in-process server and the devices of the capture category.
// In the view of the calling process: the system redirects a 32-bit
// process's HKCR\CLSID to the registry's 32-bit view, where the 32-bit
// utility and its 32-bit card are looked up.
#pragma once

#include <windows.h>

#include <string>

namespace simcard {

// {1FB9A1AB-B317-41B1-B81E-9A08DB3CD9A7}
inline constexpr GUID CLSID_SimCard = {
    0x1FB9A1AB, 0xB317, 0x41B1, {0xB8, 0x1E, 0x9A, 0x08, 0xDB, 0x3C, 0xD9, 0xA7}};
inline constexpr wchar_t CLSID_SIMCARD_TEXT[] = L"{1FB9A1AB-B317-41B1-B81E-9A08DB3CD9A7}";
inline constexpr wchar_t CAPTURE_CATEGORY_TEXT[] = L"{65E8773D-8F56-11D0-A3B9-00A0C9223196}";
inline constexpr wchar_t CARD_FILTER_NAME[] = L"713x BDA Analog Capture";

// HKCR\CLSID\{clsid}\InprocServer32 = dllPath, ThreadingModel Both.
bool RegisterServer(const std::wstring& dllPath);
bool UnregisterServer();

// A device of the capture category under Instance\<key>, bound to the
// card's CLSID; a null name leaves FriendlyName out.
bool AddDevice(const std::wstring& key, const wchar_t* friendlyName);
bool RemoveDevice(const std::wstring& key);

}  // namespace simcard
