// The built utility as a user meets it: its caption, controls and texts,
// the image ReFlash must leave, and one run of the program driven through
// its windows. Shared by the e2e tests and the bench.
#pragma once

#include "testing/text.h"
#include "testing/uidriver/uidriver.h"
#include "tests/e2e/support.h"

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

inline constexpr wchar_t kCaption[] = L"Bravik";
inline constexpr wchar_t kAppName[] = L"REVADAD86IRaziz";
// Control ids of the main dialog, named apart from the product's own.
inline constexpr int kReFlashButton = 1000, kSaveCommand = 1002, kStatusLine = 1004,
                     kProgressBar = 1013;
inline constexpr DWORD kWait = 20000;

inline constexpr wchar_t kNeedsReflashBox[] =
    L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM...";
inline constexpr wchar_t kInitialStatus[] =
    L"the Board ID is wrong, Please press \"ReFlash\" button to program eeprom ";
inline constexpr wchar_t kWritten[] =
    L"Board-EEPROM content successfully written to EEPROM. Please reboot the system to apply the "
    L"new settings!";

// What ReFlash must leave in the board EEPROM, as the product's
// documentation gives it.
inline std::vector<BYTE> ExpectedImage() {
  std::vector<BYTE> image(256, 0xFF);
  const BYTE head[0x50] = {0x2D, 0x6B, 0x2C, 0x3A, 0x54, 0x20, 0x1C, 0x00, 0x43, 0x43, 0xA9, 0x1C,
                           0x55, 0xD2, 0xB2, 0x92, 0x00, 0x01, 0x20, 0x00, 0xFF, 0x20, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x40, 0x01, 0x02,
                           0x03, 0x01, 0x01, 0x03, 0x08, 0xFF, 0x00, 0xD6, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x21, 0x00, 0xC2, 0x96, 0x10, 0x03, 0x32,
                           0x15, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::memcpy(image.data(), head, sizeof head);
  return image;
}

// One run of the utility. Whatever its driver leaves behind, the run ends:
// boxes are answered, Esc is pressed, and as a last resort the process is
// ended. What looks wrong on the way (a box's caption, a box that stays)
// goes to `problem`: a test fails on it, the bench counts it.
class Utility {
 public:
  using ProblemFunction = std::function<void(const std::string&)>;

  Utility(std::wstring exe, ProblemFunction problem)
      : m_exe(std::move(exe)), m_problem(std::move(problem)) {}
  Utility(const Utility&) = delete;
  Utility& operator=(const Utility&) = delete;
  ~Utility() {
    if (!m_process) return;
    if (!Running() || Close(5000)) {
      CloseHandle(m_process);
      return;
    }
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, 5000);
    CloseHandle(m_process);
  }

  // How often the waits look (default 10 ms); a timing wants 1 or 2.
  void SetPollInterval(DWORD ms) { m_pollMs = ms; }

  bool Start(const std::wstring& cardDir) {
    SetEnvironmentVariableW(L"SIMCARD_DIR", cardDir.c_str());
    std::wstring commandLine = L"\"" + m_exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    m_startedAt = simcard::NowMicroseconds();
    if (!CreateProcessW(m_exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
      return false;
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    m_pid = pi.dwProcessId;
    return true;
  }

  bool Running() const { return WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
  bool WaitExit(DWORD ms) const { return WaitForSingleObject(m_process, ms) == WAIT_OBJECT_0; }

  // Answers every message box until the main dialog is on the screen with
  // no box over it; the texts of the boxes, in order, and when each was
  // first seen (NowMicroseconds).
  std::vector<std::wstring> AnswerBoxesUntilDialog(std::vector<long long>* seenAt = nullptr) {
    std::vector<std::wstring> texts;
    uidriver::WaitFor(
        [&] {
          if (HWND box = uidriver::FindMessageBox(m_pid)) {
            if (seenAt) seenAt->push_back(simcard::NowMicroseconds());
            texts.push_back(Answer(box));
            return false;
          }
          m_dialog = uidriver::FindDialog(m_pid, kCaption, true);
          return m_dialog != nullptr || !Running();
        },
        kWait, m_pollMs);
    return texts;
  }

  // Waits for a box and answers it; its text, or "" if none came.
  std::wstring AnswerNextBox() {
    HWND box = nullptr;
    if (!uidriver::WaitFor(
            [&] { return (box = uidriver::FindMessageBox(m_pid)) != nullptr || !Running(); }, kWait,
            m_pollMs) ||
        !box)
      return L"";
    return Answer(box);
  }

  bool WaitStatus(const std::wstring& text, DWORD ms = kWait) const {
    return uidriver::WaitFor([&] { return Status() == text; }, ms, m_pollMs);
  }

  HWND dialog() const { return m_dialog; }
  DWORD pid() const { return m_pid; }
  // When Start called CreateProcess (NowMicroseconds).
  long long startedAt() const { return m_startedAt; }
  std::wstring Status() const { return uidriver::ItemText(m_dialog, kStatusLine); }
  bool Enabled(int id) const { return uidriver::ItemEnabled(m_dialog, id); }
  bool WaitEnabled(int id, bool enabled) const {
    return uidriver::WaitFor([&] { return Enabled(id) == enabled; }, 3000, m_pollMs);
  }
  // Read once the thread answers: right after a command that held it for
  // seconds, until its handler has returned, the system takes it for hung
  // and does not wait (a while under the 32-bit loader's emulation).
  uidriver::Progress Bar() const {
    uidriver::Progress p{-1, -1, -1};
    uidriver::WaitFor(
        [&] { return uidriver::ReadProgress(GetDlgItem(m_dialog, kProgressBar), &p, 2000); }, kWait,
        m_pollMs);
    return p;
  }

  // Esc, and any box that comes up on the way out answered.
  bool Close(DWORD ms) {
    return uidriver::WaitFor(
        [&] {
          if (HWND box = uidriver::FindMessageBox(m_pid))
            Answer(box);
          else if (HWND d = uidriver::FindDialog(m_pid, kCaption))
            uidriver::PressEscape(d);
          return WaitExit(100);
        },
        ms);
  }

 private:
  std::wstring Answer(HWND box) {
    std::wstring text = uidriver::ItemText(box, uidriver::MSGBOX_TEXT_ID);
    // Every box carries the application's name as its caption.
    if (const std::wstring caption = uidriver::Text(box); caption != kAppName)
      m_problem("caption of the box \"" + Narrow(text) + "\" is \"" + Narrow(caption) +
                "\", not \"" + Narrow(kAppName) + "\"");
    uidriver::Click(box, IDOK);
    if (!uidriver::WaitFor([&] { return !uidriver::Exists(box); }, kWait, m_pollMs))
      m_problem("the box \"" + Narrow(text) + "\" did not close");
    return text;
  }

  std::wstring m_exe;
  ProblemFunction m_problem;
  DWORD m_pollMs = 10;
  HANDLE m_process = nullptr;
  DWORD m_pid = 0;
  HWND m_dialog = nullptr;
  long long m_startedAt = 0;
};

}  // namespace e2e
