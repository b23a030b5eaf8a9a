// Stand-ins for the platform's device enumeration and filter graph, put in
// place of the real classes inside the test process. Each double belongs to
// the test, starts with one reference (the test's own) and is never deleted
// through Release, so a reference the code under test kept, or gave back
// twice, shows as a count other than 1.
//
// A step told to fail answers the HRESULT it was given. A success code other
// than S_OK still hands its object out, as the platform does, so code that
// treats it as a failure has to release what it got.
#pragma once

#include "device/i2c.h"
#include "testing/doubles/fake_bus.h"

#include <dshow.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace comdoubles {

class Counted {
 public:
  explicit Counted(std::string name) : m_name(std::move(name)) {}
  virtual ~Counted() = default;
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

  LONG refs() const { return m_refs; }
  bool balanced() const { return m_refs == 1; }
  const std::string& name() const { return m_name; }

 protected:
  ULONG AddOne() { return static_cast<ULONG>(++m_refs); }
  ULONG DropOne();
  // The code under test has given back every reference it held.
  virtual void OnOnlyOwnerLeft() {}

 private:
  std::string m_name;
  LONG m_refs = 1;
};

// A bare object, e.g. the value of a VT_UNKNOWN property.
class UnknownDouble : public IUnknown, public Counted {
 public:
  explicit UnknownDouble(std::string name) : Counted(std::move(name)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
};

// A device's property bag; only "FriendlyName" exists.
class PropertyBagDouble : public IPropertyBag, public Counted {
 public:
  explicit PropertyBagDouble(std::string name);

  std::wstring friendlyName;
  // The name's type: VT_BSTR (friendlyName), VT_UNKNOWN (holds `payload`),
  // or any other type, handed out empty.
  VARTYPE type = VT_BSTR;
  HRESULT readResult = S_OK;  // negative: nothing is filled in
  UnknownDouble payload;

  int reads = 0;
  bool variantWasEmpty = true;  // every Read found a VariantInit'ed VARIANT

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  STDMETHODIMP Read(LPCOLESTR property, VARIANT* value, IErrorLog* log) override;
  STDMETHODIMP Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
};

// A capture filter. Its IKsControl plays the driver: it checks and decodes
// each I2C request and carries it out on `bus`, which answers the result.
class FilterDouble : public IBaseFilter, public IKsControl, public Counted {
 public:
  explicit FilterDouble(std::string name) : Counted(std::move(name)) {}

  I2CBus* bus = nullptr;
  bool offersKsControl = true;
  // Requests that arrived with wrong lengths, flags or set.
  int malformed = 0;
  // Every call sets the returned-bytes counter to 0xFFFFFFFF, as a driver
  // that reports nonsense may; otherwise the counter is left alone.
  bool misreportCount = false;

  IFilterGraph* graph = nullptr;  // as JoinFilterGraph last set it
  std::wstring joinedName;
  int joins = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  // IPersist, IMediaFilter
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override { return E_NOTIMPL; }
  STDMETHODIMP Pause() override { return E_NOTIMPL; }
  STDMETHODIMP Run(REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHODIMP GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins**) override { return E_NOTIMPL; }
  STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
  // IKsControl
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data, ULONG dataLength,
                          ULONG* bytesReturned) override;
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
};

// A device's moniker: binds to its property bag and to its filter.
class MonikerDouble : public IMoniker, public Counted {
 public:
  MonikerDouble(std::string name, PropertyBagDouble* bag, FilterDouble* filter)
      : Counted(std::move(name)), m_bag(bag), m_filter(filter) {}

  HRESULT bindToStorageResult = S_OK;
  HRESULT bindToObjectResult = S_OK;
  int storageBinds = 0;
  int objectBinds = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  // IPersist, IPersistStream
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return E_NOTIMPL; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, WINBOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  // IMoniker
  STDMETHODIMP BindToObject(IBindCtx* context, IMoniker* left, REFIID riid, void** object) override;
  STDMETHODIMP BindToStorage(IBindCtx* context, IMoniker* left, REFIID riid,
                             void** object) override;
  STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP ComposeWith(IMoniker*, WINBOOL, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP Enum(WINBOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP IsEqual(IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP Hash(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  STDMETHODIMP Inverse(IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }

 private:
  PropertyBagDouble* m_bag;
  FilterDouble* m_filter;
};

// The devices of one category, in delivery order.
class EnumMonikerDouble : public IEnumMoniker, public Counted {
 public:
  explicit EnumMonikerDouble(std::string name) : Counted(std::move(name)) {}

  std::vector<MonikerDouble*> devices;
  size_t failNextAt = 0;  // 1-based call of Next that answers nextFailure
  HRESULT nextFailure = E_FAIL;
  int resets = 0;
  int nextCalls = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  STDMETHODIMP Next(ULONG count, IMoniker** monikers, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMoniker**) override { return E_NOTIMPL; }

 private:
  size_t m_position = 0;
};

// The system device enumerator. It knows one category, `servedCategory`;
// like the platform it answers S_FALSE and no enumerator for a category
// without devices, and for any other category.
class DeviceEnumDouble : public ICreateDevEnum, public Counted {
 public:
  DeviceEnumDouble(std::string name, EnumMonikerDouble* category, GUID servedCategory)
      : Counted(std::move(name)), m_category(category), m_served(servedCategory) {}

  HRESULT failWith = S_OK;  // S_OK: answer as the platform does
  std::vector<GUID> askedCategories;
  std::vector<DWORD> askedFlags;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  STDMETHODIMP CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                     DWORD flags) override;

 private:
  EnumMonikerDouble* m_category;
  GUID m_served;
};

// The filter graph manager: AddFilter joins the filter and keeps a
// reference, which it gives up once the code has released the graph.
class GraphDouble : public IGraphBuilder, public Counted {
 public:
  explicit GraphDouble(std::string name) : Counted(std::move(name)) {}

  HRESULT addFilterResult = S_OK;  // negative: the filter is not kept
  std::vector<std::wstring> addedNames;
  std::vector<IBaseFilter*> filters;  // the references it holds

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  // IFilterGraph
  STDMETHODIMP AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  // IGraphBuilder
  STDMETHODIMP Connect(IPin*, IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Render(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP SetLogFile(DWORD_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP Abort() override { return E_NOTIMPL; }
  STDMETHODIMP ShouldOperationContinue() override { return E_NOTIMPL; }

 protected:
  void OnOnlyOwnerLeft() override { DropFilters(); }

 private:
  void DropFilters();
};

// Makes the objects of one class for CoCreateInstance.
class ClassFactoryDouble : public IClassFactory, public Counted {
 public:
  ClassFactoryDouble(std::string name, std::function<HRESULT(REFIID, void**)> make)
      : Counted(std::move(name)), m_make(std::move(make)) {}

  HRESULT failWith = S_OK;  // negative: CoCreateInstance fails with it
  int created = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); }
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  std::function<HRESULT(REFIID, void**)> m_make;
};

// One device of the capture category: its moniker, bag and filter.
struct CaptureDevice {
  CaptureDevice(const std::string& label, const std::wstring& friendlyName);
  PropertyBagDouble bag;
  FilterDouble filter;
  MonikerDouble moniker;
};

// A capture category of devices, and a graph manager per CoCreateInstance,
// registered in place of CLSID_SystemDeviceEnum and CLSID_FilterGraph for
// the life of the object (one test). Initialises COM on the thread.
class ComWorld {
 public:
  ComWorld();
  ~ComWorld();
  ComWorld(const ComWorld&) = delete;
  ComWorld& operator=(const ComWorld&) = delete;

  // Appends a device that the category delivers after those added before.
  CaptureDevice& AddDevice(const std::wstring& friendlyName, I2CBus* bus = nullptr);

  // False when a class could not be registered; the test cannot run then.
  bool registered() const { return m_deviceEnumCookie != 0 && m_graphCookie != 0; }

  // "name (refs N)" for every double that the code did not give back
  // exactly; empty when all are balanced.
  std::vector<std::string> Unbalanced() const;

  EnumMonikerDouble category{"category enumerator"};
  DeviceEnumDouble deviceEnum;
  HRESULT addFilterResult = S_OK;  // for every graph made from now on
  std::vector<std::unique_ptr<GraphDouble>> graphs;
  std::vector<std::unique_ptr<CaptureDevice>> devices;
  ClassFactoryDouble deviceEnumFactory;
  ClassFactoryDouble graphFactory;

 private:
  DWORD m_deviceEnumCookie = 0;
  DWORD m_graphCookie = 0;
  bool m_comStarted = false;
};

}  // namespace comdoubles
