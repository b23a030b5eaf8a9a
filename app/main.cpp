// The one application object; the framework's entry point runs it.
#include "app/board_flash_app.h"

CBoardFlashApp theApp;
