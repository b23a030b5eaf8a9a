// How the test tools print bytes ("2D 6B 21 3A") and texts (ASCII only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string Hex(const uint8_t* bytes, size_t count) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

inline std::string Narrow(const std::wstring& text) {
  std::string s;
  for (wchar_t c : text) s += c < 128 ? static_cast<char>(c) : '?';
  return s;
}
