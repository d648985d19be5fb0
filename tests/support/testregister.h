// Test fixtures: a fresh register in a temporary folder, made by the same code as `vnrdb create`, and
// a side connection for setting up rows or playing the part of another program.
#pragma once

#include "data/connection.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

struct NewRegister;

class TestRegister {
public:
    // Makes <tmp>/vnrdata.mdb, an empty register with one settings record and no groups.
    TestRegister();
    // Makes <tmp>/vnrdata.mdb holding settings, as the first-run window and `vnrdb create --company ...` do.
    explicit TestRegister(const NewRegister& settings);
    const QString& path() const { return path_; }
    QString folder() const { return dir_.path(); }
    // A second connection to the same file, opened on first use.
    Connection& side();
    // Runs SQL on the side connection.
    void exec(const QString& sql);
    // Adds an asset with the given columns (SQL literals, e.g. "'KLT1001'"); returns nothing.
    void addAsset(const QString& id, const QString& group, const QString& extraColumns = QString(),
                  const QString& extraValues = QString());
    long long count(const QString& sql);
    QString text(const QString& sql);

private:
    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Connection> side_;
};

class DataModule;
// The data module on reg's file with the groups and the settings open, as start-up opens them.
std::unique_ptr<DataModule> openDataModule(const TestRegister& reg);

// The folder holding the installed report templates and logo in the source tree.
QString reportsSourceFolder();
// Makes <folder>/reports with the installed template files; returns the folder with a trailing separator.
QString makeProgramFolder(const QString& folder);

// The names of every entry of folder, hidden ones (a half-made file's temporary name) included, sorted.
QStringList filesIn(const QString& folder);

// The text of the error f raises; empty when it raises none.
QString errorOf(const std::function<void()>& f);

// Overwrites length bytes at offset of page (1-based, 4096-byte pages) of the file at path with 0xFF, and
// counts a change in the header so that a connection already open reads the page afresh.
void damagePage(const QString& path, long long page, int offset, int length);
