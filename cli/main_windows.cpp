// bravik on Windows: the card is found as the dialog finds it, through the
// capture filter; the opening's boxes become lines on stderr.
#include "app/image_file.h"
#include "app/text.h"
#include "cli/cli.h"
#include "device/ks_bus.h"
#include "device/realtime_pacer.h"
#include "framework/wnd.h"

#include <io.h>
#include <objbase.h>
#include <windows.h>

#include <cstdio>

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT || InterlockedExchange(&g_interrupted, 1)) return FALSE;
  return TRUE;  // the first Ctrl-C stops the run; a second one ends the program
}

class CtrlC : public StopSignal {
 public:
  CtrlC() { SetConsoleCtrlHandler(OnControl, TRUE); }
  ~CtrlC() override { SetConsoleCtrlHandler(OnControl, FALSE); }
  bool StopRequested() const override { return g_interrupted != 0; }
};

// COM for the capture filter's lookup, once for the program.
class ComStarted {
 public:
  ComStarted() : m_hr(CoInitialize(nullptr)) {}
  ~ComStarted() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }

 private:
  HRESULT m_hr;
};

// The dialog's image file; a backup also refuses a name that is taken.
class WindowsImage : public ImageSink {
 public:
  bool Create(const std::string& path, bool replace, std::string* error) {
    const std::wstring wide = WideFromUtf8(path);
    if (!replace && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) {
      *error = path + " exists; a backup never replaces a file";
      return false;
    }
    if (m_file.Create(wide)) return true;
    *error = "cannot create a temporary file beside " + path + ": " +
             Utf8FromWide(SystemErrorText(GetLastError()));
    return false;
  }
  bool Write(const uint8_t* data, size_t length, std::string* reason) override {
    return m_file.Write(data, length, reason);
  }
  bool Commit(std::string* reason) override { return m_file.Commit(reason); }
  void Discard() override { m_file.Discard(); }

 private:
  ImageFile m_file;
};

class WindowsHost : public Host {
 public:
  WindowsHost() { QueryPerformanceFrequency(&m_frequency); }
  bool HasBuses() const override { return false; }
  std::unique_ptr<BusOpener> Opener(int) override {
    return std::make_unique<AnalogCaptureOpener>();
  }
  std::string Where(int) const override { return "the capture filter"; }
  Pacer& pacer() override { return m_pacer; }
  StopSignal& stop() override { return m_stop; }
  std::unique_ptr<ImageSink> CreateImage(const std::string& path, bool replace,
                                         std::string* error) override {
    auto image = std::make_unique<WindowsImage>();
    if (!image->Create(path, replace, error)) return nullptr;
    return image;
  }
  int List() override { return EXIT_USAGE; }  // no such command here
  bool StderrIsTerminal() const override { return _isatty(_fileno(stderr)) != 0; }
  double Now() const override {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(m_frequency.QuadPart);
  }
  std::string Timestamp() const override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
  }

 private:
  LARGE_INTEGER m_frequency;
  RealTimePacer m_pacer;
  CtrlC m_stop;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ComStarted com;
  WindowsHost host;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return RunCli(args, host);
}
