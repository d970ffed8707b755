// The entry point of the program without its window (Linux), which "tarnivo --headless" runs
// instead of itself: the same start-up, built without widgets.
#include "Startup.h"
#include "platform/Process.h"

int main(int argc, char **argv) {
    QStringList arguments;
    for (const std::string &argument : platform::arguments(argc, argv))
        arguments << QString::fromStdString(argument);
    Startup::start(arguments, nullptr);
}
