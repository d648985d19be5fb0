// The engine under a register: SQLite for a file (FileEngine), PostgreSQL through libpq for a database on a
// server (ServerEngine). Connection holds one, chosen when the register is opened, and Statement one of its
// statements; everything that differs between the two is a method here, so no caller asks which it has.
#pragma once

#include "data/jetsql.h"
#include "data/registercheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Connection;
struct HistoryRecord;
struct sqlite3;

// One prepared statement of an engine. Parameters are numbered from 1, columns from 0.
class EngineStatement {
public:
    virtual ~EngineStatement() = default;
    virtual bool step() = 0;
    virtual void reset() = 0;
    virtual bool seek(int row) = 0;
    virtual bool readOnly() const = 0;
    virtual void bindNull(int index) = 0;
    virtual void bindInt64(int index, long long value) = 0;
    virtual void bindDouble(int index, double value) = 0;
    virtual void bindText(int index, const QString& value) = 0;
    // A text given as its bytes, which are valid UTF-8.
    virtual void bindTextUtf8(int index, QByteArrayView utf8) = 0;
    virtual void bindBlob(int index, const QByteArray& value) = 0;
    virtual int columnCount() = 0;
    virtual QString columnName(int i) = 0;
    virtual QString columnDeclType(int i) = 0;
    virtual QString columnOriginName(int i) = 0;
    virtual QVariant column(int i) const = 0;
    // The bytes of the column's text when it holds text, a null view when it holds NULL; nullopt otherwise.
    virtual std::optional<QByteArrayView> columnText(int i) const = 0;
    virtual QByteArrayView columnUtf8(int i) const = 0;
    virtual long long columnInt64(int i) const = 0;
    virtual bool columnIsNull(int i) const = 0;
};

// One stored value of a row read or written whole, without a QVariant made for it: its kind and its number, or
// the bytes of its text (valid UTF-8) or blob, which stay valid until the next row.
struct RowValue {
    enum Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    long long integer = 0;
    double real = 0;
    QByteArrayView bytes;
};

// Whether bytes are all ASCII, so that as UTF-8 they are valid and count one character each.
inline bool isAsciiText(QByteArrayView bytes) {
    unsigned char any = 0;
    for (const char c : bytes) {
        any |= static_cast<unsigned char>(c);
    }
    return any < 0x80;
}

// Rows written one after another into one table, in the caller's transaction: each row's values in the
// order of the columns given; finish() writes what is still pending.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void add(const std::vector<QVariant>& row) = 0;
    // The same row as add's, given as its values; by default made into QVariants for add.
    virtual void addValues(const std::vector<RowValue>& row);
    virtual void finish() = 0;
};

class Engine {
public:
    virtual ~Engine() = default;

    // The dialect the program's Jet statements are translated into.
    virtual SqlDialect dialect() const = 0;
    // The register as messages name it: a file's whole path, or "database on host".
    virtual QString name() const = 0;
    // The file's handle for SQLite's own interfaces (the online backup, functions); null on a server.
    virtual sqlite3* fileHandle() const { return nullptr; }

    // Checks, once the engine is open, that it holds a register of ours protected by filePassword, of a
    // version this program reads, and brings an older one up to date when upgrade is set. c is the
    // connection holding this engine. Throws DatabaseError naming the register.
    virtual void checkRegister(Connection& c, const QString& filePassword, bool upgrade, bool wholeFile) = 0;
    virtual int schemaVersion(const Connection& c) = 0;
    // Requires: a transaction. Marks the register as of schema version version.
    virtual void setSchemaVersion(Connection& c, int version) = 0;
    // What is wrong with the shape of the register's tables, as a phrase; empty when nothing is.
    virtual QString shapeProblem(const Connection& c) = 0;
    // The first stored value of another kind than its column's, as a phrase; empty when there is none.
    virtual QString valueProblem(const Connection& c) = 0;

    virtual std::unique_ptr<EngineStatement> prepare(const std::string& sql) = 0;
    virtual void exec(const std::string& sql) = 0;
    virtual long long lastInsertRowid() const = 0;
    virtual int changes() const = 0;
    virtual std::string quoteName(const QString& name) const = 0;
    virtual std::string sameValueSql(const std::string& quotedColumn, bool text) const = 0;

    // Transactions and locks.
    virtual void begin() = 0;
    virtual void rollback() = 0; // never throws
    virtual void holdWriteLock() = 0;
    // Begins a read of one consistent state, for a copy; COMMIT ends it.
    virtual void beginConsistentRead() = 0;
    // From now on every change fails.
    virtual void refuseChanges() = 0;
    virtual void setBusyTimeout(int milliseconds) = 0;
    virtual void setNoWaiting(bool on) = 0;
    virtual bool changedByOthers() = 0;
    virtual QString writeRefusal(bool inTransaction) = 0;
    virtual void interrupt() {}

    // History. Requires: a transaction, which this connection holds (c). Writes records as the next entries of
    // the chain (data/history.h), stamped with the register's clock now (UTC) and who saves them (on a file the
    // login and the machine, "ana@desk-3"; on a server the server login), one writer at a time; with thenCommit,
    // commits the transaction too. A file's transaction holds the file's lock from its start; a server takes a
    // lock for the chain just before, and writes, hashes and commits in one exchange.
    virtual void appendHistory(Connection& c, const std::vector<HistoryRecord>& records, bool thenCommit) = 0;

    // Row identity: a condition on rowid for count ids, and binding them from ids[first] to ids[last - 1].
    virtual std::string rowIdCondition(int count) const = 0;
    virtual void bindRowIds(EngineStatement& s, const std::vector<long long>& ids, size_t first, size_t last) const = 0;
    // Whether a statement's rows come whole in one answer, so that a long walk may keep one statement
    // instead of asking by id for every block (which a file must, to hold no lock between blocks).
    virtual bool answersWhole() const = 0;
    // Whether select reads its rows in their order straight from an index, sorting nothing first: then a walk
    // may step it a block at a time, each block starting after the key the last one ended on.
    virtual bool readsInOrder(const Connection&, const std::string& /*select*/) { return false; }
    // The columns of table that belong to one of its unique indexes, in the engine's spelling.
    virtual QStringList uniqueColumns(const QString& table) = 0;
    // Identifiers held by more than one asset, compared as the register compares them: each group joined.
    virtual QStringList identifierTwins() = 0;
    // A writer of many rows into table (by its register name), the columns listed ("rowid, a, b"), by the
    // engine's quickest way: statements of many rows on a file, COPY on a server. c holds this engine. A table
    // made in c's transaction now (newTable) takes its rows on a server as visible to all already, so they need
    // no vacuum to be read from an index alone.
    virtual std::unique_ptr<RowWriter> writeRows(Connection& c, const char* table, const std::string& columns,
                                                 bool newTable) = 0;
    // Reads each row select (a statement of this engine) gives, in its order, as its values: a register's rows by
    // the engine's quickest way, a statement's result rows stepped on a file, COPY's stream on a server. c holds
    // this engine. Texts come as valid UTF-8, what is not made so as a QString would make it.
    virtual void readRows(const Connection& c, const std::string& select,
                          const std::function<void(const std::vector<RowValue>&)>& use) = 0;
    // After rows were written with the row ids they had elsewhere: new rows go on after them.
    virtual void settleCopiedTable(const char* table) = 0;
    // After many rows were written at once through c, the connection holding this engine.
    virtual void settleAfterBulkWrite(Connection& c) = 0;
    // Requires: a transaction. Drops the indexes of table (by its register name) but those keep names, and returns
    // the statements that make them again; a rollback brings them back by itself. Nothing on a server, which
    // takes rows into its indexes quickly enough.
    virtual std::vector<std::string> setIndexesAside(const char* /*table*/, const std::vector<QString>& /*keep*/) {
        return {};
    }

    // The checks that read the whole file (nothing on a server, which keeps its own pages).
    virtual void startBackgroundCheck() {}
    virtual void awaitOpeningChecks() {}
    virtual QString damageFound() const { return QString(); }
    virtual BackgroundCheck* backgroundCheck() const { return nullptr; }
    virtual Damage wholeFileDamage(const Connection& c) = 0;
};
