// Finding the card's analog capture filter and opening its control handle.
#pragma once

#include "device/i2c.h"
#include "eeprom/seams.h"

#include <dshow.h>
#include <wrl/client.h>

// The capture devices' category and the name the card's filter goes by.
// {65E8773D-8F56-11D0-A3B9-00A0C9223196}
inline constexpr GUID KSCATEGORY_CAPTURE_GUID = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr char ANALOG_CAPTURE_FILTER_NAME[] = "713x BDA Analog Capture";
inline constexpr wchar_t ANALOG_CAPTURE_FILTER_NAME_W[] = L"713x BDA Analog Capture";

// The control handle. It owns what keeps the IKsControl usable: the graph
// manager the filter joined and the filter itself, released after the
// control interface, in reverse order of their making.
class CaptureControl {
 public:
  CaptureControl() = default;
  CaptureControl(const CaptureControl&) = delete;
  CaptureControl& operator=(const CaptureControl&) = delete;
  ~CaptureControl() { Release(); }

  IKsControl* get() const { return m_control.Get(); }
  explicit operator bool() const { return m_control != nullptr; }

  void Attach(Microsoft::WRL::ComPtr<IGraphBuilder> graph,
              Microsoft::WRL::ComPtr<IBaseFilter> filter,
              Microsoft::WRL::ComPtr<IKsControl> control) {
    Release();
    m_graph = std::move(graph);
    m_filter = std::move(filter);
    m_control = std::move(control);
  }

  void Release() {
    m_control.Reset();
    m_filter.Reset();
    m_graph.Reset();
  }

 private:
  Microsoft::WRL::ComPtr<IGraphBuilder> m_graph;
  Microsoft::WRL::ComPtr<IBaseFilter> m_filter;
  Microsoft::WRL::ComPtr<IKsControl> m_control;
};

// The filter of the last device in `category` whose friendly name, in the
// ANSI code page, equals `name` exactly; null when none does.
Microsoft::WRL::ComPtr<IBaseFilter> FindFilterByName(GUID category, const char* name,
                                                     ErrorSink& errors);

// True: `handle` holds the card's control handle. False: the boxes have
// been shown and `handle` holds nothing.
bool OpenAnalogCaptureControl(CaptureControl* handle, ErrorSink& errors);
