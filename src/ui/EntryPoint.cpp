// The program's entry point: WinMain on Windows, main elsewhere. "--report" writes the system
// report and ends; any other argument is ignored, and Main::start() ends the process with the
// main loop's result.
#include "Main.h"
#include "SystemReport.h"

#ifdef Q_OS_WIN
#include <stdlib.h>
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (SystemReport::requested(__argc, __argv))
        return SystemReport::run(__argc, __argv);
    Main::start();
}
#else
int main(int argc, char **argv) {
    if (SystemReport::requested(argc, argv))
        return SystemReport::run(argc, argv);
    Main::start();
}
#endif
