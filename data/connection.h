// RAII around the register's engine: a Connection owns one open register, a file through SQLite or a database
// on a PostgreSQL server through libpq (an Engine, data/engine.h), and a Statement owns one statement on it.
// Nothing outside the engines touches sqlite3 or libpq handles, and nothing outside them asks which engine
// holds the register: what differs is a method of the engine.
#pragma once

#include "data/history.h"
#include "data/jetsql.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
class BackgroundCheck;
class Engine;
class EngineStatement;

// The settings of a connection string ("Provider=...;Data Source=vnrdata.mdb;...").
struct ConnectionSettings {
    QString dataSource;   // the file name, as written
    QString filePassword; // "Jet OLEDB:Database Password"
};

// Parses a ;-separated list of key=value pairs; keys are matched without regard to case, unknown keys are
// accepted and ignored. Throws DatabaseError when there is no Data Source.
ConnectionSettings parseConnectionString(const QString& text);

// The name of the file beside a register file's name that, when present instead, names the register's server
// ("vnrdata.mdb" -> "vnrdata.server").
QString serverFileFor(const QString& registerPath);

// Owns the one connection to a register: a file, or a database on a server. Opening never creates either.
class Connection {
public:
    // Asks the user for the password of login on server; nullopt when they give up. Installed once by the
    // program; without one, a server that wants a password it cannot find in ~/.pgpass refuses the opening.
    using PasswordPrompt = std::function<std::optional<QString>(const QString& server, const QString& login)>;
    static void setPasswordPrompt(PasswordPrompt prompt);

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the file the connection string names, resolved against the current working folder, and checks
    // that it is a register of ours protected by the given file password. Throws DatabaseError naming the
    // file when it is missing, not a file, empty, truncated, not SQLite, not a register, of a newer version,
    // damaged, or of the wrong shape, or when the password does not match. Nothing is written to the file
    // before all checks pass, except that SQLite first rolls back a change a crashed program left in a hot
    // journal, and that a register of an older schema version is brought up to date in one transaction.
    // When the folder holds the server file for the Data Source (vnrdata.server) instead, the register on the
    // server it names is opened, with the same checks; both at once is an error naming both.
    // The checks that read the whole file (every page, every stored value) take seconds on a large register:
    // Later leaves them to startBackgroundCheck, after the window shows. A register of an older schema
    // version gets them at opening all the same, before it is brought up to date.
    enum class WholeFileChecks { AtOpening, Later };
    void open(const QString& connectionString, WholeFileChecks whole = WholeFileChecks::AtOpening);
    // A location is a register file's path, a server file's path (ending in .server), or a server's
    // postgresql:// address.
    // Opens a file by path with a file password (the same checks). With upgrade false, a register of an older
    // schema version is opened as it is and the program writes nothing to it (SQLite still plays back the
    // journal of a crashed save): for examining a file.
    void openFile(const QString& path, const QString& filePassword, bool upgrade = true,
                  WholeFileChecks whole = WholeFileChecks::AtOpening);
    // Opens a file for reading only, with none of the register checks: for looking at what a file holds,
    // damaged or not.
    void openForExamining(const QString& path);
    // Makes the statement running now on a file fail at once. The one call another thread may make.
    void interrupt();

    // Runs the whole-file checks of an open register file on a thread of their own (BackgroundCheck);
    // nothing for a server, which keeps its own pages. What they find stops every change (writeRefusal).
    void startBackgroundCheck();
    // Waits until the background check has done what the opening checks used to do (the pages and the
    // values), so that no change is saved into a file they would have refused; at once without one.
    void awaitOpeningChecks();
    // The warning for what the background check has found; empty while it has found nothing.
    QString damageFound() const;
    // Requires: startBackgroundCheck() made one. The check, for waiting on it and timing it.
    BackgroundCheck& backgroundCheck();
    // What SQLite's integrity_check finds wrong in the file at path, opened read-only without any register
    // check; at most limit lines, none when the file is sound. For telling what is damaged in a file that
    // open refuses.
    static QStringList integrityProblems(const QString& path, int limit = 100);
    // The schema version of the open register (SQLite user_version).
    int schemaVersion() const;
    // Connects to the server database uri names, without any register check. Only for making a register.
    void connectServer(const QString& uri);
    // Makes a new, empty SQLite file at path and opens it, without any register check; refuses an existing
    // file or link. The file is the user's alone (0600) until moveIntoPlace gives it the mode of a new file.
    // Only for making a register.
    void createFile(const QString& path);
    void close();
    bool isOpen() const { return engine_ != nullptr; }
    // Requires: open. The file's path, or the server file's path or the server address that was opened.
    const QString& filePath() const { return path_; }
    // Requires: open. The engine under the register, for what differs between a file and a server.
    Engine& engine() const { return *engine_; }
    // The dialect the register's statements are translated into, for the translator.
    SqlDialect dialect() const;
    // Whether the register is on a server: for tests, which play another program in the engine's own SQL.
    bool isServer() const;
    // A table or column name quoted for this engine: the server keeps the register's names in lower case.
    std::string quoteName(const QString& name) const;
    // A condition true when the column holds exactly value's bound parameter, NULL equal to NULL, texts by
    // their bytes (not without regard to case, as the register otherwise compares them).
    std::string sameValueSql(const std::string& quotedColumn, bool text) const;

    // Requires: open on a file. The handle, for SQLite's own interfaces (the online backup).
    sqlite3* handle() const;

    // Whether another program (on a server, another client) has saved a change to the register since the last
    // call; the first call starts watching and says false. Cheap enough for a timer of the interface: a file's
    // change counter is read under a shared lock, a server's notifications are taken from what has arrived.
    // Requires: open.
    bool changedByOthers();
    // While one lives, reading the register does not wait for another program's lock: a read that meets one
    // fails at once with DatabaseError. For looks the program makes by itself, on a timer, which must never
    // hold up the interface (a file's readers wait while another program writes a long save; a server's
    // readers never wait).
    class NoWaiting {
    public:
        explicit NoWaiting(Connection& c);
        ~NoWaiting();
        NoWaiting(const NoWaiting&) = delete;
        NoWaiting& operator=(const NoWaiting&) = delete;

    private:
        Connection& c_;
    };
    // Why this user cannot change the register now, in the words of a message to them; empty when they can.
    // A damaged file (damageFound) cannot be changed by anyone. A file opened while it was read-only for them is opened
    // again for writing once it no longer is, so a change works without starting the program again. Requires: open.
    QString writeRefusal();

    // How long a change waits for another program's lock before it fails (a few seconds by default).
    void setBusyTimeout(int milliseconds);

    // Runs one statement that returns no rows. Throws DatabaseError.
    void exec(const std::string& sql);
    // The row id of the last row inserted, and the number of rows the last change touched.
    long long lastInsertRowid() const;
    int changes() const;

    // BEGIN IMMEDIATE ... COMMIT around one change; a lock that outlasts the busy timeout is a DatabaseError
    // and nothing of the change is kept. A Transaction made while another is open on the connection joins
    // it: only the outermost one commits or rolls back, so several posts are saved together or not at all.
    class Transaction {
    public:
        explicit Transaction(Connection& c);
        ~Transaction(); // the outermost rolls back unless committed, and then runs every undo step
        // The outermost commits, unless a joined one ended without committing its part: then it throws
        // DatabaseError and, as it ends, rolls everything back. A joined one only marks its part as done.
        void commit();

    private:
        Connection& c_;
        bool outermost_ = false;
        bool done_ = false;
    };
    // Requires: inTransaction(). Until the transaction ends, no other program can hold this lock, so a
    // look at the register followed by a change cannot interleave with another program's doing the same.
    // A file's transaction holds the file's write lock from its start already; a server's takes a lock of
    // its own for it, while other changes go on.
    void holdWriteLock();
    // Whether a Transaction is open on the connection.
    bool inTransaction() const { return depth_ > 0; }
    // Requires: inTransaction(). Registers what puts a caller's in-memory state back if the outermost
    // transaction rolls back; steps run newest first, and are dropped when it commits.
    void onRollback(std::function<void()> undo);

    // Requires: inTransaction(), and the change record describes has been made in it. Its history entry is
    // written when the outermost transaction commits, as part of it (a change of many rows has them written a
    // thousand at a time before then); a transaction that rolls back leaves none. A register of an older version opened
    // as it is (upgrade false) keeps no history, and gets none.
    void recordHistory(HistoryRecord record);
    // Whether the register keeps history (schema version 3 or later); asked of the register once per opening.
    bool keepsHistory() const;

    // Requires: inTransaction(). For a change about to write more rows into table than it holds: its indexes but
    // those keep names (the ones the change itself looks rows up by) are set aside, and made again as the
    // outermost transaction commits, each from one sorted pass over the rows, which is quicker than entering
    // every row in every index as it comes. A rollback brings them back as they were.
    void setIndexesAside(const char* table, const std::vector<QString>& keep = {});

    // A read left part-way between events (a list's row ids, read on while the program waits for input) holds a
    // file's read lock until it ends. Its owner registers how to finish it; a transaction, and any statement
    // that is about to make another program wait longer, finishes every one first.
    void addPendingRead(const void* owner, std::function<void()> finish);
    void removePendingRead(const void* owner);
    void finishPendingReads();

private:
    std::unique_ptr<Engine> engine_;
    QString path_;
    int depth_ = 0;
    bool partFailed_ = false; // a joined Transaction ended uncommitted: the outermost must not commit
    std::vector<std::function<void()>> undo_;
    std::vector<HistoryRecord> history_;       // entries of the open transaction not yet written
    std::vector<std::string> indexesAside_;    // what makes again the indexes set aside in the open transaction
    mutable std::optional<bool> keepsHistory_; // asked once the first change is recorded
    std::vector<std::pair<const void*, std::function<void()>>> pendingReads_;
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
    // On a server, where a stepped statement's whole result is in memory: makes its row-th row (from 0)
    // current again; false when there is no such row. A file's statement only steps forward: false.
    bool seek(int row);
    bool readOnly() const;

    void bind(int index, const QVariant& value); // 1-based; a null QVariant binds NULL, a QByteArray a blob
    void bindInt64(int index, long long value);
    void bindText(int index, const QString& value);
    void bindTextUtf8(int index, QByteArrayView utf8); // the bytes of a text, valid UTF-8
    // Binds ids[first] to ids[last - 1] to a statement whose condition is the engine's rowIdCondition.
    void bindRowIds(const std::vector<long long>& ids, size_t first, size_t last);

    int columnCount() const;
    QString columnName(int i) const;
    QString columnDeclType(int i) const;   // empty for expressions
    QString columnOriginName(int i) const; // the table column a result column reads; empty for expressions
    QVariant column(int i) const;          // NULL gives a null QVariant; integers, reals and texts as such
    // The column's text when it holds text, and a null QString when it holds NULL; nullopt otherwise. A
    // quicker column() for reading texts.
    std::optional<QString> columnText(int i) const;
    // The same as the bytes of the text in UTF-8 (a null view for NULL), valid until the statement steps or
    // resets.
    std::optional<QByteArrayView> columnTextUtf8(int i) const;
    // The column's value as the bytes of its text in UTF-8 (a number as its digits), without a QString made; valid
    // until the statement steps or resets. For reading many rows quickly.
    QByteArrayView columnUtf8(int i) const;
    long long columnInt64(int i) const;
    bool columnIsNull(int i) const;

private:
    const Engine& engine_;
    std::unique_ptr<EngineStatement> impl_;
};
