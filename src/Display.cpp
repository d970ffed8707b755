#include "Display.h"
Display::Display() {}
void Display::clickedMenuExit() {}
void Display::clickedAboutVersion() {}
void Display::clickedAboutAuthor() {}
void Display::clickedSettingsStart() {}
void Display::clickedSettingsStop() {}
void Display::clickedStatusOpen() {}
