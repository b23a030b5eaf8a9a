// Answers a driver or the platform may give that the commands must come
// through: result codes beyond the usual ones, a returned-bytes counter
// left alone or wrong, a filter that refuses its control interface, a
// device whose name cannot be read. Each gets its box, and nothing is lost
// or kept.
#include "tests/faults/fault_fixture.h"

#include <algorithm>

namespace {

const std::wstring kNotFound = L"Couldn't find AnalogCaptureFilter!";
const std::wstring kNoControl = L"Couldn't get interface handle!";

// Transfer numbers of one command: the 100th byte of a ReFlash run, the
// 10th chunk of a board dump (after the identity read), DSP page 200
// (after the three transfers that open the gate).
constexpr size_t kReFlashWrite = 100;
constexpr size_t kBoardChunk = 1 + 10;
constexpr size_t kDspPage = 3 + 201;

}  // namespace

class BadAnswers : public FaultFixture {};

TEST_F(BadAnswers, UnusualResultCodesFailEveryCommandAndLoseNothing) {
  const HRESULT codes[] = {
      S_FALSE,
      2,
      0x7FFFFFFF,
      0x00000103,  // a pending status, taken over as a success code
      E_PENDING,
      HRESULT_FROM_WIN32(ERROR_MORE_DATA),
      HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
      HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
      E_NOTIMPL,
      static_cast<HRESULT>(0x80000000),
      static_cast<HRESULT>(0xFFFFFFFF),
  };
  for (HRESULT hr : codes) {
    SCOPED_TRACE(Describe(0, hr));
    size_t boxes = Boxes().size();
    const View atStart = StartWith(hr);
    EXPECT_EQ(Texts({Boxes().begin() + boxes, Boxes().end()}),
              std::vector<std::wstring>{kIdentityReadBox});
    EXPECT_EQ(atStart.status, kWrongVendor);
    EXPECT_FALSE(atStart.reFlashEnabled);
    ExpectNothingHeld();

    StartWith(S_OK, [&](HWND h) {
      Outcome o = Run(h, kReFlashWrite, hr, ClickReFlash);
      ASSERT_EQ(o.boxes.size(), 1u);
      EXPECT_EQ(o.after.status, kReFlashFailed);
      EXPECT_EQ(o.after.pos, 0);
      EXPECT_TRUE(std::equal(Board().begin(), Board().begin() + 4, BoardAtStart().begin()))
          << "the identity is untouched";

      o = Run(h, kBoardChunk, hr, SaveCommand);
      ASSERT_EQ(o.boxes.size(), 1u);
      ExpectFailureShown(o.before, o.after, kBoardSaveFailed);
      ExpectImageFile(kOldImage);

      ChooseDsp(h);
      o = Run(h, kDspPage, hr, SaveCommand);
      dlg->m_cbSource.Detach();
      ASSERT_EQ(o.boxes.size(), 1u);
      EXPECT_EQ(o.boxes[0].text, L"ReadEEPROM: I2C-read to DSP EEPROM failed (page 200)!");
      ExpectFailureShown(o.before, o.after, kDspSaveFailed);
      ExpectImageFile(kOldImage);
      EXPECT_EQ(Decoder()[0x07], 0x00) << "the gate is closed";
    });
    ExpectNothingHeld();
  }
}

// The counter of returned bytes is not what a read is judged by: a read
// answering 0 has filled its buffer, whatever the counter says.
TEST_F(BadAnswers, ReadsAreUsedWhateverTheCounterSays) {
  for (bool misreport : {false, true}) {
    SCOPED_TRACE(misreport ? "counter set to 0xFFFFFFFF" : "counter left alone");
    card->filter.misreportCount = misreport;
    const View atStart = StartWith(S_OK, [&](HWND h) {
      Outcome o = Run(h, 0, S_OK, SaveCommand);
      EXPECT_TRUE(o.boxes.empty());
      EXPECT_EQ(o.after.status, kBoardSaved);
      ExpectImageFile(BoardImageBytes());

      ChooseDsp(h);
      o = Run(h, 0, S_OK, SaveCommand);
      dlg->m_cbSource.Detach();
      EXPECT_TRUE(o.boxes.empty());
      EXPECT_EQ(o.after.status, kDspSaved);
      ExpectImageFile(DspImageBytes());

      // The read-back after programming compares what the reads delivered.
      o = Run(h, 0, S_OK, ClickReFlash);
      EXPECT_TRUE(o.boxes.empty());
      EXPECT_EQ(o.after.status, kReFlashed);
      EXPECT_EQ(Board(), std::vector<BYTE>(BoardImage, BoardImage + 256));
    });
    EXPECT_EQ(atStart.status, kInitialStatus) << "the identity read was used";
    EXPECT_TRUE(atStart.reFlashEnabled);
    ExpectNothingHeld();
  }
}

TEST_F(BadAnswers, FilterThatRefusesItsControlInterface) {
  // From the start: the verdict of a board that cannot be read.
  card->filter.offersKsControl = false;
  size_t boxes = Boxes().size();
  const View atStart = StartWith(S_OK);
  EXPECT_EQ(Texts({Boxes().begin() + boxes, Boxes().end()}), std::vector<std::wstring>{kNoControl});
  EXPECT_EQ(atStart.status, kWrongVendor);
  ExpectNothingHeld();

  // Refused only after a good start, for each command.
  card->filter.offersKsControl = true;
  StartWith(S_OK, [&](HWND h) {
    card->filter.offersKsControl = false;
    Outcome o = Run(h, 0, S_OK, ClickReFlash);
    EXPECT_EQ(Texts(o.boxes), std::vector<std::wstring>{kNoControl});
    EXPECT_EQ(o.after.status, kReFlashFailed);
    EXPECT_EQ(o.after.pos, 0);

    // The identity read and the dump each open, and each is refused.
    o = Run(h, 0, S_OK, SaveCommand);
    EXPECT_EQ(Texts(o.boxes), (std::vector<std::wstring>{kNoControl, kNoControl}));
    ExpectFailureShown(o.before, o.after, kBoardSaveFailed);
    ExpectImageFile(kOldImage);
    EXPECT_EQ(dlg->m_wSubVendorID, 0);

    ChooseDsp(h);
    o = Run(h, 0, S_OK, SaveCommand);
    dlg->m_cbSource.Detach();
    EXPECT_EQ(Texts(o.boxes), std::vector<std::wstring>{kNoControl});
    ExpectFailureShown(o.before, o.after, kDspSaveFailed);
    ExpectImageFile(kOldImage);
    EXPECT_TRUE(bus.transfers.empty());
    EXPECT_EQ(Decoder(), m_decoderBefore);
  });
  ExpectNothingHeld();
}

TEST_F(BadAnswers, DeviceWhoseNameCannotBeRead) {
  struct Case {
    const char* label;
    HRESULT readResult;
    VARTYPE type;
    bool found;
  } cases[] = {
      {"the read fails", E_FAIL, VT_BSTR, false},
      {"the read is refused", E_ACCESSDENIED, VT_BSTR, false},
      {"the name is a number", S_OK, VT_I4, false},
      {"the name is an object", S_OK, VT_UNKNOWN, false},
      // Any answer that is not negative is a read.
      {"the read answers S_FALSE with the name", S_FALSE, VT_BSTR, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    card->bag.readResult = c.readResult;
    card->bag.type = c.type;
    size_t boxes = Boxes().size();
    const View atStart = StartWith(S_OK, [&](HWND h) {
      const Outcome o = Run(h, 0, S_OK, SaveCommand);
      if (c.found) {
        EXPECT_TRUE(o.boxes.empty());
        ExpectImageFile(BoardImageBytes());
      } else {
        EXPECT_EQ(Texts(o.boxes), (std::vector<std::wstring>{kNotFound, kNotFound}));
        ExpectFailureShown(o.before, o.after, kBoardSaveFailed);
        ExpectImageFile(kOldImage);
      }
    });
    EXPECT_EQ(Boxes().size() - boxes, c.found ? 1u : 3u);  // the start's box, the save's boxes
    EXPECT_EQ(atStart.status, c.found ? kInitialStatus : kWrongVendor);
    ExpectNothingHeld();
  }

  // A later device of the same name whose name cannot be read does not
  // stand in for the card found before it.
  card->bag.readResult = S_OK;
  card->bag.type = VT_BSTR;
  world.AddDevice(ANALOG_CAPTURE_FILTER_NAME_W).bag.readResult = E_FAIL;
  const View atStart = StartWith(S_OK);
  EXPECT_EQ(atStart.status, kInitialStatus);
  ExpectNothingHeld();
}
