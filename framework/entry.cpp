// The program's entry point: runs the one application object.
#include "framework/app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  app->InitInstance();
  return 0;
}
