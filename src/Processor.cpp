#include "Processor.h"
