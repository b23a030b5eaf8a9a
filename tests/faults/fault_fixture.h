// The main dialog over the real opening of the control handle, with COM
// doubles in place of the device enumerator and the graph manager, so that
// every reference a command takes can be counted afterwards. A command runs
// with one transfer of it failing, from a fixed starting point: the board,
// the channel decoder and an older image file as the fixture made them.
#pragma once

#include "testing/comdoubles/com_doubles.h"
#include "tests/app/save_fixture.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

inline const std::string kOldImage = "an older image that a failed save must leave as it was";
inline std::string Describe(size_t transfer, HRESULT hr) {
  char text[64];
  std::snprintf(text, sizeof text, "transfer %u answers 0x%08lX", static_cast<unsigned>(transfer),
                static_cast<unsigned long>(hr));
  return text;
}

class FaultFixture : public Save {
 protected:
  FaultFixture() : Save(L"fault_tests") {
    card = &world.AddDevice(ANALOG_CAPTURE_FILTER_NAME_W, &bus);
    UseOpener(realOpener);
    // A failing read still scribbles over its buffer, as a driver may.
    bus.failedReadsFillBuffer = true;
    m_board = bus.devices[BOARD_EEPROM_ADDRESS].memory;
  }
  void SetUp() override { ASSERT_TRUE(world.registered()); }

  // Runs `cases` once the dialog is up, then ends it. The dialog is hidden
  // meanwhile: Wine repaints a visible progress bar on every new position,
  // which would make a sweep of thousands of commands slow, and nothing
  // here looks at pixels.
  void InDialog(const std::function<void(HWND)>& cases) {
    RunDialog([&](HWND h) {
      ::ShowWindow(h, SW_HIDE);
      cases(h);
      ::PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    });
  }

  // Runs a fresh dialog with its identity read answering `hr` (S_OK: as
  // the board has it), and `then` once it is up; what it showed then.
  View StartWith(HRESULT hr, const std::function<void(HWND)>& then = nullptr) {
    UseOpener(realOpener);
    PutBackTheCard(1, hr);
    View shown;
    InDialog([&](HWND h) {
      shown = Look(h);
      if (then) then(h);
    });
    return shown;
  }

  struct Outcome {
    View before, after;
    std::vector<Box> boxes;  // shown during the command, in order
    size_t openings = 0;     // control handles opened
  };

  // Runs `command` with the `failing`-th of its transfers answering `hr`
  // (0: none fails), after putting back the board, the decoder, the old
  // image file, and Exit enabled or not as `exitEnabled` says.
  Outcome Run(HWND h, size_t failing, HRESULT hr, const std::function<void(HWND)>& command,
              bool exitEnabled = false) {
    PutBackTheCard(failing, hr);
    disk::Put(target, kOldImage);
    ::EnableWindow(::GetDlgItem(h, IDOK), exitEnabled);

    Outcome o;
    o.before = Look(h);
    const size_t boxes = Boxes().size(), graphs = world.graphs.size();
    command(h);
    o.after = Look(h);
    o.boxes.assign(Boxes().begin() + boxes, Boxes().end());
    o.openings = world.graphs.size() - graphs;
    return o;
  }

  // The board and the decoder as the fixture made them, a fresh transfer
  // count, and the `failing`-th transfer from now answering `hr`.
  void PutBackTheCard(size_t failing, HRESULT hr) {
    bus.devices[BOARD_EEPROM_ADDRESS].memory = m_board;
    bus.devices[CHANNEL_DECODER_ADDRESS].memory = m_decoderBefore;
    bus.transfers.clear();
    transcript.events.clear();
    bus.FailTransfer(failing, hr);
  }

  // Every COM reference given back and no paced run left open.
  void ExpectNothingHeld() const {
    EXPECT_THAT(world.Unbalanced(), ::testing::IsEmpty());
    EXPECT_EQ(pacer.openRuns, 0);
  }

  // The chosen file holds `contents` and nothing else is in its folder.
  void ExpectImageFile(const std::string& contents) const {
    EXPECT_EQ(disk::Contents(target), contents);
    EXPECT_EQ(disk::Listing(folder), L"board.bin");
  }

  const std::vector<BYTE>& Board() const { return bus.devices.at(BOARD_EEPROM_ADDRESS).memory; }
  const std::vector<BYTE>& Decoder() const {
    return bus.devices.at(CHANNEL_DECODER_ADDRESS).memory;
  }
  std::string BoardImageBytes() const { return savefixture::Bytes(m_board); }
  std::string DspImageBytes() const {
    return savefixture::Bytes(bus.devices.at(DSP_EEPROM_ADDRESS).memory);
  }
  const std::vector<BYTE>& BoardAtStart() const { return m_board; }

  comdoubles::ComWorld world;
  AnalogCaptureOpener realOpener;
  comdoubles::CaptureDevice* card = nullptr;

 private:
  std::vector<BYTE> m_board;
};
