// Test fixtures: a fresh register in a temporary folder, made by the same code as `vnrdb create`, and
// a side connection for setting up rows or playing the part of another program.
#pragma once

#include "data/connection.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <functional>
#include <memory>
#include <utility>

struct NewRegister;

// The register tests run on a file, and again on a PostgreSQL server when VANTREL_TEST_SERVER holds the
// address of a cluster's maintenance database (tools/pgcluster.sh starts one): each TestRegister then is a
// database of its own there, named by <tmp>/vnrdata.server, and is dropped when the test is done with it.
bool testingOnServer();
// A new, empty database on the test cluster; its address. Requires: testingOnServer().
QString makeServerDatabase();
// Drops a database makeServerDatabase made, even while connections are open on it.
void dropServerDatabase(const QString& uri);

class TestRegister {
public:
    // Makes <tmp>/vnrdata.mdb, an empty register with one settings record and no groups.
    TestRegister();
    // Makes <tmp>/vnrdata.mdb holding settings, as the first-run window and `vnrdb create --company ...` do.
    explicit TestRegister(const NewRegister& settings);
    ~TestRegister();
    // The register file, or on a server the server file.
    const QString& path() const { return path_; }
    QString folder() const { return dir_.path(); }
    // A second connection to the same file, opened on first use.
    Connection& side();
    // Runs SQL on the side connection.
    void exec(const QString& sql);
    // Adds an asset with the given columns (SQL literals, e.g. "'KLT1001'") and its history entry, as the
    // program adds one.
    void addAsset(const QString& id, const QString& group, const QString& extraColumns = QString(),
                  const QString& extraValues = QString());
    // The side connection plays another program holding the register: lock() keeps everyone else from reading
    // and writing, lockForWriting() from writing; unlock() lets go, keeping nothing of it.
    void lock();
    void lockForWriting();
    void unlock();
    // From now on the register refuses, with message, a row inserted into table for which condition holds;
    // condition names the new row as NEW ("NEW.GroupNumber = '4'"). allowInserts ends that.
    void refuseInserts(const QString& table, const QString& condition, const QString& message);
    void allowInserts(const QString& table);
    // Adds count assets in one transaction, a few hundred to a statement, with their history entries; values(i)
    // gives the columns' values of the i-th, from 1. Plain SQL that both engines run, so a test fills a register
    // the same way on each.
    void addAssets(const QString& columns, int count, const std::function<QVariantList(int)>& values);
    // After rows were set up with exec (behind the history's back): an entry "History begins" for every row as it
    // stands, so the history agrees with the register again.
    void recordRowsAsTheyAre();
    long long count(const QString& sql);
    QString text(const QString& sql);

private:
    QString prepare();
    // Requires: a transaction on side(). The entry of an asset added with columns holding values.
    void recordAdded(const QStringList& columns, const QVariantList& values);
    QTemporaryDir dir_;
    QString path_;
    QString server_; // the database's address on a server
    std::unique_ptr<Connection> side_;
};

class DataModule;
// The data module on reg's file with the groups and the settings open, as start-up opens them.
std::unique_ptr<DataModule> openDataModule(const TestRegister& reg);

// The folder holding the installed report templates and logo in the source tree.
QString reportsSourceFolder();
// Makes <folder>/reports with the installed template files; returns the folder with a trailing separator.
QString makeProgramFolder(const QString& folder);

// The bytes of the file at path; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Makes the file at path hold bytes, replacing what it held; whether it was written whole.
bool writeFile(const QString& path, const QByteArray& bytes);

// The names of every entry of folder, hidden ones (a half-made file's temporary name) included, sorted.
QStringList filesIn(const QString& folder);

// The permission bits of the file at path (not a link's target) in figures, as in "664"; empty when there is none.
QString modeOf(const QString& path);

class Dataset;
// Opens ds afresh on the statement of lines.
void openOn(Dataset& ds, const QStringList& lines);
// The text of field (a name) in every record of ds, in order.
QStringList columnTexts(const Dataset& ds, const QString& field);
// Types values into the fields of ds's current record, as the windows' controls do: a text as typed, a bool as a
// check box, a date as a date picker.
void setFields(Dataset& ds, const QList<std::pair<QString, QVariant>>& values);

// The first column of the first row sql gives on c: a null QVariant when the value is NULL or there is no row.
QVariant valueOf(Connection& c, const QString& sql);

// The text of the error f raises; empty when it raises none.
QString errorOf(const std::function<void()>& f);

// Overwrites length bytes at offset of page (1-based, 4096-byte pages) of the file at path with 0xFF, and
// counts a change in the header so that a connection already open reads the page afresh.
void damagePage(const QString& path, long long page, int offset, int length);
// Changes the first copy of text found in the leaf pages of the index named index in the register file at path
// into replacement (of the same length): the index then disagrees with its table while every page stays
// well formed. Requires: no connection open on the file.
void changeIndexEntry(const QString& path, const QString& index, const QByteArray& text, const QByteArray& replacement);
