#include "DisplayAboutVersion.h"

DisplayAboutVersion::DisplayAboutVersion() {}
