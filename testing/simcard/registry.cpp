#include "testing/simcard/registry.h"

namespace simcard {

namespace {

std::wstring InstanceKey(const std::wstring& key) {
  return std::wstring(L"CLSID\\") + CAPTURE_CATEGORY_TEXT + L"\\Instance\\" + key;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeleteTree(const std::wstring& path) {
  const LSTATUS rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
  RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  return true;
}

}  // namespace

bool RegisterServer(const std::wstring& dllPath) {
  HKEY key;
  const std::wstring path = std::wstring(L"CLSID\\") + CLSID_SIMCARD_TEXT + L"\\InprocServer32";
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok = SetString(key, nullptr, dllPath) && SetString(key, L"ThreadingModel", L"Both");
  RegCloseKey(key);
  return ok;
}

bool UnregisterServer() { return DeleteTree(std::wstring(L"CLSID\\") + CLSID_SIMCARD_TEXT); }

bool AddDevice(const std::wstring& key, const wchar_t* friendlyName) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, InstanceKey(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = SetString(k, L"CLSID", CLSID_SIMCARD_TEXT);
  if (friendlyName) ok = ok && SetString(k, L"FriendlyName", friendlyName);
  RegCloseKey(k);
  return ok;
}

bool RemoveDevice(const std::wstring& key) { return DeleteTree(InstanceKey(key)); }

}  // namespace simcard
