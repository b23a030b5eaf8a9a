#include "linux/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is in the folder's own entry: sync it too, so the name
// survives a power cut.
void SyncFolder(const std::string& path) {
  UniqueFd dir(open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) fsync(dir.get());
}

}  // namespace

std::unique_ptr<PosixImageFile> PosixImageFile::Create(const std::string& path, bool replace,
                                                       std::string* error) {
  struct stat st;
  if (!replace && lstat(path.c_str(), &st) == 0) {
    *error = path + " exists; a backup never replaces a file";
    return nullptr;
  }
  const size_t slash = path.find_last_of('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = path.substr(0, path.size() - base.size()) + "." + base + ".tmp-" +
                             std::to_string(getpid()) + "-";
  for (int n = 0; n < 100; ++n) {
    const std::string temp = prefix + std::to_string(n);
    UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd)
      return std::unique_ptr<PosixImageFile>(
          new PosixImageFile(path, temp, std::move(fd), replace));
    if (errno != EEXIST) {
      *error = "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  *error = "cannot create a temporary file beside " + path + ": " + std::strerror(EEXIST);
  return nullptr;
}

bool PosixImageFile::Write(const uint8_t* data, size_t length, std::string* reason) {
  while (length > 0) {
    const ssize_t n = write(m_fd.get(), data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *reason = "writing " + m_path + " failed: " + std::strerror(n < 0 ? errno : ENOSPC);
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool PosixImageFile::Commit(std::string* reason) {
  int failure = 0;
  if (fsync(m_fd.get()) != 0) failure = errno;
  if (close(m_fd.Release()) != 0 && !failure) failure = errno;
  // Without replacing: link() refuses a name that is taken, atomically.
  if (!failure && (m_replace ? rename(m_temp.c_str(), m_path.c_str())
                             : link(m_temp.c_str(), m_path.c_str())) != 0)
    failure = errno;
  if (failure) {
    *reason = "putting the image in place of " + m_path + " failed: " + std::strerror(failure);
    Discard();
    return false;
  }
  if (!m_replace) unlink(m_temp.c_str());
  m_temp.clear();
  SyncFolder(m_path);
  return true;
}

void PosixImageFile::Discard() {
  m_fd.Reset();
  if (!m_temp.empty()) unlink(m_temp.c_str());
  m_temp.clear();
}
