// bravik.exe end to end under Wine: the built console program on the
// simulated card, found through the capture filter as the dialog finds it.
// Every test has a card directory of its own (SIMCARD_DIR).
#include "eeprom/eeprom.h"
#include "tests/e2e/support.h"

#include <gtest/gtest.h>

namespace {

::testing::Environment* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new e2e::CardRegistration(SIMCARD_DLL));

struct Result {
  DWORD rc = 0xFFFFFFFF;
  std::string out, err;
};

std::string ReadPipe(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

// Text as the program wrote it, with CR LF made LF.
std::string Lines(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

class CliWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = e2e::ScratchDir(std::string(info->test_suite_name()) + "-" + info->name());
    ASSERT_TRUE(simcard::WriteCard(dir, simcard::PresetContents(simcard::Preset::Reflash)));
    // What an earlier run of the test left.
    for (const wchar_t* name : {L"before.bin", L"dsp-image.bin"}) DeleteFileW((dir + name).c_str());
    for (int n = 1; n <= 4; ++n)
      DeleteFileW((dir + L"stderr-" + std::to_wstring(n) + L".txt").c_str());
  }

  // Runs bravik.exe in the card directory; stderr goes to a file, so that
  // one pipe is read at a time.
  Result Bravik(const std::wstring& args) {
    SetEnvironmentVariableW(L"SIMCARD_DIR", dir.c_str());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr;
    EXPECT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    // A file of its own for each run: the last run's may still be held
    // while the system closes what that process had open.
    const std::wstring errPath = dir + L"stderr-" + std::to_wstring(++m_runs) + L".txt";
    HANDLE errFile = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(errFile, INVALID_HANDLE_VALUE) << "stderr file, error " << GetLastError();
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = outWrite;
    si.hStdError = errFile;
    PROCESS_INFORMATION pi{};
    const std::wstring exe = e2e::WindowsPath(BRAVIK_EXE);
    std::wstring commandLine = L"\"" + exe + L"\" " + args;
    Result r;
    const BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, dir.c_str(), &si, &pi);
    CloseHandle(outWrite);
    CloseHandle(errFile);
    EXPECT_TRUE(started) << "could not start " << BRAVIK_EXE;
    if (started) {
      r.out = Lines(ReadPipe(outRead));
      WaitForSingleObject(pi.hProcess, 60000);
      GetExitCodeProcess(pi.hProcess, &r.rc);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    CloseHandle(outRead);
    const std::vector<BYTE> err = e2e::ReadBytes(errPath);
    r.err = Lines(std::string(err.begin(), err.end()));
    return r;
  }

  std::vector<BYTE> Board() const { return e2e::ReadBytes(dir + L"board.bin"); }

  std::wstring dir;
  int m_runs = 0;
};

TEST_F(CliWineTest, IdentifyFindsTheCardThroughTheCaptureFilter) {
  const Result r = Bravik(L"identify");
  EXPECT_EQ(r.rc, 0u) << r.err;
  EXPECT_EQ(r.out, "sub-vendor 0x6B2D subsystem 0x3A21 verdict needs-reflash\n");
  EXPECT_EQ(r.err, "");
  // The same command line as on Linux, less --bus.
  const Result bus = Bravik(L"--bus 3 identify");
  EXPECT_EQ(bus.rc, 2u);
  EXPECT_EQ(bus.err,
            "bravik: --bus: there is no --bus here: the card is found by its capture filter\n"
            "Try 'bravik --help'.\n");
}

TEST_F(CliWineTest, ReflashBacksUpThenWritesTheImage) {
  const std::vector<BYTE> before = Board();
  const Result r = Bravik(L"reflash --backup before.bin");
  EXPECT_EQ(r.rc, 0u) << r.err;
  EXPECT_EQ(r.out,
            "backup of the board EEPROM: before.bin\n"
            "wrote 256 bytes to the board EEPROM, read back and equal; reboot to apply\n");
  EXPECT_EQ(e2e::ReadBytes(dir + L"before.bin"), before);
  EXPECT_EQ(Board(), std::vector<BYTE>(BoardImage, BoardImage + BOARD_IMAGE_SIZE));
  size_t writes = 0;
  for (const e2e::LogEntry& e : e2e::ReadLog(dir)) writes += e.write;
  EXPECT_EQ(writes, 256u);
}

TEST_F(CliWineTest, SaveDspGoesThroughTheGate) {
  const std::vector<BYTE> chdec = e2e::ReadBytes(dir + L"chdec.bin");
  const Result r = Bravik(L"save-dsp dsp-image.bin");
  EXPECT_EQ(r.rc, 0u) << r.err;
  EXPECT_EQ(r.out, "saved the DSP EEPROM (32768 bytes) to dsp-image.bin\n");
  EXPECT_EQ(e2e::ReadBytes(dir + L"dsp-image.bin"),
            simcard::PresetContents(simcard::Preset::Reflash).dsp);
  // The card's own state file is held open: the name cannot be written.
  const Result held = Bravik(L"save-dsp dsp.bin");
  EXPECT_EQ(held.rc, 1u);
  EXPECT_EQ(held.err.rfind("bravik: save-dsp: cannot create a temporary file beside dsp.bin: ", 0),
            0u)
      << held.err;
  EXPECT_EQ(e2e::ReadBytes(dir + L"chdec.bin"), chdec) << "the gate is closed again";
}

TEST_F(CliWineTest, AFailingTransferIsToldWithItsOffsetAndTheHresult) {
  // Transfer 1 is the identity read, 2 the first write (--no-backup).
  ASSERT_TRUE(e2e::WriteText(dir + L"fault.txt", "fail 3 0x80004005\n"));
  const Result r = Bravik(L"reflash --no-backup");
  EXPECT_EQ(r.rc, 1u);
  // The HRESULT and the system's words for it (Wine's differ from Windows').
  const std::string head =
      "bravik: reflash: writing the board EEPROM (0xA0) at offset 0x05 on the capture filter "
      "failed: 0x80004005 (";
  const std::string tail =
      ")\nbravik: reflash: 1 of 256 bytes written (offset 0x04); the identity bytes 0-3 are as "
      "they were\n";
  EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
  EXPECT_GT(r.err.size(), head.size() + tail.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), tail.size())), tail) << r.err;
  // The opening's boxes become lines: no card at all.
  simcard::RemoveDevice(simcard::CLSID_SIMCARD_TEXT);
  const Result none = Bravik(L"identify");
  simcard::AddDevice(simcard::CLSID_SIMCARD_TEXT, simcard::CARD_FILTER_NAME);
  EXPECT_EQ(none.rc, 1u);
  EXPECT_EQ(none.err,
            "bravik: identify: FindFilterByName: Couldn't find enumerator!\n"
            "bravik: identify: Couldn't find AnalogCaptureFilter!\n");
}

}  // namespace
