// The card's analog capture filter as an in-process COM server: enough of
// IBaseFilter for a filter graph to take it in, and IKsControl carrying the
// I2C property set to the simulated bus.
#include "testing/simcard/card.h"
#include "testing/simcard/registry.h"

#include <dshow.h>
#include <olectl.h>

#include <cwchar>
#include <memory>
#include <new>

namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
CRITICAL_SECTION g_lock;

// One card per process, loaded when the first filter is made: the transfer
// count of the fault plan runs across all the openings of a run.
std::unique_ptr<simcard::Card> g_card;

class Lock {
 public:
  Lock() { EnterCriticalSection(&g_lock); }
  ~Lock() { LeaveCriticalSection(&g_lock); }
};

simcard::Card& TheCard() {
  if (!g_card) g_card = std::make_unique<simcard::Card>(simcard::StateDirectory());
  return *g_card;
}

class EmptyPinEnum : public IEnumPins {
 public:
  EmptyPinEnum() { InterlockedIncrement(&g_objects); }
  virtual ~EmptyPinEnum() { InterlockedDecrement(&g_objects); }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumPins) {
      *out = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return n;
  }

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins || (count != 1 && !fetched)) return E_POINTER;
    if (fetched) *fetched = 0;
    return count == 0 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) EmptyPinEnum;
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  LONG m_refs = 1;
};

class CaptureFilter : public IBaseFilter, public IKsControl {
 public:
  CaptureFilter() {
    InterlockedIncrement(&g_objects);
    Lock lock;
    TheCard().Note("filter made");
  }
  virtual ~CaptureFilter() {
    if (m_clock) m_clock->Release();
    {
      Lock lock;
      TheCard().Note("filter released");
    }
    InterlockedDecrement(&g_objects);
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter) {
      *out = static_cast<IBaseFilter*>(this);
    } else if (riid == __uuidof(IKsControl)) {
      Lock lock;
      if (TheCard().faults().noKsControl) {
        TheCard().Note("IKsControl refused (no-kscontrol)");
        return E_NOINTERFACE;
      }
      *out = static_cast<IKsControl*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return n;
  }

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = simcard::CLSID_SimCard;
    return S_OK;
  }

  // IMediaFilter: a capture filter with no pins has nothing to stream.
  STDMETHODIMP Stop() override {
    m_state = State_Stopped;
    return S_OK;
  }
  STDMETHODIMP Pause() override {
    m_state = State_Paused;
    return S_OK;
  }
  STDMETHODIMP Run(REFERENCE_TIME) override {
    m_state = State_Running;
    return S_OK;
  }
  STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
    if (clock) clock->AddRef();
    if (m_clock) m_clock->Release();
    m_clock = clock;
    return S_OK;
  }
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = m_clock;
    if (m_clock) m_clock->AddRef();
    return S_OK;
  }

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow) EmptyPinEnum;
    return *pins ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP FindPin(LPCWSTR, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    std::wcsncpy(info->achName, m_name, MAX_FILTER_NAME);
    info->achName[MAX_FILTER_NAME - 1] = L'\0';
    // The graph is not held by the filter (it holds the filter), but the
    // caller gets a reference of its own.
    info->pGraph = m_graph;
    if (m_graph) m_graph->AddRef();
    return S_OK;
  }
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    m_graph = graph;
    m_name[0] = L'\0';
    if (graph && name) {
      std::wcsncpy(m_name, name, MAX_FILTER_NAME);
      m_name[MAX_FILTER_NAME - 1] = L'\0';
    }
    return S_OK;
  }
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
  }

  // IKsControl
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data, ULONG dataLength,
                          ULONG* bytesReturned) override {
    Lock lock;
    return TheCard().Transfer(property, propertyLength, data, dataLength, bytesReturned);
  }
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override {
    return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override {
    return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  }

 private:
  LONG m_refs = 1;
  IFilterGraph* m_graph = nullptr;
  wchar_t m_name[MAX_FILTER_NAME] = L"";
  FILTER_STATE m_state = State_Stopped;
  IReferenceClock* m_clock = nullptr;
};

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // A static object: references only keep the server loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&g_objects) > 0 ? 2 : 1; }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&g_objects) > 0 ? 2 : 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* filter = new (std::nothrow) CaptureFilter;
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, out);
    filter->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_objects);
    else
      InterlockedDecrement(&g_objects);
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    InitializeCriticalSection(&g_lock);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != simcard::CLSID_SimCard) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

// The card stays loaded for the process's life, so that the fault plan's
// transfer numbers do not start again when COM frees unused servers.
STDAPI DllCanUnloadNow() { return S_FALSE; }

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  return simcard::RegisterServer(path) &&
                 simcard::AddDevice(simcard::CLSID_SIMCARD_TEXT, simcard::CARD_FILTER_NAME)
             ? S_OK
             : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  return simcard::RemoveDevice(simcard::CLSID_SIMCARD_TEXT) && simcard::UnregisterServer()
             ? S_OK
             : SELFREG_E_CLASS;
}
