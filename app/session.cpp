// The run's values and the test for the installed report files.
#include "app/session.h"

#include <QDir>
#include <QFileInfo>

QString folderOfProgram(const QString& programPath) {
    const qsizetype cut = programPath.lastIndexOf(QDir::separator());
    return cut < 0 ? QString() : programPath.left(cut + 1);
}

QString findReportsFolder(const QString& programFolder) {
    const QString beside = programFolder + QStringLiteral("reports");
    if (QFileInfo(beside).isDir()) {
        return beside;
    }
    const QString installed = QDir::cleanPath(programFolder + QStringLiteral("../share/vantrel/reports"));
    return QFileInfo(installed).isDir() ? installed : beside;
}

QString Session::ReportsPath(const QString& fileName) const {
    return findReportsFolder(ProgramFolder) + QDir::separator() + fileName;
}

bool Session::CheckReportFiles() {
    ReportsEnabled = QFileInfo::exists(ReportsPath(QStringLiteral("header.htm"))) &&
                     QFileInfo::exists(ReportsPath(QStringLiteral("footer.htm"))) &&
                     QFileInfo::exists(ReportsPath(QStringLiteral("reportlogo.jpg")));
    return ReportsEnabled;
}
