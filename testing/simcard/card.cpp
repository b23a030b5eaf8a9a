#include "testing/simcard/card.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace simcard {

namespace {

std::wstring EnvW(const wchar_t* name) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

// The sharing matches the card's own handles, so a card may be written
// while another process holds it.
bool StoreFile(const std::wstring& path, const std::vector<BYTE>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  CloseHandle(f);
  return ok;
}

bool Seek(HANDLE f, size_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(f, at, nullptr, FILE_BEGIN) != FALSE;
}

// `count` bytes at `offset` of an open file. Through the file pointer: under
// Wine a WriteFile with an OVERLAPPED offset costs ten times as much.
bool WriteAt(HANDLE f, size_t offset, const BYTE* bytes, size_t count) {
  DWORD written = 0;
  return Seek(f, offset) && ::WriteFile(f, bytes, static_cast<DWORD>(count), &written, nullptr) &&
         written == count;
}

bool ReadAll(HANDLE f, std::vector<BYTE>* out) {
  out->clear();
  if (!Seek(f, 0)) return false;
  BYTE chunk[4096];
  DWORD got = 0;
  while (::ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0)
    out->insert(out->end(), chunk, chunk + got);
  return true;
}

bool LoadFile(const std::wstring& path, std::vector<BYTE>* out) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  const bool ok = ReadAll(f, out);
  CloseHandle(f);
  return ok;
}

void MakeDirectories(const std::wstring& dir) {
  // Each level in turn; the ones that exist refuse harmlessly.
  for (size_t i = dir.find_first_of(L"\\/", 3); i != std::wstring::npos;
       i = dir.find_first_of(L"\\/", i + 1))
    CreateDirectoryW(dir.substr(0, i).c_str(), nullptr);
  CreateDirectoryW(dir.c_str(), nullptr);
}

std::string HrText(HRESULT hr) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(hr));
  return b;
}

// The index of a device's state file in Card::m_files.
size_t SlotOf(BYTE device) {
  return device == BOARD_EEPROM_ADDRESS ? 0 : device == DSP_EEPROM_ADDRESS ? 1 : 2;
}

const wchar_t* FileOf(BYTE device) {
  switch (device) {
    case BOARD_EEPROM_ADDRESS:
      return L"board.bin";
    case DSP_EEPROM_ADDRESS:
      return L"dsp.bin";
    default:
      return L"chdec.bin";
  }
}

}  // namespace

long long NowMicroseconds() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart;
}

FaultPlan ParseFaultPlan(const std::string& text, std::vector<std::string>* errors) {
  FaultPlan plan;
  for (const PlanRule& rule : ReadPlan(text)) {
    bool ok = true;
    if (rule.verb == "fail") {
      const unsigned long n = FailedTransfer(rule);
      HRESULT hr = E_FAIL;
      if (!rule.extra.empty()) {
        char* end = nullptr;
        hr = static_cast<HRESULT>(std::strtoul(rule.extra.c_str(), &end, 0));
        ok = *end == '\0';
      }
      ok = ok && n > 0;
      if (ok) plan.failures[n] = hr;
    } else if (ProtectionRule(rule, &plan.protect)) {
    } else if (rule.verb == "no-kscontrol" && rule.arg.empty()) {
      plan.noKsControl = true;
    } else {
      ok = false;
    }
    if (!ok && errors) errors->push_back(rule.text);
  }
  return plan;
}

std::wstring StateDirectory() {
  std::wstring dir = EnvW(L"SIMCARD_DIR");
  if (dir.empty()) dir = L"C:\\simcard\\";
  if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  return dir;
}

bool WriteCard(const std::wstring& dir, const Contents& contents) {
  MakeDirectories(dir);
  std::wstring base = dir;
  if (base.back() != L'\\') base += L'\\';
  DeleteFileW((base + L"fault.txt").c_str());
  DeleteFileW((base + L"transfers.log").c_str());
  return StoreFile(base + L"board.bin", contents.board) &&
         StoreFile(base + L"dsp.bin", contents.dsp) &&
         StoreFile(base + L"chdec.bin", contents.chdec);
}

Card::Card(std::wstring dir) : m_dir(std::move(dir)) {
  if (m_dir.empty() || m_dir.back() != L'\\') m_dir += L'\\';
  MakeDirectories(m_dir);
  m_log = CreateFileW((m_dir + L"transfers.log").c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);

  Preset preset = Preset::Reflash;
  std::string presetName = Narrow(EnvW(L"SIMCARD_CARD"));
  std::vector<BYTE> named;
  if (presetName.empty() && LoadFile(m_dir + L"card.txt", &named)) {
    presetName.assign(named.begin(), named.end());
    presetName.erase(presetName.find_last_not_of(" \r\n\t") + 1);
  }
  if (!presetName.empty() && !ParsePreset(presetName, &preset))
    Note("unknown card \"" + presetName + "\", using reflash");
  const Contents fresh = PresetContents(preset);
  const struct {
    BYTE device;
    std::vector<BYTE>* bytes;
    const std::vector<BYTE>* fresh;
  } kDevices[] = {{BOARD_EEPROM_ADDRESS, &m_contents.board, &fresh.board},
                  {DSP_EEPROM_ADDRESS, &m_contents.dsp, &fresh.dsp},
                  {CHANNEL_DECODER_ADDRESS, &m_contents.chdec, &fresh.chdec}};
  for (const auto& d : kDevices) {
    // Open for the card's life: a write then costs one WriteFile at its
    // offset, and what it changed is in the file at once for any reader.
    HANDLE& file = m_files[SlotOf(d.device)];
    file = CreateFileW((m_dir + FileOf(d.device)).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Note("could not open " + Narrow(FileOf(d.device)));
    if (file != INVALID_HANDLE_VALUE && ReadAll(file, d.bytes) &&
        d.bytes->size() == d.fresh->size())
      continue;
    *d.bytes = *d.fresh;
    Store(d.device, 0, d.bytes->size());
    // A file that was too long ends where the memory does.
    if (file != INVALID_HANDLE_VALUE && Seek(file, d.bytes->size())) SetEndOfFile(file);
    Note("made " + Narrow(FileOf(d.device)) + " from the preset");
  }

  std::vector<BYTE> plan;
  if (LoadFile(m_dir + L"fault.txt", &plan)) {
    std::vector<std::string> errors;
    m_faults = ParseFaultPlan(std::string(plan.begin(), plan.end()), &errors);
    for (const auto& e : errors) Note("fault.txt: ignored \"" + e + "\"");
  }
  Note("card loaded from " + Narrow(m_dir) + " by process " +
       std::to_string(GetCurrentProcessId()));
}

Card::~Card() {
  for (HANDLE f : m_files)
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  if (m_log != INVALID_HANDLE_VALUE) CloseHandle(m_log);
}

void Card::Log(const std::string& line, long long at) {
  if (m_log == INVALID_HANDLE_VALUE) return;
  const std::string text = std::to_string(at ? at : NowMicroseconds()) + " " + line + "\r\n";
  DWORD written = 0;
  ::WriteFile(m_log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Card::Note(const std::string& text) { Log("# " + text); }

std::vector<BYTE>& Card::MemoryOf(BYTE device) {
  return device == BOARD_EEPROM_ADDRESS ? m_contents.board
         : device == DSP_EEPROM_ADDRESS ? m_contents.dsp
                                        : m_contents.chdec;
}

void Card::Store(BYTE device, size_t address, size_t length) {
  const std::vector<BYTE>& bytes = MemoryOf(device);
  const size_t size = bytes.size();
  if (length >= size) {  // every byte changed, however often it wrapped
    address = 0;
    length = size;
  }
  // A write that wrapped changed the end of the memory and its start.
  const size_t first = std::min(length, size - address);
  const HANDLE file = m_files[SlotOf(device)];
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteAt(file, address, bytes.data() + address, first) &&
                  (first == length || WriteAt(file, 0, bytes.data(), length - first));
  if (!ok) Note("could not write " + Narrow(FileOf(device)));
}

HRESULT Card::Transfer(PKSPROPERTY property, ULONG propertyLength, void* data, ULONG dataLength,
                       ULONG* bytesReturned) {
  // Stamped when the call arrives: the pacing the log shows is that of the
  // caller, not of the file writes that follow.
  const long long arrived = NowMicroseconds();
  const unsigned long number = ++m_transfers;
  const std::string n = std::to_string(number);
  auto refuse = [&](HRESULT hr, const std::string& why) {
    Log(n + " ! " + why + " hr=" + HrText(hr), arrived);
    return hr;
  };
  if (!property || propertyLength != sizeof(I2CTransferRequest))
    return refuse(E_INVALIDARG, "request length " + std::to_string(propertyLength));
  if (!data || dataLength != sizeof(I2CWriteData))
    return refuse(E_INVALIDARG, "data length " + std::to_string(dataLength));
  if (property->Set != PROPSETID_I2C_ACCESS || property->Id != 0)
    return refuse(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
                  "property set or id " + std::to_string(property->Id));
  const auto* req = reinterpret_cast<const I2CTransferRequest*>(property);
  auto* wd = static_cast<I2CWriteData*>(data);
  if (req->Property.Flags != KSPROPERTY_TYPE_GET && req->Property.Flags != KSPROPERTY_TYPE_SET)
    return refuse(E_INVALIDARG, "flags " + std::to_string(req->Property.Flags));
  const bool write = req->Property.Flags == KSPROPERTY_TYPE_SET;
  if (!req->SubAddress || req->SubAddressLength < 1 || req->SubAddressLength > 2)
    return refuse(E_INVALIDARG, "sub-address length " + std::to_string(req->SubAddressLength));
  BYTE* bytes = write ? wd->Buffer : req->ReadBuffer;
  const ULONG length = write ? wd->Length : req->ReadLength;
  if (!bytes || length == 0 || length > DSP_SIZE)
    return refuse(E_INVALIDARG, "buffer or length " + std::to_string(length));

  const BYTE device = req->DeviceAddress;
  const BYTE* sub = req->SubAddress;
  const ULONG subLength = req->SubAddressLength;
  const std::string what = std::string(write ? "W " : "R ") + Hex(&device, 1) + " sub=[" +
                           Hex(sub, subLength) + "] len=" + std::to_string(length);
  std::string moved;
  HRESULT hr;
  if (const auto f = m_faults.failures.find(number); f != m_faults.failures.end()) {
    hr = f->second;
  } else {
    Access access;
    switch (simcard::Carry(m_contents, m_faults.protect, write, device, sub, subLength, bytes,
                           length, &access)) {
      case Answer::Done:
        hr = S_OK;
        break;
      case Answer::NoAck:
        hr = NO_ACK;
        break;
      default:
        hr = BAD_ADDRESS;
    }
    if (access.stored) Store(device, access.address, length);
    if (hr == S_OK) moved = Hex(bytes, length);
  }
  if (bytesReturned) *bytesReturned = hr == S_OK && !write ? length : 0;
  Log(n + " " + what + " data=[" + (write ? Hex(bytes, length) : moved) + "] hr=" + HrText(hr),
      arrived);
  return hr;
}

}  // namespace simcard
