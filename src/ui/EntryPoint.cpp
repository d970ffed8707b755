// The program's entry point: WinMain on Windows, main elsewhere. "--report" writes the system
// report and ends; otherwise Main::start() reads the options and ends the process with the
// program's result.
#include "HeartbeatProtocol.h"
#include "HeartbeatThread.h"
#include "Main.h"
#include "SystemReport.h"
#include "platform/Process.h"

namespace {
// Whether the heartbeat could have its port now: the program need not run for the answer.
QString heartbeatSection() {
    const QString problem = HeartbeatThread::portCheck(HeartbeatProtocol::port);
    return QStringLiteral("\n[Heartbeat]\nUDP port %1: %2\n")
        .arg(HeartbeatProtocol::port)
        .arg(problem.isEmpty() ? QStringLiteral("free for this program alone") : problem);
}

QStringList programArguments(int argc, char **argv) {
    QStringList list;
    for (const std::string &argument : platform::arguments(argc, argv))
        list << QString::fromStdString(argument);
    return list;
}
} // namespace

#ifdef Q_OS_WIN
#include <stdlib.h>
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (SystemReport::requested(__argc, __argv))
        return SystemReport::run(__argc, __argv, heartbeatSection);
    Main::start(programArguments(0, nullptr));
}
#else
int main(int argc, char **argv) {
    if (SystemReport::requested(argc, argv))
        return SystemReport::run(argc, argv, heartbeatSection);
    Main::start(programArguments(argc, argv));
}
#endif
