#pragma once

#include "framework/app.h"

class CBoardFlashApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
