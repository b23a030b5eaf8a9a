// The program's entry point: runs the one application object.
#include "framework/app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return AfxWinMain(); }
