#include "testing/simcard/model.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace simcard {

namespace {

// Board EEPROM of a card as it leaves the factory, before its identity
// bytes are set. The bytes differ from the product's image in places, and
// a serial number sits at 0x80, so a partial re-programming shows.
const uint8_t kBoardBase[0x50] = {
    0x2D, 0x6B, 0x21, 0x3A, 0x54, 0x20, 0x1C, 0x00, 0x43, 0x43, 0xA9, 0x1C, 0x55, 0xD2, 0xB2, 0x90,
    0x00, 0x01, 0x20, 0x00, 0xFF, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0x01, 0x40, 0x01, 0x02, 0x03, 0x01, 0x01, 0x03, 0x08, 0xFF, 0x00, 0xD4, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x20, 0x00, 0xC2, 0x96, 0x10, 0x03, 0x31, 0x15, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};
const char kSerial[] = "SN0419-22871";

// Channel decoder registers 0x3C-0x41 in their normal (gate closed) form.
const uint8_t kChdecBlock[6] = {0x5A, 0x1C, 0x30, 0x80, 0x27, 0x05};

}  // namespace

bool ParsePreset(const std::string& name, Preset* preset) {
  static const struct {
    const char* name;
    Preset preset;
  } kNames[] = {{"reflash", Preset::Reflash},
                {"correct", Preset::Correct},
                {"other", Preset::Other},
                {"wrong-vendor", Preset::WrongVendor}};
  for (const auto& n : kNames)
    if (name == n.name) {
      *preset = n.preset;
      return true;
    }
  return false;
}

Contents PresetContents(Preset preset) {
  Contents c;
  c.board.assign(BOARD_SIZE, 0xFF);
  std::memcpy(c.board.data(), kBoardBase, sizeof kBoardBase);
  std::memcpy(c.board.data() + 0x80, kSerial, sizeof kSerial - 1);
  static const uint8_t kIdentity[][4] = {{0x2D, 0x6B, 0x21, 0x3A},
                                         {0x2D, 0x6B, 0x2C, 0x3A},
                                         {0x2D, 0x6B, 0x00, 0x00},
                                         {0x6B, 0x2D, 0x21, 0x3A}};
  std::memcpy(c.board.data(), kIdentity[static_cast<int>(preset)], 4);

  // DSP firmware: any content whose every byte depends on its address.
  c.dsp.resize(DSP_SIZE);
  unsigned x = 0x2F6E2B1;
  for (size_t i = 0; i < DSP_SIZE; ++i) {
    x = x * 1103515245u + 12345u;
    c.dsp[i] = static_cast<uint8_t>(x >> 16);
  }

  c.chdec.resize(CHDEC_SIZE);
  for (size_t i = 0; i < CHDEC_SIZE; ++i) c.chdec[i] = static_cast<uint8_t>(i * 7 + 3);
  c.chdec[0x07] = 0x00;
  std::memcpy(c.chdec.data() + 0x3C, kChdecBlock, sizeof kChdecBlock);
  return c;
}

bool GateOpen(const std::vector<uint8_t>& r) {
  // The state the gate's opening writes: 0x07 = 0x02 and the block at 0x3C
  // in its modified form (bits 7-6 of 0x3C and bit 3 of 0x3D clear, 0x40
  // all ones, bits 7-6 of 0x41 set).
  return r.size() == CHDEC_SIZE && r[0x07] == 0x02 && (r[0x3C] & 0xC0) == 0 &&
         (r[0x3D] & 0x08) == 0 && r[0x40] == 0xFF && (r[0x41] & 0xC0) == 0xC0;
}

std::vector<PlanRule> ReadPlan(const std::string& text) {
  std::vector<PlanRule> rules;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    PlanRule rule;
    if (!(words >> rule.verb)) continue;
    words >> rule.arg >> rule.extra;
    rule.text = line;
    rules.push_back(rule);
  }
  return rules;
}

unsigned long FailedTransfer(const PlanRule& rule) {
  if (rule.verb != "fail" || rule.arg.empty()) return 0;
  char* end = nullptr;
  const unsigned long n = std::strtoul(rule.arg.c_str(), &end, 10);
  return *end == '\0' ? n : 0;
}

bool ProtectionRule(const PlanRule& rule, Protection* protection) {
  if (rule.verb != "write-protect") return false;
  bool* flag = rule.arg == "board"   ? &protection->board
               : rule.arg == "dsp"   ? &protection->dsp
               : rule.arg == "chdec" ? &protection->chdec
                                     : nullptr;
  if (!flag) return false;
  *flag = true;
  return true;
}

Answer Carry(Contents& contents, const Protection& protection, bool write, uint8_t device,
             const uint8_t* sub, size_t subLength, uint8_t* bytes, size_t length, Access* access) {
  std::vector<uint8_t>* memory;
  size_t address;
  bool protect;
  switch (device) {
    case BOARD_DEVICE:  // one byte, or two low first
      memory = &contents.board;
      address = subLength == 1 ? sub[0] : sub[0] | sub[1] << 8;
      protect = protection.board;
      break;
    case DSP_DEVICE:  // two bytes, high first
      if (!GateOpen(contents.chdec)) return Answer::NoAck;
      if (subLength != 2) return Answer::BadAddress;
      memory = &contents.dsp;
      address = sub[0] << 8 | sub[1];
      protect = protection.dsp;
      break;
    case CHDEC_DEVICE:  // one register number
      if (subLength != 1) return Answer::BadAddress;
      memory = &contents.chdec;
      address = sub[0];
      protect = protection.chdec;
      break;
    default:
      return Answer::NoAck;
  }
  const size_t size = memory->size();
  if (address >= size) return Answer::BadAddress;
  *access = Access{memory, address, false};
  if (!write) {
    for (size_t i = 0; i < length; ++i) bytes[i] = (*memory)[(address + i) % size];
    return Answer::Done;
  }
  if (protect) return Answer::Done;
  for (size_t i = 0; i < length; ++i) (*memory)[(address + i) % size] = bytes[i];
  access->stored = true;
  return Answer::Done;
}

}  // namespace simcard
