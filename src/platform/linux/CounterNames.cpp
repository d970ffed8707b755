#include "CounterNames.h"
