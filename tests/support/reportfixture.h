// The setting every report test starts from, wired as start-up wires it: scripted dialogs, a pinned locale,
// one session, the status window and the viewer made once, a program folder holding the installed report
// files, and a report writer on the test's own data module.
#pragma once

#include "app/session.h"
#include "app/status.h"
#include "data/datamodule.h"
#include "reporting/reporter.h"
#include "reporting/reportwriter.h"
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>

class ReportFixture {
public:
    Session session;
    std::unique_ptr<TStatusFrm> StatusFrm;
    std::unique_ptr<Treporterfrm> reporterfrm;
    // The user's runtime folder for this test program, so report pages never mix with a real run's.
    QTemporaryDir runtime;

    // Once per test program.
    void start() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        DialogScript::enable();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        StatusFrm = std::make_unique<TStatusFrm>();
        reporterfrm = std::make_unique<Treporterfrm>(nullptr);
    }

    // Before every test: a fresh program folder with the report files, the session's ProgramFolder pointing
    // at it and the files tested.
    std::unique_ptr<QTemporaryDir> installReportFiles() {
        DialogScript::reset();
        auto dir = std::make_unique<QTemporaryDir>();
        session.ProgramFolder = makeProgramFolder(dir->path());
        session.CheckReportFiles();
        return dir;
    }

    // A report writer reading dm's settings, showing this fixture's status window and viewer.
    std::unique_ptr<ReportWriter> writerOn(DataModule& dm) {
        return std::make_unique<ReportWriter>(session, dm.SystemTable, *StatusFrm, *reporterfrm);
    }
};
