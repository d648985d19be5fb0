// The file engine: a register file through SQLite. Every connection uses the rollback journal (registers
// often live on network folders, where WAL's shared memory does not work), waits a few seconds for another
// program's lock, and has SQLite's double-quoted string literals turned off so that a double quote in
// translated SQL only ever names a column.
#pragma once

#include "data/engine.h"

#include <memory>

struct sqlite3;

class FileEngine : public Engine {
public:
    // Opens the file at path for reading and writing (for reading only when the file or its folder is
    // read-only for this user), with none of the register checks. Throws DatabaseError naming the file.
    static std::unique_ptr<FileEngine> open(const QString& path);
    // Opens the file for reading only, whatever it holds.
    static std::unique_ptr<FileEngine> openReadOnly(const QString& path);
    // Makes a new, empty file at path, the user's alone (0600); refuses an existing file or link.
    static std::unique_ptr<FileEngine> create(const QString& path);
    ~FileEngine() override;

    SqlDialect dialect() const override { return SqlDialect::SQLite; }
    QString name() const override;
    sqlite3* fileHandle() const override { return db_.get(); }

    void checkRegister(Connection& c, const QString& filePassword, bool upgrade, bool wholeFile) override;
    int schemaVersion(const Connection& c) override;
    void setSchemaVersion(Connection& c, int version) override;
    QString shapeProblem(const Connection& c) override;
    QString valueProblem(const Connection& c) override;

    std::unique_ptr<EngineStatement> prepare(const std::string& sql) override;
    void exec(const std::string& sql) override;
    long long lastInsertRowid() const override;
    int changes() const override;
    std::string quoteName(const QString& name) const override;
    std::string sameValueSql(const std::string& quotedColumn, bool text) const override;

    void begin() override { exec("BEGIN IMMEDIATE"); }
    void rollback() override;
    void holdWriteLock() override {} // a file's transaction holds the file's write lock from its start
    void beginConsistentRead() override { exec("BEGIN"); }
    void refuseChanges() override { exec("PRAGMA query_only = 1"); }
    void setBusyTimeout(int milliseconds) override;
    void setNoWaiting(bool on) override;
    bool changedByOthers() override;
    QString writeRefusal(bool inTransaction) override;
    void interrupt() override;

    void appendHistory(Connection& c, const std::vector<HistoryRecord>& records, bool thenCommit) override;

    std::string rowIdCondition(int count) const override;
    void bindRowIds(EngineStatement& s, const std::vector<long long>& ids, size_t first, size_t last) const override;
    bool answersWhole() const override { return false; }
    bool readsInOrder(const Connection& c, const std::string& select) override;
    QStringList uniqueColumns(const QString& table) override;
    QStringList identifierTwins() override;
    std::unique_ptr<RowWriter> writeRows(Connection& c, const char* table, const std::string& columns,
                                         bool newTable) override;
    void readRows(const Connection& c, const std::string& select,
                  const std::function<void(const std::vector<RowValue>&)>& use) override;
    void settleCopiedTable(const char*) override {}
    void settleAfterBulkWrite(Connection&) override {}
    std::vector<std::string> setIndexesAside(const char* table, const std::vector<QString>& keep) override;

    void startBackgroundCheck() override;
    void awaitOpeningChecks() override;
    QString damageFound() const override;
    BackgroundCheck* backgroundCheck() const override { return check_.get(); }
    Damage wholeFileDamage(const Connection& c) override;

    // What a failed call with result code rc means for the user; writing tells a failed change.
    QString errorText(int rc, bool writing) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    FileEngine(std::unique_ptr<sqlite3, Closer> db, const QString& path);
    static std::unique_ptr<sqlite3, Closer> openHandle(const QString& path, int flags);
    void adopt(std::unique_ptr<sqlite3, Closer> db);

    std::unique_ptr<sqlite3, Closer> db_;
    QString path_;
    int busyTimeoutMs_ = 0;      // the wait for another program's lock, as set
    long long dataVersion_ = -1; // the file's change counter as last seen by changedByOthers; -1: not watching
    std::unique_ptr<BackgroundCheck> check_;
    QString user_; // "login@machine" for the history, once made
};
