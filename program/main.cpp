// The program file: checks that there is a display to show windows on, then runs the start-up sequence.
#include "program/startup.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const bool platformChosen = std::getenv("QT_QPA_PLATFORM") != nullptr;
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (!platformChosen && !haveDisplay) {
        std::fputs("vantrel: no display to show its windows on; start it in a desktop session, or under a virtual "
                   "display with: xvfb-run -a vantrel\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    Startup startup;
    if (const auto code = startup.prepare(QApplication::applicationFilePath())) {
        return *code;
    }
    return startup.exec();
}
