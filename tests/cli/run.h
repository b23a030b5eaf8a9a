// Runs the built bravik, unmodified, with the simulated adapter preloaded:
// its exit code, stdout and stderr, on pipes or on a terminal.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Result {
  int rc = -1;           // the exit code; 128 + n after signal n
  std::string out, err;  // on a terminal both streams are in `out`
};

struct Setup {
  std::string simDir;     // I2CSIM_DIR
  std::string cwd;        // where it runs
  bool fakeTime = true;   // I2CSIM_FAKE_TIME=1
  bool terminal = false;  // stdout and stderr on a pseudo-terminal
};

Result Run(const Setup& setup, const std::vector<std::string>& args);

// Started and running; Finish() collects what Run() gives.
class Running {
 public:
  Running(const Setup& setup, const std::vector<std::string>& args);
  ~Running();
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  void Signal(int signal);
  Result Finish();

 private:
  int m_pid = -1;
  int m_out = -1, m_err = -1;
};

}  // namespace cli
