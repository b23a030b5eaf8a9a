#include "cli/cli.h"

#include "cli/progress.h"
#include "eeprom/commands.h"
#include "eeprom/eeprom.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#ifndef BRAVIK_VERSION
#error "BRAVIK_VERSION comes from the version block of res/app.rc"
#endif

namespace {

constexpr char kHelp[] =
    "usage: bravik %s[--quiet] COMMAND [ARGS]\n"
    "\n"
    "Checks and repairs the board identity of the TV-tuner card, with a backup first.\n"
    "\n"
    "commands:\n"
    "  identify                       print the board's sub-vendor, subsystem and verdict\n"
    "  reflash [--backup FILE | --no-backup]\n"
    "                                 back up, then write the built-in image (needs-reflash only)\n"
    "  save-board FILE                save the 256-byte board EEPROM to FILE\n"
    "  save-dsp FILE                  save the 32 KiB DSP EEPROM to FILE\n"
    "  restore FILE [--force] [--backup FILE | --no-backup]\n"
    "                                 back up, then write a 256-byte board image back\n"
    "  verify FILE                    compare the board EEPROM with FILE\n"
    "%s"
    "\n"
    "options:\n"
    "%s"
    "  --quiet                        no progress line\n"
    "  --help, --version\n"
    "\n"
    "example:\n"
    "  %s\n"
    "\n"
    "exit status: 0 done, 1 failed or refused, 2 usage error\n";

constexpr char kListLine[] =
    "  list                           the i2c-dev adapters, and where the card answers\n";
constexpr char kBusOption[] = "  --bus N                        the card's adapter, /dev/i2c-N\n";

// One message line on stderr: "bravik: ...".
void Say(const char* format, va_list args) {
  std::fputs("bravik: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

void Err(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Err(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(format, args);
  va_end(args);
}

std::string Hex(uint32_t value, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", digits, value);
  return b;
}

const char* VerdictName(BoardVerdict v) {
  switch (v) {
    case BoardVerdict::NeedsReflash:
      return "needs-reflash";
    case BoardVerdict::AlreadyCorrect:
      return "already-correct";
    case BoardVerdict::OtherBoard:
      return "other-board";
    default:
      return "wrong-sub-vendor";
  }
}

// ---- The command line ----------------------------------------------------------

enum class Command { Identify, Reflash, SaveBoard, SaveDsp, Restore, Verify, List };

struct CommandInfo {
  const char* name;
  Command command;
  size_t files;   // positional FILE arguments
  bool backup;    // --backup FILE, --no-backup
  bool force;     // --force
  bool needsBus;  // --bus N, where there are buses
};

const CommandInfo kCommands[] = {
    {"identify", Command::Identify, 0, false, false, true},
    {"reflash", Command::Reflash, 0, true, false, true},
    {"save-board", Command::SaveBoard, 1, false, false, true},
    {"save-dsp", Command::SaveDsp, 1, false, false, true},
    {"restore", Command::Restore, 1, true, true, true},
    {"verify", Command::Verify, 1, false, false, true},
    {"list", Command::List, 0, false, false, false},
};

struct Options {
  const CommandInfo* command = nullptr;
  bool help = false, version = false, quiet = false, force = false, noBackup = false;
  bool hasBus = false;
  int bus = -1;
  std::string backup;
  bool hasBackup = false;
  std::vector<std::string> files;
};

// A usage error: the message, a pointer to --help, exit 2.
int Usage(const char* format, ...) __attribute__((format(printf, 1, 2)));
int Usage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(format, args);
  va_end(args);
  std::fputs("Try 'bravik --help'.\n", stderr);
  return EXIT_USAGE;
}

bool ParseBus(const std::string& text, int* bus) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *bus = std::atoi(text.c_str());
  return true;
}

// 0 when the arguments make sense; else the exit code of the usage error.
int Parse(const std::vector<std::string>& args, const Host& host, Options* o) {
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // "--opt VALUE" and "--opt=VALUE"
    auto value = [&](const char* name, std::string* out) {
      const std::string n = name;
      if (a == n) {
        if (i + 1 >= args.size()) return -1;
        *out = args[++i];
        return 1;
      }
      if (a.rfind(n + "=", 0) == 0) {
        *out = a.substr(n.size() + 1);
        return 1;
      }
      return 0;
    };
    std::string v;
    int got;
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "--version") {
      o->version = true;
    } else if (a == "--quiet" || a == "-q") {
      o->quiet = true;
    } else if (a == "--force") {
      o->force = true;
    } else if (a == "--no-backup") {
      o->noBackup = true;
    } else if ((got = value("--bus", &v)) != 0) {
      if (!host.HasBuses())
        return Usage("--bus: there is no --bus here: the card is found by its capture filter");
      if (got < 0) return Usage("--bus needs an adapter number (see 'bravik list')");
      if (!ParseBus(v, &o->bus)) return Usage("--bus: '%s' is not an adapter number", v.c_str());
      o->hasBus = true;
    } else if ((got = value("--backup", &v)) != 0) {
      if (got < 0 || v.empty()) return Usage("--backup needs a FILE");
      o->backup = v;
      o->hasBackup = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '%s'", a.c_str());
    } else {
      words.push_back(a);
    }
  }
  if (o->help || o->version) return 0;
  if (words.empty()) return Usage("no command given");
  for (const CommandInfo& c : kCommands)
    if (words[0] == c.name && (c.command != Command::List || host.HasBuses())) o->command = &c;
  if (!o->command) return Usage("unknown command '%s'", words[0].c_str());
  const CommandInfo& c = *o->command;
  o->files.assign(words.begin() + 1, words.end());
  if (o->files.size() < c.files) return Usage("%s: missing FILE", c.name);
  if (o->files.size() > c.files)
    return Usage("%s: unexpected argument '%s'", c.name, o->files[c.files].c_str());
  if (o->force && !c.force) return Usage("%s: --force is not an option of %s", c.name, c.name);
  if ((o->hasBackup || o->noBackup) && !c.backup)
    return Usage("%s: --%s is not an option of %s", c.name, o->hasBackup ? "backup" : "no-backup",
                 c.name);
  if (o->hasBackup && o->noBackup)
    return Usage("%s: --backup and --no-backup exclude each other", c.name);
  if (c.needsBus && host.HasBuses() && !o->hasBus)
    return Usage("%s: --bus N is required: the card's adapter (see 'bravik list')", c.name);
  return 0;
}

// ---- Running a command -------------------------------------------------------------

// Collects the core's boxes: a failure that names its transfer is told in
// one line of the tool's own; the others are told as they were boxed.
class MessageSink : public ErrorSink {
 public:
  void ShowError(const std::string& text) override { m_texts.push_back(text); }
  const std::vector<std::string>& texts() const { return m_texts; }
  void Clear() { m_texts.clear(); }

 private:
  std::vector<std::string> m_texts;
};

const char* DeviceName(uint8_t device) {
  switch (device) {
    case BOARD_EEPROM_ADDRESS:
      return "the board EEPROM";
    case DSP_EEPROM_ADDRESS:
      return "the DSP EEPROM";
    case CHANNEL_DECODER_ADDRESS:
      return "the channel decoder";
    default:
      return "the device";
  }
}

// The platform's words for the codes of failed transfers, asked of the bus
// while it is there: a command's bus is gone when its outcome is told.
class ReasonKeeper : public BusOpener {
 public:
  explicit ReasonKeeper(std::unique_ptr<BusOpener> inner) : m_inner(std::move(inner)) {}

  std::unique_ptr<I2CBus> Open(ErrorSink& errors) override {
    std::unique_ptr<I2CBus> bus = m_inner->Open(errors);
    if (!bus) return nullptr;
    return std::make_unique<Bus>(std::move(bus), &m_reasons);
  }

  std::string Reason(int32_t code) const {
    const auto it = m_reasons.find(code);
    return it != m_reasons.end() ? it->second : "error " + std::to_string(code);
  }

 private:
  class Bus : public I2CBus {
   public:
    Bus(std::unique_ptr<I2CBus> inner, std::map<int32_t, std::string>* reasons)
        : m_inner(std::move(inner)), m_reasons(reasons) {}
    BusStatus Write(uint8_t device, const uint8_t* sub, size_t subLength, const uint8_t* data,
                    size_t length) override {
      return Keep(m_inner->Write(device, sub, subLength, data, length));
    }
    BusStatus Read(uint8_t device, const uint8_t* sub, size_t subLength, uint8_t* buffer,
                   size_t length) override {
      return Keep(m_inner->Read(device, sub, subLength, buffer, length));
    }
    std::string Reason(int32_t code) const override { return m_inner->Reason(code); }

   private:
    BusStatus Keep(BusStatus status) {
      if (!status.ok) (*m_reasons)[status.code] = m_inner->Reason(status.code);
      return status;
    }
    std::unique_ptr<I2CBus> m_inner;
    std::map<int32_t, std::string>* m_reasons;
  };

  std::unique_ptr<BusOpener> m_inner;
  std::map<int32_t, std::string> m_reasons;
};

class Run {
 public:
  Run(const Options& o, Host& host)
      : m_o(o), m_host(host), m_name(o.command->name), m_opener(host.Opener(o.bus)) {}

  int Execute() {
    // A file to write back or compare is checked before the bus is touched.
    const Command command = m_o.command->command;
    if ((command == Command::Restore || command == Command::Verify) &&
        !ReadImage(m_o.files[0], &m_file))
      return EXIT_USAGE;
    if (m_o.command->needsBus && !AdapterUsable()) return EXIT_FAILED;
    switch (m_o.command->command) {
      case Command::Identify:
        return Identify();
      case Command::Reflash:
        return Write(nullptr);
      case Command::Restore:
        return Restore();
      case Command::SaveBoard:
        return SaveBoard();
      case Command::SaveDsp:
        return SaveDsp();
      case Command::Verify:
        return Verify();
      default:
        return m_host.List();
    }
  }

 private:
  EepromContext Context(ProgressSink& progress) {
    return EepromContext{m_opener, m_sink, progress, m_host.pacer(), &m_host.stop()};
  }

  std::unique_ptr<ProgressLine> Progress(const char* what, uint32_t total) {
    return std::make_unique<ProgressLine>(what, total, m_host,
                                          !m_o.quiet && m_host.StderrIsTerminal());
  }

  // What failed, in one line: the transfer with its device, offset, bus and
  // the platform's reason; else the core's own texts.
  void Report(const TransferFailure& failure, const std::string& prefix = std::string()) {
    if (failure.device) {
      const bool decoder = failure.device == CHANNEL_DECODER_ADDRESS;
      Err("%s: %s%s %s (%s) at %s %s on %s failed: %s", m_name, prefix.c_str(),
          failure.write ? "writing" : "reading", DeviceName(failure.device),
          Hex(failure.device, 2).c_str(), decoder ? "register" : "offset",
          Hex(failure.offset, failure.device == DSP_EEPROM_ADDRESS ? 4 : 2).c_str(),
          m_host.Where(m_o.bus).c_str(), m_opener.Reason(failure.code).c_str());
    } else {
      // A command that opens its bus twice (a save: the identity read, then
      // the dump) is told once what the opening said.
      std::vector<std::string> told;
      for (const std::string& t : m_sink.texts()) {
        if (std::find(told.begin(), told.end(), t) != told.end()) continue;
        told.push_back(t);
        Err("%s: %s%s", m_name, prefix.c_str(), t.c_str());
      }
    }
    m_sink.Clear();
  }

  // Before anything: the bus opens (on Linux: the node, with plain I2C).
  bool AdapterUsable() {
    if (m_opener.Open(m_sink)) return true;
    Report(TransferFailure{});
    return false;
  }

  // The identity read that guards every write. False: told and refused.
  bool ReadIdentity(IdentityCheck* check) {
    NoProgress none;
    EepromContext ctx = Context(none);
    *check = CheckBoardIdentity(ctx);
    if (!check->read) {
      Report(check->failure);
      return false;
    }
    return true;
  }

  std::string IdentityText(const IdentityCheck& c) {
    return "sub-vendor " + Hex(c.ids.m_wSubVendorID, 4) + " subsystem " +
           Hex(c.ids.m_wSubSystemID, 4) + " verdict " + VerdictName(c.verdict);
  }

  int Identify() {
    IdentityCheck check;
    if (!ReadIdentity(&check)) return EXIT_FAILED;
    std::printf("%s\n", IdentityText(check).c_str());
    return EXIT_DONE;
  }

  // A board dump into `path`. False: told; nothing under `path` changed.
  bool SaveBoardTo(const std::string& path, bool replace, const char* what) {
    std::string error;
    std::unique_ptr<ImageSink> image = m_host.CreateImage(path, replace, &error);
    if (!image) {
      Err("%s: %s", m_name, error.c_str());
      return false;
    }
    auto progress = Progress(what, BOARD_IMAGE_SIZE);
    EepromContext ctx = Context(*progress);
    BoardIdentity ids;
    const SaveOutcome outcome = SaveBoardEEPROM(ctx, *image, BOARD_IMAGE_SIZE, &ids);
    progress->Finish();
    if (outcome.ok()) return true;
    if (outcome.status == SaveStatus::FileFailed) {
      m_sink.Clear();
      Err("%s: %s", m_name, outcome.fileError.c_str());
    } else {
      Report(outcome.failure);
    }
    return false;
  }

  int SaveBoard() {
    if (!SaveBoardTo(m_o.files[0], true, "saving the board EEPROM")) return EXIT_FAILED;
    std::printf("saved the board EEPROM (%u bytes) to %s\n", BOARD_IMAGE_SIZE,
                m_o.files[0].c_str());
    return EXIT_DONE;
  }

  int SaveDsp() {
    // Opening the gate writes to the channel decoder: only on the card.
    IdentityCheck check;
    if (!ReadIdentity(&check) || !CardAnswers(check)) return EXIT_FAILED;
    std::string error;
    std::unique_ptr<ImageSink> image = m_host.CreateImage(m_o.files[0], true, &error);
    if (!image) {
      Err("%s: %s", m_name, error.c_str());
      return EXIT_FAILED;
    }
    auto progress = Progress("saving the DSP EEPROM", DSP_EEPROM_SIZE);
    EepromContext ctx = Context(*progress);
    const SaveOutcome outcome = SaveDspEEPROM(ctx, *image);
    progress->Finish();
    switch (outcome.status) {
      case SaveStatus::Saved:
        Report(TransferFailure{});  // a gate that did not close is told
        std::printf("saved the DSP EEPROM (%u bytes) to %s\n", DSP_EEPROM_SIZE,
                    m_o.files[0].c_str());
        return EXIT_DONE;
      case SaveStatus::Stopped:
        m_sink.Clear();
        Err("%s: stopped by Ctrl-C; %s was not written", m_name, m_o.files[0].c_str());
        return EXIT_FAILED;
      case SaveStatus::FileFailed:
        m_sink.Clear();
        Err("%s: %s", m_name, outcome.fileError.c_str());
        return EXIT_FAILED;
      default:
        Report(outcome.failure);
        return EXIT_FAILED;
    }
  }

  // The guard of every write: the board EEPROM reads the card's sub-vendor.
  bool CardAnswers(const IdentityCheck& check) {
    if (check.ids.m_wSubVendorID == BOARD_SUBVENDOR_ID) return true;
    Err("%s: refused: the board EEPROM on %s reads sub-vendor %s, not %s; nothing was written",
        m_name, m_host.Where(m_o.bus).c_str(), Hex(check.ids.m_wSubVendorID, 4).c_str(),
        Hex(BOARD_SUBVENDOR_ID, 4).c_str());
    return false;
  }

  // A 256-byte file. False: told (exit 2).
  bool ReadImage(const std::string& path, std::vector<uint8_t>* bytes) {
    const std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
      Err("%s: cannot read %s: %s", m_name, path.c_str(), std::strerror(errno));
      return false;
    }
    // One byte more than an image, to tell a longer file.
    bytes->assign(BOARD_IMAGE_SIZE + 1, 0);
    const size_t n = std::fread(bytes->data(), 1, bytes->size(), f.get());
    if (std::ferror(f.get())) {
      Err("%s: cannot read %s: %s", m_name, path.c_str(), std::strerror(errno));
      return false;
    }
    if (n != BOARD_IMAGE_SIZE) {
      Err("%s: %s is %s bytes long; a board image has exactly %u", m_name, path.c_str(),
          n > BOARD_IMAGE_SIZE ? "more than 256" : std::to_string(n).c_str(), BOARD_IMAGE_SIZE);
      return false;
    }
    bytes->resize(BOARD_IMAGE_SIZE);
    return true;
  }

  int Restore() {
    const std::vector<uint8_t>& image = m_file;
    if (image[0] != (BOARD_SUBVENDOR_ID & 0xFF) || image[1] != BOARD_SUBVENDOR_ID >> 8) {
      Err("%s: refused: %s begins with %02X %02X, not the card's sub-vendor bytes 2D 6B; "
          "nothing was written",
          m_name, m_o.files[0].c_str(), image[0], image[1]);
      return EXIT_FAILED;
    }
    return Write(&image);
  }

  // reflash (image null: the built-in one) and restore: the identity
  // guard, the backup, then the paced writes, identity bytes last.
  int Write(const std::vector<uint8_t>* image) {
    IdentityCheck check;
    if (!ReadIdentity(&check)) return EXIT_FAILED;
    if (!image && check.verdict != BoardVerdict::NeedsReflash) {
      if (!CardAnswers(check)) return EXIT_FAILED;
      Err("%s: refused: the board reads %s; reflash is only for a board that needs it; "
          "nothing was written",
          m_name, IdentityText(check).c_str());
      return EXIT_FAILED;
    }
    if (image && !m_o.force && !CardAnswers(check)) {
      Err("%s: (--force restores a board whose identity is erased or corrupted)", m_name);
      return EXIT_FAILED;
    }
    if (!m_o.noBackup) {
      const std::string backup =
          m_o.hasBackup ? m_o.backup : "board-backup-" + m_host.Timestamp() + ".bin";
      if (!SaveBoardTo(backup, false, "backing up the board EEPROM")) {
        Err("%s: the backup failed; nothing was written", m_name);
        return EXIT_FAILED;
      }
      std::printf("backup of the board EEPROM: %s\n", backup.c_str());
      std::fflush(stdout);
    }

    auto progress = Progress("writing the board EEPROM", BOARD_IMAGE_SIZE);
    EepromContext ctx = Context(*progress);
    const WriteOutcome outcome =
        image ? ProgramBoard(ctx, image->data(), BOARD_IMAGE_SIZE, BOARD_IMAGE_SIZE) : ReFlash(ctx);
    progress->Finish();
    return Written(outcome);
  }

  // "offsets 0x04-0x63", from the write order (identity bytes last).
  static std::string WrittenOffsets(uint32_t done) {
    if (done == 0) return "none";
    std::string text;
    uint32_t first = WriteOffset(0, BOARD_IMAGE_SIZE), last = first;
    auto flush = [&] {
      if (!text.empty()) text += ", ";
      text += first == last ? Hex(first, 2) : Hex(first, 2) + "-" + Hex(last, 2);
    };
    for (uint32_t n = 1; n < done; ++n) {
      const uint32_t at = WriteOffset(n, BOARD_IMAGE_SIZE);
      if (at != last + 1) {
        flush();
        first = at;
      }
      last = at;
    }
    flush();
    return (done == 1 ? "offset " : "offsets ") + text;
  }

  int Written(const WriteOutcome& o) {
    const std::string written = std::to_string(o.writesDone) + " of " +
                                std::to_string(BOARD_IMAGE_SIZE) + " bytes written (" +
                                WrittenOffsets(o.writesDone) + ")";
    const bool identityLeft = o.writesDone <= BOARD_IMAGE_SIZE - 4;
    const std::string board = identityLeft ? "; the identity bytes 0-3 are as they were"
                                           : "; the identity bytes were written too";
    switch (o.status) {
      case WriteStatus::Written:
        m_sink.Clear();
        std::printf("wrote %u bytes to the board EEPROM, read back and equal; reboot to apply\n",
                    BOARD_IMAGE_SIZE);
        return EXIT_DONE;
      case WriteStatus::Stopped:
        m_sink.Clear();
        Err("%s: stopped by Ctrl-C: %s%s", m_name, written.c_str(), board.c_str());
        return EXIT_FAILED;
      case WriteStatus::TransferFailed:
        Report(o.failure);
        Err("%s: %s%s", m_name, written.c_str(), board.c_str());
        return EXIT_FAILED;
      case WriteStatus::ReadBackFailed:
        Report(o.failure, "all bytes written, but ");
        return EXIT_FAILED;
      case WriteStatus::Mismatch:
        m_sink.Clear();
        Err("%s: read back, the board EEPROM differs at offset %s: wrote %s, found %s (is it "
            "write-protected?)",
            m_name, Hex(o.mismatchOffset, 2).c_str(), Hex(o.wrote, 2).c_str(),
            Hex(o.found, 2).c_str());
        return EXIT_FAILED;
      default:
        Report(o.failure);
        return EXIT_FAILED;
    }
  }

  int Verify() {
    const std::vector<uint8_t>& file = m_file;
    std::vector<uint8_t> board(BOARD_IMAGE_SIZE);
    NoProgress none;
    EepromContext ctx = Context(none);
    TransferFailure failure;
    if (!ReadBoardEEPROM(ctx, board.data(), BOARD_IMAGE_SIZE, &failure)) {
      Report(failure);
      return EXIT_FAILED;
    }
    size_t first = BOARD_IMAGE_SIZE, count = 0;
    for (size_t i = 0; i < BOARD_IMAGE_SIZE; ++i)
      if (board[i] != file[i]) {
        if (!count) first = i;
        ++count;
      }
    if (!count) {
      std::printf("the board EEPROM equals %s\n", m_o.files[0].c_str());
      return EXIT_DONE;
    }
    std::printf(
        "the board EEPROM differs from %s: first at offset %s (board %s, file %s), %u "
        "bytes differ\n",
        m_o.files[0].c_str(), Hex(static_cast<uint32_t>(first), 2).c_str(),
        Hex(board[first], 2).c_str(), Hex(file[first], 2).c_str(), static_cast<unsigned>(count));
    return EXIT_FAILED;
  }

  const Options& m_o;
  Host& m_host;
  const char* m_name;
  ReasonKeeper m_opener;
  MessageSink m_sink;
  std::vector<uint8_t> m_file;  // restore, verify: the 256-byte image
};

}  // namespace

int RunCli(const std::vector<std::string>& args, Host& host) {
  Options o;
  if (const int rc = Parse(args, host, &o)) return rc;
  if (o.help) {
    std::printf(kHelp, host.HasBuses() ? "[--bus N] " : "", host.HasBuses() ? kListLine : "",
                host.HasBuses() ? kBusOption : "",
                host.HasBuses()
                    ? "bravik --bus 3 identify && bravik --bus 3 reflash --backup before.bin"
                    : "bravik identify && bravik reflash --backup before.bin");
    return EXIT_DONE;
  }
  if (o.version) {
    std::printf("bravik %s\n", BRAVIK_VERSION);
    return EXIT_DONE;
  }
  Run run(o, host);
  return run.Execute();
}
