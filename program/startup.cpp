// The start-up sequence, in the order the program relies on: windows exist before the register opens, the
// report files are tested before any password prompt, and a failure to open the register ends the program
// with exit code 1 before any window is shown. Each window is handed what it opens or calls when it is
// created, so windows are made in the order of what they need: the main window (it holds the data module),
// the password gate, the status window and the viewer before the windows that use them.
//
// The register is the file the connection string names in the working folder. The command line only moves
// the process into another folder before anything is opened, so everything after that step runs as it does
// for a program started in that folder.
#include "program/startup.h"

#include "app/logon.h"
#include "app/serverlogin.h"
#include "app/status.h"
#include "browser/main.h"
#include "config/cfg.h"
#include "config/firstrun.h"
#include "data/connection.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "labels/labelswindow.h"
#include "records/assdet.h"
#include "records/writeoff.h"
#include "reporting/assetreports.h"
#include "reporting/print.h"
#include "reporting/reporter.h"
#include "reporting/reportwriter.h"
#include "stocktake/stocktakewindow.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/look.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

const char* const kUsage = "usage: vantrel [--register-folder DIR] [--desktop]\n"
                           "Opens the register vnrdata.mdb of the folder it is started in.\n"
                           "  --register-folder DIR  open the register of DIR instead\n"
                           "  --desktop              open the register of your own data folder for Vantrel\n"
                           "                         ($XDG_DATA_HOME/vantrel), or of DIR when given, and offer\n"
                           "                         to make one there when there is none\n"
                           "  --help                 print this and exit\n"
                           "  --version              print the program's version and exit\n";

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    auto refuse = [&line](const QString& problem) {
        line.verdict = CommandLine::Verdict::Refused;
        line.problem = problem;
        return line;
    };
    const QString folderOption = QStringLiteral("--register-folder");
    bool folderGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            line.verdict = CommandLine::Verdict::Help;
            return line;
        }
        if (a == QLatin1String("--version")) {
            line.verdict = CommandLine::Verdict::Version;
            return line;
        }
        if (a == QLatin1String("--desktop")) {
            line.options.desktop = true;
        } else if (a == folderOption || a.startsWith(folderOption + QLatin1Char('='))) {
            if (folderGiven) {
                return refuse(QStringLiteral("--register-folder is given more than once"));
            }
            folderGiven = true;
            if (a == folderOption) {
                if (i + 1 >= arguments.size()) {
                    return refuse(QStringLiteral("--register-folder needs a folder"));
                }
                line.options.registerFolder = arguments[++i];
            } else {
                line.options.registerFolder = a.mid(folderOption.size() + 1);
            }
            if (line.options.registerFolder.isEmpty()) {
                return refuse(QStringLiteral("--register-folder needs a folder"));
            }
        } else if (a.startsWith(QLatin1Char('-'))) {
            return refuse(QStringLiteral("unknown option '%1'").arg(a));
        } else {
            return refuse(QStringLiteral("unexpected argument '%1'").arg(a));
        }
    }
    return line;
}

QString userDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vantrel");
}

namespace {

// A failure before the event loop: the "Application Error" box, and the same text on the standard error
// stream for whoever started the program from a terminal. Returns the exit code, 1.
int failStart(const QString& text) {
    std::fprintf(stderr, "vantrel: %s\n", qPrintable(text));
    Dialogs::showError(text, QStringLiteral("Application Error"));
    return 1;
}

// Makes folder the working folder; the exit code when it cannot be.
std::optional<int> enterFolder(const QString& folder) {
    if (::chdir(QFile::encodeName(folder).constData()) != 0) {
        const int error = errno;
        return failStart(QStringLiteral("The register folder '%1' cannot be used: %2.")
                             .arg(QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(error))));
    }
    return std::nullopt;
}

QString registerFileName() {
    return parseConnectionString(QString::fromLatin1(kConnectionString)).dataSource;
}

// Moves the process into the folder the options name; on the desktop start, offers the first-run window when
// there is no register there, and tells through passwordJustGiven whether it made one with an access password.
// The exit code when the program ends here.
std::optional<int> enterRegisterFolder(const StartOptions& options, bool& passwordJustGiven) {
    if (!options.registerFolder.isEmpty()) {
        if (const auto code = enterFolder(options.registerFolder)) {
            return code;
        }
    }
    if (!options.desktop) {
        return std::nullopt;
    }
    // The data folder is made only together with a register: a cancelled first run leaves nothing behind.
    const QString folder = options.registerFolder.isEmpty() ? userDataFolder() : QDir::currentPath();
    const QString registerPath = QDir(folder).filePath(registerFileName());
    if (!QFileInfo::exists(registerPath) && !QFileInfo(registerPath).isSymLink() &&
        !QFileInfo::exists(serverFileFor(registerPath))) {
        FirstRunWindow firstRun(nullptr, registerPath);
        if (Dialogs::showModal(firstRun) != mrOk) {
            return 0;
        }
        passwordJustGiven = !firstRun.passwordEdit->text().isEmpty();
    }
    return options.registerFolder.isEmpty() ? enterFolder(folder) : std::nullopt;
}

// What the "Application Error" adds when there is no register at all: how to make one.
QString howToMakeARegister() {
    return QStringLiteral("\n\nThere is no register in %1. Make one there with the register tool:\n"
                          "    vnrdb create %2 --company NAME --abbreviation ABBR\n"
                          "or start Vantrel with --desktop, as its menu entry does, to be offered a new register in "
                          "your data folder, %3.")
        .arg(QDir::toNativeSeparators(QDir::currentPath()), registerFileName(),
             QDir::toNativeSeparators(userDataFolder()));
}

} // namespace

Startup::Startup() = default;

Startup::~Startup() {
    Connection::setPasswordPrompt({});
}

std::optional<int> Startup::prepare(const QString& programFilePath, const StartOptions& options) {
    session.ProgramFolder = folderOfProgram(programFilePath);
    // The name only, no display name: Qt would append a display name to every window's caption.
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vantrel.svg")));
    Look::installStyle();
    // Whoever has just chosen the access password, typing it twice, is not asked for it again in this run.
    bool passwordJustGiven = false;
    if (const auto code = enterRegisterFolder(options, passwordJustGiven)) {
        return code;
    }

    mainfrm = std::make_unique<Tmainfrm>();
    Tmainfrm* main = mainfrm.get();
    DataModule& data = main->data;
    // Shown before the main window at start-up: without a parent it opens in the middle of the screen.
    logonfrm = std::make_unique<Tlogonfrm>(nullptr, data, session,
                                           [main](const QString& caption) { main->setCaption(caption); });
    assdetfrm = new Tassdetfrm(main, data, *logonfrm);
    cfgFrm = new TcfgFrm(main, data);
    writeofffrm = new Twriteofffrm(main, data);
    reporterfrm = new Treporterfrm(main);
    StatusFrm = std::make_unique<TStatusFrm>();
    reportWriter = std::make_unique<ReportWriter>(session, data.SystemTable, *StatusFrm, *reporterfrm);
    printfrm = new Tprintfrm(main, *main->DBGrid1, *reportWriter);
    assetreportsfrm = new Tassetreportsfrm(main, data, *main->Query2Grid, *reportWriter);
    labelsWindow = new LabelsWindow(main, data);
    stockTakeWindow = new StockTakeWindow(main, data, *logonfrm, *main->Query2Grid, *reportWriter);
    main->setCommands(
        {*logonfrm, *assdetfrm, *writeofffrm, *printfrm, *assetreportsfrm, *labelsWindow, *stockTakeWindow, *cfgFrm});

    // A register on a server whose login needs a password that ~/.pgpass does not hold asks for it here.
    serverLoginFrm = std::make_unique<ServerLoginWindow>(nullptr);
    Connection::setPasswordPrompt(
        [this](const QString& server, const QString& login) { return serverLoginFrm->ask(server, login); });
    bool promptAtStart = false;
    try {
        // Reading every page of a large register takes seconds: it is done once the window shows.
        data.ADOConnection1.open(QString::fromLatin1(kConnectionString), Connection::WholeFileChecks::Later);
        data.GroupsTable.open();
        data.SystemTable.open();
        data.mainquery.open();
        if (!session.CheckReportFiles()) {
            Dialogs::showMessage(QStringLiteral("Report Files are not correctly installed. Reports will be disabled"));
        }
        promptAtStart = data.SystemTable.fieldByName(QStringLiteral("PromptPasswordToStart")).asBoolean();
    } catch (const VantrelError& e) {
        const QString registerFile = registerFileName();
        const bool none = !QFileInfo::exists(registerFile) && !QFileInfo(registerFile).isSymLink() &&
                          !QFileInfo::exists(serverFileFor(registerFile));
        return failStart(none ? e.text() + howToMakeARegister() : e.text());
    }
    if (passwordJustGiven) {
        session.LoggedOn = true;
    } else if (promptAtStart) {
        if (Dialogs::showModal(*logonfrm) != mrOk) {
            return 0;
        }
    } else {
        main->setCaption(main->caption() + QStringLiteral(" (Read Only Mode) "));
    }
    main->startWatching();
    assetreportsfrm->presetDates(QDate::currentDate());
    return std::nullopt;
}

int Startup::exec() {
    Tmainfrm* main = mainfrm.get();
    QObject::connect(main, &Tmainfrm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        main->move(area.center() - QPoint(main->width() / 2, main->height() / 2));
    }
    main->show();
    QTimer::singleShot(0, main, [main] { main->data.ADOConnection1.startBackgroundCheck(); });
    return QApplication::exec();
}
