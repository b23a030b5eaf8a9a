#include "linux/i2c_dev.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kSysClass[] = "/sys/class/i2c-dev";
constexpr char kSysDevices[] = "/sys/bus/i2c/devices";

int32_t LastError() { return errno ? -errno : -EIO; }

// One I2C_RDWR call; a call that moved fewer messages than asked is a
// failure too.
BusStatus Transfer(int fd, i2c_msg* messages, unsigned count) {
  i2c_rdwr_ioctl_data data{messages, count};
  const int done = ioctl(fd, I2C_RDWR, &data);
  if (done < 0) return {false, LastError()};
  if (static_cast<unsigned>(done) != count) return {false, -EIO};
  return {};
}

// The first line of a small text file, without its newline.
bool ReadLine(const std::string& path, std::string* line) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char buffer[256];
  const ssize_t n = read(fd.get(), buffer, sizeof buffer);
  if (n < 0) return false;
  line->assign(buffer, static_cast<size_t>(n));
  line->erase(std::min(line->find('\n'), line->size()));
  return true;
}

// "i2c-12" gives 12; anything else -1.
int AdapterNumber(const char* entry) {
  if (std::strncmp(entry, "i2c-", 4) != 0 || !entry[4]) return -1;
  char* end = nullptr;
  const long n = std::strtol(entry + 4, &end, 10);
  return *end == '\0' && n >= 0 && n < 1 << 20 && entry[4] != '-' && entry[4] != '+'
             ? static_cast<int>(n)
             : -1;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) close(m_fd);
  m_fd = fd;
}

std::string AdapterPath(int adapter) { return "/dev/i2c-" + std::to_string(adapter); }

BusStatus I2CDevBus::Write(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                           const uint8_t* data, size_t length) {
  std::vector<uint8_t> bytes(subAddress, subAddress + subAddressLength);
  bytes.insert(bytes.end(), data, data + length);
  i2c_msg message{BusAddress(device), 0, static_cast<uint16_t>(bytes.size()), bytes.data()};
  return Transfer(m_fd.get(), &message, 1);
}

BusStatus I2CDevBus::Read(uint8_t device, const uint8_t* subAddress, size_t subAddressLength,
                          uint8_t* buffer, size_t length) {
  std::vector<uint8_t> sub(subAddress, subAddress + subAddressLength);
  std::vector<uint8_t> in(length);
  i2c_msg messages[2] = {
      {BusAddress(device), 0, static_cast<uint16_t>(sub.size()), sub.data()},
      {BusAddress(device), I2C_M_RD, static_cast<uint16_t>(in.size()), in.data()}};
  const BusStatus status = Transfer(m_fd.get(), messages, 2);
  if (status.ok) std::copy(in.begin(), in.end(), buffer);
  return status;
}

std::string I2CDevBus::Reason(int32_t code) const { return std::strerror(-code); }

AdapterOpening OpenAdapter(int adapter) {
  const std::string path = AdapterPath(adapter);
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return {nullptr, "cannot open " + path + ": " + std::strerror(errno)};
  unsigned long funcs = 0;
  if (ioctl(fd.get(), I2C_FUNCS, &funcs) < 0)
    return {nullptr,
            path + ": cannot read the adapter's abilities (I2C_FUNCS): " + std::strerror(errno)};
  if (!(funcs & I2C_FUNC_I2C))
    return {nullptr, path +
                         " offers no plain I2C transfers, only SMBus (a motherboard's "
                         "controller, where memory modules answer at the card's addresses): "
                         "refused, nothing was sent"};
  return {std::make_unique<I2CDevBus>(std::move(fd)), std::string()};
}

std::unique_ptr<I2CBus> I2CDevOpener::Open(ErrorSink& errors) {
  AdapterOpening opening = OpenAdapter(m_adapter);
  if (!opening.bus) errors.ShowError(opening.error);
  return std::move(opening.bus);
}

std::vector<AdapterInfo> ListAdapters(std::string* error) {
  std::vector<AdapterInfo> adapters;
  DIR* dir = opendir(kSysClass);
  if (!dir) {
    *error = std::string("cannot list ") + kSysClass + ": " + std::strerror(errno) +
             " (is the i2c-dev module loaded?)";
    return adapters;
  }
  while (const dirent* entry = readdir(dir)) {
    const int n = AdapterNumber(entry->d_name);
    if (n < 0) continue;
    AdapterInfo info;
    info.number = n;
    const std::string node = std::string("/") + entry->d_name + "/name";
    if (!ReadLine(kSysClass + node, &info.name)) ReadLine(kSysDevices + node, &info.name);
    adapters.push_back(info);
  }
  closedir(dir);
  std::sort(adapters.begin(), adapters.end(),
            [](const AdapterInfo& a, const AdapterInfo& b) { return a.number < b.number; });

  for (AdapterInfo& info : adapters) {
    const std::string path = AdapterPath(info.number);
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
      info.openError = std::strerror(errno);
      continue;
    }
    info.opened = true;
    unsigned long funcs = 0;
    if (ioctl(fd.get(), I2C_FUNCS, &funcs) < 0 || !(funcs & I2C_FUNC_I2C)) continue;
    info.plainI2C = true;
    uint8_t sub = 0x00;
    i2c_msg messages[2] = {{BusAddress(BOARD_EEPROM_ADDRESS), 0, 1, &sub},
                           {BusAddress(BOARD_EEPROM_ADDRESS), I2C_M_RD, 4, info.identity}};
    const BusStatus status = Transfer(fd.get(), messages, 2);
    if (!status.ok) {
      std::fill(std::begin(info.identity), std::end(info.identity), 0);
      info.probe = AdapterInfo::Probe::NoAnswer;
      info.probeError = std::strerror(-status.code);
    } else {
      info.probe = AdapterInfo::Probe::Answered;
    }
  }
  return adapters;
}
