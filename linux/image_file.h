// An image file that appears under its chosen name only when complete: the
// bytes go to a temporary file beside it (created O_EXCL), which is synced
// and then takes the name in one rename. Until then a file of that name
// stays as it was; a discarded image leaves nothing.
#pragma once

#include "eeprom/seams.h"
#include "linux/i2c_dev.h"

#include <memory>
#include <string>

class PosixImageFile : public ImageSink {
 public:
  // Null, with a sentence naming the file, when no temporary file can be
  // made beside `path`, or (with `replace` false) `path` is taken.
  static std::unique_ptr<PosixImageFile> Create(const std::string& path, bool replace,
                                                std::string* error);
  ~PosixImageFile() override { Discard(); }

  bool Write(const uint8_t* data, size_t length, std::string* reason) override;
  bool Commit(std::string* reason) override;
  void Discard() override;

 private:
  PosixImageFile(std::string path, std::string temp, UniqueFd fd, bool replace)
      : m_path(std::move(path)), m_temp(std::move(temp)), m_fd(std::move(fd)), m_replace(replace) {}

  std::string m_path, m_temp;  // m_temp empty once committed or discarded
  UniqueFd m_fd;
  bool m_replace;
};
