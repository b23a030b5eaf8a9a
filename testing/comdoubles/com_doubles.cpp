#include "testing/comdoubles/com_doubles.h"

#include <cwchar>

namespace comdoubles {
namespace {

// The capture category, spelled out here rather than taken from the
// product's headers, so a wrong constant there finds no devices.
// {65E8773D-8F56-11D0-A3B9-00A0C9223196}
constexpr GUID kCaptureCategory = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

template <class Interface>
HRESULT Give(Interface* itf, void** object) {
  *object = itf;
  itf->AddRef();
  return S_OK;
}

HRESULT NoInterface(void** object) {
  *object = nullptr;
  return E_NOINTERFACE;
}

}  // namespace

ULONG Counted::DropOne() {
  const LONG refs = --m_refs;
  if (refs == 1) OnOnlyOwnerLeft();
  return static_cast<ULONG>(refs);
}

// ---- UnknownDouble -------------------------------------------------------

STDMETHODIMP UnknownDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown) return Give(static_cast<IUnknown*>(this), object);
  return NoInterface(object);
}

// ---- PropertyBagDouble ---------------------------------------------------

PropertyBagDouble::PropertyBagDouble(std::string name) : Counted(name), payload(name + " value") {}

STDMETHODIMP PropertyBagDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPropertyBag)
    return Give(static_cast<IPropertyBag*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP PropertyBagDouble::Read(LPCOLESTR property, VARIANT* value, IErrorLog*) {
  ++reads;
  if (!property || !value) return E_POINTER;
  if (value->vt != VT_EMPTY) variantWasEmpty = false;
  if (std::wcscmp(property, L"FriendlyName") != 0) return E_INVALIDARG;
  if (readResult < 0) return readResult;
  value->llVal = 0;
  value->vt = type;
  if (type == VT_BSTR) {
    value->bstrVal = SysAllocString(friendlyName.c_str());
  } else if (type == VT_UNKNOWN) {
    payload.AddRef();
    value->punkVal = &payload;
  }
  return readResult;
}

// ---- FilterDouble --------------------------------------------------------

STDMETHODIMP FilterDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
      riid == IID_IBaseFilter)
    return Give(static_cast<IBaseFilter*>(this), object);
  if (riid == __uuidof(IKsControl) && offersKsControl)
    return Give(static_cast<IKsControl*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP FilterDouble::JoinFilterGraph(IFilterGraph* joined, LPCWSTR name) {
  ++joins;
  graph = joined;
  joinedName = name ? name : L"";
  return S_OK;
}

STDMETHODIMP FilterDouble::KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data,
                                      ULONG dataLength, ULONG* bytesReturned) {
  if (!bus) return E_UNEXPECTED;
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
  // The bus may scribble over the read buffer of a read it fails.
  const BusStatus status = req->Property.Flags == KSPROPERTY_TYPE_SET
                               ? bus->Write(req->DeviceAddress, req->SubAddress,
                                            req->SubAddressLength, wd->Buffer, wd->Length)
                               : bus->Read(req->DeviceAddress, req->SubAddress,
                                           req->SubAddressLength, req->ReadBuffer, req->ReadLength);
  if (misreportCount) *bytesReturned = 0xFFFFFFFF;
  return status.ok ? S_OK : static_cast<HRESULT>(status.code);
}

// ---- MonikerDouble -------------------------------------------------------

STDMETHODIMP MonikerDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IPersistStream ||
      riid == IID_IMoniker)
    return Give(static_cast<IMoniker*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP MonikerDouble::BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** object) {
  ++storageBinds;
  if (!object) return E_POINTER;
  *object = nullptr;
  if (bindToStorageResult < 0) return bindToStorageResult;
  if (riid != IID_IPropertyBag) return E_NOINTERFACE;
  const HRESULT hr = m_bag->QueryInterface(riid, object);
  return hr == S_OK ? bindToStorageResult : hr;
}

STDMETHODIMP MonikerDouble::BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** object) {
  ++objectBinds;
  if (!object) return E_POINTER;
  *object = nullptr;
  if (bindToObjectResult < 0) return bindToObjectResult;
  const HRESULT hr = m_filter->QueryInterface(riid, object);
  return hr == S_OK ? bindToObjectResult : hr;
}

// ---- EnumMonikerDouble ---------------------------------------------------

STDMETHODIMP EnumMonikerDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumMoniker)
    return Give(static_cast<IEnumMoniker*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP EnumMonikerDouble::Next(ULONG count, IMoniker** monikers, ULONG* fetched) {
  ++nextCalls;
  if (fetched) *fetched = 0;
  if (count != 1 || !monikers) return E_INVALIDARG;
  *monikers = nullptr;
  if (failNextAt != 0 && static_cast<size_t>(nextCalls) == failNextAt) return nextFailure;
  if (m_position >= devices.size()) return S_FALSE;
  Give(static_cast<IMoniker*>(devices[m_position++]), reinterpret_cast<void**>(monikers));
  if (fetched) *fetched = 1;
  return S_OK;
}

STDMETHODIMP EnumMonikerDouble::Reset() {
  ++resets;
  m_position = 0;
  return S_OK;
}

// ---- DeviceEnumDouble ----------------------------------------------------

STDMETHODIMP DeviceEnumDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ICreateDevEnum)
    return Give(static_cast<ICreateDevEnum*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP DeviceEnumDouble::CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                                     DWORD flags) {
  askedCategories.push_back(category);
  askedFlags.push_back(flags);
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  const bool served = IsEqualGUID(category, m_served);
  if (failWith != S_OK) {
    if (failWith >= 0 && served)
      Give(static_cast<IEnumMoniker*>(m_category), reinterpret_cast<void**>(enumerator));
    return failWith;
  }
  if (!served || m_category->devices.empty()) return S_FALSE;
  return Give(static_cast<IEnumMoniker*>(m_category), reinterpret_cast<void**>(enumerator));
}

// ---- GraphDouble ---------------------------------------------------------

STDMETHODIMP GraphDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
    return Give(static_cast<IGraphBuilder*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP GraphDouble::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  addedNames.push_back(name ? name : L"");
  if (!filter) return E_POINTER;
  if (addFilterResult < 0) return addFilterResult;
  filter->AddRef();
  filters.push_back(filter);
  filter->JoinFilterGraph(this, name);
  return addFilterResult;
}

// A graph manager going away takes its filters out of the graph.
void GraphDouble::DropFilters() {
  std::vector<IBaseFilter*> held;
  held.swap(filters);
  for (IBaseFilter* filter : held) {
    filter->JoinFilterGraph(nullptr, nullptr);
    filter->Release();
  }
}

// ---- ClassFactoryDouble --------------------------------------------------

STDMETHODIMP ClassFactoryDouble::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory)
    return Give(static_cast<IClassFactory*>(this), object);
  return NoInterface(object);
}

STDMETHODIMP ClassFactoryDouble::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (failWith < 0) return failWith;
  ++created;
  return m_make(riid, object);
}

// ---- CaptureDevice, ComWorld ---------------------------------------------

CaptureDevice::CaptureDevice(const std::string& label, const std::wstring& friendlyName)
    : bag(label + " bag"), filter(label + " filter"), moniker(label + " moniker", &bag, &filter) {
  bag.friendlyName = friendlyName;
}

ComWorld::ComWorld()
    : deviceEnum("device enumerator", &category, kCaptureCategory),
      deviceEnumFactory(
          "device enumerator factory",
          [this](REFIID riid, void** object) { return deviceEnum.QueryInterface(riid, object); }),
      graphFactory("graph manager factory", [this](REFIID riid, void** object) {
        graphs.push_back(
            std::make_unique<GraphDouble>("graph manager " + std::to_string(graphs.size() + 1)));
        graphs.back()->addFilterResult = addFilterResult;
        return graphs.back()->QueryInterface(riid, object);
      }) {
  m_comStarted = SUCCEEDED(CoInitialize(nullptr));
  if (CoRegisterClassObject(CLSID_SystemDeviceEnum, &deviceEnumFactory, CLSCTX_INPROC_SERVER,
                            REGCLS_MULTIPLEUSE, &m_deviceEnumCookie) != S_OK)
    m_deviceEnumCookie = 0;
  if (CoRegisterClassObject(CLSID_FilterGraph, &graphFactory, CLSCTX_INPROC_SERVER,
                            REGCLS_MULTIPLEUSE, &m_graphCookie) != S_OK)
    m_graphCookie = 0;
}

ComWorld::~ComWorld() {
  if (m_graphCookie) CoRevokeClassObject(m_graphCookie);
  if (m_deviceEnumCookie) CoRevokeClassObject(m_deviceEnumCookie);
  if (m_comStarted) CoUninitialize();
}

CaptureDevice& ComWorld::AddDevice(const std::wstring& friendlyName, I2CBus* bus) {
  devices.push_back(std::make_unique<CaptureDevice>("device " + std::to_string(devices.size() + 1),
                                                    friendlyName));
  CaptureDevice& device = *devices.back();
  device.filter.bus = bus;
  category.devices.push_back(&device.moniker);
  return device;
}

std::vector<std::string> ComWorld::Unbalanced() const {
  std::vector<const Counted*> all = {&category, &deviceEnum};
  for (const auto& graph : graphs) all.push_back(graph.get());
  for (const auto& device : devices) {
    all.push_back(&device->moniker);
    all.push_back(&device->bag);
    all.push_back(&device->bag.payload);
    all.push_back(&device->filter);
  }
  std::vector<std::string> out;
  for (const Counted* c : all)
    if (!c->balanced()) out.push_back(c->name() + " (refs " + std::to_string(c->refs()) + ")");
  return out;
}

}  // namespace comdoubles
