// Placeholder Windows backend; replaced by the real one.
#include "platform/Platform.h"
