#include "Network.h"
