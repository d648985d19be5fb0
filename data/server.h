// The register on a PostgreSQL server, through libpq: one session per connection, and a query per statement.
// Only Connection and Statement use these; the rest of the program sees the same two classes for a file and
// for a server.
#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct RowValue;
struct pg_result;

// Whether location names a server register: a libpq connection URI.
bool isServerUri(const QString& location);
// The URI a server file holds: its first line that is neither blank nor a # comment. Throws DatabaseError
// naming the file when it cannot be read or holds no URI.
QString readServerFile(const QString& path);

struct PgResultFree {
    void operator()(pg_result* r) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultFree>;

class ServerSession {
public:
    // Connects to the server uri names, with password when not empty (otherwise libpq's own sources, such as
    // ~/.pgpass, supply it). Throws DatabaseError with a text that tells an unreachable server, a refused
    // login and a missing database apart; passwordFor receives the login when the server asked for a password
    // that was not given.
    ServerSession(const QString& uri, const QString& password, QString* passwordFor = nullptr);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // "database on host", for messages.
    const QString& name() const { return name_; }
    // The URI without any password, as written in a server file.
    const QString& uri() const { return uri_; }

    // Runs sql (one or more statements, no parameters). Throws DatabaseError.
    void exec(const std::string& sql, bool writing = true);
    // text as a string literal of the server's SQL. Throws DatabaseError for a text holding NUL.
    std::string literal(const QString& text);
    // Makes sql, with parameters $1... of the types given ("text, text"), a prepared statement of this session
    // named name, unless it is one already (a connection made again has none), so that "EXECUTE name(...)" runs
    // it without planning it again. Throws DatabaseError.
    void prepareOnce(const std::string& name, const std::string& types, const std::string& sql);
    // Runs one statement with text parameters (nullopt is NULL); throws DatabaseError.
    PgResult run(const std::string& sql, const std::vector<std::optional<std::string>>& params, bool writing);
    // Describes one statement without running it: its result columns.
    PgResult describe(const std::string& sql);
    // Copies rows into a table with COPY ... FROM STDIN: begins with the COPY statement, sends each piece of
    // rows in COPY's text form, and ends, when the server checks and keeps them or says why not. Throws
    // DatabaseError.
    void beginCopy(const std::string& copySql);
    void putCopy(const QByteArray& rows);
    void endCopy();
    // Ends a COPY begun and not ended, keeping none of its rows; never throws.
    void abandonCopy();
    // Runs a COPY ... TO STDOUT statement, giving each row's line (COPY's text form, without its line end) to
    // use as the server sends it. Throws DatabaseError, or what use throws once the COPY is ended.
    void copyOut(const std::string& copySql, const std::function<void(QByteArrayView line)>& use);
    // Each row of select (the server's SQL, no parameters) in its order, as its values, read through COPY.
    void readRows(const std::string& select, const std::function<void(const std::vector<RowValue>&)>& use);
    // Ends a failed transaction without throwing.
    void rollbackQuietly();
    // How long a change waits for another user's lock before it fails.
    void setLockTimeout(int milliseconds);
    // While on, statements do not wait for another client's lock. Only a statement run meanwhile costs the
    // server a setting, so a look that finds nothing to read asks the server nothing.
    void setNoWaiting(bool on);

    // Whether another client has saved a change to the register's assets since the last call, from the
    // notifications the register's trigger sends; the first call starts listening and says false.
    bool changedByOthers();
    // Why this login cannot change the register, or empty when it can; a refusal is asked again at each
    // call, so a right granted meanwhile is seen at once.
    QString writeRefusal();

    // The table and column names a result column reads, cached per table.
    std::pair<QString, QString> origin(unsigned table, int column);

    long long lastInsertRowid = 0;
    int changes = 0;

private:
    [[noreturn]] void fail(const pg_result* r, bool writing) const;
    // A connection the server or the network ended is made again before the next statement; what was
    // being saved when it ended was not saved, and was said so.
    void reconnectIfLost();
    void applySettings();
    pg_conn* conn_ = nullptr;
    int lockTimeoutMs_;
    bool listening_ = false;
    bool mayWrite_ = false;
    bool missedWhileLost_ = false;
    bool noWaiting_ = false;
    bool noWaitingApplied_ = false;
    void applyNoWaiting();
    QString name_;
    QString uri_;
    QHash<unsigned, QHash<int, std::pair<QString, QString>>> origins_;
    std::vector<std::string> prepared_; // the names prepareOnce prepared on this connection
};

// One statement on a server session. The program's statements use ? and ?NNN for parameters; they are
// renumbered to $n. The statement runs at its first step and its whole result is kept.
class ServerQuery {
public:
    ServerQuery(ServerSession& session, const std::string& sql);
    ~ServerQuery();

    bool step();
    bool seek(int row); // requires: stepped once
    void reset();
    bool readOnly() const { return readOnly_; }
    void bind(int index, std::optional<std::string> text);

    int columnCount();
    QString columnName(int i);
    QString columnDeclType(int i);
    QString columnOriginName(int i);
    QVariant column(int i) const;
    std::optional<QByteArrayView> columnText(int i) const;
    QByteArrayView columnUtf8(int i) const; // the server's text of the value, as it sent it
    long long columnInt64(int i) const;
    bool columnIsNull(int i) const;

private:
    pg_result* shape(); // the result, or the statement's description before it runs
    ServerSession& session_;
    std::string sql_;
    bool readOnly_ = true;
    bool insert_ = false;
    std::vector<std::optional<std::string>> params_;
    PgResult result_;
    PgResult description_;
    int row_ = -1;
};
