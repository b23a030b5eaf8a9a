#include "testing/doubles/fake_bus.h"

#include <cstdio>
#include <cstring>

std::vector<std::string> Transcript::Only(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  return out;
}

FakeBus::FakeBus(Transcript* transcript) : m_transcript(transcript) {
  devices[BOARD_EEPROM_ADDRESS] = {std::vector<uint8_t>(256, 0xFF), AddressOrder::LowFirst, false};
  devices[DSP_EEPROM_ADDRESS] = {std::vector<uint8_t>(32768, 0xFF), AddressOrder::HighFirst, false};
  devices[CHANNEL_DECODER_ADDRESS] = {std::vector<uint8_t>(256, 0x00), AddressOrder::LowFirst,
                                      false};
}

void FakeBus::FailTransfer(size_t number, int32_t code) {
  fault = [number, code](size_t n, const Transfer&) { return n == number ? code : 0; };
}

BusStatus FakeBus::Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                         const uint8_t* data, size_t length) {
  Transfer t;
  t.write = true;
  t.device = device;
  t.subAddress.assign(subAddress, subAddress + subAddressLength);
  t.data.assign(data, data + length);
  return Carry(t, nullptr);
}

BusStatus FakeBus::Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                        uint8_t* buffer, size_t length) {
  Transfer t;
  t.device = device;
  t.subAddress.assign(subAddress, subAddress + subAddressLength);
  t.readLength = length;
  return Carry(t, buffer);
}

BusStatus FakeBus::Carry(Transfer& t, uint8_t* buffer) {
  t.result = fault ? fault(transfers.size() + 1, t) : 0;
  auto dev = devices.find(t.device);
  if (t.result == 0 && (dev == devices.end() || t.subAddress.empty() || t.subAddress.size() > 2))
    t.result = NO_DEVICE_CODE;
  if (t.result == 0) {
    BusDevice& d = dev->second;
    size_t addr = t.subAddress[0];
    if (t.subAddress.size() == 2)
      addr = d.order == AddressOrder::LowFirst ? t.subAddress[0] | t.subAddress[1] << 8
                                               : t.subAddress[0] << 8 | t.subAddress[1];
    const size_t n = d.memory.size();
    if (t.write) {
      if (!d.writeProtected)
        for (size_t i = 0; i < t.data.size(); ++i) d.memory[(addr + i) % n] = t.data[i];
    } else {
      for (size_t i = 0; i < t.readLength; ++i) {
        buffer[i] = d.memory[(addr + i) % n];
        t.data.push_back(buffer[i]);
      }
    }
  }
  if (t.result != 0 && !t.write && failedReadsFillBuffer) std::memset(buffer, 0xA5, t.readLength);
  if (m_transcript) {
    std::string e = t.write ? "W " : "R ";
    e += Hex(&t.device, 1) + " [" + Hex(t.subAddress.data(), t.subAddress.size()) + "] ";
    e += t.write ? Hex(t.data.data(), t.data.size()) : "#" + std::to_string(t.readLength);
    if (t.result != 0) {
      char b[24];
      std::snprintf(b, sizeof b, " -> %08lX",
                    static_cast<unsigned long>(static_cast<uint32_t>(t.result)));
      e += b;
    }
    m_transcript->Add(e);
  }
  transfers.push_back(t);
  return {t.result == 0, t.result};
}

std::string FakeBus::Reason(int32_t code) const {
  char b[24];
  std::snprintf(b, sizeof b, "code 0x%08lX",
                static_cast<unsigned long>(static_cast<uint32_t>(code)));
  return b;
}

void RecordingErrors::ShowError(const std::string& text) {
  texts.push_back(text);
  if (m_t) m_t->Add("box " + text);
  if (onShow) onShow(text);
}

void RecordingProgress::SetPos(uint32_t pos) {
  positions.push_back(static_cast<int>(pos));
  if (m_t) m_t->Add("pos " + std::to_string(pos));
}

void FakePacer::BeginRun() {
  ++openRuns;
  if (m_t) m_t->Add("begin run");
}

void FakePacer::Pause(uint32_t ms) {
  ++pauses;
  if (m_t) m_t->Add("pause " + std::to_string(ms));
}

void FakePacer::EndRun() {
  --openRuns;
  if (m_t) m_t->Add("end run");
}

namespace {

// What the opener gives out: the test's bus, and a record of its release.
class LentBus : public I2CBus {
 public:
  LentBus(I2CBus* bus, int* held, Transcript* t) : m_bus(bus), m_held(held), m_t(t) { ++*m_held; }
  ~LentBus() override {
    --*m_held;
    if (m_t) m_t->Add("released");
  }
  BusStatus Write(uint8_t device, const uint8_t* sub, size_t subLength, const uint8_t* data,
                  size_t length) override {
    return m_bus->Write(device, sub, subLength, data, length);
  }
  BusStatus Read(uint8_t device, const uint8_t* sub, size_t subLength, uint8_t* buffer,
                 size_t length) override {
    return m_bus->Read(device, sub, subLength, buffer, length);
  }
  std::string Reason(int32_t code) const override { return m_bus->Reason(code); }

 private:
  I2CBus* m_bus;
  int* m_held;
  Transcript* m_t;
};

}  // namespace

std::unique_ptr<I2CBus> FakeOpener::Open(ErrorSink& errors) {
  if (fail) {
    if (m_t) m_t->Add("open failed");
    for (const auto& text : failBoxes) errors.ShowError(text);
    return nullptr;
  }
  ++opened;
  if (m_t) m_t->Add("open");
  return std::make_unique<LentBus>(m_bus, &held, m_t);
}

bool MemoryImage::Write(const uint8_t* data, size_t length, std::string* reason) {
  if (++writes == failWriteAt) {
    if (reason) *reason = "There is not enough space on the disk.";
    return false;
  }
  pending.insert(pending.end(), data, data + length);
  if (m_t) m_t->Add("sink " + std::to_string(length));
  return true;
}

bool MemoryImage::Commit(std::string* reason) {
  ++commits;
  if (m_t) m_t->Add("commit");
  if (failCommit) {
    if (reason) *reason = "Putting the image in place of board.bin failed: Access is denied.";
    return false;
  }
  saved = pending;
  pending.clear();
  hasPending = false;
  return true;
}

void MemoryImage::Discard() {
  ++discards;
  if (m_t) m_t->Add("discard");
  pending.clear();
  hasPending = false;
}
