// Whether the test runs under Wine, told at run time: Wine's ntdll exports
// its version, Windows' does not. Tests that change registrations every
// program of the machine relies on run only in the scratch Wine prefix.
#pragma once

#include <windows.h>

inline bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// Why such a test skips elsewhere: on Windows, as administrator, it would
// remove every capture device's registration.
inline constexpr char kNotUnderWine[] =
    "not under Wine: emptying the capture category would remove this machine's capture devices";
