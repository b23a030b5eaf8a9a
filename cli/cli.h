// The command-line tool `bravik` over the EEPROM core: its arguments, its
// commands and their messages, the same on every platform. A Host gives
// what differs: the bus, the pauses, Ctrl-C, files and the terminal.
#pragma once

#include "eeprom/seams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;  // the operation failed or was refused
inline constexpr int EXIT_USAGE = 2;

class Host {
 public:
  virtual ~Host() = default;
  // Linux: --bus N names the adapter, and `list` shows them.
  virtual bool HasBuses() const = 0;
  // The opener of the card's bus (bus: the --bus number where HasBuses()).
  virtual std::unique_ptr<BusOpener> Opener(int bus) = 0;
  // Where the card is, for messages: "/dev/i2c-3", "the capture filter".
  virtual std::string Where(int bus) const = 0;
  virtual Pacer& pacer() = 0;
  // Ctrl-C, caught from now on.
  virtual StopSignal& stop() = 0;
  // An image file being written: a temporary file beside `path`, which
  // takes that name only when committed; dropped uncommitted, it leaves
  // nothing. Null with a sentence in `error`. With `replace` false, a file
  // already under that name is never replaced.
  virtual std::unique_ptr<ImageSink> CreateImage(const std::string& path, bool replace,
                                                 std::string* error) = 0;
  // The adapters, printed to stdout; the exit code.
  virtual int List() = 0;
  virtual bool StderrIsTerminal() const = 0;
  // Seconds on a monotonic clock, for the time left.
  virtual double Now() const = 0;
  // "20261211-154502", local time, for the default backup name.
  virtual std::string Timestamp() const = 0;
};

// Runs the tool; returns its exit code. Results on stdout, messages on
// stderr, each beginning "bravik: ".
int RunCli(const std::vector<std::string>& args, Host& host);
