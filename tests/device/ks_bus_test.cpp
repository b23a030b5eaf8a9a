// The KS bus: the request and data block each transfer sends, what counts
// as success, and the core's commands over it through the real opening.
#include "device/ks_bus.h"
#include "eeprom/commands.h"
#include "testing/comdoubles/com_doubles.h"
#include "testing/doubles/fake_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A control that keeps what each call was given and answers as told.
class RecordingControl : public IKsControl {
 public:
  HRESULT answer = S_OK;
  std::vector<BYTE> deliver = {0x2D, 0x6B, 0x2C, 0x3A};  // repeated over the read buffer

  struct Call {
    I2CTransferRequest request;
    I2CWriteData data;
    std::vector<BYTE> subAddress, written;
    ULONG propertyLength, dataLength, counterOnEntry;
  };
  std::vector<Call> calls;

  STDMETHODIMP QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG length, LPVOID data, ULONG dataLen,
                          ULONG* bytesReturned) override {
    Call c;
    std::memcpy(&c.request, property, sizeof c.request);
    std::memcpy(&c.data, data, sizeof c.data);
    c.propertyLength = length;
    c.dataLength = dataLen;
    c.counterOnEntry = *bytesReturned;
    c.subAddress.assign(c.request.SubAddress, c.request.SubAddress + c.request.SubAddressLength);
    if (c.data.Buffer) c.written.assign(c.data.Buffer, c.data.Buffer + c.data.Length);
    // Delivered even on a failing answer: the bus must not pass it on.
    for (ULONG i = 0; i < c.request.ReadLength; ++i)
      c.request.ReadBuffer[i] = deliver[i % deliver.size()];
    calls.push_back(c);
    return answer;  // the returned-bytes counter is left as it came
  }
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  LONG refs = 1;
};

// Gives out KS buses on the recording control.
class RecordingOpener : public BusOpener {
 public:
  explicit RecordingOpener(RecordingControl* control) : m_control(control) {}
  std::unique_ptr<I2CBus> Open(ErrorSink&) override {
    auto bus = std::make_unique<KsBus>();
    bus->handle().Attach(nullptr, nullptr, Microsoft::WRL::ComPtr<IKsControl>(m_control));
    return bus;
  }

 private:
  RecordingControl* m_control;
};

struct Rig {
  RecordingControl control;
  RecordingOpener opener{&control};
  BusFixture f;
  EepromContext ctx{opener, f.errors, f.progress, f.pacer};
  std::unique_ptr<I2CBus> bus = opener.Open(f.errors);
};

// The fields every request carries, whatever the transfer.
void ExpectFrame(const RecordingControl::Call& c) {
  EXPECT_EQ(c.request.Property.Set, PROPSETID_I2C_ACCESS);
  EXPECT_EQ(c.request.Property.Id, 0u);
  EXPECT_EQ(c.request.Spare, 0u);
  EXPECT_EQ(c.propertyLength, sizeof(I2CTransferRequest));
  EXPECT_EQ(c.dataLength, sizeof(I2CWriteData));
  EXPECT_EQ(c.counterOnEntry, 0u);
}

TEST(KsBus, AReadSendsItsRequestIntoABufferOfItsOwn) {
  Rig rig;
  const uint8_t sub[2] = {0x12, 0x34};
  BYTE buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(rig.bus->Read(0xA2, sub, 2, buffer, 4).ok);

  ASSERT_EQ(rig.control.calls.size(), 1u);
  const auto& c = rig.control.calls[0];
  ExpectFrame(c);
  EXPECT_EQ(c.request.Property.Flags, static_cast<ULONG>(KSPROPERTY_TYPE_GET));
  EXPECT_EQ(c.request.DeviceAddress, 0xA2);
  EXPECT_THAT(c.subAddress, ElementsAre(0x12, 0x34));
  EXPECT_NE(c.request.ReadBuffer, nullptr);
  EXPECT_NE(c.request.ReadBuffer, buffer);
  EXPECT_EQ(c.request.ReadLength, 4u);
  EXPECT_EQ(c.data.Buffer, nullptr);
  EXPECT_EQ(c.data.Length, 0u);
  EXPECT_EQ(Hex(buffer, 6), "2D 6B 2C 3A EE EE");
}

TEST(KsBus, AWriteSendsItsBytesInTheDataBlock) {
  Rig rig;
  const uint8_t sub[1] = {0x3C};
  const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(rig.bus->Write(0x10, sub, 1, bytes, 6).ok);

  ASSERT_EQ(rig.control.calls.size(), 1u);
  const auto& c = rig.control.calls[0];
  ExpectFrame(c);
  EXPECT_EQ(c.request.Property.Flags, static_cast<ULONG>(KSPROPERTY_TYPE_SET));
  EXPECT_EQ(c.request.DeviceAddress, 0x10);
  EXPECT_THAT(c.subAddress, ElementsAre(0x3C));
  EXPECT_EQ(c.request.ReadBuffer, nullptr);
  EXPECT_EQ(c.request.ReadLength, 0u);
  EXPECT_EQ(Hex(c.written.data(), c.written.size()), "01 02 03 04 05 06");
}

// Only an answer of exactly S_OK is a transfer; a failed read leaves the
// caller's buffer as it was, though the driver filled its own.
TEST(KsBus, SucceedsOnlyOnAnAnswerOfZero) {
  const HRESULT answers[] = {
      S_OK, S_FALSE, 0x7FFFFFFF, E_FAIL, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), E_PENDING};
  for (HRESULT answer : answers) {
    SCOPED_TRACE(answer);
    Rig rig;
    rig.control.answer = answer;
    const uint8_t sub[2] = {0, 0};
    BYTE buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const BusStatus read = rig.bus->Read(0xA0, sub, 2, buffer, 4);
    EXPECT_EQ(read.ok, answer == S_OK);
    EXPECT_EQ(read.code, static_cast<int32_t>(answer));
    EXPECT_EQ(Hex(buffer, 4), answer == S_OK ? "2D 6B 2C 3A" : "EE EE EE EE");
    const BusStatus write = rig.bus->Write(0xA0, sub, 1, buffer, 1);
    EXPECT_EQ(write.ok, answer == S_OK);
    EXPECT_EQ(write.code, static_cast<int32_t>(answer));
  }
}

TEST(KsBus, ReasonGivesTheCodeAndTheSystemsWords) {
  Rig rig;
  EXPECT_EQ(rig.bus->Reason(E_FAIL).rfind("0x80004005", 0), 0u) << rig.bus->Reason(E_FAIL);
  EXPECT_EQ(rig.bus->Reason(1).rfind("0x00000001", 0), 0u);
}

TEST(KsBus, GivesTheControlBackWhenItGoes) {
  Rig rig;
  EXPECT_EQ(rig.control.refs, 2);
  rig.bus.reset();
  EXPECT_EQ(rig.control.refs, 1);
}

// ---- What each command sends ---------------------------------------------

std::string Shape(const RecordingControl::Call& c) {
  std::string s = c.request.Property.Flags == KSPROPERTY_TYPE_SET ? "W " : "R ";
  s += Hex(&c.request.DeviceAddress, 1) + " [" + Hex(c.subAddress.data(), c.subAddress.size()) +
       "] ";
  s += c.request.Property.Flags == KSPROPERTY_TYPE_SET ? Hex(c.written.data(), c.written.size())
                                                       : "#" + std::to_string(c.request.ReadLength);
  return s;
}

// Device, sub-address bytes (their number and order per device) and lengths
// as each operation has always sent them.
TEST(KsBus, EachCommandSendsItsTransfersAsBefore) {
  Rig rig;
  CheckBoardIdentity(rig.ctx);
  ASSERT_EQ(rig.control.calls.size(), 1u);
  EXPECT_EQ(Shape(rig.control.calls[0]), "R A0 [00 00] #4");

  rig.control.calls.clear();
  ReFlash(rig.ctx);  // the read-back differs from the image: only the transfers matter
  ASSERT_EQ(rig.control.calls.size(), 256u + 32u);
  EXPECT_EQ(Shape(rig.control.calls[0]), "W A0 [04] 54");
  EXPECT_EQ(Shape(rig.control.calls[255]), "W A0 [03] 3A");
  EXPECT_EQ(Shape(rig.control.calls[256]), "R A0 [00 00] #8");
  EXPECT_EQ(Shape(rig.control.calls[257 + 30]), "R A0 [F8 00] #8");
  for (const auto& c : rig.control.calls) ExpectFrame(c);

  rig.control.calls.clear();
  MemoryImage image;
  SaveDspEEPROM(rig.ctx, image);
  ASSERT_EQ(rig.control.calls.size(), 3u + 512u + 2u);
  EXPECT_EQ(Shape(rig.control.calls[0]), "R 10 [3C] #6");
  EXPECT_EQ(Shape(rig.control.calls[1]), "W 10 [3C] 2D 63 2C 3A FF EB");
  EXPECT_EQ(Shape(rig.control.calls[2]), "W 10 [07] 02");
  EXPECT_EQ(Shape(rig.control.calls[3]), "R A2 [00 00] #64");
  EXPECT_EQ(Shape(rig.control.calls[4]), "R A2 [00 40] #64");
  EXPECT_EQ(Shape(rig.control.calls[3 + 511]), "R A2 [7F C0] #64");
  EXPECT_EQ(Shape(rig.control.calls[515]), "W 10 [07] 00");
  EXPECT_EQ(Shape(rig.control.calls[516]), "W 10 [3C] 2D 6B 2C 3A 2D 6B");
  for (const auto& c : rig.control.calls) ExpectFrame(c);
}

// ---- Through the real opening ---------------------------------------------

TEST(AnalogCaptureOpener, IdentityCheckGivesEveryReferenceBack) {
  comdoubles::ComWorld world;
  ASSERT_TRUE(world.registered());
  BusFixture f;
  std::memcpy(f.bus.devices[BOARD_EEPROM_ADDRESS].memory.data(), "\x2D\x6B\x2C\x3A", 4);
  comdoubles::CaptureDevice& card = world.AddDevice(L"713x BDA Analog Capture", &f.bus);
  AnalogCaptureOpener opener;
  EepromContext ctx{opener, f.errors, f.progress, f.pacer};

  IdentityCheck check = CheckBoardIdentity(ctx);
  ASSERT_TRUE(check.read);
  EXPECT_EQ(check.ids.m_wSubSystemID, 0x3A2C);
  EXPECT_THAT(world.Unbalanced(), IsEmpty());
  EXPECT_EQ(card.filter.malformed, 0);

  // The filter now fails the transfer.
  f.bus.FailTransfer(2, E_FAIL);
  check = CheckBoardIdentity(ctx);
  EXPECT_FALSE(check.read);
  EXPECT_EQ(check.failure.code, static_cast<int32_t>(E_FAIL));
  EXPECT_THAT(f.errors.texts, ElementsAre("ReadEEPROM: I2C-read to Board EEPROM failed"));
  EXPECT_THAT(world.Unbalanced(), IsEmpty());
}

TEST(AnalogCaptureOpener, AnEmptyCategoryShowsOnlyTheOpeningsBoxes) {
  comdoubles::ComWorld world;
  ASSERT_TRUE(world.registered());
  BusFixture f;
  AnalogCaptureOpener opener;
  EXPECT_EQ(opener.Open(f.errors), nullptr);
  EXPECT_THAT(f.errors.texts, ElementsAre("FindFilterByName: Couldn't find enumerator!",
                                          "Couldn't find AnalogCaptureFilter!"));
  EXPECT_THAT(world.Unbalanced(), IsEmpty());
}

}  // namespace
