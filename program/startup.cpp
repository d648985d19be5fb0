// The start-up sequence, in the order the program relies on: windows exist before the register opens, the
// report files are tested before any password prompt, and a failure to open the register ends the program
// with exit code 1 before any window is shown. Each window is handed what it opens or calls when it is
// created, so windows are made in the order of what they need: the main window (it holds the data module),
// the password gate, the status window and the viewer before the windows that use them.
#include "program/startup.h"

#include "app/logon.h"
#include "app/status.h"
#include "browser/main.h"
#include "config/cfg.h"
#include "data/errors.h"
#include "records/assdet.h"
#include "records/writeoff.h"
#include "reporting/assetreports.h"
#include "reporting/print.h"
#include "reporting/reporter.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/look.h"

#include <QApplication>
#include <QDate>
#include <QScreen>

Startup::Startup() = default;

Startup::~Startup() = default;

std::optional<int> Startup::prepare(const QString& programFilePath) {
    session.ProgramFolder = folderOfProgram(programFilePath);
    // The name only, no display name: Qt would append a display name to every window's caption.
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    Look::installStyle();

    mainfrm = std::make_unique<Tmainfrm>();
    Tmainfrm* main = mainfrm.get();
    DataModule& data = main->data;
    // Shown before the main window at start-up: without a parent it opens in the middle of the screen.
    logonfrm = std::make_unique<Tlogonfrm>(nullptr, data, session,
                                           [main](const QString& caption) { main->setWindowTitle(caption); });
    assdetfrm = new Tassdetfrm(main, data, *logonfrm);
    cfgFrm = new TcfgFrm(main, data);
    writeofffrm = new Twriteofffrm(main, data);
    reporterfrm = new Treporterfrm(main);
    StatusFrm = std::make_unique<TStatusFrm>();
    reportWriter = std::make_unique<ReportWriter>(session, data.SystemTable, *StatusFrm, *reporterfrm);
    printfrm = new Tprintfrm(main, *main->DBGrid1, *reportWriter);
    assetreportsfrm = new Tassetreportsfrm(main, data, *main->Query2Grid, *reportWriter);
    main->setCommands({*logonfrm, *assdetfrm, *writeofffrm, *printfrm, *assetreportsfrm, *cfgFrm});

    bool promptAtStart = false;
    try {
        data.ADOConnection1.open(QString::fromLatin1(kConnectionString));
        data.GroupsTable.open();
        data.SystemTable.open();
        data.mainquery.open();
        session.LoggedOn = false;
        if (!session.CheckReportFiles()) {
            Dialogs::showMessage(QStringLiteral("Report Files are not correctly installed. Reports will be disabled"));
        }
        promptAtStart = data.SystemTable.fieldByName(QStringLiteral("PromptPasswordToStart")).asBoolean();
    } catch (const VantrelError& e) {
        Dialogs::showError(e.text(), QStringLiteral("Application Error"));
        return 1;
    }
    if (promptAtStart) {
        if (Dialogs::showModal(*logonfrm) != mrOk) {
            return 0;
        }
    } else {
        main->setWindowTitle(main->windowTitle() + QStringLiteral(" (Read Only Mode) "));
    }
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
    return QApplication::exec();
}
