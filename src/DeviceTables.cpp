#include "DeviceTables.h"
