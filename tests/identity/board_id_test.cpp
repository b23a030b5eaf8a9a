// The identity read, its classification and what the dialog does with it.
#include "eeprom/eeprom.h"
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

void SetIdentity(FakeBus& bus, std::vector<BYTE> bytes) {
  std::copy(bytes.begin(), bytes.end(), bus.devices[BOARD_EEPROM_ADDRESS].memory.begin());
}

TEST(ReadBoardID, ReadsBytesZeroToThreeIntoTheBufferAndTheIDs) {
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x21, 0x3A, 0x11, 0x22});
  std::vector<BYTE> buffer(256, 0xCC);
  BoardIdentity ids{0x1111, 0x2222};

  ASSERT_TRUE(ReadBoardID(f.ctx, buffer.data(), ids));
  EXPECT_EQ(ids.m_wSubVendorID, 0x6B2D);
  EXPECT_EQ(ids.m_wSubSystemID, 0x3A21);
  std::vector<BYTE> expected(256, 0xCC);
  std::memcpy(expected.data(), "\x2D\x6B\x21\x3A", 4);
  EXPECT_EQ(buffer, expected);

  // One transfer, no pause, no progress, the handle given back.
  EXPECT_THAT(f.transcript.events, ElementsAre("open", "R A0 [00 00] #4", "released"));
  EXPECT_EQ(f.bus.malformed, 0);
  EXPECT_EQ(f.bus.refs(), 1);
}

TEST(ReadBoardID, FailedOpeningShowsNoBoxOfItsOwn) {
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x2C, 0x3A});
  f.opener.fail = true;
  f.opener.failBoxes = {L"Couldn't find AnalogCaptureFilter!"};
  std::vector<BYTE> buffer(256, 0xCC);
  BoardIdentity ids{0x6B2D, 0x3A2C};  // left from an earlier read

  EXPECT_FALSE(ReadBoardID(f.ctx, buffer.data(), ids));
  EXPECT_EQ(ids.m_wSubVendorID, 0);
  EXPECT_EQ(ids.m_wSubSystemID, 0);
  EXPECT_THAT(f.transcript.events,
              ElementsAre("open failed", "box Couldn't find AnalogCaptureFilter!"));
  EXPECT_EQ(buffer, std::vector<BYTE>(256, 0xCC));
}

TEST(ReadBoardID, FailedTransferShowsOneBoxThenReleasesTheHandle) {
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x2C, 0x3A});
  f.bus.FailTransfer(1, E_FAIL);
  std::vector<BYTE> buffer(256, 0xCC);
  BoardIdentity ids{0x6B2D, 0x3A2C};

  EXPECT_FALSE(ReadBoardID(f.ctx, buffer.data(), ids));
  EXPECT_EQ(ids.m_wSubVendorID, 0);
  EXPECT_EQ(ids.m_wSubSystemID, 0);
  EXPECT_THAT(f.transcript.events,
              ElementsAre("open", "R A0 [00 00] #4 -> 80004005",
                          "box ReadEEPROM: I2C-read to Board EEPROM failed", "released"));
  EXPECT_EQ(f.bus.refs(), 1);
}

// ---- The request itself --------------------------------------------------

// A control that keeps what the call was given and answers as told.
class RecordingControl : public IKsControl {
 public:
  HRESULT answer = S_OK;
  std::vector<BYTE> deliver = {0x2D, 0x6B, 0x2C, 0x3A};

  int calls = 0;
  I2CTransferRequest request = {};
  std::vector<BYTE> subAddress;
  ULONG propertyLength = 0, dataLength = 0;
  ULONG counterOnEntry = 0xFFFFFFFF;
  bool dataPassed = false;

  STDMETHODIMP QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG length, LPVOID data, ULONG dataLen,
                          ULONG* bytesReturned) override {
    ++calls;
    std::memcpy(&request, property, sizeof request);
    propertyLength = length;
    dataLength = dataLen;
    dataPassed = data != nullptr;
    counterOnEntry = *bytesReturned;
    subAddress.assign(request.SubAddress, request.SubAddress + request.SubAddressLength);
    // Delivered even on a failing answer: the caller must not use it.
    std::copy(deliver.begin(), deliver.end(), request.ReadBuffer);
    return answer;  // the returned-bytes counter is left as it came
  }
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  LONG refs = 1;
};

class RecordingOpener : public ControlOpener {
 public:
  explicit RecordingOpener(RecordingControl* control) : m_control(control) {}
  bool Open(CaptureControl* handle, ErrorSink&) override {
    handle->Attach(nullptr, nullptr, Microsoft::WRL::ComPtr<IKsControl>(m_control));
    return true;
  }

 private:
  RecordingControl* m_control;
};

struct RequestRig {
  RecordingControl control;
  RecordingOpener opener{&control};
  BusFixture f;
  EepromContext ctx{opener, f.errors, f.progress, f.pacer};
};

TEST(ReadBoardID, SendsOneFourByteReadFromOffsetZeroOfTheBoardEEPROM) {
  RequestRig rig;
  BYTE buffer[256] = {};
  BoardIdentity ids;
  ASSERT_TRUE(ReadBoardID(rig.ctx, buffer, ids));

  const I2CTransferRequest& r = rig.control.request;
  EXPECT_EQ(rig.control.calls, 1);
  EXPECT_EQ(r.Property.Set, PROPSETID_I2C_ACCESS);
  EXPECT_EQ(r.Property.Id, 0u);
  EXPECT_EQ(r.Property.Flags, static_cast<ULONG>(KSPROPERTY_TYPE_GET));
  EXPECT_EQ(r.DeviceAddress, 0xA0);
  EXPECT_THAT(rig.control.subAddress, ElementsAre(0x00, 0x00));
  EXPECT_EQ(r.ReadBuffer, buffer);
  EXPECT_EQ(r.ReadLength, 4u);
  EXPECT_EQ(rig.control.propertyLength, sizeof(I2CTransferRequest));
  EXPECT_TRUE(rig.control.dataPassed);
  EXPECT_EQ(rig.control.dataLength, sizeof(I2CWriteData));
  EXPECT_EQ(rig.control.counterOnEntry, 0u);
  EXPECT_EQ(rig.f.pacer.pauses, 0);
  EXPECT_EQ(rig.control.refs, 1);
}

// Only an answer of exactly 0 is a read; the count of returned bytes, left
// at 0 here, is not looked at.
TEST(ReadBoardID, SucceedsOnlyOnAnAnswerOfZero) {
  const struct {
    HRESULT answer;
    bool ok;
  } cases[] = {{S_OK, true},
               {S_FALSE, false},
               {0x7FFFFFFF, false},
               {E_FAIL, false},
               {HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    RequestRig rig;
    rig.control.answer = c.answer;
    BYTE buffer[4] = {};
    BoardIdentity ids;
    EXPECT_EQ(ReadBoardID(rig.ctx, buffer, ids), c.ok);
    EXPECT_EQ(ids.m_wSubVendorID, c.ok ? 0x6B2D : 0);
    EXPECT_EQ(ids.m_wSubSystemID, c.ok ? 0x3A2C : 0);
    EXPECT_EQ(rig.f.errors.texts.size(), c.ok ? 0u : 1u);
    EXPECT_EQ(rig.control.refs, 1);
  }
}

// ---- Through the real opening --------------------------------------------

TEST(ReadBoardID, ThroughTheCaptureFilterGivesEveryReferenceBack) {
  comdoubles::ComWorld world;
  ASSERT_TRUE(world.registered());
  BusFixture f;
  SetIdentity(f.bus, {0x2D, 0x6B, 0x2C, 0x3A});
  world.AddDevice(L"713x BDA Analog Capture", &f.bus);
  AnalogCaptureOpener opener;
  EepromContext ctx{opener, f.errors, f.progress, f.pacer};

  BYTE buffer[256] = {};
  BoardIdentity ids;
  ASSERT_TRUE(ReadBoardID(ctx, buffer, ids));
  EXPECT_EQ(ids.m_wSubSystemID, 0x3A2C);
  EXPECT_THAT(world.Unbalanced(), IsEmpty());

  // The filter now fails the transfer.
  f.bus.FailTransfer(2, E_FAIL);
  EXPECT_FALSE(ReadBoardID(ctx, buffer, ids));
  EXPECT_THAT(f.errors.texts, ElementsAre(L"ReadEEPROM: I2C-read to Board EEPROM failed"));
  EXPECT_THAT(world.Unbalanced(), IsEmpty());
}

TEST(ReadBoardID, ThroughAnEmptyCategoryShowsOnlyTheOpeningsBoxes) {
  comdoubles::ComWorld world;
  ASSERT_TRUE(world.registered());
  BusFixture f;
  AnalogCaptureOpener opener;
  EepromContext ctx{opener, f.errors, f.progress, f.pacer};
  BYTE buffer[256] = {};
  BoardIdentity ids{1, 2};

  EXPECT_FALSE(ReadBoardID(ctx, buffer, ids));
  EXPECT_EQ(ids.m_wSubVendorID, 0);
  EXPECT_EQ(ids.m_wSubSystemID, 0);
  EXPECT_THAT(f.errors.texts, ElementsAre(L"FindFilterByName: Couldn't find enumerator!",
                                          L"Couldn't find AnalogCaptureFilter!"));
  EXPECT_THAT(world.Unbalanced(), IsEmpty());
}

// ---- Classification ------------------------------------------------------

const char* Name(BoardVerdict v) {
  switch (v) {
    case BoardVerdict::WrongSubVendor:
      return "WrongSubVendor";
    case BoardVerdict::NeedsReflash:
      return "NeedsReflash";
    case BoardVerdict::AlreadyCorrect:
      return "AlreadyCorrect";
    case BoardVerdict::OtherBoard:
      return "OtherBoard";
  }
  return "?";
}

// From the bytes in the EEPROM, through the read, to the verdict.
TEST(ClassifyBoard, IdentityBytesToVerdict) {
  const struct {
    std::vector<BYTE> bytes;
    BoardVerdict verdict;
  } cases[] = {
      {{0x2D, 0x6B, 0x21, 0x3A}, BoardVerdict::NeedsReflash},
      {{0x2D, 0x6B, 0x2C, 0x3A}, BoardVerdict::AlreadyCorrect},
      {{0x2D, 0x6B, 0x00, 0x00}, BoardVerdict::OtherBoard},
      {{0x2D, 0x6B, 0x3A, 0x21}, BoardVerdict::OtherBoard},      // subsystem bytes swapped
      {{0x6B, 0x2D, 0x2C, 0x3A}, BoardVerdict::WrongSubVendor},  // sub-vendor bytes swapped
      {{0xFF, 0xFF, 0xFF, 0xFF}, BoardVerdict::WrongSubVendor},  // erased
      {{0x2E, 0x6B, 0x21, 0x3A}, BoardVerdict::WrongSubVendor},  // sub-vendor is tested first
      {{0x00, 0x00, 0x00, 0x00}, BoardVerdict::WrongSubVendor},  // the IDs after a failed read
      {{BoardImage[0], BoardImage[1], BoardImage[2], BoardImage[3]}, BoardVerdict::AlreadyCorrect},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.bytes.data(), c.bytes.size()));
    BusFixture f;
    SetIdentity(f.bus, c.bytes);
    BYTE buffer[256] = {};
    BoardIdentity ids;
    ASSERT_TRUE(ReadBoardID(f.ctx, buffer, ids));
    EXPECT_STREQ(Name(ClassifyBoard(ids.m_wSubVendorID, ids.m_wSubSystemID)), Name(c.verdict));
  }
}

std::wstring Text(const wchar_t* text) { return text ? text : L"(unchanged)"; }

TEST(EffectOf, EachVerdictsBoxStatusBarAndButton) {
  const struct {
    BoardVerdict verdict;
    const wchar_t* box;
    const wchar_t* status;
    int pos;
    VerdictButton disable;
  } cases[] = {
      {BoardVerdict::WrongSubVendor, nullptr, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!", -1,
       VerdictButton::ReFlash},
      {BoardVerdict::NeedsReflash, L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM...",
       nullptr, -1, VerdictButton::Exit},
      {BoardVerdict::AlreadyCorrect, nullptr,
       L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.", 100,
       VerdictButton::ReFlash},
      {BoardVerdict::OtherBoard, L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board",
       L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.", -1,
       VerdictButton::ReFlash},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.verdict));
    const VerdictEffect& e = EffectOf(c.verdict);
    EXPECT_EQ(Text(e.errorBox), Text(c.box));
    EXPECT_EQ(Text(e.status), Text(c.status));
    EXPECT_EQ(e.progressPos, c.pos);
    EXPECT_EQ(e.disable, c.disable);
  }
}

}  // namespace
