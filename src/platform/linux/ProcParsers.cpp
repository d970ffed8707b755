#include "ProcParsers.h"
