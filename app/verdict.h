// What the dialog shows for each verdict of the start-up identity check.
#pragma once

#include "eeprom/eeprom.h"

enum class VerdictButton { Exit, ReFlash };

// In this order: box, status, bar, the button it disables. Null texts and
// a negative position mean "leave unchanged".
struct VerdictEffect {
  const wchar_t* errorBox;
  const wchar_t* status;
  int progressPos;
  VerdictButton disable;
};

const VerdictEffect& EffectOf(BoardVerdict verdict);
