#include "tests/cli/run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace cli {

namespace {

[[noreturn]] void Exec(const Setup& setup, const std::vector<std::string>& args) {
  if (!setup.cwd.empty() && chdir(setup.cwd.c_str()) != 0) _exit(126);
  setenv("LD_PRELOAD", I2CSIM_SO, 1);
  setenv("I2CSIM_DIR", setup.simDir.c_str(), 1);
  if (setup.fakeTime)
    setenv("I2CSIM_FAKE_TIME", "1", 1);
  else
    unsetenv("I2CSIM_FAKE_TIME");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(BRAVIK_EXE));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(BRAVIK_EXE, argv.data());
  _exit(127);
}

void ReadAll(int out, int err, Result* r) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* into[2] = {&r->out, &r->err};
  int open = err >= 0 ? 2 : 1;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;  // EOF; a pseudo-terminal answers EIO once its last writer is gone
        --open;
      }
    }
  }
}

}  // namespace

Running::Running(const Setup& setup, const std::vector<std::string>& args) {
  if (setup.terminal) {
    int master = -1;
    m_pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (m_pid == 0) Exec(setup, args);
    m_out = master;
    return;
  }
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
  m_pid = fork();
  if (m_pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    Exec(setup, args);
  }
  close(out[1]);
  close(err[1]);
  m_out = out[0];
  m_err = err[0];
}

Running::~Running() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    Finish();
  }
}

void Running::Signal(int signal) { kill(m_pid, signal); }

Result Running::Finish() {
  Result r;
  ReadAll(m_out, m_err, &r);
  int status = 0;
  waitpid(m_pid, &status, 0);
  m_pid = -1;
  close(m_out);
  if (m_err >= 0) close(m_err);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

Result Run(const Setup& setup, const std::vector<std::string>& args) {
  Running running(setup, args);
  return running.Finish();
}

}  // namespace cli
