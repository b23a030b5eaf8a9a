#include "device/capture_control.h"
