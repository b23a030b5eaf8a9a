// The save command's fixture: a NeedsReflash board with patterned
// EEPROMs, a fresh folder for the image and a Save As that answers with a
// chosen path, all over the real main dialog.
#pragma once

#include "framework/file.h"
#include "framework/file_dialog.h"
#include "tests/app/dialog_fixture.h"
#include "tests/app/dsp_source.h"
#include "tests/framework/disk.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace savefixture {

inline std::wstring g_answer;  // empty: the user cancels
inline int g_asked = 0;
inline HWND g_owner = nullptr;

inline BOOL WINAPI AnswerSaveAs(OPENFILENAMEW* ofn) {
  ++g_asked;
  g_owner = ofn->hwndOwner;
  if (g_answer.empty()) return FALSE;
  wcscpy(ofn->lpstrFile, g_answer.c_str());
  return TRUE;
}

inline std::string Bytes(const std::vector<BYTE>& v) { return std::string(v.begin(), v.end()); }

}  // namespace savefixture

class Save : public ::testing::Test, public DialogFixture {
 protected:
  explicit Save(const std::wstring& folderName = L"app_save_test") {
    // A NeedsReflash board: Exit starts disabled, ReFlash enabled.
    auto& board = bus.devices[BOARD_EEPROM_ADDRESS].memory;
    for (size_t i = 0; i < board.size(); ++i) board[i] = static_cast<BYTE>(i * 7 + 3);
    SetIdentity(0x2D, 0x6B, 0x21, 0x3A);
    auto& dsp = bus.devices[DSP_EEPROM_ADDRESS].memory;
    for (size_t i = 0; i < dsp.size(); ++i) dsp[i] = static_cast<BYTE>(i ^ (i >> 8));
    auto& decoder = bus.devices[CHANNEL_DECODER_ADDRESS].memory;
    for (size_t i = 0; i < decoder.size(); ++i) decoder[i] = static_cast<BYTE>(0x40 + i);
    m_decoderBefore = decoder;

    folder = disk::FreshFolder(folderName);
    target = folder + L"board.bin";
    savefixture::g_answer = target;
    savefixture::g_asked = 0;
    m_previousSaveAs = SetSaveFileNameFunction(savefixture::AnswerSaveAs);
  }
  ~Save() override {
    SetSaveFileNameFunction(m_previousSaveAs);
    SetWriteFileFunction(nullptr);
  }

  static void SaveCommand(HWND h) {
    ::SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDC_SAVE_EEPROM, 0), 0);
  }

  // Runs the save command once in a shown dialog; returns what it showed
  // before and after.
  std::pair<View, View> SaveOnce(std::function<void(HWND)> before = nullptr) {
    std::pair<View, View> views;
    RunDialog([&](HWND h) {
      shown = h;
      if (before) before(h);
      views.first = Look(h);
      m_transfersBefore = bus.transfers.size();
      m_boxesBefore = Boxes().size();
      SaveCommand(h);
      views.second = Look(h);
      PressEscape(h);
    });
    return views;
  }

  // Selection 1 of a real combo box: the DSP EEPROM.
  void ChooseDsp(HWND) { ChooseDspSource(*dlg); }

  std::vector<std::wstring> NewBoxes() const {
    std::vector<Box> boxes(Boxes().begin() + m_boxesBefore, Boxes().end());
    return Texts(boxes);
  }
  size_t NewTransfers() const { return bus.transfers.size() - m_transfersBefore; }
  // The gate was closed: the decoder's saved block is back, written last.
  bool DecoderRestored() const {
    const auto& now = bus.devices.at(CHANNEL_DECODER_ADDRESS).memory;
    const Transfer& last = bus.transfers.back();
    return std::equal(now.begin() + 0x3C, now.begin() + 0x42, m_decoderBefore.begin() + 0x3C) &&
           last.write && last.device == CHANNEL_DECODER_ADDRESS;
  }

  std::wstring folder, target;
  HWND shown = nullptr;  // the dialog, while it ran

 protected:
  std::vector<BYTE> m_decoderBefore;

 private:
  GetFileNameFunction m_previousSaveAs;
  size_t m_transfersBefore = 0, m_boxesBefore = 0;
};

// A failed dump: its status, the bar back at 0, the buttons as they were.
inline void ExpectFailureShown(const View& before, const View& after, const std::wstring& status) {
  EXPECT_EQ(after.status, status);
  EXPECT_EQ(after.pos, 0);
  EXPECT_EQ(after.exitEnabled, before.exitEnabled);
  EXPECT_EQ(after.reFlashEnabled, before.reFlashEnabled);
}
