// The program's entry point: WinMain on Windows, main elsewhere. Main::start() reads the
// options and ends the process with the program's result.
#include "Main.h"
#include "platform/Process.h"

namespace {
QStringList programArguments(int argc, char **argv) {
    QStringList list;
    for (const std::string &argument : platform::arguments(argc, argv))
        list << QString::fromStdString(argument);
    return list;
}
} // namespace

#ifdef Q_OS_WIN
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Main::start(programArguments(0, nullptr));
}
#else
int main(int argc, char **argv) {
    Main::start(programArguments(argc, argv));
}
#endif
