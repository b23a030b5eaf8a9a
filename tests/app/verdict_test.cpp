// What the dialog shows for each verdict of the identity check.
#include "app/verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Text(const wchar_t* text) { return text ? text : L"(unchanged)"; }

TEST(EffectOf, EachVerdictsBoxStatusBarAndButton) {
  const struct {
    BoardVerdict verdict;
    const wchar_t* box;
    const wchar_t* status;
    int pos;
    VerdictButton disable;
  } cases[] = {
      {BoardVerdict::WrongSubVendor, nullptr, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!", -1,
       VerdictButton::ReFlash},
      {BoardVerdict::NeedsReflash, L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM...",
       nullptr, -1, VerdictButton::Exit},
      {BoardVerdict::AlreadyCorrect, nullptr,
       L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.", 100,
       VerdictButton::ReFlash},
      {BoardVerdict::OtherBoard, L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board",
       L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.", -1,
       VerdictButton::ReFlash},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.verdict));
    const VerdictEffect& e = EffectOf(c.verdict);
    EXPECT_EQ(Text(e.errorBox), Text(c.box));
    EXPECT_EQ(Text(e.status), Text(c.status));
    EXPECT_EQ(e.progressPos, c.pos);
    EXPECT_EQ(e.disable, c.disable);
  }
}

}  // namespace
