// The values that belong to the whole run rather than to one window. Start-up makes the one Session of
// the program and hands it by reference to each window and service that reads or changes one of them.
#pragma once

#include <QString>

class Session {
public:
    // The folder of the program file, up to and including the last separator; the reports folder lies in it.
    QString ProgramFolder;
    // The access password has been given in this run; set once by the password window, never cleared.
    bool LoggedOn = false;
    // The three report files were found at start-up; when false the report writer writes nothing.
    bool ReportsEnabled = false;

    // The path of a file in the reports folder that holds the templates and the logo (findReportsFolder).
    QString ReportsPath(const QString& fileName) const;
    // Tests all three files of the reports folder, stores the answer in ReportsEnabled and returns it.
    bool CheckReportFiles();
};

// The folder of the report templates and logo for a program in programFolder: "reports" beside the program
// file (a build) when it exists, otherwise "../share/vantrel/reports" from the program's folder (an
// installed /usr/bin/vantrel reads /usr/share/vantrel/reports). Ends without a separator.
QString findReportsFolder(const QString& programFolder);
// The folder part of a program file's full path, up to and including the last separator (empty if none).
QString folderOfProgram(const QString& programPath);
