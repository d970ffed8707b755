#include "Storage.h"
