#include "DisplayAboutAuthor.h"

DisplayAboutAuthor::DisplayAboutAuthor() {}
