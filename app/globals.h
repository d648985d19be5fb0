// The process-wide values that start-up sets and the windows read.
#pragma once

#include <QString>

// The folder of the program file, up to and including the last separator; the reports folder lies in it.
extern QString ProgramFolder;
// The access password has been given in this run; set once by the password window, never cleared.
extern bool LoggedOn;
// The three report files were found at start-up; when false the report writer writes nothing.
extern bool ReportsEnabled;

// The folder part of a program file's full path, up to and including the last separator (empty if none).
QString folderOfProgram(const QString& programPath);

// Tests all three files of the reports folder, stores the answer in ReportsEnabled and returns it.
bool CheckReportFiles();
// The path of a file in the reports folder.
QString reportsPath(const QString& fileName);
