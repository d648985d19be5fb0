// Process-wide values and the test for the installed report files.
#include "app/globals.h"

#include <QDir>
#include <QFileInfo>

QString ProgramFolder;
bool LoggedOn = false;
bool ReportsEnabled = false;

QString folderOfProgram(const QString& programPath) {
    const qsizetype cut = programPath.lastIndexOf(QDir::separator());
    return cut < 0 ? QString() : programPath.left(cut + 1);
}

QString reportsPath(const QString& fileName) {
    return ProgramFolder + QStringLiteral("reports") + QDir::separator() + fileName;
}

bool CheckReportFiles() {
    ReportsEnabled = QFileInfo::exists(reportsPath(QStringLiteral("header.htm"))) &&
                     QFileInfo::exists(reportsPath(QStringLiteral("footer.htm"))) &&
                     QFileInfo::exists(reportsPath(QStringLiteral("reportlogo.jpg")));
    return ReportsEnabled;
}
