#include "app/verdict.h"

#include <cstddef>
#include <iterator>

namespace {

// One row per verdict, in the enum's order. The numbers in the texts are
// fixed wording, not formatted from the IDs read.
constexpr VerdictEffect kVerdictEffects[] = {
    // WrongSubVendor
    {nullptr, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!", -1, VerdictButton::ReFlash},
    // NeedsReflash: the status keeps its prompt to press ReFlash.
    {L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM...", nullptr, -1, VerdictButton::Exit},
    // AlreadyCorrect: the bar still has its initial range 0-100, so it shows full.
    {nullptr, L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.", 100,
     VerdictButton::ReFlash},
    // OtherBoard
    {L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board",
     L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.", -1,
     VerdictButton::ReFlash},
};
static_assert(std::size(kVerdictEffects) == static_cast<size_t>(BoardVerdict::OtherBoard) + 1);

}  // namespace

const VerdictEffect& EffectOf(BoardVerdict verdict) {
  const auto row = static_cast<size_t>(verdict);
  // A value outside the enum is treated like the safe outcome: ReFlash off.
  return kVerdictEffects[row < std::size(kVerdictEffects) ? row : 0];
}
