// The setting every report test starts from, wired as start-up wires it: scripted dialogs, a pinned locale,
// one session, the status window and the viewer made once; and for every test a program folder holding the
// installed report files, a fresh register, and a report writer on the test's data module.
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
#include <QTest>
#include <QToolButton>
#include <memory>

class ReportFixture {
public:
    Session session;
    std::unique_ptr<TStatusFrm> StatusFrm;
    std::unique_ptr<Treporterfrm> reporterfrm;
    // The user's runtime folder for this test program, so report pages never mix with a real run's.
    QTemporaryDir runtime;

    // The test's own, from begin() to end(); declared in the order they are made, so they go in reverse.
    std::unique_ptr<QTemporaryDir> programDir;
    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<DataModule> dm;
    std::unique_ptr<ReportWriter> writer;

    // Once per test program.
    void start() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        DialogScript::enable();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        StatusFrm = std::make_unique<TStatusFrm>();
        reporterfrm = std::make_unique<Treporterfrm>(nullptr);
    }

    // Before every test: the script reset, a fresh program folder with the report files (the session's
    // ProgramFolder pointing at it, the files tested) and a fresh register. True when the session found the
    // report files.
    bool begin() {
        DialogScript::reset();
        programDir = std::make_unique<QTemporaryDir>();
        session.ProgramFolder = makeProgramFolder(programDir->path());
        reg = std::make_unique<TestRegister>();
        return session.CheckReportFiles();
    }

    // The data module on the test's register, as start-up opens it, with the asset list open, and a report
    // writer reading its settings.
    void openRegister() {
        dm = openDataModule(*reg);
        dm->mainquery.open();
        writer = writerOn(*dm);
    }

    // A report writer reading data's settings, showing this fixture's status window and viewer.
    std::unique_ptr<ReportWriter> writerOn(DataModule& data) {
        return std::make_unique<ReportWriter>(session, data.SystemTable, *StatusFrm, *reporterfrm);
    }

    // What the viewer does with the next report: page receives the page's bytes as it is shown, and the
    // viewer is dismissed.
    void readNextPage(QByteArray& page) {
        DialogScript::setNextModal([this, &page](QDialog& viewer) {
            QFile file(writer->ReportFilePath());
            page = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            viewer.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
        });
    }

    // After every test, once the test has let go of what it made on the data module: lets go of the test's
    // own and puts back the locale start() set, then checks that every answer queued was used, that no window
    // was shown unasked or left open, and that the status window is down.
    void end() {
        writer.reset();
        dm.reset();
        reg.reset();
        programDir.reset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(DialogScript::pendingScript(), 0);
        QVERIFY(DialogScript::unexpectedModals().empty());
        QVERIFY(!StatusFrm->isVisible());
    }
};
