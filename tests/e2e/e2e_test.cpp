// The utility end to end: the built program, started as a user would start
// it, on the simulated card, driven through its windows. Every test has a
// card directory of its own (SIMCARD_DIR), written before the start.
#include "testing/text.h"
#include "testing/uidriver/uidriver.h"
#include "tests/e2e/support.h"
#include "tests/e2e/utility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace uidriver;
using simcard::Preset;

namespace {

::testing::Environment* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new e2e::CardRegistration(SIMCARD_DLL));

using e2e::kInitialStatus;
using e2e::kReFlashButton;
using e2e::kSaveCommand;
using e2e::kWait;
using e2e::kWritten;

constexpr wchar_t kWrongVendor[] = L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!";
constexpr wchar_t kCorrect[] = L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.";
constexpr wchar_t kProgramming[] = L"Programming the Board-EEPROM...";
constexpr wchar_t kWriteFailed[] = L"Writing to Board-EEPROM failed!!!";
constexpr wchar_t kWriteBoxText[] = L"ReadEEPROM: I2C-write to Board-EEPROM failed";

// The built utility; what its driver finds wrong fails the test.
class Utility : public e2e::Utility {
 public:
  Utility()
      : e2e::Utility(e2e::WindowsPath(UTILITY_EXE),
                     [](const std::string& problem) { ADD_FAILURE() << problem; }) {}
};

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::FileExists(e2e::WindowsPath(UTILITY_EXE)))
      GTEST_SKIP() << "the utility is not built: " << UTILITY_EXE;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = e2e::ScratchDir(std::string(info->test_suite_name()) + "-" + info->name());
  }

  void MakeCard(Preset preset, const std::string& faults = "") {
    ASSERT_TRUE(simcard::WriteCard(dir, simcard::PresetContents(preset)));
    if (!faults.empty()) {
      ASSERT_TRUE(e2e::WriteText(dir + L"fault.txt", faults));
    }
  }
  std::vector<BYTE> Board() const { return e2e::ReadBytes(dir + L"board.bin"); }

  // Starts the utility and brings its dialog up, answering the start-up boxes.
  void StartToDialog(Utility& app, std::vector<std::wstring>* boxes = nullptr) {
    ASSERT_TRUE(app.Start(dir)) << "could not start " << UTILITY_EXE;
    const auto texts = app.AnswerBoxesUntilDialog();
    if (boxes) *boxes = texts;
    ASSERT_TRUE(app.dialog()) << "the dialog did not come up";
  }

  std::wstring dir;
};

// ---- Start-up verdicts ------------------------------------------------------

struct StartCase {
  const char* name;
  Preset preset;
  const char* faults;
  bool noCard;  // no device entry at all
  std::vector<std::wstring> boxes;
  const wchar_t* status;
  bool reflashEnabled;
  int barPos;  // of the initial range 0..100
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

const StartCase kStartCases[] = {
    {"NeedsReflash", Preset::Reflash, "", false, {e2e::kNeedsReflashBox}, kInitialStatus, true, 0},
    {"AlreadyCorrect", Preset::Correct, "", false, {}, kCorrect, false, 100},
    {"OtherBoard",
     Preset::Other,
     "",
     false,
     {L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board"},
     L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.",
     false,
     0},
    {"WrongSubVendor", Preset::WrongVendor, "", false, {}, kWrongVendor, false, 0},
    {"IdentityReadFails",
     Preset::Reflash,
     "fail 1 0x80004005\n",
     false,
     {L"ReadEEPROM: I2C-read to Board EEPROM failed"},
     kWrongVendor,
     false,
     0},
    {"IdentityReadAnswersPositive",
     Preset::Correct,
     "fail 1 0x00000001\n",
     false,
     {L"ReadEEPROM: I2C-read to Board EEPROM failed"},
     kWrongVendor,
     false,
     0},
    {"FilterWithoutKsControl",
     Preset::Reflash,
     "no-kscontrol\n",
     false,
     {L"Couldn't get interface handle!"},
     kWrongVendor,
     false,
     0},
    {"NoCard",
     Preset::Reflash,
     "",
     true,
     {L"FindFilterByName: Couldn't find enumerator!", L"Couldn't find AnalogCaptureFilter!"},
     kWrongVendor,
     false,
     0},
};

class StartUp : public E2eTest, public ::testing::WithParamInterface<StartCase> {
 protected:
  void TearDown() override {
    if (GetParam().noCard) {
      EXPECT_TRUE(simcard::AddDevice(simcard::CLSID_SIMCARD_TEXT, simcard::CARD_FILTER_NAME));
    }
  }
};

TEST_P(StartUp, ShowsTheVerdictAndEscEndsTheProgram) {
  const StartCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeCard(c.preset, c.faults));
  if (c.noCard) {
    ASSERT_TRUE(simcard::RemoveDevice(simcard::CLSID_SIMCARD_TEXT));
  }
  Utility app;
  std::vector<std::wstring> boxes;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(app, &boxes));

  std::vector<std::string> got, want;
  for (const auto& b : boxes) got.push_back(Narrow(b));
  for (const auto& b : c.boxes) want.push_back(Narrow(b));
  EXPECT_EQ(got, want) << "boxes before the dialog, in order";
  EXPECT_EQ(Narrow(app.Status()), Narrow(c.status));
  EXPECT_EQ(app.Enabled(kReFlashButton), c.reflashEnabled);
  EXPECT_EQ(app.Enabled(IDOK), !c.reflashEnabled) << "Exit";
  const Progress bar = app.Bar();
  EXPECT_EQ(bar.low, 0);
  EXPECT_EQ(bar.high, 100);
  EXPECT_EQ(bar.pos, c.barPos);

  // Esc ends it in every verdict, Exit disabled or not.
  PressEscape(app.dialog());
  EXPECT_TRUE(app.WaitExit(10000)) << "Esc did not end the program";
}

INSTANTIATE_TEST_SUITE_P(Verdicts, StartUp, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- ReFlash ------------------------------------------------------------------

using ReFlash = E2eTest;

std::vector<e2e::LogEntry> BoardWrites(const std::vector<e2e::LogEntry>& log) {
  std::vector<e2e::LogEntry> writes;
  for (const auto& e : log)
    if (e.write && e.device == BOARD_EEPROM_ADDRESS) writes.push_back(e);
  return writes;
}

TEST_F(ReFlash, WritesTheImagePacedAndTheNextStartFindsTheBoardCorrect) {
  ASSERT_NO_FATAL_FAILURE(MakeCard(Preset::Reflash));
  {
    Utility app;
    ASSERT_NO_FATAL_FAILURE(StartToDialog(app));
    const long long clicked = simcard::NowMicroseconds();
    Click(app.dialog(), kReFlashButton);
    // The status line is readable while the handler holds the thread.
    EXPECT_TRUE(app.WaitStatus(kProgramming, 5000));
    ASSERT_TRUE(app.WaitStatus(kWritten, 30000)) << "status: " << Narrow(app.Status());
    const long long done = simcard::NowMicroseconds();
    // The buttons change after the status line.
    EXPECT_TRUE(app.WaitEnabled(IDOK, true)) << "Exit";
    EXPECT_FALSE(app.Enabled(kReFlashButton));
    const Progress bar = app.Bar();
    EXPECT_EQ(bar.high, 256);
    EXPECT_EQ(bar.pos, 256);
    EXPECT_EQ(Board(), e2e::ExpectedImage());

    const auto log = e2e::ReadLog(dir);
    const auto writes = BoardWrites(log);
    ASSERT_EQ(writes.size(), 256u);
    std::vector<int> offsets;
    long long shortest = 1LL << 62;
    for (size_t i = 0; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].sub.size(), 1u) << "a 256-byte part takes one address byte";
      EXPECT_EQ(writes[i].length, 1u);
      EXPECT_EQ(writes[i].hr, 0u);
      offsets.push_back(writes[i].sub.empty() ? -1 : writes[i].sub[0]);
      if (i > 0) shortest = std::min(shortest, writes[i].at - writes[i - 1].at);
    }
    // The identity goes last, so a broken-off run leaves it as it was.
    std::vector<int> expectedOrder;
    for (int o = 4; o < 256; ++o) expectedOrder.push_back(o);
    for (int o = 0; o < 4; ++o) expectedOrder.push_back(o);
    EXPECT_EQ(offsets, expectedOrder);
    EXPECT_GE(shortest, 20000) << "microseconds between two writes";

    // Then it reads the whole part back.
    size_t readBack = 0;
    for (const auto& e : log)
      if (!e.write && e.at > writes.back().at && e.device == BOARD_EEPROM_ADDRESS)
        readBack += e.length;
    EXPECT_EQ(readBack, 256u);

    const double run = (log.back().at - clicked) / 1e6;
    const double span = (writes.back().at - writes.front().at) / 1e6;
    std::printf(
        "ReFlash: 256 writes, shortest gap %.2f ms, first to last write %.3f s; "
        "click to last transfer %.3f s = %.3f x 5.12 s (status seen after %.3f s)\n",
        shortest / 1000.0, span, run, run / 5.12, (done - clicked) / 1e6);
    RecordProperty("reflash_ratio", std::to_string(run / 5.12));

    Click(app.dialog(), IDOK);
    EXPECT_TRUE(app.WaitExit(10000)) << "Exit did not end the program";
  }

  Utility again;
  std::vector<std::wstring> boxes;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(again, &boxes));
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(Narrow(again.Status()), Narrow(kCorrect));
  EXPECT_FALSE(again.Enabled(kReFlashButton));
}

struct FailCase {
  const char* name;
  unsigned long transfer;  // transfer 1 is the identity read at start-up
  const char* result;
  bool retry;  // click ReFlash again afterwards
};

class ReFlashFailure : public E2eTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(ReFlashFailure, ReportsTheFailureAndKeepsTheIdentity) {
  const FailCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeCard(
      Preset::Reflash, "fail " + std::to_string(c.transfer) + " " + std::string(c.result) + "\n"));
  const std::vector<BYTE> before = Board();
  Utility app;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(app));
  Click(app.dialog(), kReFlashButton);
  EXPECT_EQ(Narrow(app.AnswerNextBox()), Narrow(kWriteBoxText));
  ASSERT_TRUE(app.WaitStatus(kWriteFailed)) << "status: " << Narrow(app.Status());
  Progress bar = app.Bar();
  EXPECT_EQ(bar.high, 256);
  EXPECT_EQ(bar.pos, 0);
  EXPECT_TRUE(app.Enabled(kReFlashButton));
  EXPECT_FALSE(app.Enabled(IDOK)) << "Exit stays disabled";

  // Nothing after the failed write; the identity is untouched.
  const auto writes = BoardWrites(e2e::ReadLog(dir));
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back().number, c.transfer);
  EXPECT_EQ(writes.size(), c.transfer - 1);
  const std::vector<BYTE> after = Board();
  ASSERT_EQ(after.size(), 256u);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 4, before.begin()));

  if (!c.retry) return;
  // A second run starts again from the beginning and completes.
  Click(app.dialog(), kReFlashButton);
  ASSERT_TRUE(app.WaitStatus(kWritten, 30000)) << "status: " << Narrow(app.Status());
  EXPECT_EQ(Board(), e2e::ExpectedImage());
  EXPECT_EQ(BoardWrites(e2e::ReadLog(dir)).size(), c.transfer - 1 + 256);
}

const FailCase kFailCases[] = {
    {"FirstWrite", 2, "0x80004005", false},
    {"HundredthWriteAnswersPositive", 101, "0x00000001", true},
};

INSTANTIATE_TEST_SUITE_P(AtByte, ReFlashFailure, ::testing::ValuesIn(kFailCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReFlash, WriteProtectedEepromIsCaughtByTheReadBack) {
  ASSERT_NO_FATAL_FAILURE(MakeCard(Preset::Reflash, "write-protect board\n"));
  const std::vector<BYTE> before = Board();
  Utility app;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(app));
  Click(app.dialog(), kReFlashButton);
  const std::wstring box = app.AnswerNextBox();
  std::printf("box after a write-protected run: %s\n", Narrow(box).c_str());
  EXPECT_NE(box.find(L"verification failed"), std::wstring::npos) << Narrow(box);
  ASSERT_TRUE(app.WaitStatus(kWriteFailed)) << "status: " << Narrow(app.Status());
  EXPECT_EQ(app.Bar().pos, 0);
  EXPECT_TRUE(app.Enabled(kReFlashButton));
  EXPECT_EQ(Board(), before);
}

// ---- About and save -------------------------------------------------------------

TEST_F(E2eTest, AboutBoxOpensFromTheSystemMenuAndOkClosesIt) {
  ASSERT_NO_FATAL_FAILURE(MakeCard(Preset::Correct));
  Utility app;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(app));
  SysCommand(app.dialog(), 0x0010);
  HWND about = nullptr;
  ASSERT_TRUE(
      WaitFor([&] { return (about = FindDialog(app.pid(), L"About Bravik", true)); }, kWait));
  bool versionLine = false;
  for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    versionLine = versionLine || Text(c) == L"REVADAD86IRaziz Version 1.0";
  EXPECT_TRUE(versionLine);
  EXPECT_FALSE(IsWindowEnabled(app.dialog())) << "the main dialog waits for the box";

  Click(about, IDOK);
  EXPECT_TRUE(WaitFor([&] { return !Exists(about) || !IsWindowVisible(about); }, kWait));
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(app.dialog()) != FALSE; }, kWait));
  Click(app.dialog(), IDOK);
  EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(E2eTest, SaveCommandWritesTheBoardEepromToTheChosenFile) {
  ASSERT_NO_FATAL_FAILURE(MakeCard(Preset::Reflash));
  const std::wstring target = dir + L"dump";
  ASSERT_TRUE(e2e::WriteText(target + L".bin", std::string(1000, 'x')));
  Utility app;
  ASSERT_NO_FATAL_FAILURE(StartToDialog(app));
  ASSERT_FALSE(app.Enabled(IDOK));

  auto saveAs = [&] {
    HWND d = nullptr;
    WaitFor([&] { return (d = FindDialog(app.pid(), L"Save As", true)) != nullptr; }, kWait);
    return d;
  };
  // Cancelled: nothing changes.
  Command(app.dialog(), kSaveCommand);
  HWND first = saveAs();
  ASSERT_TRUE(first);
  PostMessageW(first, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return !Exists(first) || !IsWindowVisible(first); }, kWait));
  EXPECT_EQ(Narrow(app.Status()), Narrow(kInitialStatus));
  EXPECT_EQ(e2e::ReadBytes(target + L".bin").size(), 1000u);

  // Confirmed: the existing file is replaced by the 256 bytes read.
  Command(app.dialog(), kSaveCommand);
  HWND second = saveAs();
  ASSERT_TRUE(second);
  ASSERT_TRUE(AnswerSaveAs(second, target));
  ASSERT_TRUE(app.WaitStatus(L"Board EEPROM content successfully stored to file!"))
      << "status: " << Narrow(app.Status());
  EXPECT_EQ(e2e::ReadBytes(target + L".bin"), Board()) << "the default extension is added";
  // After its identity read, the dump reads 8 bytes at a time from 0 up,
  // the address low byte first.
  std::vector<int> chunks, expected;
  for (const auto& e : e2e::ReadLog(dir))
    if (!e.write && e.device == BOARD_EEPROM_ADDRESS && e.length == 8 && e.sub.size() == 2)
      chunks.push_back(e.sub[0] | e.sub[1] << 8);
  for (int o = 0; o < 256; o += 8) expected.push_back(o);
  EXPECT_EQ(chunks, expected);

  // A dump gives the buttons back as they were: it does not unlock the
  // Exit that the verdict locked.
  EXPECT_TRUE(app.WaitEnabled(kReFlashButton, true));
  EXPECT_FALSE(app.Enabled(IDOK)) << "Exit";
  const Progress bar = app.Bar();
  EXPECT_EQ(bar.high, 256);
  EXPECT_EQ(bar.pos, 256);
}

}  // namespace
