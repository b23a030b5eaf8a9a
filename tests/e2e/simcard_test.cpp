// The simulated card itself: that the platform's device enumerator and
// filter graph take it in as the utility's lookup does, and that its bus,
// fault plan and files behave as the e2e tests assume.
#include "tests/e2e/support.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>

using Microsoft::WRL::ComPtr;
using simcard::Card;
using simcard::Contents;

namespace {

::testing::Environment* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new e2e::CardRegistration(SIMCARD_DLL));

// {65E8773D-8F56-11D0-A3B9-00A0C9223196}
constexpr GUID kCaptureCategory = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// A request for one transfer, with its own sub-address and data buffers.
struct Request {
  I2CTransferRequest req{};
  I2CWriteData data{};
  BYTE sub[2] = {};
  std::vector<BYTE> bytes;

  Request(bool write, BYTE device, std::vector<BYTE> subBytes, std::vector<BYTE> payload) {
    req.Property.Set = PROPSETID_I2C_ACCESS;
    req.Property.Id = 0;
    req.Property.Flags = write ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
    req.DeviceAddress = device;
    std::memcpy(sub, subBytes.data(), subBytes.size());
    req.SubAddress = sub;
    req.SubAddressLength = static_cast<ULONG>(subBytes.size());
    bytes = std::move(payload);
    if (write) {
      data.Buffer = bytes.data();
      data.Length = static_cast<ULONG>(bytes.size());
    } else {
      req.ReadBuffer = bytes.data();
      req.ReadLength = static_cast<ULONG>(bytes.size());
    }
  }
  static Request Read(BYTE device, std::vector<BYTE> sub, size_t n) {
    return Request(false, device, std::move(sub), std::vector<BYTE>(n, 0xEE));
  }
  static Request Write(BYTE device, std::vector<BYTE> sub, std::vector<BYTE> bytes) {
    return Request(true, device, std::move(sub), std::move(bytes));
  }
  HRESULT On(Card& card) {
    ULONG returned = 0;
    return card.Transfer(&req.Property, sizeof req, &data, sizeof data, &returned);
  }
  HRESULT On(IKsControl* control) {
    ULONG returned = 0;
    return control->KsProperty(&req.Property, sizeof req, &data, sizeof data, &returned);
  }
};

class CardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = e2e::ScratchDir(std::string("card-") + info->name());
    fresh = simcard::PresetContents(simcard::Preset::Reflash);
    ASSERT_TRUE(simcard::WriteCard(dir, fresh));
  }
  std::wstring dir;
  Contents fresh;
};

TEST_F(CardTest, DevicesDecodeTheirSubAddressesAsTheirPartsDo) {
  Card card(dir);
  // Board EEPROM: one byte is the offset; two bytes are low, then high.
  auto one = Request::Read(BOARD_EEPROM_ADDRESS, {0x02}, 2);
  ASSERT_EQ(one.On(card), S_OK);
  EXPECT_EQ(one.bytes, (std::vector<BYTE>{0x21, 0x3A}));
  auto two = Request::Read(BOARD_EEPROM_ADDRESS, {0x80, 0x00}, 8);
  ASSERT_EQ(two.On(card), S_OK);
  EXPECT_EQ(std::string(two.bytes.begin(), two.bytes.end()), "SN0419-2");
  // Sent high byte first, offset 8 is 0x0800: beyond the part, refused.
  EXPECT_EQ(Request::Read(BOARD_EEPROM_ADDRESS, {0x00, 0x08}, 8).On(card), simcard::BAD_ADDRESS);
  // A sequential read wraps at the end of the part.
  auto wrap = Request::Read(BOARD_EEPROM_ADDRESS, {0xFF}, 2);
  ASSERT_EQ(wrap.On(card), S_OK);
  EXPECT_EQ(wrap.bytes, (std::vector<BYTE>{0xFF, 0x2D}));

  // Channel decoder: a multi-byte write runs through consecutive registers.
  ASSERT_EQ(Request::Write(CHANNEL_DECODER_ADDRESS, {0x3C}, {1, 2, 3}).On(card), S_OK);
  auto regs = Request::Read(CHANNEL_DECODER_ADDRESS, {0x3B}, 5);
  ASSERT_EQ(regs.On(card), S_OK);
  EXPECT_EQ(regs.bytes, (std::vector<BYTE>{fresh.chdec[0x3B], 1, 2, 3, fresh.chdec[0x3F]}));
  EXPECT_EQ(Request::Read(CHANNEL_DECODER_ADDRESS, {0x3C, 0x00}, 1).On(card), simcard::BAD_ADDRESS);

  EXPECT_EQ(Request::Read(0xA4, {0x00}, 1).On(card), simcard::NO_ACK);
}

TEST_F(CardTest, DspEepromAnswersOnlyWhileTheGateIsHeldOpen) {
  Card card(dir);
  auto page = Request::Read(DSP_EEPROM_ADDRESS, {0x12, 0x40}, 64);
  EXPECT_EQ(page.On(card), simcard::NO_ACK);

  // The opening: the block at 0x3C in its modified form, then 0x07 = 0x02.
  const BYTE* b = &fresh.chdec[0x3C];
  ASSERT_EQ(
      Request::Write(CHANNEL_DECODER_ADDRESS, {0x3C},
                     {BYTE(b[0] & 0x3F), BYTE(b[1] & 0xF7), b[2], b[3], 0xFF, BYTE(b[5] | 0xC0)})
          .On(card),
      S_OK);
  EXPECT_FALSE(card.GateOpen()) << "0x07 is not yet 0x02";
  ASSERT_EQ(Request::Write(CHANNEL_DECODER_ADDRESS, {0x07}, {0x02}).On(card), S_OK);
  ASSERT_TRUE(card.GateOpen());
  ASSERT_EQ(page.On(card), S_OK);
  EXPECT_TRUE(std::equal(page.bytes.begin(), page.bytes.end(), fresh.dsp.begin() + 0x1240))
      << "two sub-address bytes, high first";

  // 0x07 = 0x02 alone, with the block restored, does not open it.
  ASSERT_EQ(Request::Write(CHANNEL_DECODER_ADDRESS, {0x3C}, {b[0], b[1], b[2], b[3], b[4], b[5]})
                .On(card),
            S_OK);
  EXPECT_FALSE(card.GateOpen());
  EXPECT_EQ(page.On(card), simcard::NO_ACK);
}

TEST_F(CardTest, RefusesRequestsThatAreNotItsPropertySet) {
  Card card(dir);
  struct Case {
    const char* what;
    void (*spoil)(Request&, ULONG& propertyLength, ULONG& dataLength);
    HRESULT expected;
  } cases[] = {
      {"short request", [](Request&, ULONG& p, ULONG&) { p -= 4; }, E_INVALIDARG},
      {"long data block", [](Request&, ULONG&, ULONG& d) { d += 4; }, E_INVALIDARG},
      {"other set", [](Request& r, ULONG&, ULONG&) { r.req.Property.Set = GUID_NULL; },
       HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)},
      {"property 1", [](Request& r, ULONG&, ULONG&) { r.req.Property.Id = 1; },
       HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)},
      {"flags 3", [](Request& r, ULONG&, ULONG&) { r.req.Property.Flags = 3; }, E_INVALIDARG},
      {"three sub-address bytes", [](Request& r, ULONG&, ULONG&) { r.req.SubAddressLength = 3; },
       E_INVALIDARG},
      {"no read buffer", [](Request& r, ULONG&, ULONG&) { r.req.ReadBuffer = nullptr; },
       E_INVALIDARG},
  };
  for (const auto& c : cases) {
    auto r = Request::Read(BOARD_EEPROM_ADDRESS, {0x00, 0x00}, 4);
    ULONG p = sizeof r.req, d = sizeof r.data, returned = 0;
    c.spoil(r, p, d);
    EXPECT_EQ(card.Transfer(&r.req.Property, p, &r.data, d, &returned), c.expected) << c.what;
    EXPECT_EQ(r.bytes, std::vector<BYTE>(4, 0xEE)) << c.what << ": nothing delivered";
  }
}

TEST(FaultPlanTest, ParsesRulesAndReportsWhatItCannot) {
  std::vector<std::string> errors;
  const auto plan = simcard::ParseFaultPlan(
      "fail 37 0x00000001\n"
      "fail 2   # the first write\n"
      "fail 9 0x8007001F\r\n"
      "write-protect board\n"
      "no-kscontrol\n"
      "\n"
      "fail x\n"
      "fail 0\n"
      "write-protect everything\n",
      &errors);
  EXPECT_EQ(plan.failures, (std::map<unsigned long, HRESULT>{
                               {2, E_FAIL}, {9, static_cast<HRESULT>(0x8007001F)}, {37, S_FALSE}}));
  EXPECT_TRUE(plan.protect.board);
  EXPECT_FALSE(plan.protect.dsp);
  EXPECT_TRUE(plan.noKsControl);
  EXPECT_EQ(errors.size(), 3u);
}

TEST_F(CardTest, FaultPlanFailsTheNumberedTransferAndProtectsTheBoard) {
  ASSERT_TRUE(e2e::WriteText(dir + L"fault.txt", "fail 2 0x00000001\nwrite-protect board\n"));
  {
    Card card(dir);
    EXPECT_EQ(Request::Write(CHANNEL_DECODER_ADDRESS, {0x07}, {0x55}).On(card), S_OK);
    // A positive result is a failure that moves nothing.
    auto failed = Request::Read(BOARD_EEPROM_ADDRESS, {0x00}, 4);
    EXPECT_EQ(failed.On(card), S_FALSE);
    EXPECT_EQ(failed.bytes, std::vector<BYTE>(4, 0xEE));
    // Acknowledged and not stored.
    EXPECT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0x02}, {0x2C}).On(card), S_OK);
    auto id = Request::Read(BOARD_EEPROM_ADDRESS, {0x00}, 4);
    ASSERT_EQ(id.On(card), S_OK);
    EXPECT_EQ(id.bytes, (std::vector<BYTE>{0x2D, 0x6B, 0x21, 0x3A}));
  }
  EXPECT_EQ(e2e::ReadBytes(dir + L"board.bin"), fresh.board);
  EXPECT_EQ(e2e::ReadBytes(dir + L"chdec.bin")[0x07], 0x55) << "written back at once";

  const auto log = e2e::ReadLog(dir);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].number, 2u);
  EXPECT_EQ(log[1].hr, 1u);
  EXPECT_TRUE(log[1].data.empty());
  EXPECT_TRUE(log[2].write);
  EXPECT_EQ(log[2].sub, (std::vector<int>{0x02}));
  EXPECT_EQ(log[2].data, (std::vector<int>{0x2C}));
  EXPECT_EQ(log[3].data, (std::vector<int>{0x2D, 0x6B, 0x21, 0x3A}));
  EXPECT_LE(log[0].at, log[3].at);
}

TEST_F(CardTest, StateSurvivesIntoTheNextLoadAndMissingFilesComeFromThePreset) {
  {
    Card card(dir);
    ASSERT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0x03}, {0x99}).On(card), S_OK);
  }
  Card again(dir);
  EXPECT_EQ(again.contents().board[3], 0x99);

  const std::wstring empty = e2e::ScratchDir("card-made-from-preset");
  DeleteFileW((empty + L"board.bin").c_str());
  SetEnvironmentVariableW(L"SIMCARD_CARD", L"correct");
  Card made(empty);
  SetEnvironmentVariableW(L"SIMCARD_CARD", nullptr);
  EXPECT_EQ(made.contents().board, simcard::PresetContents(simcard::Preset::Correct).board);
  EXPECT_EQ(e2e::ReadBytes(empty + L"board.bin").size(), simcard::BOARD_SIZE);
}

// Each write goes to its file at once, as only the bytes it changed: a
// write that wraps changes both ends of the file, and a second card on the
// same directory neither undoes it nor is undone.
TEST_F(CardTest, WritesReachTheFileAtOnceAndOnlyWhereTheyChangedIt) {
  const std::wstring board = dir + L"board.bin";
  Card first(dir);
  Card second(dir);
  ASSERT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0xFF}, {0x11, 0x22}).On(first), S_OK);
  ASSERT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0x40}, {0x33}).On(second), S_OK);
  std::vector<BYTE> expected = fresh.board;
  expected[0xFF] = 0x11;
  expected[0x00] = 0x22;
  expected[0x40] = 0x33;
  EXPECT_EQ(e2e::ReadBytes(board), expected);

  // Over twice the part's length: each address keeps the last pass's byte,
  // and the file keeps its length.
  std::vector<BYTE> passes(600);
  for (size_t i = 0; i < passes.size(); ++i) passes[i] = static_cast<BYTE>(1 + i / 256);
  ASSERT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0x10}, passes).On(first), S_OK);
  const std::vector<BYTE> after = e2e::ReadBytes(board);
  ASSERT_EQ(after.size(), simcard::BOARD_SIZE);
  EXPECT_EQ(after, first.contents().board);
  EXPECT_EQ(after[0x0F], 2);
  EXPECT_EQ(after[0x10], 3);
  EXPECT_EQ(after[0x67], 3);
  EXPECT_EQ(after[0x68], 2);
}

TEST_F(CardTest, StateFileOfTheWrongLengthIsMadeAgainFromThePreset) {
  ASSERT_TRUE(e2e::WriteText(dir + L"dsp.bin", std::string(simcard::DSP_SIZE + 100, 'x')));
  ASSERT_TRUE(e2e::WriteText(dir + L"board.bin", "short"));
  { Card card(dir); }
  EXPECT_EQ(e2e::ReadBytes(dir + L"dsp.bin"), fresh.dsp);
  EXPECT_EQ(e2e::ReadBytes(dir + L"board.bin"), fresh.board);
}

// The road the utility's lookup takes: the device enumerator finds the
// entry by name, binding makes the filter, a real filter graph takes it in,
// and the filter hands out IKsControl.
class PlatformTest : public CardTest {
 protected:
  void SetUp() override {
    CardTest::SetUp();
    SetEnvironmentVariableW(L"SIMCARD_DIR", dir.c_str());
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(PlatformTest, FilterIsFoundByNameJoinsAGraphAndCarriesTransfers) {
  ComPtr<ICreateDevEnum> devices;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                             IID_PPV_ARGS(&devices)),
            S_OK);
  ComPtr<IEnumMoniker> category;
  ASSERT_EQ(devices->CreateClassEnumerator(kCaptureCategory, &category, 0), S_OK);
  ComPtr<IBaseFilter> filter;
  for (ComPtr<IMoniker> m; category->Next(1, &m, nullptr) == S_OK; m.Reset()) {
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(m->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)), S_OK);
    VARIANT name;
    VariantInit(&name);
    if (bag->Read(L"FriendlyName", &name, nullptr) >= 0 && name.vt == VT_BSTR &&
        lstrcmpW(name.bstrVal, simcard::CARD_FILTER_NAME) == 0) {
      EXPECT_EQ(m->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter)), S_OK);
    }
    VariantClear(&name);
  }
  ASSERT_TRUE(filter) << "no device named "
                      << "713x BDA Analog Capture";

  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)),
      S_OK);
  ASSERT_EQ(graph->AddFilter(filter.Get(), simcard::CARD_FILTER_NAME), S_OK);
  FILTER_INFO info{};
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, simcard::CARD_FILTER_NAME);
  EXPECT_TRUE(info.pGraph != nullptr);
  if (info.pGraph) info.pGraph->Release();
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(filter->EnumPins(&pins), S_OK);
  ComPtr<IPin> pin;
  EXPECT_EQ(pins->Next(1, &pin, nullptr), S_FALSE);

  ComPtr<IKsControl> control;
  ASSERT_EQ(filter.As(&control), S_OK);
  auto id = Request::Read(BOARD_EEPROM_ADDRESS, {0x00, 0x00}, 4);
  ASSERT_EQ(id.On(control.Get()), S_OK);
  EXPECT_EQ(id.bytes, (std::vector<BYTE>{0x2D, 0x6B, 0x21, 0x3A}));
  EXPECT_EQ(Request::Write(BOARD_EEPROM_ADDRESS, {0x10}, {0x42}).On(control.Get()), S_OK);
  EXPECT_EQ(e2e::ReadBytes(dir + L"board.bin")[0x10], 0x42);
}

}  // namespace
