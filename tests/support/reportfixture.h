// The setting every report test starts from: scripted dialogs, a pinned locale, the status window and the
// viewer made once, and a program folder holding the installed report files.
#pragma once

#include "app/globals.h"
#include "app/status.h"
#include "reporting/reporter.h"
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"

#include <QLocale>
#include <QTemporaryDir>
#include <memory>

// Once per test program.
inline void startReportTests() {
    DialogScript::enable();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    new TStatusFrm(nullptr);
    new Treporterfrm(nullptr);
}

// Before every test: a fresh program folder with the report files, ProgramFolder pointing at it.
inline std::unique_ptr<QTemporaryDir> installReportFiles() {
    DialogScript::reset();
    auto dir = std::make_unique<QTemporaryDir>();
    ProgramFolder = makeProgramFolder(dir->path());
    CheckReportFiles();
    return dir;
}
