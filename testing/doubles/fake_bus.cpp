#include "testing/doubles/fake_bus.h"

#include <cstdio>
#include <cstring>

std::vector<std::string> Transcript::Only(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  return out;
}

FakeBus::FakeBus(Transcript* transcript) : m_transcript(transcript) {
  devices[BOARD_EEPROM_ADDRESS] = {std::vector<BYTE>(256, 0xFF), AddressOrder::LowFirst, false};
  devices[DSP_EEPROM_ADDRESS] = {std::vector<BYTE>(32768, 0xFF), AddressOrder::HighFirst, false};
  devices[CHANNEL_DECODER_ADDRESS] = {std::vector<BYTE>(256, 0x00), AddressOrder::LowFirst, false};
}

void FakeBus::FailTransfer(size_t number, HRESULT hr) {
  fault = [number, hr](size_t n, const Transfer&) { return n == number ? hr : S_OK; };
}

STDMETHODIMP FakeBus::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IUnknown || riid == __uuidof(IKsControl)) {
    *object = static_cast<IKsControl*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeBus::AddRef() { return ++m_refs; }
STDMETHODIMP_(ULONG) FakeBus::Release() {
  if (--m_refs == 1 && m_transcript) m_transcript->Add("released");
  return m_refs;
}

STDMETHODIMP FakeBus::KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data,
                                 ULONG dataLength, ULONG* bytesReturned) {
  auto* req = reinterpret_cast<I2CTransferRequest*>(property);
  auto* wd = static_cast<I2CWriteData*>(data);
  if (!req || propertyLength != sizeof(I2CTransferRequest) || !wd ||
      dataLength != sizeof(I2CWriteData) || !bytesReturned ||
      req->Property.Set != PROPSETID_I2C_ACCESS || req->Property.Id != 0 ||
      (req->Property.Flags != KSPROPERTY_TYPE_GET && req->Property.Flags != KSPROPERTY_TYPE_SET) ||
      req->SubAddressLength < 1 || req->SubAddressLength > 2 || !req->SubAddress) {
    ++malformed;
    return E_INVALIDARG;
  }
  Transfer t;
  t.write = req->Property.Flags == KSPROPERTY_TYPE_SET;
  t.device = req->DeviceAddress;
  t.subAddress.assign(req->SubAddress, req->SubAddress + req->SubAddressLength);
  if (t.write)
    t.data.assign(wd->Buffer, wd->Buffer + wd->Length);
  else
    t.readLength = req->ReadLength;

  t.result = fault ? fault(transfers.size() + 1, t) : S_OK;
  auto dev = devices.find(t.device);
  if (t.result == S_OK && dev == devices.end()) t.result = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  if (t.result == S_OK) {
    BusDevice& d = dev->second;
    size_t addr = t.subAddress[0];
    if (t.subAddress.size() == 2)
      addr = d.order == AddressOrder::LowFirst ? t.subAddress[0] | t.subAddress[1] << 8
                                               : t.subAddress[0] << 8 | t.subAddress[1];
    const size_t n = d.memory.size();
    if (t.write) {
      if (!d.writeProtected)
        for (size_t i = 0; i < t.data.size(); ++i) d.memory[(addr + i) % n] = t.data[i];
    } else {
      for (ULONG i = 0; i < t.readLength; ++i) {
        req->ReadBuffer[i] = d.memory[(addr + i) % n];
        t.data.push_back(req->ReadBuffer[i]);
      }
    }
  }
  if (misreportCount) *bytesReturned = 0xFFFFFFFF;
  if (t.result != S_OK && !t.write && failedReadsFillBuffer && req->ReadBuffer)
    std::memset(req->ReadBuffer, 0xA5, t.readLength);
  if (m_transcript) {
    std::string e = t.write ? "W " : "R ";
    e += Hex(&t.device, 1) + " [" + Hex(t.subAddress.data(), t.subAddress.size()) + "] ";
    e += t.write ? Hex(t.data.data(), t.data.size()) : "#" + std::to_string(t.readLength);
    if (t.result != S_OK) {
      char b[24];
      std::snprintf(b, sizeof b, " -> %08lX", static_cast<unsigned long>(t.result));
      e += b;
    }
    m_transcript->Add(e);
  }
  transfers.push_back(t);
  return t.result;
}

void RecordingErrors::ShowError(const std::wstring& text) {
  texts.push_back(text);
  if (m_t) m_t->Add("box " + Narrow(text));
  if (onShow) onShow(text);
}

void RecordingProgress::SetPos(int pos) {
  positions.push_back(pos);
  if (m_t) m_t->Add("pos " + std::to_string(pos));
}

void FakePacer::BeginRun() {
  ++openRuns;
  if (m_t) m_t->Add("begin run");
}

void FakePacer::Pause(DWORD ms) {
  ++pauses;
  if (m_t) m_t->Add("pause " + std::to_string(ms));
}

void FakePacer::EndRun() {
  --openRuns;
  if (m_t) m_t->Add("end run");
}

bool FakeOpener::Open(CaptureControl* handle, ErrorSink& errors) {
  if (fail) {
    if (m_t) m_t->Add("open failed");
    for (const auto& text : failBoxes) errors.ShowError(text);
    return false;
  }
  ++opened;
  if (m_t) m_t->Add("open");
  handle->Attach(nullptr, nullptr, Microsoft::WRL::ComPtr<IKsControl>(m_bus));
  return true;
}
