// The start-up sequence, in the order the program relies on: windows exist before the register opens, the
// report files are tested before any password prompt, and a failure to open the register ends the program
// with exit code 1 before any window is shown.
#include "app/startup.h"

#include "app/globals.h"
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

Startup::~Startup() {
    // The dialogs refer to the main window's datasets: they go first, the main window last.
    assetreportsfrm.reset();
    StatusFrm.reset();
    reporterfrm.reset();
    printfrm.reset();
    writeofffrm.reset();
    logonfrm.reset();
    cfgFrm.reset();
    assdetfrm.reset();
    mainfrm.reset();
}

std::optional<int> Startup::prepare(const QString& programFilePath) {
    ProgramFolder = folderOfProgram(programFilePath);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantrel"));
    Look::installStyle();

    mainfrm = std::make_unique<Tmainfrm>();
    Tmainfrm* main = mainfrm.get();
    DataModule& data = main->data;
    assdetfrm = std::make_unique<Tassdetfrm>(main, data);
    cfgFrm = std::make_unique<TcfgFrm>(main, data);
    logonfrm = std::make_unique<Tlogonfrm>(nullptr, data, [main](const QString& caption) { main->setWindowTitle(caption); });
    writeofffrm = std::make_unique<Twriteofffrm>(main, data);
    printfrm = std::make_unique<Tprintfrm>(main, *main->DBGrid1);
    reporterfrm = std::make_unique<Treporterfrm>(main);
    StatusFrm = std::make_unique<TStatusFrm>();
    assetreportsfrm = std::make_unique<Tassetreportsfrm>(main, data, *main->Query2Grid);

    bool promptAtStart = false;
    try {
        data.ADOConnection1.open(QString::fromLatin1(kConnectionString));
        data.GroupsTable.open();
        data.SystemTable.open();
        data.mainquery.open();
        InitReportWriter(data.SystemTable);
        LoggedOn = false;
        if (!CheckReportFiles()) {
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
