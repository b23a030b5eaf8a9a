// The i2c-dev bus against the simulated adapter, preloaded into this test
// program: what each call sends, its answers and refusals, and that every
// node it opens is closed again.
#include "linux/i2c_dev.h"
#include "testing/i2csim/state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

class I2CDevTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = sim::FreshDir();
    setenv("I2CSIM_DIR", dir.c_str(), 1);
  }
  // Every node opened is closed: as many "open" as "close" notes.
  void ExpectAllClosed(const std::string& adapter) {
    size_t opens = 0, closes = 0;
    for (const std::string& n : sim::Notes(adapter)) {
      opens += n.rfind("open fd=", 0) == 0;
      closes += n.rfind("close fd=", 0) == 0;
    }
    EXPECT_EQ(opens, closes);
  }
  std::string dir;
};

TEST_F(I2CDevTest, ReadIsSubAddressThenRepeatedStartWriteIsOneMessage) {
  const std::string a = sim::MakeAdapter(dir, 3, "tuner card");
  {
    AdapterOpening opening = OpenAdapter(3);
    ASSERT_TRUE(opening.bus) << opening.error;
    I2CBus& bus = *opening.bus;
    const uint8_t id[2] = {0x00, 0x00};
    uint8_t got[4] = {};
    EXPECT_TRUE(bus.Read(0xA0, id, 2, got, 4).ok);
    EXPECT_EQ(0, std::memcmp(got, "\x2D\x6B\x21\x3A", 4));
    const uint8_t at = 0x04, byte = 0x5A;
    EXPECT_TRUE(bus.Write(0xA0, &at, 1, &byte, 1).ok);
    // The decoder and, through its gate, the DSP EEPROM, at their 7-bit addresses.
    const uint8_t gate = 0x07, open = 0x02;
    uint8_t block[6];
    const uint8_t blockAt = 0x3C;
    ASSERT_TRUE(bus.Read(0x10, &blockAt, 1, block, 6).ok);
    const uint8_t opened[6] = {static_cast<uint8_t>(block[0] & 0x3F),
                               static_cast<uint8_t>(block[1] & 0xF7),
                               block[2],
                               block[3],
                               0xFF,
                               static_cast<uint8_t>(block[5] | 0xC0)};
    EXPECT_TRUE(bus.Write(0x10, &blockAt, 1, opened, 6).ok);
    EXPECT_TRUE(bus.Write(0x10, &gate, 1, &open, 1).ok);
    const uint8_t page[2] = {0x00, 0x40};
    uint8_t dsp[64];
    EXPECT_TRUE(bus.Read(0xA2, page, 2, dsp, 64).ok);
  }
  const auto t = sim::Transfers(a);
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].text, "1 R 50 sub=[00 00] len=4 data=[2D 6B 21 3A] rc=0");
  EXPECT_EQ(t[1].text, "2 W 50 sub=[04] len=1 data=[5A] rc=0");
  EXPECT_EQ(t[2].address, 0x08);
  EXPECT_EQ(t[4].text, "5 W 08 sub=[07] len=1 data=[02] rc=0");
  EXPECT_EQ(t[5].address, 0x51);
  EXPECT_EQ(t[5].sub, "00 40");
  EXPECT_EQ(t[5].rc, 0);
  EXPECT_EQ(sim::ReadBytes(a + "/board.bin")[4], 0x5A);
  ExpectAllClosed(a);
}

TEST_F(I2CDevTest, FailedTransfersGiveMinusErrnoAndLeaveTheBufferAlone) {
  const std::string a =
      sim::MakeAdapter(dir, 1, "tuner card", "reflash", "fail 1 EREMOTEIO\nfail 2 ETIMEDOUT\n");
  AdapterOpening opening = OpenAdapter(1);
  ASSERT_TRUE(opening.bus);
  const uint8_t sub[2] = {0, 0};
  uint8_t buffer[4] = {0xA5, 0xA5, 0xA5, 0xA5};
  const BusStatus read = opening.bus->Read(0xA0, sub, 2, buffer, 4);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.code, -EREMOTEIO);
  EXPECT_EQ(opening.bus->Reason(read.code), "Remote I/O error");
  EXPECT_EQ(0, std::memcmp(buffer, "\xA5\xA5\xA5\xA5", 4));
  const BusStatus write = opening.bus->Write(0xA0, sub, 1, buffer, 1);
  EXPECT_EQ(write.code, -ETIMEDOUT);
  EXPECT_EQ(opening.bus->Reason(write.code), "Connection timed out");
  // Nothing at the address: the adapter's own answer.
  const BusStatus absent = opening.bus->Read(0xA4, sub, 1, buffer, 4);
  EXPECT_EQ(absent.code, -ENXIO);
  EXPECT_EQ(0, std::memcmp(buffer, "\xA5\xA5\xA5\xA5", 4));
}

TEST_F(I2CDevTest, OpeningRefusesWhatItCannotUseAndSendsNothing) {
  sim::MakeAdapter(dir, 0, "SMBus controller", "reflash", "smbus-only\n");
  sim::MakeAdapter(dir, 2, "tuner card", "reflash", "no-access\n");
  const struct {
    int adapter;
    const char* error;
  } kCases[] = {
      {0,
       "/dev/i2c-0 offers no plain I2C transfers, only SMBus (a motherboard's controller, where "
       "memory modules answer at the card's addresses): refused, nothing was sent"},
      {2, "cannot open /dev/i2c-2: Permission denied"},
      {9, "cannot open /dev/i2c-9: No such file or directory"},
  };
  for (const auto& c : kCases) {
    const AdapterOpening opening = OpenAdapter(c.adapter);
    EXPECT_FALSE(opening.bus) << c.adapter;
    EXPECT_EQ(opening.error, c.error);
  }
  EXPECT_TRUE(sim::Transfers(dir + "/i2c-0").empty());
  ExpectAllClosed(dir + "/i2c-0");
}

TEST_F(I2CDevTest, ListNamesEachAdapterAndProbesOnlyPlainI2CWithoutWriting) {
  sim::MakeAdapter(dir, 0, "SMBus controller", "reflash", "smbus-only\n");
  sim::MakeAdapter(dir, 4, "tuner card", "correct");
  sim::MakeAdapter(dir, 10, "empty bus", "none");
  sim::WriteText(dir + "/transfers.log", "not an adapter\n");
  std::string error;
  const std::vector<AdapterInfo> list = ListAdapters(&error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].number, 0);
  EXPECT_EQ(list[0].name, "SMBus controller");
  EXPECT_FALSE(list[0].plainI2C);
  EXPECT_EQ(list[0].probe, AdapterInfo::Probe::NotProbed);
  EXPECT_EQ(list[1].number, 4);
  EXPECT_TRUE(list[1].plainI2C);
  EXPECT_EQ(list[1].probe, AdapterInfo::Probe::Answered);
  EXPECT_EQ(0, std::memcmp(list[1].identity, "\x2D\x6B\x2C\x3A", 4));
  EXPECT_EQ(list[2].number, 10);
  EXPECT_EQ(list[2].probe, AdapterInfo::Probe::NoAnswer);
  EXPECT_EQ(list[2].probeError, "No such device or address");

  EXPECT_TRUE(sim::Transfers(dir + "/i2c-0").empty());
  const auto probe = sim::Transfers(dir + "/i2c-4");
  ASSERT_EQ(probe.size(), 1u);
  EXPECT_EQ(probe[0].text, "1 R 50 sub=[00] len=4 data=[2D 6B 2C 3A] rc=0");
  for (const char* a : {"/i2c-0", "/i2c-4", "/i2c-10"}) ExpectAllClosed(dir + a);
}

TEST_F(I2CDevTest, ListSaysWhenThereAreNoAdapters) {
  setenv("I2CSIM_DIR", (dir + "/missing").c_str(), 1);
  std::string error;
  EXPECT_TRUE(ListAdapters(&error).empty());
  EXPECT_EQ(error,
            "cannot list /sys/class/i2c-dev: No such file or directory (is the i2c-dev module "
            "loaded?)");
}

}  // namespace
