// Message boxes recorded instead of shown, through the framework's box seam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Box {
  HWND owner;
  std::wstring text, caption;
  UINT type;
};
inline std::vector<Box> g_boxes;

inline int WINAPI RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  g_boxes.push_back({owner, text, caption, type});
  return IDOK;
}
