// The one way the lower layers tell the user about a failure: a modal
// error box that the caller shows and the user closes before the
// operation goes on. Tests replace it with a recorder.
#pragma once

#include <string>

class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  // Returns once the user has closed the box.
  virtual void ShowError(const std::wstring& text) = 0;
};
