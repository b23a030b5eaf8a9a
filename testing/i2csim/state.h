// The simulated i2c-dev adapter as the native tests see it: a fresh
// directory of adapters, their state files and their transfer logs.
#pragma once

#include "testing/simcard/model.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace sim {

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A fresh, empty directory under the build's temporary folder, named after
// the running test.
inline std::string FreshDir() {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(t->test_suite_name()) + "." + t->name();
  for (char& c : name)
    if (c == '/') c = '-';
  const char* base = std::getenv("TMPDIR");
  const std::string dir = std::string(base && *base ? base : "/tmp") + "/i2csim-tests/" + name;
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  EXPECT_TRUE(std::filesystem::create_directories(dir, error)) << dir << ": " << error.message();
  return dir;
}

// Adapter `n` in `dir`: its sysfs name, the card's state files made from
// the preset ("none": nothing answers) and the fault plan.
inline std::string MakeAdapter(const std::string& dir, int n, const std::string& name,
                               const std::string& card = "reflash",
                               const std::string& faults = "") {
  const std::string a = dir + "/i2c-" + std::to_string(n);
  mkdir(a.c_str(), 0755);
  WriteText(a + "/name", name + "\n");
  WriteText(a + "/card.txt", card + "\n");
  simcard::Preset preset;
  if (simcard::ParsePreset(card, &preset)) {
    const simcard::Contents c = simcard::PresetContents(preset);
    WriteBytes(a + "/board.bin", c.board);
    WriteBytes(a + "/dsp.bin", c.dsp);
    WriteBytes(a + "/chdec.bin", c.chdec);
  }
  if (!faults.empty()) WriteText(a + "/fault.txt", faults);
  return a;
}

// One I2C_RDWR line of transfers.log.
struct Transfer {
  long long at = 0;  // microseconds
  unsigned long number = 0;
  bool write = false;
  int address = 0;  // 7-bit
  std::string sub;  // "00 00"
  unsigned length = 0;
  std::string data;
  int rc = 0;
  std::string text;  // the line after the time stamp
};

inline std::vector<Transfer> Transfers(const std::string& adapterDir) {
  std::vector<Transfer> out;
  std::istringstream lines(ReadText(adapterDir + "/transfers.log"));
  std::string line;
  while (std::getline(lines, line)) {
    Transfer t;
    char dir = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%lld %lu %c %x%n", &t.at, &t.number, &dir, &t.address,
                    &consumed) != 4 ||
        (dir != 'R' && dir != 'W'))
      continue;
    t.write = dir == 'W';
    const size_t sub = line.find("sub=["), len = line.find("] len="), data = line.find("data=[");
    const size_t end = line.find("] rc=");
    if (sub == std::string::npos || len == std::string::npos || data == std::string::npos ||
        end == std::string::npos)
      continue;
    t.sub = line.substr(sub + 5, len - sub - 5);
    t.length = static_cast<unsigned>(std::stoul(line.substr(len + 6)));
    t.data = line.substr(data + 6, end - data - 6);
    t.rc = std::stoi(line.substr(end + 5));
    t.text = line.substr(line.find(' ') + 1);
    out.push_back(t);
  }
  return out;
}

// The notes ("open fd=5", "close fd=5", "I2C_FUNCS") in order.
inline std::vector<std::string> Notes(const std::string& adapterDir) {
  std::vector<std::string> out;
  std::istringstream lines(ReadText(adapterDir + "/transfers.log"));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t hash = line.find(" # ");
    if (hash != std::string::npos) out.push_back(line.substr(hash + 3));
  }
  return out;
}

inline size_t Writes(const std::vector<Transfer>& transfers) {
  size_t n = 0;
  for (const Transfer& t : transfers) n += t.write;
  return n;
}

}  // namespace sim
