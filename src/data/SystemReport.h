// A plain-text report of what the system layer finds on this machine: processor groups,
// disks, adapters, drive letters and every counter the program would add, with its state.
// It is what a user sends when the figures on a machine look wrong; `--report` writes it.
#pragma once

#include <QString>

#include <functional>

class SystemReport {
public:
    // The whole report. Counters are added to a query of their own, collected, collected again
    // after settleMs and read, so that the report shows which of them give figures.
    static QString text(int settleMs = 1000);

    // True when the command line asks for the report ("--report", optionally a file name).
    static bool requested(int argc, char **argv);
    // Writes the report to the file named after "--report", else to standard output, else
    // (a program with neither, as one started from Explorer) to tarnivo-report.txt in the
    // working directory. appendix, when given, adds what the layers above find (read once the
    // application object exists). Returns the process's exit code: 0 when written, 1 otherwise.
    static int run(int argc, char **argv, const std::function<QString()> &appendix = nullptr);
};
