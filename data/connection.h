// RAII around SQLite: a Connection owns one open register file, a Statement owns one prepared statement.
// Nothing outside these two classes touches sqlite3 handles or calls sqlite3_finalize.
#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The settings of a connection string ("Provider=...;Data Source=vnrdata.mdb;...").
struct ConnectionSettings {
    QString dataSource;   // the file name, as written
    QString filePassword; // "Jet OLEDB:Database Password"
};

// Parses a ;-separated list of key=value pairs; keys are matched without regard to case, unknown keys are
// accepted and ignored. Throws DatabaseError when there is no Data Source.
ConnectionSettings parseConnectionString(const QString& text);

// Owns the one connection to a register file. Opening never creates a file.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the file the connection string names, resolved against the current working folder, and checks
    // that it is a register of ours protected by the given file password. Throws DatabaseError naming the
    // file when it is missing, empty, truncated, not SQLite, not a register, of a newer version, or the
    // password does not match; nothing is written to the file before all checks pass.
    void open(const QString& connectionString);
    // Opens a file by path with a file password (the same checks).
    void openFile(const QString& path, const QString& filePassword);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    // Requires: open.
    const QString& filePath() const { return path_; }

    // Requires: open. The handle, for Statement and registering functions.
    sqlite3* handle() const;

    // How long a change waits for another program's lock before it fails (a few seconds by default).
    void setBusyTimeout(int milliseconds);

    // Runs one statement that returns no rows. Throws DatabaseError.
    void exec(const std::string& sql);
    // The row id of the last row inserted, and the number of rows the last change touched.
    long long lastInsertRowid() const;
    int changes() const;

    // BEGIN IMMEDIATE ... COMMIT around one change; a lock that outlasts the busy timeout is a DatabaseError
    // and nothing of the change is kept.
    class Transaction {
    public:
        explicit Transaction(Connection& c);
        ~Transaction(); // rolls back unless committed
        void commit();

    private:
        Connection& c_;
        bool done_ = false;
    };

    // The text of the last error, with the register's file name where it helps the user.
    QString errorText(int rc) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
    QString path_;
};

// One prepared statement; finalized by the destructor. Not copyable.
class Statement {
public:
    // Throws DatabaseError when the text does not prepare, or holds more than one statement.
    Statement(const Connection& c, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Steps once: true while a row is there. Throws DatabaseError on failure.
    bool step();
    // Ends the statement's read so no lock is held, and clears bindings.
    void reset();
    bool readOnly() const;

    void bind(int index, const QVariant& value); // 1-based; a null QVariant binds NULL
    void bindInt64(int index, long long value);
    void bindText(int index, const QString& value);

    int columnCount() const;
    QString columnName(int i) const;
    QString columnDeclType(int i) const;    // empty for expressions
    QString columnOriginName(int i) const;  // the table column a result column reads; empty for expressions
    QVariant column(int i) const;        // NULL gives a null QVariant; integers, reals and texts as such
    long long columnInt64(int i) const;
    bool columnIsNull(int i) const;

private:
    const Connection& c_;
    sqlite3_stmt* stmt_ = nullptr;
};
