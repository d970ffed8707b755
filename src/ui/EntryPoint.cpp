// The program's entry point: WinMain on Windows, main elsewhere. Arguments are ignored, and
// Main::start() ends the process with the main loop's result.
#include "Main.h"

#ifdef Q_OS_WIN
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Main::start();
}
#else
int main(int, char **) {
    Main::start();
}
#endif
