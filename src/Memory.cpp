#include "Memory.h"
