// This test program run again as a child, for what needs a process of its own: a run that is killed, a run
// as another user, several programs on one register. The scenario is named by VANTREL_TEST_CHILD (a test's
// main() hands such a run to its child code); the child prints key=value lines, which the parent reads.
#pragma once

#include <QMap>
#include <QMultiMap>
#include <QString>
#include <QStringList>

class QProcess;

struct ChildResult {
    int exitCode = -1;
    QMap<QString, QString> values;     // the last value printed for each key
    QMultiMap<QString, QString> lines; // every value printed, for keys printed more than once
};

// Whether this run is a child's; its scenario.
bool isChildRun();
QString childScenario();

// Starts the scenario in child with args; as the user nobody when asNobody (the caller must be root), with
// home as its home and runtime folder, on the parent's display.
void startChild(QProcess& child, const QString& scenario, const QStringList& args, bool asNobody, const QString& home);
// Waits for a started child to end; its exit code and what it printed.
ChildResult finishChild(QProcess& child, int timeoutMilliseconds = 120000);
// startChild and finishChild in one.
ChildResult runChildScenario(const QString& scenario, const QStringList& args, bool asNobody, const QString& home);

// Prints line and a line end to standard output at once, unbuffered, so that a child killed the next moment
// has said it.
void sayToParent(const QString& line);

// Lets anyone enter and read path, and write it too when writable: for what a child as another user reaches.
void openToOthers(const QString& path, bool writable);
