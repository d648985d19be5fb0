// The program file: reads the command line, checks that there is a display to show windows on, then runs the
// start-up sequence.
#include "program/startup.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// While the application object connects to the display: Qt ends the program when the display does not answer
// (a DISPLAY left behind by a closed session, a remote display gone), after a few lines of its own. The
// program says it in one line instead and ends as it does without any display; Qt's lines of a start that
// went well are passed on afterwards.
QtMessageHandler qtHandler = nullptr;
std::vector<std::pair<QtMsgType, QString>> held;

void whileConnecting(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        held.emplace_back(type, message);
        return;
    }
    (void)context;
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "vantrel: the display '%s' does not answer, so there is nowhere to show its windows; start it in a "
                 "desktop session, or under a virtual display with: xvfb-run -a vantrel\n",
                 display ? display : "");
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

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
    if (line.verdict == CommandLine::Verdict::Version) {
        std::fputs("vantrel " VANTREL_VERSION "\n", stdout);
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
    qtHandler = qInstallMessageHandler(whileConnecting);
    QApplication app(qtArgc, argv);
    qInstallMessageHandler(qtHandler);
    for (const auto& [type, message] : held) {
        qtHandler(type, QMessageLogContext(), message);
    }
    held.clear();
    Startup startup;
    if (const auto code = startup.prepare(QApplication::applicationFilePath(), line.options)) {
        return *code;
    }
    return startup.exec();
}
