// bravik end to end: the built Linux program, unmodified, against the
// simulated adapter. Each test gets a fresh directory with the card's
// adapter at /dev/i2c-3, an SMBus-only controller at /dev/i2c-0, and a
// working folder for the files the tool reads and writes.
#include "eeprom/eeprom.h"
#include "testing/simcard/model.h"
#include "tests/cli/run.h"
#include "testing/i2csim/state.h"

#include <gmock/gmock.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr char kBus[] = "3";

std::vector<uint8_t> Preset(simcard::Preset p) { return simcard::PresetContents(p).board; }

std::vector<uint8_t> BuiltIn() { return std::vector<uint8_t>(BoardImage, BoardImage + 256); }

class CliTest : public testing::Test {
 protected:
  void SetUp() override { Card("reflash"); }

  // A fresh card of this preset, and the motherboard's SMBus beside it.
  void Card(const std::string& preset, const std::string& faults = "") {
    dir = sim::FreshDir();
    card = sim::MakeAdapter(dir, 3, "tuner card", preset, faults);
    smbus = sim::MakeAdapter(dir, 0, "SMBus controller", "reflash", "smbus-only\n");
    work = dir + "/work";
    mkdir(work.c_str(), 0755);
  }

  cli::Result Bravik(std::vector<std::string> args, bool withBus = true) {
    if (withBus) args.insert(args.begin(), {"--bus", kBus});
    return cli::Run(Setup(), args);
  }

  cli::Setup Setup() const { return cli::Setup{dir, work, true, false}; }

  std::vector<sim::Transfer> Log() const { return sim::Transfers(card); }
  std::vector<uint8_t> Board() const { return sim::ReadBytes(card + "/board.bin"); }
  std::string File(const std::string& name) const { return work + "/" + name; }

  // The files in the working folder, by name.
  std::vector<std::string> WorkFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir, card, smbus, work;
};

// ---- identify -------------------------------------------------------------------------

TEST_F(CliTest, IdentifyPrintsTheIdsAndTheVerdictFromOneRead) {
  const struct {
    const char* preset;
    const char* line;
  } kCases[] = {
      {"reflash", "sub-vendor 0x6B2D subsystem 0x3A21 verdict needs-reflash\n"},
      {"correct", "sub-vendor 0x6B2D subsystem 0x3A2C verdict already-correct\n"},
      {"other", "sub-vendor 0x6B2D subsystem 0x0000 verdict other-board\n"},
      {"wrong-vendor", "sub-vendor 0x2D6B subsystem 0x3A21 verdict wrong-sub-vendor\n"},
  };
  for (const auto& c : kCases) {
    Card(c.preset);
    const cli::Result r = Bravik({"identify"});
    EXPECT_EQ(r.rc, 0) << c.preset << r.err;
    EXPECT_EQ(r.out, c.line);
    EXPECT_EQ(r.err, "");
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u) << c.preset;
    EXPECT_EQ(log[0].text.substr(0, 26), "1 R 50 sub=[00 00] len=4 d");
  }
}

// ---- reflash ----------------------------------------------------------------------------

TEST_F(CliTest, ReflashBacksUpFirstThenWritesTheImageIdentityLastAndChecksIt) {
  const std::vector<uint8_t> before = Board();
  const cli::Result r = Bravik({"reflash"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err, "") << "no progress line off a terminal";

  // The default backup name, in the working folder, holding the board as it was.
  const std::vector<std::string> files = WorkFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex("board-backup-[0-9]{8}-[0-9]{6}\\.bin")))
      << files[0];
  EXPECT_EQ(sim::ReadBytes(File(files[0])), before);
  EXPECT_EQ(r.out, "backup of the board EEPROM: " + files[0] +
                       "\nwrote 256 bytes to the board EEPROM, read back and equal; reboot to "
                       "apply\n");
  EXPECT_EQ(Board(), BuiltIn());

  // Identity read, the backup's identity read and 32 chunks, then 256
  // writes (offsets 4.. first, 0-3 last), 20 ms apart, then the read-back.
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u + 33 + 256 + 32);
  for (size_t i = 0; i < 34; ++i) EXPECT_FALSE(log[i].write) << i;
  for (size_t n = 0; n < 256; ++n) {
    const sim::Transfer& t = log[34 + n];
    ASSERT_TRUE(t.write) << n;
    char sub[3];
    std::snprintf(sub, sizeof sub, "%02X", WriteOffset(static_cast<uint32_t>(n), 256));
    EXPECT_EQ(t.sub, sub);
    if (n) {
      EXPECT_GE(t.at - log[33 + n].at, 20000) << "the pause before write " << n;
    }
  }
  EXPECT_EQ(log[34 + 255].sub, "03");
  for (size_t i = 290; i < log.size(); ++i) EXPECT_FALSE(log[i].write);

  // The board now needs nothing; the backup no longer matches it.
  EXPECT_EQ(Bravik({"identify"}).out,
            "sub-vendor 0x6B2D subsystem 0x3A2C verdict already-correct\n");
}

TEST_F(CliTest, ReflashOnlyForABoardThatNeedsItAndWritesNothingElsewhere) {
  const struct {
    const char* preset;
    const char* message;
  } kCases[] = {
      {"correct",
       "bravik: reflash: refused: the board reads sub-vendor 0x6B2D subsystem 0x3A2C verdict "
       "already-correct; reflash is only for a board that needs it; nothing was written\n"},
      {"other",
       "bravik: reflash: refused: the board reads sub-vendor 0x6B2D subsystem 0x0000 verdict "
       "other-board; reflash is only for a board that needs it; nothing was written\n"},
      {"wrong-vendor",
       "bravik: reflash: refused: the board EEPROM on /dev/i2c-3 reads sub-vendor 0x2D6B, not "
       "0x6B2D; nothing was written\n"},
  };
  for (const auto& c : kCases) {
    Card(c.preset);
    const std::vector<uint8_t> before = Board();
    const cli::Result r = Bravik({"reflash"});
    EXPECT_EQ(r.rc, 1) << c.preset;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Log().size(), 1u) << "the identity read alone";
    EXPECT_EQ(Board(), before);
    EXPECT_TRUE(WorkFiles().empty()) << "no backup either";
  }
}

TEST_F(CliTest, NoWriteWhenTheBackupFails) {
  // The backup's folder is missing; its target exists; its dump fails.
  sim::WriteText(File("kept.bin"), "an older backup");
  const struct {
    std::vector<std::string> args;
    std::string faults;
    std::string message;
  } kCases[] = {
      {{"reflash", "--backup", "missing/b.bin"},
       "",
       "bravik: reflash: cannot create a temporary file beside missing/b.bin: No such file or "
       "directory\n"},
      {{"reflash", "--backup", "kept.bin"},
       "",
       "bravik: reflash: kept.bin exists; a backup never replaces a file\n"},
      {{"reflash", "--backup", "b.bin"},
       "fail 10 EREMOTEIO\n",
       "bravik: reflash: reading the board EEPROM (0xA0) at offset 0x38 on /dev/i2c-3 failed: "
       "Remote I/O error\n"},
  };
  for (const auto& c : kCases) {
    const std::string kept = sim::ReadText(File("kept.bin"));
    Card("reflash", c.faults);
    sim::WriteText(File("kept.bin"), kept);
    const std::vector<uint8_t> before = Board();
    const cli::Result r = Bravik(c.args);
    EXPECT_EQ(r.rc, 1) << c.message;
    EXPECT_EQ(r.err, c.message + "bravik: reflash: the backup failed; nothing was written\n");
    EXPECT_EQ(sim::Writes(Log()), 0u);
    EXPECT_EQ(Board(), before);
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"kept.bin"}) << "nothing left behind";
    EXPECT_EQ(sim::ReadText(File("kept.bin")), "an older backup");
  }
}

TEST_F(CliTest, AFailedTransferIsToldWithItsOffsetAndWhatWasWritten) {
  // --no-backup: transfer 1 is the identity read, 2.. the writes, 258.. the read-back.
  const struct {
    const char* fault;
    const char* messages;
    size_t writes;  // acknowledged writes in the log
  } kCases[] = {
      {"fail 1 EIO",
       "bravik: reflash: reading the board EEPROM (0xA0) at offset 0x00 on /dev/i2c-3 failed: "
       "Input/output error\n",
       0},
      {"fail 2 EREMOTEIO",
       "bravik: reflash: writing the board EEPROM (0xA0) at offset 0x04 on /dev/i2c-3 failed: "
       "Remote I/O error\n"
       "bravik: reflash: 0 of 256 bytes written (none); the identity bytes 0-3 are as they "
       "were\n",
       0},
      {"fail 101 ETIMEDOUT",
       "bravik: reflash: writing the board EEPROM (0xA0) at offset 0x67 on /dev/i2c-3 failed: "
       "Connection timed out\n"
       "bravik: reflash: 99 of 256 bytes written (offsets 0x04-0x66); the identity bytes 0-3 "
       "are as they were\n",
       99},
      {"fail 257 EIO",
       "bravik: reflash: writing the board EEPROM (0xA0) at offset 0x03 on /dev/i2c-3 failed: "
       "Input/output error\n"
       "bravik: reflash: 255 of 256 bytes written (offsets 0x04-0xFF, 0x00-0x02); the identity "
       "bytes were written too\n",
       255},
      {"fail 260 EIO",
       "bravik: reflash: all bytes written, but reading the board EEPROM (0xA0) at offset 0x10 "
       "on /dev/i2c-3 failed: Input/output error\n",
       256},
  };
  for (const auto& c : kCases) {
    Card("reflash", std::string(c.fault) + "\n");
    const cli::Result r = Bravik({"reflash", "--no-backup"});
    EXPECT_EQ(r.rc, 1) << c.fault;
    EXPECT_EQ(r.err, c.messages);
    EXPECT_EQ(r.out, "");
    size_t acknowledged = 0;
    for (const sim::Transfer& t : Log()) acknowledged += t.write && t.rc == 0;
    EXPECT_EQ(acknowledged, c.writes) << c.fault;
  }
}

TEST_F(CliTest, AWriteThatDoesNotStickIsCaughtByTheReadBack) {
  Card("reflash", "write-protect board\n");
  const cli::Result r = Bravik({"reflash", "--no-backup"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err,
            "bravik: reflash: read back, the board EEPROM differs at offset 0x02: wrote 0x2C, "
            "found 0x21 (is it write-protected?)\n");
  EXPECT_EQ(Board(), Preset(simcard::Preset::Reflash));
}

TEST_F(CliTest, CtrlCStopsAfterTheCurrentWriteAndSaysWhatWasWritten) {
  cli::Setup setup = Setup();
  setup.fakeTime = false;  // the signal comes in the middle of a real run
  cli::Running run(setup, {"--bus", kBus, "reflash", "--no-backup"});
  // Some writes into the run, as the log shows them.
  for (int i = 0; i < 500 && sim::Writes(Log()) < 20; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  run.Signal(SIGINT);
  const cli::Result r = run.Finish();
  EXPECT_EQ(r.rc, 1);
  const auto log = Log();
  const size_t writes = sim::Writes(log);
  ASSERT_GE(writes, 20u);
  ASSERT_LT(writes, 252u);
  char last[8];
  std::snprintf(last, sizeof last, "0x%02zX", 3 + writes);
  EXPECT_EQ(r.err, "bravik: reflash: stopped by Ctrl-C: " + std::to_string(writes) +
                       " of 256 bytes written (offsets 0x04-" + last +
                       "); the identity bytes 0-3 are as they were\n");
  EXPECT_TRUE(log.back().write) << "no read-back after a stop";
  const std::vector<uint8_t> board = Board();
  EXPECT_EQ(std::vector<uint8_t>(board.begin(), board.begin() + 4),
            (std::vector<uint8_t>{0x2D, 0x6B, 0x21, 0x3A}))
      << "the board still asks for reflash";
  EXPECT_EQ(Bravik({"identify"}).out, "sub-vendor 0x6B2D subsystem 0x3A21 verdict needs-reflash\n");
}

// ---- save-board, save-dsp --------------------------------------------------------------

TEST_F(CliTest, SavesAreTheEepromsByteForByteAndReplaceOnlyWhenComplete) {
  sim::WriteText(File("board.bin"), "older");
  cli::Result r = Bravik({"save-board", "board.bin"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "saved the board EEPROM (256 bytes) to board.bin\n");
  EXPECT_EQ(sim::ReadBytes(File("board.bin")), Board());

  const std::vector<uint8_t> chdec = sim::ReadBytes(card + "/chdec.bin");
  unlink((card + "/transfers.log").c_str());
  r = Bravik({"save-dsp", "dsp.bin"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "saved the DSP EEPROM (32768 bytes) to dsp.bin\n");
  EXPECT_EQ(sim::ReadBytes(File("dsp.bin")), sim::ReadBytes(card + "/dsp.bin"));
  EXPECT_EQ(sim::ReadBytes(card + "/chdec.bin"), chdec) << "the gate is closed again";
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u + 3 + 512 + 2);
  EXPECT_EQ(log[4].sub, "00 00");
  EXPECT_EQ(log[5].sub, "00 40") << "high byte first";
  EXPECT_GE(log[5].at - log[4].at, 20000);

  // A failed page: the older file stays as it was, nothing temporary is left.
  Card("reflash", "fail 10 EREMOTEIO\n");
  sim::WriteText(File("dsp.bin"), "older");
  r = Bravik({"save-dsp", "dsp.bin"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err,
            "bravik: save-dsp: reading the DSP EEPROM (0xA2) at offset 0x0140 on /dev/i2c-3 "
            "failed: Remote I/O error\n");
  EXPECT_EQ(sim::ReadText(File("dsp.bin")), "older");
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{"dsp.bin"});
  EXPECT_EQ(sim::ReadBytes(card + "/chdec.bin"), chdec) << "closed after the failure too";
}

TEST_F(CliTest, SaveDspWritesNoGateOnABoardOfAnotherVendor) {
  Card("wrong-vendor");
  const cli::Result r = Bravik({"save-dsp", "dsp.bin"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err,
            "bravik: save-dsp: refused: the board EEPROM on /dev/i2c-3 reads sub-vendor 0x2D6B, "
            "not 0x6B2D; nothing was written\n");
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_TRUE(WorkFiles().empty());
}

// ---- restore, verify ---------------------------------------------------------------------

TEST_F(CliTest, RestorePutsABackupBackAfterBackingUpWhatIsThere) {
  ASSERT_EQ(Bravik({"reflash", "--backup", "before.bin"}).rc, 0);
  const cli::Result r = Bravik({"restore", "before.bin", "--backup", "after.bin"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out,
            "backup of the board EEPROM: after.bin\n"
            "wrote 256 bytes to the board EEPROM, read back and equal; reboot to apply\n");
  EXPECT_EQ(Board(), Preset(simcard::Preset::Reflash));
  EXPECT_EQ(sim::ReadBytes(File("after.bin")), BuiltIn());
  EXPECT_EQ(Bravik({"verify", "before.bin"}).rc, 0);
}

TEST_F(CliTest, RestoreRefusesFilesAndBoardsItCannotTrust) {
  const std::vector<uint8_t> image = Preset(simcard::Preset::Reflash);
  auto writeFiles = [&] {
    sim::WriteBytes(File("good.bin"), image);
    sim::WriteBytes(File("short.bin"), std::vector<uint8_t>(image.begin(), image.end() - 1));
    std::vector<uint8_t> longer = image;
    longer.push_back(0);
    sim::WriteBytes(File("long.bin"), longer);
    std::vector<uint8_t> swapped = image;
    std::swap(swapped[0], swapped[1]);
    sim::WriteBytes(File("swapped.bin"), swapped);
  };
  const struct {
    const char* preset;
    std::vector<std::string> args;
    int rc;
    std::string message;
  } kCases[] = {
      {"reflash",
       {"restore", "short.bin"},
       2,
       "bravik: restore: short.bin is 255 bytes long; a board image has exactly 256\n"},
      {"reflash",
       {"restore", "long.bin"},
       2,
       "bravik: restore: long.bin is more than 256 bytes long; a board image has exactly 256\n"},
      {"reflash",
       {"restore", "none.bin"},
       2,
       "bravik: restore: cannot read none.bin: No such file or directory\n"},
      {"reflash",
       {"restore", "swapped.bin", "--force"},
       1,
       "bravik: restore: refused: swapped.bin begins with 6B 2D, not the card's sub-vendor "
       "bytes 2D 6B; nothing was written\n"},
      {"wrong-vendor",
       {"restore", "good.bin"},
       1,
       "bravik: restore: refused: the board EEPROM on /dev/i2c-3 reads sub-vendor 0x2D6B, not "
       "0x6B2D; nothing was written\n"
       "bravik: restore: (--force restores a board whose identity is erased or corrupted)\n"},
  };
  for (const auto& c : kCases) {
    Card(c.preset);
    writeFiles();
    const std::vector<uint8_t> before = Board();
    const cli::Result r = Bravik(c.args);
    EXPECT_EQ(r.rc, c.rc) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(sim::Writes(Log()), 0u);
    EXPECT_EQ(Board(), before);
  }
}

TEST_F(CliTest, RestoreForceRecoversAnErasedBoard) {
  sim::WriteBytes(File("good.bin"), Preset(simcard::Preset::Reflash));
  sim::WriteBytes(card + "/board.bin", std::vector<uint8_t>(256, 0xFF));
  const cli::Result r = Bravik({"restore", "good.bin", "--force", "--no-backup"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(Board(), Preset(simcard::Preset::Reflash));
}

TEST_F(CliTest, VerifyTellsTheFirstDifferenceAndHowManyBytesDiffer) {
  ASSERT_EQ(Bravik({"save-board", "same.bin"}).rc, 0);
  cli::Result r = Bravik({"verify", "same.bin"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "the board EEPROM equals same.bin\n");

  std::vector<uint8_t> changed = Board();
  changed[0x10] ^= 0x01;
  changed[0xFF] ^= 0x80;
  sim::WriteBytes(File("changed.bin"), changed);
  r = Bravik({"verify", "changed.bin"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out,
            "the board EEPROM differs from changed.bin: first at offset 0x10 (board 0x00, file "
            "0x01), 2 bytes differ\n");
  EXPECT_EQ(sim::Writes(Log()), 0u);
}

// ---- the adapter ------------------------------------------------------------------------

TEST_F(CliTest, AnSmbusOnlyAdapterIsRefusedBeforeAnyTransfer) {
  sim::WriteBytes(File("good.bin"), Preset(simcard::Preset::Reflash));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"identify"},
                                             {"reflash"},
                                             {"restore", "good.bin", "--force"},
                                             {"save-dsp", "d.bin"},
                                             {"save-board", "b.bin"},
                                             {"verify", "good.bin"}}) {
    std::vector<std::string> full = {"--bus", "0"};
    full.insert(full.end(), args.begin(), args.end());
    const cli::Result r = cli::Run(Setup(), full);
    EXPECT_EQ(r.rc, 1) << args[0];
    EXPECT_EQ(r.err, "bravik: " + args[0] +
                         ": /dev/i2c-0 offers no plain I2C transfers, only SMBus (a "
                         "motherboard's controller, where memory modules answer at the card's "
                         "addresses): refused, nothing was sent\n");
  }
  EXPECT_TRUE(sim::Transfers(smbus).empty());
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{"good.bin"});
}

TEST_F(CliTest, AMissingAdapterIsNamedWithTheSystemsReason) {
  const cli::Result r = cli::Run(Setup(), {"--bus", "7", "identify"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "bravik: identify: cannot open /dev/i2c-7: No such file or directory\n");
}

TEST_F(CliTest, ListShowsEachAdapterAndWhereTheCardAnswersWithoutWriting) {
  sim::MakeAdapter(dir, 5, "empty bus", "none");
  const cli::Result r = Bravik({"list"}, false);
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out,
            "bus   name                             plain I2C board EEPROM (0x50)\n"
            "0     SMBus controller                 no        not probed: SMBus only\n"
            "3     tuner card                       yes       the card's, sub-vendor 0x6B2D\n"
            "5     empty bus                        yes       no answer: No such device or "
            "address\n");
  EXPECT_TRUE(sim::Transfers(smbus).empty());
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text, "1 R 50 sub=[00] len=4 data=[2D 6B 21 3A] rc=0");
}

// ---- the command line --------------------------------------------------------------------

TEST_F(CliTest, EveryUsageErrorExitsWith2AndTouchesNoBus) {
  sim::WriteBytes(File("short.bin"), std::vector<uint8_t>(100, 0));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } kCases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--frob", "identify"}, "unknown option '--frob'"},
      {{"identify"}, "identify: --bus N is required: the card's adapter (see 'bravik list')"},
      {{"--bus"}, "--bus needs an adapter number (see 'bravik list')"},
      {{"--bus", "x3", "identify"}, "--bus: 'x3' is not an adapter number"},
      {{"--bus=-1", "identify"}, "--bus: '-1' is not an adapter number"},
      {{"--bus", "3", "identify", "extra"}, "identify: unexpected argument 'extra'"},
      {{"--bus", "3", "save-board"}, "save-board: missing FILE"},
      {{"--bus", "3", "save-dsp"}, "save-dsp: missing FILE"},
      {{"--bus", "3", "restore"}, "restore: missing FILE"},
      {{"--bus", "3", "verify"}, "verify: missing FILE"},
      {{"--bus", "3", "verify", "a.bin", "b.bin"}, "verify: unexpected argument 'b.bin'"},
      {{"--bus", "3", "reflash", "--force"}, "reflash: --force is not an option of reflash"},
      {{"--bus", "3", "identify", "--no-backup"},
       "identify: --no-backup is not an option of identify"},
      {{"--bus", "3", "reflash", "--backup"}, "--backup needs a FILE"},
      {{"--bus", "3", "reflash", "--backup", "a.bin", "--no-backup"},
       "reflash: --backup and --no-backup exclude each other"},
      {{"list", "extra"}, "list: unexpected argument 'extra'"},
  };
  for (const auto& c : kCases) {
    const cli::Result r = cli::Run(Setup(), c.args);
    EXPECT_EQ(r.rc, 2) << c.message;
    EXPECT_EQ(r.err, std::string("bravik: ") + c.message + "\nTry 'bravik --help'.\n");
    EXPECT_EQ(r.out, "");
  }
  // A file that is not 256 bytes is a usage error too.
  for (const char* command : {"verify", "restore"}) {
    const cli::Result r = Bravik({command, "short.bin"});
    EXPECT_EQ(r.rc, 2) << command;
    EXPECT_EQ(r.err, std::string("bravik: ") + command +
                         ": short.bin is 100 bytes long; a board image has exactly 256\n");
  }
  EXPECT_TRUE(sim::Notes(card).empty()) << "no adapter was opened";
}

TEST_F(CliTest, HelpListsEveryCommandWithAnExampleAndVersionIsTheDialogs) {
  cli::Result r = Bravik({"--help"}, false);
  EXPECT_EQ(r.rc, 0);
  for (const char* line :
       {"\n  identify ", "\n  reflash [--backup FILE | --no-backup]\n", "\n  save-board FILE ",
        "\n  save-dsp FILE ", "\n  restore FILE [--force] [--backup FILE | --no-backup]\n",
        "\n  verify FILE ", "\n  list ", "\nexample:\n  bravik --bus 3 "})
    EXPECT_THAT(r.out, HasSubstr(line));
  r = Bravik({"--version"}, false);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, std::string("bravik ") + BRAVIK_VERSION + "\n");
}

TEST_F(CliTest, TheProgressLineIsDrawnOnATerminalOnly) {
  cli::Setup tty = Setup();
  tty.terminal = true;
  cli::Result r = cli::Run(tty, {"--bus", kBus, "reflash", "--backup", "b.bin"});
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr("\rbacking up the board EEPROM: 256 of 256 bytes, 100%, 0 s left"));
  // The time left from the time so far: 20 ms a byte, and what the machine adds.
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("\rwriting the board EEPROM: 1 of 256 bytes,   0%, [56] s left")))
      << r.out;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("\rwriting the board EEPROM: 128 of 256 bytes,  50%, [34] s left")))
      << r.out;
  EXPECT_THAT(r.out, HasSubstr("\rwriting the board EEPROM: 256 of 256 bytes, 100%, 0 s left  \r\n"
                               "wrote 256 bytes"));
  // --quiet on a terminal: the results alone.
  Card("reflash");
  r = cli::Run(tty, {"--bus", kBus, "--quiet", "save-dsp", "d.bin"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "saved the DSP EEPROM (32768 bytes) to d.bin\r\n");
}

}  // namespace
