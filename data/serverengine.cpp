// A register on a PostgreSQL server: the session's statements seen as the engine's, the server's way of
// locking, naming and numbering, and the checks of a register database.
#include "data/serverengine.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/registerfile.h"
#include "data/schema.h"
#include "data/server.h"

#include <QLocale>
#include <QUrl>
#include <charconv>

namespace {

// The session's statements take every parameter as text.
class ServerStatement : public EngineStatement {
public:
    ServerStatement(ServerSession& session, const std::string& sql) : query_(session, sql) {}

    bool step() override { return query_.step(); }
    void reset() override { query_.reset(); }
    bool seek(int row) override { return query_.seek(row); }
    bool readOnly() const override { return query_.readOnly(); }
    void bindNull(int index) override { query_.bind(index, std::nullopt); }
    void bindInt64(int index, long long value) override { query_.bind(index, std::to_string(value)); }
    void bindDouble(int index, double value) override {
        query_.bind(index, QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString());
    }
    void bindText(int index, const QString& value) override {
        // libpq hands a text over as a C string: one holding NUL would be stored cut short, as if whole.
        if (value.contains(QChar(0))) {
            throw DatabaseError(QStringLiteral("A text holding the character NUL cannot be stored on a server: '%1'.")
                                    .arg(value.left(value.indexOf(QChar(0)))));
        }
        query_.bind(index, value.toStdString());
    }
    void bindTextUtf8(int index, QByteArrayView utf8) override {
        if (utf8.contains('\0')) {
            bindText(index, QString::fromUtf8(utf8)); // refused there, with the text's start
            return;
        }
        query_.bind(index, std::string(utf8.data(), static_cast<size_t>(utf8.size())));
    }
    void bindBlob(int index, const QByteArray& value) override { bindText(index, QString::fromUtf8(value)); }
    int columnCount() override { return query_.columnCount(); }
    QString columnName(int i) override { return query_.columnName(i); }
    QString columnDeclType(int i) override { return query_.columnDeclType(i); }
    QString columnOriginName(int i) override { return query_.columnOriginName(i); }
    QVariant column(int i) const override { return query_.column(i); }
    std::optional<QByteArrayView> columnText(int i) const override { return query_.columnText(i); }
    QByteArrayView columnUtf8(int i) const override { return query_.columnUtf8(i); }
    long long columnInt64(int i) const override { return query_.columnInt64(i); }
    bool columnIsNull(int i) const override { return query_.columnIsNull(i); }

private:
    ServerQuery query_;
};

// Rows sent to the server with COPY, in its text form, a megabyte at a time: the server parses no statement
// per row, which makes a copy of a large register several times quicker than statements of many rows.
class CopyWriter : public RowWriter {
public:
    CopyWriter(ServerSession& session, const char* table, const std::string& columns, bool frozen) : session_(session) {
        // FREEZE writes the rows as every later transaction sees them, which only a table made (or emptied by
        // TRUNCATE) in this transaction allows.
        session_.beginCopy("COPY " + QString::fromLatin1(table).toLower().toStdString() + " (" + columns +
                           ") FROM STDIN" + (frozen ? " WITH (FREEZE)" : ""));
        open_ = true;
    }
    ~CopyWriter() override {
        if (open_) {
            // Left by an error: the COPY is ended, keeping nothing, so that the transaction can roll back.
            session_.abandonCopy();
        }
    }
    CopyWriter(const CopyWriter&) = delete;
    CopyWriter& operator=(const CopyWriter&) = delete;

    void addValues(const std::vector<RowValue>& row) override {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) {
                pending_ += '\t';
            }
            const RowValue& v = row[i];
            switch (v.kind) {
            case RowValue::Null:
                pending_ += "\\N";
                break;
            case RowValue::Integer:
                appendNumber(v.integer);
                break;
            case RowValue::Real:
                appendNumber(v.real); // the shortest text that reads back as the same double
                break;
            case RowValue::Text:
                appendText(v.bytes);
                break;
            case RowValue::Blob:
                appendText(QString::fromUtf8(v.bytes).toUtf8()); // as a text, the server's column being one
                break;
            }
        }
        pending_ += '\n';
        if (pending_.size() >= kBytesAtOnce) {
            session_.putCopy(pending_);
            pending_.clear();
        }
    }
    void add(const std::vector<QVariant>& row) override {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) {
                pending_ += '\t';
            }
            append(row[i]);
        }
        pending_ += '\n';
        if (pending_.size() >= kBytesAtOnce) {
            session_.putCopy(pending_);
            pending_.clear();
        }
    }
    void finish() override {
        if (!pending_.isEmpty()) {
            session_.putCopy(pending_);
            pending_.clear();
        }
        open_ = false;
        session_.endCopy();
    }

private:
    static constexpr qsizetype kBytesAtOnce = 1 << 20;
    void append(const QVariant& v) {
        if (!v.isValid() || v.isNull()) {
            pending_ += "\\N";
            return;
        }
        switch (v.typeId()) {
        case QMetaType::Bool:
            pending_ += v.toBool() ? '1' : '0';
            return;
        case QMetaType::Int:
        case QMetaType::LongLong:
            pending_ += QByteArray::number(v.toLongLong());
            return;
        case QMetaType::Double:
        case QMetaType::Float:
            pending_ += QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest).toLatin1();
            return;
        default:
            break;
        }
        appendText(v.toString().toUtf8());
    }
    template <typename Number> void appendNumber(Number n) {
        char digits[32];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
        pending_.append(digits, end - digits);
    }
    // A text in COPY's text form: the bytes that would end the value or the row, and the escape, escaped.
    void appendText(QByteArrayView utf8) {
        if (utf8.contains('\0')) {
            const QString text = QString::fromUtf8(utf8);
            throw DatabaseError(QStringLiteral("A text holding the character NUL cannot be stored on a server: '%1'.")
                                    .arg(text.left(text.indexOf(QChar(0)))));
        }
        qsizetype plain = 0; // the start of the bytes not yet appended
        for (qsizetype i = 0; i < utf8.size(); ++i) {
            const char ch = utf8[i];
            const char* escaped = ch == '\\'   ? "\\\\"
                                  : ch == '\t' ? "\\t"
                                  : ch == '\n' ? "\\n"
                                  : ch == '\r' ? "\\r"
                                               : nullptr;
            if (escaped) {
                pending_.append(utf8.data() + plain, i - plain);
                pending_.append(escaped, 2);
                plain = i + 1;
            }
        }
        pending_.append(utf8.data() + plain, utf8.size() - plain);
    }
    ServerSession& session_;
    QByteArray pending_;
    bool open_ = false;
};

} // namespace

ServerEngine::ServerEngine(std::unique_ptr<ServerSession> session) : session_(std::move(session)) {}

ServerEngine::~ServerEngine() = default;

std::unique_ptr<ServerEngine> ServerEngine::connect(const QString& uri, const PasswordPrompt& prompt) {
    QString login;
    try {
        return std::unique_ptr<ServerEngine>(new ServerEngine(std::make_unique<ServerSession>(uri, QString(), &login)));
    } catch (const DatabaseError&) {
        if (login.isEmpty() || !prompt) {
            throw;
        }
        const QUrl url(uri);
        const std::optional<QString> password =
            prompt(url.host().isEmpty() ? QStringLiteral("on this machine") : url.host(), login);
        if (!password) {
            throw;
        }
        return std::unique_ptr<ServerEngine>(new ServerEngine(std::make_unique<ServerSession>(uri, *password)));
    }
}

QString ServerEngine::name() const {
    return session_->name();
}

void ServerEngine::checkRegister(Connection& c, const QString& filePassword, bool upgrade, bool) {
    const QString name = session_->name();
    const QString notOurs = QStringLiteral("The database %1 is not a Vantrel register.").arg(name);
    Statement marked(c, "SELECT to_regclass('registerversion') IS NOT NULL");
    if (!marked.step() || marked.columnInt64(0) == 0) {
        throw DatabaseError(notOurs);
    }
    marked.reset();
    Statement version(c, "SELECT application_id, schema_version FROM registerversion");
    if (!version.step() || version.columnInt64(0) != kRegisterApplicationId) {
        throw DatabaseError(notOurs);
    }
    if (version.columnInt64(1) > kRegisterSchemaVersion) {
        throw DatabaseError(
            QStringLiteral("The register database %1 was made by a newer version of Vantrel.").arg(name));
    }
    const int registerVersion = static_cast<int>(version.columnInt64(1));
    version.reset();
    if (const QString problem = serverShapeProblem(c); !problem.isEmpty()) {
        throw DatabaseError(QStringLiteral("The register database %1 is damaged: %2.").arg(name, problem));
    }
    checkRegisterPassword(c, filePassword, QStringLiteral("register database %1").arg(name));
    if (upgrade) {
        if (registerVersion < kRegisterSchemaVersion) {
            try {
                upgradeRegister(c);
            } catch (const DatabaseError& e) {
                throw DatabaseError(
                    QStringLiteral("The register database %1 could not be brought up to date: %2").arg(name, e.text()));
            }
        }
        addServerChangeTrigger(c);
    }
}

void ServerEngine::setSchemaVersion(Connection& c, int version) {
    c.exec("UPDATE registerversion SET schema_version = " + std::to_string(version));
}

void ServerEngine::appendHistory(Connection&, const std::vector<HistoryRecord>& records, bool thenCommit) {
    // The server makes each entry: its time, its login, and its hash, of the same text as historyHash makes it
    // of (each field's length in bytes, a colon and its bytes), after the last entry it sees.
    const auto field = [](const std::string& text) {
        return "octet_length(convert_to(" + text + ", 'UTF8'))::text || ':' || " + text;
    };
    session_->prepareOnce(
        "vantrel_history", "text, text, text, text",
        "INSERT INTO history (changedat, changedby, tablename, subject, action, changes, hash) SELECT e.w, e.u, e.t, "
        "e.s, e.a, e.c, encode(sha256(convert_to(" +
            field("e.h") + " || " + field("e.w") + " || " + field("e.u") + " || " + field("e.t") + " || " +
            field("e.s") + " || " + field("e.a") + " || " + field("e.c") +
            ", 'UTF8')), 'hex') FROM (SELECT to_char(statement_timestamp() AT TIME ZONE 'UTC', "
            "'YYYY-MM-DD HH24:MI:SS') AS w, current_user::text AS u, $1 AS t, $2 AS s, $3 AS a, $4 AS c, "
            "coalesce((SELECT hash FROM history ORDER BY rowid DESC LIMIT 1), '') AS h OFFSET 0) e");
    // One exchange: the chain's lock ('VNTH', taken last in a transaction, so it never waits in a circle with row
    // locks), each entry, then the commit. Each statement of it sees the entries committed before the lock was
    // taken, and the one added before it.
    constexpr int kHistoryLock = 0x564E5448; // "VNTH"
    std::string sql = "SELECT pg_advisory_xact_lock(" + std::to_string(kHistoryLock) + ");\n";
    for (const HistoryRecord& r : records) {
        sql += "EXECUTE vantrel_history(" + session_->literal(registerName(r.table)) + ", " +
               session_->literal(r.subject) + ", " + session_->literal(r.action) + ", " +
               session_->literal(encodeHistoryChanges(r.changes)) + ");\n";
    }
    if (thenCommit) {
        sql += "COMMIT;\n";
    }
    session_->exec(sql);
}

int ServerEngine::schemaVersion(const Connection& c) {
    Statement version(c, "SELECT schema_version FROM registerversion");
    return version.step() ? static_cast<int>(version.columnInt64(0)) : 0;
}

QString ServerEngine::shapeProblem(const Connection& c) {
    return serverShapeProblem(c);
}

std::unique_ptr<EngineStatement> ServerEngine::prepare(const std::string& sql) {
    return std::make_unique<ServerStatement>(*session_, sql);
}

void ServerEngine::exec(const std::string& sql) {
    session_->exec(sql);
}

long long ServerEngine::lastInsertRowid() const {
    return session_->lastInsertRowid;
}

int ServerEngine::changes() const {
    return session_->changes;
}

std::string ServerEngine::quoteName(const QString& name) const {
    // The server keeps the register's names in lower case.
    QString q = name.toLower();
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return ("\"" + q + "\"").toStdString();
}

std::string ServerEngine::sameValueSql(const std::string& quotedColumn, bool text) const {
    return (text ? quotedColumn + "::text" : quotedColumn) + " IS NOT DISTINCT FROM ?";
}

void ServerEngine::rollback() {
    session_->rollbackQuietly();
}

void ServerEngine::holdWriteLock() {
    // One lock number for the register's writers that look before they change ('VNTR').
    session_->exec("SELECT pg_advisory_xact_lock(" + std::to_string(kRegisterApplicationId) + ")", false);
}

void ServerEngine::setBusyTimeout(int milliseconds) {
    session_->setLockTimeout(milliseconds);
}

void ServerEngine::setNoWaiting(bool on) {
    session_->setNoWaiting(on);
}

bool ServerEngine::changedByOthers() {
    return session_->changedByOthers();
}

QString ServerEngine::writeRefusal(bool) {
    return session_->writeRefusal();
}

std::string ServerEngine::rowIdCondition(int) const {
    // One array of ids: the server plans one parameter instead of hundreds.
    return "rowid = ANY (?::int8[])";
}

void ServerEngine::bindRowIds(EngineStatement& s, const std::vector<long long>& ids, size_t first, size_t last) const {
    std::string array = "{";
    for (size_t i = first; i < last; ++i) {
        if (i > first) {
            array += ',';
        }
        array += std::to_string(ids[i]);
    }
    s.bindText(1, QString::fromLatin1(array + "}"));
}

QStringList ServerEngine::uniqueColumns(const QString& table) {
    ServerStatement s(*session_, "SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
                                 "AND a.attnum = ANY (i.indkey) WHERE i.indrelid = to_regclass(?) AND i.indisunique "
                                 "AND NOT i.indisprimary");
    s.bindText(1, QString::fromStdString(quoteName(table)));
    QStringList columns;
    while (s.step()) {
        columns << s.column(0).toString();
    }
    return columns;
}

QStringList ServerEngine::identifierTwins() {
    ServerStatement s(*session_, "SELECT string_agg(ASSETID, ', ') FROM assets GROUP BY ASSETID HAVING count(*) > 1");
    QStringList twins;
    while (s.step()) {
        twins << s.column(0).toString();
    }
    return twins;
}

std::unique_ptr<RowWriter> ServerEngine::writeRows(Connection&, const char* table, const std::string& columns,
                                                   bool newTable) {
    return std::make_unique<CopyWriter>(*session_, table, columns, newTable);
}

void ServerEngine::readRows(const Connection&, const std::string& select,
                            const std::function<void(const std::vector<RowValue>&)>& use) {
    session_->readRows(select, use);
}

void ServerEngine::settleCopiedTable(const char* table) {
    const std::string name = QString::fromLatin1(table).toLower().toStdString();
    exec("SELECT setval(pg_get_serial_sequence('" + name + "', 'rowid'), coalesce(max(rowid), 0) + 1, false) FROM " +
         name);
}

void ServerEngine::settleAfterBulkWrite(Connection& c) {
    settleServerRegister(c);
}
