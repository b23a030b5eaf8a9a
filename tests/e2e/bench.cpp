// Times the utility's paced commands on the simulated card, in real time,
// against their floors: ReFlash (256 one-byte writes, 20 ms apart: 5.12 s)
// and the DSP EEPROM dump (512 pages, 20 ms apart: 10.24 s), and the time
// from the start of the program to its dialog.
//
//   boardflash_bench [rounds]     default 5; prints a line per round and
//                                 the medians; exit code 1 if a round failed
//
// Each round has a fresh card directory with the "reflash" preset. The
// start-up and ReFlash are the built REVADAD86IRaziz.exe, driven through
// its windows. The dialog has no source list, so the DSP dump runs the
// product's own dialog class in a second process of this program
// (boardflash_bench --dsp <card dir>): the card loads once per process,
// and a process of its own gives each round's dump that round's card.
#include "app/board_flash_dlg.h"
#include "framework/app.h"
#include "framework/file_dialog.h"
#include "framework/wnd.h"
#include "tests/app/dsp_source.h"
#include "tests/e2e/utility.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ReFlash also waits out the last write's cycle before its read-back, a
// 257th pause: 1.004 is the least it can show against this floor.
constexpr double kReFlashFloor = 5.12;  // s: 256 writes, 20 ms each
constexpr double kDspFloor = 10.24;     // s: 512 pages, 20 ms each
constexpr DWORD kPollMs = 1;
constexpr wchar_t kDspDone[] = L"DSP EEPROM content successfully stored to file!";
constexpr wchar_t kDspDump[] = L"dsp-dump.bin";
constexpr wchar_t kDspResult[] = L"dsp-result.txt";

std::string Seconds(double s, int decimals = 3) {
  char b[32];
  std::snprintf(b, sizeof b, "%.*f s", decimals, s);
  return b;
}

std::string Ratio(double s, double floor) {
  char b[64];
  std::snprintf(b, sizeof b, "%.3f x %.2f s", s / floor, floor);
  return b;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Texts(const std::vector<std::wstring>& boxes) {
  std::string all;
  for (const auto& b : boxes) all += (all.empty() ? "\"" : ", \"") + Narrow(b) + "\"";
  return all.empty() ? "none" : all;
}

// The spacing of one kind of transfer in the card's log, as the card saw
// them arrive.
struct Spacing {
  size_t count = 0;
  double minMs = 0, meanMs = 0;
};

template <class Pred>
Spacing SpacingOf(const std::vector<e2e::LogEntry>& log, Pred pred) {
  Spacing s;
  long long first = 0, last = 0, shortest = 0;
  for (const auto& e : log) {
    if (!pred(e)) continue;
    if (s.count > 0 && (s.count == 1 || e.at - last < shortest)) shortest = e.at - last;
    if (s.count++ == 0) first = e.at;
    last = e.at;
  }
  if (s.count > 1) {
    s.minMs = shortest / 1000.0;
    s.meanMs = (last - first) / 1000.0 / (s.count - 1);
  }
  return s;
}

std::string Describe(const Spacing& s, const char* what) {
  char b[96];
  std::snprintf(b, sizeof b, "%zu %s, gaps min %.2f mean %.3f ms", s.count, what, s.minMs,
                s.meanMs);
  return b;
}

// ---- The DSP dump, in a process of its own ----------------------------------

CWinApp g_app;  // the dialog is its main window, as in the product
std::vector<std::wstring> g_boxes;
std::wstring g_dumpPath;

int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  g_boxes.push_back(text ? text : L"");
  return IDOK;
}

BOOL WINAPI AnswerSaveAs(OPENFILENAMEW* ofn) {
  if (g_dumpPath.size() >= ofn->nMaxFile) return FALSE;
  std::wcscpy(ofn->lpstrFile, g_dumpPath.c_str());
  return TRUE;
}

struct DspRun {
  CBoardFlashDlg* dlg = nullptr;
  double seconds = 0;
  std::wstring status;
  bool ran = false;
  ULONGLONG giveUpAt = 0;
} g_dsp;

void CALLBACK DspStep(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND h = g_dsp.dlg->m_hWnd;
  if (!h || !IsWindowVisible(h)) {
    if (GetTickCount64() < g_dsp.giveUpAt)
      SetTimer(nullptr, 0, 1, DspStep);
    else if (h)
      EndDialog(h, IDABORT);
    return;
  }
  ChooseDspSource(*g_dsp.dlg);

  const long long before = simcard::NowMicroseconds();
  SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDC_SAVE_EEPROM, 0), 0);
  g_dsp.seconds = (simcard::NowMicroseconds() - before) / 1e6;
  g_dsp.ran = true;
  wchar_t status[256] = L"";
  GetDlgItemTextW(h, IDC_STATUS, status, 256);
  g_dsp.status = status;
  EndDialog(h, IDOK);
}

// Runs one dump on the card in `dir` and leaves "ok <seconds>" or
// "fail <why>" in its result file.
int DspRole(std::wstring dir) {
  if (dir.back() != L'\\') dir += L'\\';
  SetEnvironmentVariableW(L"SIMCARD_DIR", dir.c_str());
  g_dumpPath = dir + kDspDump;
  DeleteFileW(g_dumpPath.c_str());
  // COM as the program's application object starts it.
  CoInitialize(nullptr);
  SetMessageBoxFunction(RecordBox);
  SetSaveFileNameFunction(AnswerSaveAs);

  std::string result;
  {
    CBoardFlashDlg dlg;  // the real opener and the real-time pacer
    g_app.m_pMainWnd = &dlg;
    g_dsp.dlg = &dlg;
    g_dsp.giveUpAt = GetTickCount64() + e2e::kWait;
    SetTimer(nullptr, 0, 1, DspStep);
    dlg.DoModal();
    dlg.m_cbSource.Detach();
    g_app.m_pMainWnd = nullptr;
  }

  const std::vector<BYTE> dump = e2e::ReadBytes(g_dumpPath);
  const std::vector<BYTE> card = e2e::ReadBytes(dir + L"dsp.bin");
  // ReFlash has made the board correct: no box at start-up either.
  if (!g_dsp.ran)
    result = "fail the dialog did not come up";
  else if (!g_boxes.empty())
    result = "fail boxes " + Texts(g_boxes);
  else if (g_dsp.status != kDspDone)
    result = "fail status \"" + Narrow(g_dsp.status) + "\"";
  else if (dump.size() != simcard::DSP_SIZE || dump != card)
    result = "fail the file (" + std::to_string(dump.size()) + " bytes) is not the card's dsp.bin";
  else
    result = "ok " + std::to_string(g_dsp.seconds);
  e2e::WriteText(dir + kDspResult, result + "\n");
  return result.rfind("ok", 0) == 0 ? 0 : 1;
}

// ---- The rounds -------------------------------------------------------------

struct Round {
  std::string failure;  // empty: every part held
  double startUp = -1, boxSeen = -1, reFlash = -1, dsp = -1;
  Spacing writes, pages;
};

// The utility from its start to its end, with ReFlash clicked once.
void StartAndReFlash(const std::wstring& dir, Round* r) {
  std::vector<std::string> problems;
  e2e::Utility app(e2e::WindowsPath(UTILITY_EXE),
                   [&](const std::string& p) { problems.push_back(p); });
  app.SetPollInterval(kPollMs);
  if (!app.Start(dir)) {
    r->failure = "could not start the utility";
    return;
  }
  std::vector<long long> seen;
  const auto boxes = app.AnswerBoxesUntilDialog(&seen);
  const long long shown = simcard::NowMicroseconds();
  if (!app.dialog()) {
    r->failure = "the dialog did not come up";
    return;
  }
  if (boxes != std::vector<std::wstring>{e2e::kNeedsReflashBox}) {
    r->failure = "boxes at start-up: " + Texts(boxes);
    return;
  }
  r->startUp = (shown - app.startedAt()) / 1e6;
  r->boxSeen = (seen.front() - app.startedAt()) / 1e6;

  const long long clicked = simcard::NowMicroseconds();
  uidriver::Click(app.dialog(), e2e::kReFlashButton);
  if (!app.WaitStatus(e2e::kWritten, 30000)) {
    r->failure = "ReFlash did not succeed: status \"" + Narrow(app.Status()) + "\"";
    return;
  }
  r->reFlash = (simcard::NowMicroseconds() - clicked) / 1e6;
  if (e2e::ReadBytes(dir + L"board.bin") != e2e::ExpectedImage()) {
    r->failure = "board.bin is not the expected image";
    return;
  }
  r->writes = SpacingOf(e2e::ReadLog(dir), [](const e2e::LogEntry& e) {
    return e.write && e.device == BOARD_EEPROM_ADDRESS;
  });
  // Exit is enabled once the status line reads success.
  if (!app.WaitEnabled(IDOK, true)) {
    r->failure = "Exit stayed disabled";
    return;
  }
  uidriver::Click(app.dialog(), IDOK);
  if (!app.WaitExit(10000)) r->failure = "Exit did not end the utility";
  if (r->failure.empty() && !problems.empty()) r->failure = problems.front();
}

void DumpDsp(const std::wstring& dir, Round* r) {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    r->failure = "cannot name this program";
    return;
  }
  DeleteFileW((dir + kDspResult).c_str());
  // Without its trailing backslash, which would escape the closing quote.
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --dsp \"" + dir.substr(0, dir.size() - 1) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    r->failure = "could not start the DSP dump";
    return;
  }
  CloseHandle(pi.hThread);
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    r->failure = "the DSP dump did not end";
  }
  CloseHandle(pi.hProcess);
  if (!r->failure.empty()) return;

  const std::vector<BYTE> raw = e2e::ReadBytes(dir + kDspResult);
  std::string result(raw.begin(), raw.end());
  result.erase(result.find_last_not_of("\r\n") + 1);
  if (result.rfind("ok ", 0) != 0) {
    r->failure = result.empty() ? "the DSP dump left no result" : "DSP dump: " + result.substr(5);
    return;
  }
  r->dsp = std::atof(result.c_str() + 3);
  r->pages = SpacingOf(e2e::ReadLog(dir), [](const e2e::LogEntry& e) {
    return !e.write && e.device == DSP_EEPROM_ADDRESS && e.length == 64;
  });
}

std::string Line(int number, const Round& r) {
  std::string line = "round " + std::to_string(number) + ":";
  if (r.startUp >= 0)
    line +=
        " start-up to dialog " + Seconds(r.startUp) + " (box seen at " + Seconds(r.boxSeen) + ");";
  if (r.reFlash >= 0)
    line += " ReFlash " + Seconds(r.reFlash) + " = " + Ratio(r.reFlash, kReFlashFloor) + " (" +
            Describe(r.writes, "writes") + ");";
  if (r.dsp >= 0)
    line += " DSP dump " + Seconds(r.dsp) + " = " + Ratio(r.dsp, kDspFloor) + " (" +
            Describe(r.pages, "pages") + ")";
  if (!r.failure.empty()) line += " FAILED: " + r.failure;
  return line;
}

// The card's registry entries for the bench's run, as the e2e tests have
// them, removed at its end.
class Registration {
 public:
  Registration()
      : m_ok(simcard::RegisterServer(e2e::WindowsPath(SIMCARD_DLL)) &&
             simcard::AddDevice(simcard::CLSID_SIMCARD_TEXT, simcard::CARD_FILTER_NAME)) {}
  ~Registration() {
    simcard::RemoveDevice(simcard::CLSID_SIMCARD_TEXT);
    simcard::UnregisterServer();
  }
  bool ok() const { return m_ok; }

 private:
  bool m_ok;
};

int Bench(int rounds) {
  if (!e2e::FileExists(e2e::WindowsPath(UTILITY_EXE))) {
    std::printf("the utility is not built: %s\n", UTILITY_EXE);
    return 1;
  }
  Registration registration;
  if (!registration.ok()) {
    std::printf("could not register the simulated card\n");
    return 1;
  }
  // Polls of 1 ms; the utility raises the resolution itself for its runs.
  timeBeginPeriod(1);
  std::vector<double> startUps, reFlashes, dumps;
  int failed = 0;
  for (int i = 1; i <= rounds; ++i) {
    const std::wstring dir = e2e::ScratchDir("bench-round" + std::to_string(i));
    Round r;
    if (!simcard::WriteCard(dir, simcard::PresetContents(simcard::Preset::Reflash)))
      r.failure = "could not write the card";
    if (r.failure.empty()) StartAndReFlash(dir, &r);
    if (r.failure.empty()) DumpDsp(dir, &r);
    if (r.failure.empty()) {
      startUps.push_back(r.startUp);
      reFlashes.push_back(r.reFlash);
      dumps.push_back(r.dsp);
    } else {
      ++failed;
    }
    std::printf("%s\n", Line(i, r).c_str());
    std::fflush(stdout);
  }
  timeEndPeriod(1);

  std::printf("%d of %d rounds held; medians of those:\n", rounds - failed, rounds);
  if (!startUps.empty()) {
    std::printf(
        "start-up to dialog: median %s (CreateProcess to the dialog visible, with the "
        "start-up verdict box, which comes before the dialog, answered)\n",
        Seconds(Median(startUps), 2).c_str());
    std::printf("ReFlash: median %s = %s (click to the success status)\n",
                Seconds(Median(reFlashes)).c_str(),
                Ratio(Median(reFlashes), kReFlashFloor).c_str());
    std::printf("DSP dump: median %s = %s (the save command's SendMessage)\n",
                Seconds(Median(dumps)).c_str(), Ratio(Median(dumps), kDspFloor).c_str());
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--dsp") == 0) return DspRole(argv[2]);
  const int rounds = argc > 1 ? _wtoi(argv[1]) : 5;
  if (argc > 2 || rounds < 1) {
    std::fprintf(stderr, "usage: boardflash_bench [rounds]\n");
    return 2;
  }
  return Bench(rounds);
}
