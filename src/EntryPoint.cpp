// The program's entry point: WinMain on Windows, main elsewhere. Arguments are ignored.
#include "Main.h"

#ifdef Q_OS_WIN
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return Main::start();
}
#else
int main(int, char **) {
    return Main::start();
}
#endif
