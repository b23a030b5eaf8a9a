// The core's texts are UTF-8; the dialog's windows and boxes are UTF-16.
#pragma once

#include <string>

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
