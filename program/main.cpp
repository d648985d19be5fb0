// The program file: reads the command line, checks that there is a display to show windows on, then runs the
// start-up sequence.
#include "program/startup.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine line = parseCommandLine(arguments);
    if (line.verdict == CommandLine::Verdict::Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.verdict == CommandLine::Verdict::Refused) {
        std::fprintf(stderr, "vantrel: %s\n%s", qPrintable(line.problem), kUsage);
        return 2;
    }
    const bool platformChosen = std::getenv("QT_QPA_PLATFORM") != nullptr;
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (!platformChosen && !haveDisplay) {
        std::fputs("vantrel: no display to show its windows on; start it in a desktop session, or under a virtual "
                   "display with: xvfb-run -a vantrel\n",
                   stderr);
        return 1;
    }
    // Qt sees the program's name only: the command line is the program's own, and no argument of it is taken
    // for one of Qt's options (a folder named "-reverse" stays a folder).
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    Startup startup;
    if (const auto code = startup.prepare(QApplication::applicationFilePath(), line.options)) {
        return *code;
    }
    return startup.exec();
}
