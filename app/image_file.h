// An EEPROM image file that shows up under its chosen name only when it is
// complete. The bytes go to a temporary file in the same folder, which
// then takes the chosen name in one step; until then a file that already
// had the name stays exactly as it was.
#pragma once

#include "eeprom/seams.h"
#include "framework/file.h"

#include <string>

class ImageFile : public ImageSink {
 public:
  ImageFile() = default;
  ~ImageFile() override { Discard(); }

  // Checks that `path` can be written and creates the temporary file.
  // False: nothing was created and nothing was changed.
  bool Create(const std::wstring& path);

  // Appends to the temporary file. On failure `reason` names the chosen
  // file and gives the system's reason.
  bool Write(const uint8_t* data, size_t length, std::string* reason) override;

  // Puts the image in place of the chosen name.
  bool Commit(std::string* reason) override;

  // Closes and removes the temporary file, if there still is one.
  void Discard() override;

  const std::wstring& Path() const { return m_path; }
  const std::wstring& TempPath() const { return m_tempPath; }

 private:
  std::wstring m_path;
  std::wstring m_tempPath;
  CFile m_temp;
};
