#include "dlna/device.h"
