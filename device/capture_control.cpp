#include "device/capture_control.h"

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// Frees what a VARIANT holds on every way out of the walk's step, after
// any box the step shows.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&m_value); }
  ~ScopedVariant() { VariantClear(&m_value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &m_value; }

 private:
  VARIANT m_value;
};

// The name in the ANSI code page. A failed conversion gives an empty name,
// never a partial one; the buffer is sized to the name, so no name is cut.
std::string ToAnsi(const wchar_t* wide) {
  if (!wide) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::vector<char> buffer(size, '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer.data(), size, nullptr, nullptr) <= 0)
    return std::string();
  return std::string(buffer.data());
}

// The friendly name read without error and held as a string; a device
// without one is passed over.
bool HasFriendlyName(IPropertyBag* bag, const char* name) {
  ScopedVariant value;
  const HRESULT hr = bag->Read(L"FriendlyName", value.get(), nullptr);
  if (hr < 0 || value.get()->vt != VT_BSTR) return false;
  return ToAnsi(value.get()->bstrVal) == name;
}

}  // namespace

ComPtr<IBaseFilter> FindFilterByName(GUID category, const char* name, ErrorSink& errors) {
  ComPtr<ICreateDevEnum> deviceEnum;
  if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                       IID_PPV_ARGS(&deviceEnum)) != S_OK) {
    errors.ShowError("FindFilterByName: Couldn't create device enumerator!");
    return nullptr;
  }

  // An empty category answers S_FALSE with no enumerator.
  ComPtr<IEnumMoniker> devices;
  const HRESULT hr = deviceEnum->CreateClassEnumerator(category, &devices, 0);
  deviceEnum.Reset();
  if (hr != S_OK) {
    errors.ShowError("FindFilterByName: Couldn't find enumerator!");
    return nullptr;
  }

  devices->Reset();
  // A later match replaces an earlier one; the walk goes to the end.
  ComPtr<IBaseFilter> result;
  for (;;) {
    ComPtr<IMoniker> device;
    ULONG fetched = 0;
    if (devices->Next(1, &device, &fetched) != S_OK) break;

    ComPtr<IPropertyBag> bag;
    if (device->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)) != S_OK) {
      errors.ShowError("FindFilterByName: BindToStorage failed!");
      return nullptr;
    }
    const bool match = HasFriendlyName(bag.Get(), name);
    bag.Reset();
    if (!match) continue;

    ComPtr<IBaseFilter> filter;
    if (device->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter)) != S_OK) {
      errors.ShowError("FindFilterByName: BindToObject failed!");
      return nullptr;
    }
    result = std::move(filter);
  }
  return result;
}

bool OpenAnalogCaptureControl(CaptureControl* handle, ErrorSink& errors) {
  // COM is started by the program (its application object), not here.
  handle->Release();

  ComPtr<IGraphBuilder> graph;
  if (CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)) !=
      S_OK) {
    errors.ShowError("Couldn't create graph builder instance!");
    return false;
  }

  ComPtr<IBaseFilter> filter =
      FindFilterByName(KSCATEGORY_CAPTURE_GUID, ANALOG_CAPTURE_FILTER_NAME, errors);
  if (!filter) {
    errors.ShowError("Couldn't find AnalogCaptureFilter!");
    return false;
  }

  if (graph->AddFilter(filter.Get(), ANALOG_CAPTURE_FILTER_NAME_W) != S_OK) {
    errors.ShowError("Couldn't add the AnalogCaptureFilter to the graph object!");
    return false;
  }

  ComPtr<IKsControl> control;
  if (filter.As(&control) != S_OK) {
    errors.ShowError("Couldn't get interface handle!");
    return false;
  }

  // The handle keeps the graph and the filter alive while the control is used.
  handle->Attach(std::move(graph), std::move(filter), std::move(control));
  return true;
}
