// See i2csim.h. Interposes the libc calls the program makes on the nodes
// and on sysfs; every other call goes on to libc unchanged.
#include "testing/i2csim/i2csim.h"

#include "testing/simcard/model.h"
#include "testing/text.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using OpenDirFn = DIR* (*)(const char*);
using ClockGetTimeFn = int (*)(clockid_t, timespec*);

// Faked time (I2CSIM_FAKE_TIME=1): the monotonic clock runs on, and every
// sleep on it returns at once, moving the clock by what it would have
// waited. Tests of the paced commands then take no real time, and the log
// still shows the pacing the program asked for.
long long g_skipped = 0;  // nanoseconds

bool FakeTime() {
  static const bool fake = [] {
    const char* v = std::getenv("I2CSIM_FAKE_TIME");
    return v && std::strcmp(v, "1") == 0;
  }();
  return fake;
}

long long RealMonotonic() {
  timespec t;
  Next<ClockGetTimeFn>("clock_gettime")(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long Monotonic() { return RealMonotonic() + (FakeTime() ? g_skipped : 0); }

long long NowMicroseconds() { return Monotonic() / 1000; }

const char* Dir() {
  const char* dir = std::getenv("I2CSIM_DIR");
  return dir && *dir ? dir : nullptr;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  const int fd = Next<OpenFn>("open")(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  uint8_t chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) out->insert(out->end(), chunk, chunk + n);
  Next<CloseFn>("close")(fd);
  return n == 0;
}

std::string ReadText(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(path, &bytes)) return std::string();
  std::string text(bytes.begin(), bytes.end());
  text.erase(text.find_last_not_of(" \r\n\t") + 1);
  return text;
}

int ErrnoByName(const std::string& word) {
  static const struct {
    const char* name;
    int value;
  } kNames[] = {
      {"EIO", EIO},       {"ENXIO", ENXIO}, {"EREMOTEIO", EREMOTEIO}, {"ETIMEDOUT", ETIMEDOUT},
      {"EAGAIN", EAGAIN}, {"EBUSY", EBUSY}};
  for (const auto& n : kNames)
    if (word == n.name) return n.value;
  char* end = nullptr;
  const long v = std::strtol(word.c_str(), &end, 10);
  return !word.empty() && *end == '\0' && v > 0 ? static_cast<int>(v) : 0;
}

// One adapter's devices, loaded at its first open in this process.
class Adapter {
 public:
  explicit Adapter(std::string dir) : m_dir(std::move(dir)) {
    m_log = Next<OpenFn>("open")((m_dir + "/transfers.log").c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string card = ReadText(m_dir + "/card.txt");
    m_noCard = card == "none";
    simcard::Preset preset = simcard::Preset::Reflash;
    if (!card.empty() && !m_noCard && !simcard::ParsePreset(card, &preset))
      Note("unknown card \"" + card + "\", using reflash");
    const simcard::Contents fresh = simcard::PresetContents(preset);
    Load(0, "board.bin", &m_contents.board, fresh.board);
    Load(1, "dsp.bin", &m_contents.dsp, fresh.dsp);
    Load(2, "chdec.bin", &m_contents.chdec, fresh.chdec);
    ParsePlan(ReadText(m_dir + "/fault.txt"));
    Note("adapter loaded by process " + std::to_string(getpid()));
  }

  bool smbusOnly() const { return m_smbusOnly; }
  bool noAccess() const { return m_noAccess; }

  void Note(const std::string& text, long long at = 0) { Log("# " + text, at); }

  int Funcs(unsigned long* funcs) {
    *funcs = m_smbusOnly ? I2C_FUNC_SMBUS_EMUL : I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
    Note("I2C_FUNCS");
    return 0;
  }

  int ReadWrite(i2c_rdwr_ioctl_data* data) {
    const long long arrived = NowMicroseconds();
    const unsigned long number = ++m_transfers;
    const std::string n = std::to_string(number);
    auto refuse = [&](int error, const std::string& why) {
      Log(n + " ! " + why + " rc=-" + std::to_string(error), arrived);
      errno = error;
      return -1;
    };
    if (m_smbusOnly) return refuse(EOPNOTSUPP, "I2C_RDWR on an SMBus-only adapter");
    if (!data || !data->msgs || data->nmsgs < 1 || data->nmsgs > 2)
      return refuse(EINVAL, "message count " + std::to_string(data ? data->nmsgs : 0));
    i2c_msg* m = data->msgs;
    const bool read = data->nmsgs == 2;
    if (m[0].flags & I2C_M_RD || (read && (!(m[1].flags & I2C_M_RD) || m[1].addr != m[0].addr)))
      return refuse(EINVAL, "a transfer that is neither one write nor a write then a read");
    for (unsigned i = 0; i < data->nmsgs; ++i)
      if (!m[i].buf || m[i].len == 0 || m[i].len > 8192)
        return refuse(EINVAL, "message length " + std::to_string(m[i].len));

    const uint16_t addr = m[0].addr;
    const uint8_t device = static_cast<uint8_t>(addr << 1);
    // A write's sub-address is as wide as the device takes it.
    const size_t subLength = read ? m[0].len : device == simcard::DSP_DEVICE ? 2 : 1;
    if (subLength > 2 || (!read && m[0].len <= subLength))
      return refuse(EINVAL, "sub-address length " + std::to_string(m[0].len));
    const uint8_t* sub = m[0].buf;
    uint8_t* bytes = read ? m[1].buf : m[0].buf + subLength;
    const size_t length = read ? m[1].len : m[0].len - subLength;

    char what[64];
    std::snprintf(what, sizeof what, "%s %02X sub=[", read ? "R" : "W", addr);
    std::string line = n + " " + what + Hex(sub, subLength) + "] len=" + std::to_string(length);
    int rc = 0;
    std::string moved;
    if (const auto f = m_failures.find(number); f != m_failures.end()) {
      rc = -f->second;
    } else if (m_noCard) {
      rc = -ENXIO;
    } else {
      simcard::Access access;
      switch (simcard::Carry(m_contents, m_protect, !read, device, sub, subLength, bytes, length,
                             &access)) {
        case simcard::Answer::Done:
          if (access.stored) Store(device, access, length);
          moved = Hex(bytes, length);
          break;
        case simcard::Answer::NoAck:
          rc = -ENXIO;
          break;
        default:
          rc = -EINVAL;
      }
    }
    Log(line + " data=[" + (read ? moved : Hex(bytes, length)) + "] rc=" + std::to_string(rc),
        arrived);
    if (rc) {
      errno = -rc;
      return -1;
    }
    return static_cast<int>(data->nmsgs);
  }

 private:
  void Log(const std::string& text, long long at = 0) {
    if (m_log < 0) return;
    const std::string line = std::to_string(at ? at : NowMicroseconds()) + " " + text + "\n";
    const ssize_t written = write(m_log, line.data(), line.size());
    (void)written;  // a log that cannot be written has no one to tell
  }

  void Load(int slot, const char* file, std::vector<uint8_t>* bytes,
            const std::vector<uint8_t>& fresh) {
    const std::string path = m_dir + "/" + file;
    m_files[slot] = Next<OpenFn>("open")(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (ReadFile(path, bytes) && bytes->size() == fresh.size()) return;
    *bytes = fresh;
    if (m_files[slot] < 0 ||
        pwrite(m_files[slot], bytes->data(), bytes->size(), 0) !=
            static_cast<ssize_t>(bytes->size()) ||
        ftruncate(m_files[slot], static_cast<off_t>(bytes->size())) != 0)
      Note(std::string("could not write ") + file);
    else
      Note(std::string("made ") + file + " from the preset");
  }

  // The bytes a write changed, at their offset, wrapping as the memory does.
  void Store(uint8_t device, const simcard::Access& access, size_t length) {
    const int slot = device == simcard::BOARD_DEVICE ? 0 : device == simcard::DSP_DEVICE ? 1 : 2;
    const std::vector<uint8_t>& memory = *access.memory;
    const size_t size = memory.size();
    size_t address = access.address;
    if (length >= size) {
      address = 0;
      length = size;
    }
    const size_t first = std::min(length, size - address);
    const int fd = m_files[slot];
    const bool ok = fd >= 0 &&
                    pwrite(fd, memory.data() + address, first, static_cast<off_t>(address)) ==
                        static_cast<ssize_t>(first) &&
                    (first == length || pwrite(fd, memory.data(), length - first, 0) ==
                                            static_cast<ssize_t>(length - first));
    if (!ok) Note("could not store a write");
  }

  void ParsePlan(const std::string& text) {
    for (const simcard::PlanRule& rule : simcard::ReadPlan(text)) {
      bool ok = true;
      if (rule.verb == "fail") {
        const unsigned long n = simcard::FailedTransfer(rule);
        const int error = rule.extra.empty() ? EIO : ErrnoByName(rule.extra);
        ok = n > 0 && error > 0;
        if (ok) m_failures[n] = error;
      } else if (simcard::ProtectionRule(rule, &m_protect)) {
      } else if (rule.verb == "smbus-only" && rule.arg.empty()) {
        m_smbusOnly = true;
      } else if (rule.verb == "no-access" && rule.arg.empty()) {
        m_noAccess = true;
      } else {
        ok = false;
      }
      if (!ok) Note("fault.txt: ignored \"" + rule.text + "\"");
    }
  }

  std::string m_dir;
  simcard::Contents m_contents;
  simcard::Protection m_protect;
  std::map<unsigned long, int> m_failures;  // I2C_RDWR call number -> errno
  bool m_smbusOnly = false, m_noAccess = false, m_noCard = false;
  unsigned long m_transfers = 0;
  int m_files[3] = {-1, -1, -1};
  int m_log = -1;
};

struct State {
  std::map<std::string, std::unique_ptr<Adapter>> adapters;  // by directory, loaded once
  std::map<int, Adapter*> fds;                               // open nodes
};

State& S() {
  static State* state = new State;  // never destroyed: closes may come late
  return *state;
}

// "/dev/i2c-12" gives 12; anything else -1.
int NodeNumber(const char* path) {
  if (!path || std::strncmp(path, "/dev/i2c-", 9) != 0 || !path[9]) return -1;
  char* end = nullptr;
  const long n = std::strtol(path + 9, &end, 10);
  return *end == '\0' && path[9] >= '0' && path[9] <= '9' ? static_cast<int>(n) : -1;
}

// A sysfs path of the adapters, in the simulation's directory.
bool MapSysfs(const char* path, std::string* mapped) {
  static const char* kRoots[] = {"/sys/class/i2c-dev", "/sys/bus/i2c/devices"};
  for (const char* root : kRoots) {
    const size_t n = std::strlen(root);
    if (path && std::strncmp(path, root, n) == 0 && (path[n] == '\0' || path[n] == '/')) {
      *mapped = std::string(Dir()) + (path + n);
      return true;
    }
  }
  return false;
}

// The node's open: a descriptor of /dev/null stands for it, so a close
// that nobody intercepts still frees it.
int OpenNode(int number, int flags) {
  const std::string dir = std::string(Dir()) + "/i2c-" + std::to_string(number);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    errno = ENOENT;
    return -1;
  }
  auto& slot = S().adapters[dir];
  if (!slot) slot = std::make_unique<Adapter>(dir);
  if (slot->noAccess()) {
    slot->Note("open refused: EACCES");
    errno = EACCES;
    return -1;
  }
  const int fd = Next<OpenFn>("open")("/dev/null", (flags & O_CLOEXEC) | O_RDWR);
  if (fd < 0) return fd;
  S().fds[fd] = slot.get();
  slot->Note("open fd=" + std::to_string(fd));
  return fd;
}

// Every open of a path comes here; `real` carries it out on a path.
template <typename Real>
int Open(const char* path, int flags, mode_t mode, Real real) {
  if (Dir()) {
    const int number = NodeNumber(path);
    if (number >= 0) return OpenNode(number, flags);
    std::string mapped;
    if (MapSysfs(path, &mapped)) return real(mapped.c_str(), flags, mode);
  }
  return real(path, flags, mode);
}

mode_t ModeOf(int flags, va_list args) {
  return flags & (O_CREAT | O_TMPFILE) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Open(path, flags, mode,
              [](const char* p, int f, mode_t m) { return Next<OpenFn>("open")(p, f, m); });
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Open(path, flags, mode,
              [](const char* p, int f, mode_t m) { return Next<OpenFn>("open64")(p, f, m); });
}

int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }

int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Open(path, flags, mode, [dirfd](const char* p, int f, mode_t m) {
    return Next<OpenAtFn>("openat")(dirfd, p, f, m);
  });
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Open(path, flags, mode, [dirfd](const char* p, int f, mode_t m) {
    return Next<OpenAtFn>("openat64")(dirfd, p, f, m);
  });
}

DIR* opendir(const char* path) {
  std::string mapped;
  if (Dir() && MapSysfs(path, &mapped)) return Next<OpenDirFn>("opendir")(mapped.c_str());
  return Next<OpenDirFn>("opendir")(path);
}

int close(int fd) {
  const auto it = S().fds.find(fd);
  if (it != S().fds.end()) {
    it->second->Note("close fd=" + std::to_string(fd));
    S().fds.erase(it);
  }
  return Next<CloseFn>("close")(fd);
}

int clock_gettime(clockid_t clock, timespec* t) {
  if (!FakeTime() || clock != CLOCK_MONOTONIC)
    return Next<ClockGetTimeFn>("clock_gettime")(clock, t);
  const long long now = Monotonic();
  t->tv_sec = now / 1000000000LL;
  t->tv_nsec = now % 1000000000LL;
  return 0;
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remain) {
  using Fn = int (*)(clockid_t, int, const timespec*, timespec*);
  if (!FakeTime() || clock != CLOCK_MONOTONIC || !request)
    return Next<Fn>("clock_nanosleep")(clock, flags, request, remain);
  const long long wanted = request->tv_sec * 1000000000LL + request->tv_nsec;
  const long long wait = flags & TIMER_ABSTIME ? wanted - Monotonic() : wanted;
  if (wait > 0) g_skipped += wait;
  return 0;
}

int nanosleep(const timespec* request, timespec* remain) {
  using Fn = int (*)(const timespec*, timespec*);
  if (!FakeTime() || !request) return Next<Fn>("nanosleep")(request, remain);
  g_skipped += request->tv_sec * 1000000000LL + request->tv_nsec;
  return 0;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const auto it = S().fds.find(fd);
  if (it == S().fds.end()) return Next<IoctlFn>("ioctl")(fd, request, arg);
  switch (request) {
    case I2C_FUNCS:
      return it->second->Funcs(static_cast<unsigned long*>(arg));
    case I2C_RDWR:
      return it->second->ReadWrite(static_cast<i2c_rdwr_ioctl_data*>(arg));
    default:
      it->second->Note("ioctl " + std::to_string(request) + " refused: ENOTTY");
      errno = ENOTTY;
      return -1;
  }
}

}  // extern "C"
