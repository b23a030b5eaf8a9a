// bravik on Linux: the card's bus is /dev/i2c-N (--bus N).
#include "cli/cli.h"
#include "linux/i2c_dev.h"
#include "linux/image_file.h"
#include "linux/posix_pacer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// The first Ctrl-C asks the run to stop after its current transfer; the
// handler is gone after it, so a second one ends the program at once.
class CtrlC : public StopSignal {
 public:
  CtrlC() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
  }
  bool StopRequested() const override { return g_interrupted != 0; }
};

class LinuxHost : public Host {
 public:
  // A sleep may end up to the thread's timer slack (50 us by default) after
  // its deadline; the pauses want their deadlines, as the Windows build
  // raises its timer resolution.
  LinuxHost() { prctl(PR_SET_TIMERSLACK, 1UL); }
  bool HasBuses() const override { return true; }
  std::unique_ptr<BusOpener> Opener(int bus) override {
    return std::make_unique<I2CDevOpener>(bus);
  }
  std::string Where(int bus) const override { return AdapterPath(bus); }
  Pacer& pacer() override { return m_pacer; }
  StopSignal& stop() override { return m_stop; }
  std::unique_ptr<ImageSink> CreateImage(const std::string& path, bool replace,
                                         std::string* error) override {
    return PosixImageFile::Create(path, replace, error);
  }
  bool StderrIsTerminal() const override { return isatty(STDERR_FILENO) == 1; }
  double Now() const override {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
  }
  std::string Timestamp() const override {
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
  }
  int List() override;

 private:
  PosixPacer m_pacer;
  CtrlC m_stop;
};

int LinuxHost::List() {
  std::string error;
  const std::vector<AdapterInfo> adapters = ListAdapters(&error);
  if (!error.empty()) {
    std::fprintf(stderr, "bravik: list: %s\n", error.c_str());
    return EXIT_FAILED;
  }
  std::printf("%-5s %-32s %-9s %s\n", "bus", "name", "plain I2C", "board EEPROM (0x50)");
  for (const AdapterInfo& a : adapters) {
    std::string board;
    if (!a.opened) {
      board = "not probed: " + a.openError;
    } else if (!a.plainI2C) {
      board = "not probed: SMBus only";
    } else if (a.probe == AdapterInfo::Probe::NoAnswer) {
      board = "no answer: " + a.probeError;
    } else {
      char text[64];
      const unsigned subVendor = a.identity[0] | a.identity[1] << 8;
      std::snprintf(text, sizeof text, "%s, sub-vendor 0x%04X",
                    subVendor == 0x6B2D ? "the card's" : "not the card's", subVendor);
      board = text;
    }
    std::printf("%-5d %-32s %-9s %s\n", a.number, a.name.empty() ? "?" : a.name.c_str(),
                !a.opened    ? "?"
                : a.plainI2C ? "yes"
                             : "no",
                board.c_str());
  }
  if (adapters.empty()) std::printf("(no i2c-dev adapters)\n");
  return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
  LinuxHost host;
  return RunCli(std::vector<std::string>(argv + 1, argv + argc), host);
}
