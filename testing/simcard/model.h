// The simulated card's devices, in standard C++ for both simulations (the
// capture filter under Wine, the i2c-dev adapter on Linux): the presets
// the state files are made from, and how a transfer meets the memories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simcard {

inline constexpr size_t BOARD_SIZE = 256;
inline constexpr size_t DSP_SIZE = 32768;
inline constexpr size_t CHDEC_SIZE = 256;

// Device addresses in the 8-bit form the product uses.
inline constexpr uint8_t BOARD_DEVICE = 0xA0;
inline constexpr uint8_t DSP_DEVICE = 0xA2;
inline constexpr uint8_t CHDEC_DEVICE = 0x10;

enum class Preset { Reflash, Correct, Other, WrongVendor };
bool ParsePreset(const std::string& name, Preset* preset);  // "reflash", "wrong-vendor", ...

struct Contents {
  std::vector<uint8_t> board, dsp, chdec;
};
Contents PresetContents(Preset preset);

// The DSP EEPROM answers only while the channel decoder is held open.
bool GateOpen(const std::vector<uint8_t>& chdec);

struct Protection {
  bool board = false, dsp = false, chdec = false;  // writes acknowledged, not stored
};

// A fault plan, one rule a line: "<verb> [<arg> [<extra>]]", '#' starting a
// comment; blank lines are skipped. `text` is the line without its comment.
struct PlanRule {
  std::string verb, arg, extra, text;
};
std::vector<PlanRule> ReadPlan(const std::string& text);

// "fail <n> [<code>]": n, or 0 when the rule is not a fail of a transfer
// number. The code, in the simulation's own terms, is `extra`.
unsigned long FailedTransfer(const PlanRule& rule);

// "write-protect board|dsp|chdec", recorded in *protection; false for any
// other rule.
bool ProtectionRule(const PlanRule& rule, Protection* protection);

enum class Answer {
  Done,        // moved; a protected write is done too
  NoAck,       // no device at the address, or the DSP EEPROM behind a closed gate
  BadAddress,  // a sub-address the device does not take
};

// Where a transfer landed: the memory it touched and the bytes it changed.
struct Access {
  std::vector<uint8_t>* memory = nullptr;
  size_t address = 0;
  bool stored = false;  // a write that changed the memory
};

// One transfer on the memories: the board EEPROM takes one sub-address
// byte, or two low first; the DSP EEPROM two, high first; the channel
// decoder one register number. Sequential transfers wrap at the end of a
// memory, as the parts do.
Answer Carry(Contents& contents, const Protection& protection, bool write, uint8_t device,
             const uint8_t* sub, size_t subLength, uint8_t* bytes, size_t length, Access* access);

}  // namespace simcard
