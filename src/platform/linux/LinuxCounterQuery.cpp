#include "LinuxCounterQuery.h"
