// The register on a PostgreSQL server. Every session compares and sorts the register's texts without regard to
// case (its text columns are citext), waits at most a few seconds for another user's row lock, and reads dates
// as yyyy-mm-dd, as the register file stores them. Results come back as text and are converted by their type.
#include "data/server.h"

#include "data/asciicase.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/onfailure.h"
#include "data/schema.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <libpq-fe.h>
#include <string_view>
#include <utility>

namespace {

constexpr int kLockTimeoutMs = 5000;

// Type identifiers of PostgreSQL's built-in types (pg_type.oid); fixed for every server.
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;

// A value of COPY's text form with its backslash escapes undone.
std::string copyTextValue(std::string_view text) {
    std::string value;
    value.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            value += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'b':
            value += '\b';
            break;
        case 'f':
            value += '\f';
            break;
        case 'n':
            value += '\n';
            break;
        case 'r':
            value += '\r';
            break;
        case 't':
            value += '\t';
            break;
        case 'v':
            value += '\v';
            break;
        default:
            if (c >= '0' && c <= '7') { // up to three octal digits
                int byte = c - '0';
                for (int n = 1; n < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7'; ++n) {
                    byte = byte * 8 + (text[++i] - '0');
                }
                value += static_cast<char>(byte);
            } else if (c == 'x' && i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                int byte = 0;
                for (int n = 0; n < 2 && i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]));
                     ++n) {
                    const char h = text[++i];
                    byte = byte * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                }
                value += static_cast<char>(byte);
            } else {
                value += c;
            }
        }
    }
    return value;
}

QString firstLine(const char* message) {
    return QString::fromUtf8(message ? message : "").trimmed().section(QLatin1Char('\n'), 0, 0);
}

// The statement's first word, upper-cased.
// A statement as the server takes it: ? and ?NNN outside quotes rewritten as $n, and its words outside
// quoted texts and names, upper case and in order, so a word inside a searched-for text is never taken for
// a keyword.
struct ServerText {
    std::string sql;
    std::vector<std::string> words;
};

ServerText serverText(const std::string& sql) {
    ServerText out;
    out.sql.reserve(sql.size() + 16);
    int next = 0;
    char quote = 0;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            out.sql += c;
            if (c == quote) {
                quote = 0;
            }
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out.sql += c;
            continue;
        }
        if (isAsciiLetter(c)) {
            std::string word;
            for (; i < sql.size() && (isAsciiLetter(sql[i]) || isAsciiDigit(sql[i]) || sql[i] == '_'); ++i) {
                out.sql += sql[i];
                word += asciiUpper(sql[i]);
            }
            out.words.push_back(std::move(word));
            --i;
            continue;
        }
        if (c != '?') {
            out.sql += c;
            continue;
        }
        size_t j = i + 1;
        int number = 0;
        while (j < sql.size() && isAsciiDigit(sql[j])) {
            number = number * 10 + (sql[j] - '0');
            ++j;
        }
        number = j > i + 1 ? number : next + 1;
        next = std::max(next, number);
        out.sql += '$' + std::to_string(number);
        i = j - 1;
    }
    return out;
}

} // namespace

void PgResultFree::operator()(pg_result* r) const {
    PQclear(r);
}

bool isServerUri(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString readServerFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw DatabaseError(QStringLiteral("The server file '%1' cannot be read: %2").arg(path, f.errorString()));
    }
    QString address;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (!address.isEmpty()) {
            throw DatabaseError(QStringLiteral("The server file '%1' holds more than one line: it names one server, "
                                               "on one line ('%2' is one too many).")
                                    .arg(path, line.left(80)));
        }
        if (!isServerUri(line)) {
            throw DatabaseError(QStringLiteral("The server file '%1' does not name a server: its line '%2' is not a "
                                               "postgresql:// address.")
                                    .arg(path, line.left(80)));
        }
        address = line;
    }
    if (address.isEmpty()) {
        throw DatabaseError(QStringLiteral("The server file '%1' names no server.").arg(path));
    }
    // Read as libpq reads it, escapes and all, so that no spelling of a password gets past.
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(address.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        throw DatabaseError(
            QStringLiteral("The server file '%1' does not hold an address libpq can use: %2").arg(path, why));
    }
    bool password = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
        password = password || (std::string_view(o->keyword) == "password" && o->val && *o->val);
    }
    PQconninfoFree(options);
    if (password) {
        throw DatabaseError(QStringLiteral("The server file '%1' holds a password. Keep passwords in ~/.pgpass "
                                           "(or type it when Vantrel asks), never in the server file.")
                                .arg(path));
    }
    return address;
}

ServerSession::ServerSession(const QString& uri, const QString& password, QString* passwordFor) {
    const QByteArray dsn = uri.toUtf8();
    const QByteArray pass = password.toUtf8();
    std::vector<const char*> keys{"dbname", "application_name", "connect_timeout", "client_encoding"};
    std::vector<const char*> values{dsn.constData(), "Vantrel", "10", "UTF8"};
    if (!password.isEmpty()) {
        keys.push_back("password");
        values.push_back(pass.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    QUrl url(uri);
    url.setPassword(QString());
    uri_ = url.toString();
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        const QString message = firstLine(conn_ ? PQerrorMessage(conn_) : "out of memory");
        const QString server = url.host().isEmpty() ? QStringLiteral("on this machine") : url.host();
        const QString user = conn_ && PQuser(conn_) ? QString::fromUtf8(PQuser(conn_)) : QString();
        const QString database = conn_ && PQdb(conn_) ? QString::fromUtf8(PQdb(conn_)) : QString();
        const bool asked = conn_ && PQconnectionNeedsPassword(conn_);
        if (passwordFor && asked) {
            *passwordFor = user;
        }
        PQfinish(conn_);
        conn_ = nullptr;
        if (asked) {
            throw DatabaseError(QStringLiteral("The register server %1 asks for the password of the login '%2', "
                                               "and none was given.")
                                    .arg(server, user));
        }
        if (message.contains(QLatin1String("authentication failed")) ||
            (message.contains(QLatin1String("role \"")) && message.contains(QLatin1String("does not exist")))) {
            throw DatabaseError(
                QStringLiteral("The register server %1 refused the login '%2': %3").arg(server, user, message));
        }
        if (message.contains(QLatin1String("database \"")) && message.contains(QLatin1String("does not exist"))) {
            throw DatabaseError(QStringLiteral("The register server %1 has no database '%2'.").arg(server, database));
        }
        throw DatabaseError(QStringLiteral("The register server %1 cannot be reached: %2").arg(server, message));
    }
    const QString host = QString::fromUtf8(PQhost(conn_));
    name_ = QStringLiteral("%1 on %2")
                .arg(QString::fromUtf8(PQdb(conn_)),
                     host.startsWith(QLatin1Char('/')) ? QStringLiteral("this machine") : host);
    lockTimeoutMs_ = kLockTimeoutMs;
    // A constructor that fails runs no destructor: the connection is let go here.
    const OnFailure finish([this] { PQfinish(conn_); });
    applySettings();
}

void ServerSession::applySettings() {
    // The list sorts every asset's id at each opening: room enough that a hundred thousand sort in memory
    // rather than through temporary files.
    exec("SET lock_timeout = " + std::to_string(lockTimeoutMs_) +
             "; SET DateStyle = ISO, YMD; SET client_min_messages = warning; SET extra_float_digits = 1"
             "; SET work_mem = '32MB'",
         false);
}

void ServerSession::setLockTimeout(int milliseconds) {
    lockTimeoutMs_ = milliseconds;
    exec("SET lock_timeout = " + std::to_string(milliseconds), false);
}

void ServerSession::reconnectIfLost() {
    if (PQstatus(conn_) == CONNECTION_OK) {
        return;
    }
    PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK) {
        throw DatabaseError(failureText(Failure::Unreachable, name_, false, QString()));
    }
    origins_.clear();
    prepared_.clear();
    applySettings();
    noWaitingApplied_ = false;
    if (listening_) {
        // Changes saved while the connection was lost sent notifications nobody heard: say there were some.
        exec(std::string("LISTEN ") + kAssetsChangedChannel, false);
        missedWhileLost_ = true;
    }
}

bool ServerSession::changedByOthers() {
    if (!listening_) {
        exec(std::string("LISTEN ") + kAssetsChangedChannel, false);
        listening_ = true;
        return false;
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        return false; // the next statement makes the connection again
    }
    bool changed = std::exchange(missedWhileLost_, false);
    // What has arrived on the socket is read without waiting; notifications that came with the answers to
    // earlier statements are waiting in libpq already.
    PQconsumeInput(conn_);
    const int self = PQbackendPID(conn_);
    while (PGnotify* n = PQnotifies(conn_)) {
        changed = changed || n->be_pid != self;
        PQfreemem(n);
    }
    return changed;
}

QString ServerSession::writeRefusal() {
    if (!mayWrite_) {
        PgResult r = run("SELECT has_table_privilege('assets', 'INSERT') AND has_table_privilege('assets', 'UPDATE') "
                         "AND has_table_privilege('assets', 'DELETE') AND has_table_privilege('system', 'UPDATE')",
                         {}, false);
        mayWrite_ = PQntuples(r.get()) == 1 && std::string_view(PQgetvalue(r.get(), 0, 0)) == "t";
    }
    if (mayWrite_) {
        return QString();
    }
    return QStringLiteral("The login '%1' may read the register database %2 but not change it. Ask the server's "
                          "administrator to grant it the right to change the register's tables; Vantrel need not be "
                          "started again.")
        .arg(QString::fromUtf8(PQuser(conn_)), name_);
}

ServerSession::~ServerSession() {
    PQfinish(conn_);
}

void ServerSession::fail(const pg_result* r, bool writing) const {
    const char* code = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = code ? code : "";
    const QString primary = r && PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY)
                                ? QString::fromUtf8(PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY))
                                : firstLine(PQerrorMessage(conn_));
    if (state == "23505") {
        // Said as the file register says it ("UNIQUE constraint failed: table.column"), so a post names the
        // value the user gave in the same words on both engines. The detail reads Key (column)=(value).
        const QString detail = QString::fromUtf8(PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL));
        QString column = detail.section(QLatin1String("Key ("), 1).section(QLatin1String(")="), 0, 0);
        const QString table = QString::fromUtf8(PQresultErrorField(r, PG_DIAG_TABLE_NAME));
        throw DatabaseError(QStringLiteral("UNIQUE constraint failed: %1.%2")
                                .arg(registerName(table), registerName(column.remove(QLatin1Char('"')))));
    }
    Failure failure = Failure::Other;
    if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014") {
        failure = Failure::Busy;
    } else if (state == "53100") {
        failure = Failure::Full;
    } else if (state == "25006" || state == "42501") {
        failure = Failure::ReadOnly;
    } else if (state.rfind("23", 0) == 0) {
        failure = Failure::Constraint;
    } else if (state == "XX001" || state == "XX002") {
        failure = Failure::Damaged;
    } else if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || PQstatus(conn_) != CONNECTION_OK) {
        failure = Failure::Unreachable;
    } else if (state.rfind("42", 0) == 0 || state.rfind("22", 0) == 0) {
        failure = Failure::Statement;
    }
    throw DatabaseError(failureText(failure, name_, writing, primary));
}

void ServerSession::exec(const std::string& sql, bool writing) {
    reconnectIfLost();
    PgResult r(PQexec(conn_, sql.c_str()));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(r.get(), writing);
    }
    changes = std::atoi(PQcmdTuples(r.get()));
}

std::string ServerSession::literal(const QString& text) {
    if (text.contains(QChar(0))) {
        throw DatabaseError(QStringLiteral("A text holding the character NUL cannot be stored on a server: '%1'.")
                                .arg(text.left(text.indexOf(QChar(0)))));
    }
    const QByteArray utf8 = text.toUtf8();
    std::unique_ptr<char, void (*)(void*)> quoted(
        PQescapeLiteral(conn_, utf8.constData(), static_cast<size_t>(utf8.size())), PQfreemem);
    if (!quoted) {
        throw DatabaseError(
            QStringLiteral("The register '%1': %2").arg(name_, QString::fromUtf8(PQerrorMessage(conn_))));
    }
    return quoted.get();
}

void ServerSession::prepareOnce(const std::string& name, const std::string& types, const std::string& sql) {
    reconnectIfLost();
    if (std::find(prepared_.begin(), prepared_.end(), name) != prepared_.end()) {
        return;
    }
    exec("PREPARE " + name + " (" + types + ") AS " + sql);
    prepared_.push_back(name);
}

void ServerSession::setNoWaiting(bool on) {
    noWaiting_ = on;
    if (!on && noWaitingApplied_) {
        noWaitingApplied_ = false;
        exec("SET lock_timeout = " + std::to_string(lockTimeoutMs_), false);
    }
}

void ServerSession::applyNoWaiting() {
    if (noWaiting_ && !noWaitingApplied_) {
        noWaitingApplied_ = true;
        exec("SET lock_timeout = 1", false); // 0 would mean no limit at all
    }
}

PgResult ServerSession::run(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                            bool writing) {
    reconnectIfLost();
    applyNoWaiting();
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) {
        values.push_back(p ? p->c_str() : nullptr);
    }
    PgResult r(
        PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(r.get(), writing);
    }
    changes = std::atoi(PQcmdTuples(r.get()));
    return r;
}

PgResult ServerSession::describe(const std::string& sql) {
    reconnectIfLost();
    applyNoWaiting();
    PgResult prepared(PQprepare(conn_, "", sql.c_str(), 0, nullptr));
    if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
        fail(prepared.get(), false);
    }
    PgResult r(PQdescribePrepared(conn_, ""));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        fail(r.get(), false);
    }
    return r;
}

void ServerSession::beginCopy(const std::string& copySql) {
    reconnectIfLost();
    PgResult r(PQexec(conn_, copySql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN) {
        fail(r.get(), true);
    }
}

void ServerSession::putCopy(const QByteArray& rows) {
    if (PQputCopyData(conn_, rows.constData(), static_cast<int>(rows.size())) != 1) {
        fail(nullptr, true);
    }
}

void ServerSession::endCopy() {
    if (PQputCopyEnd(conn_, nullptr) != 1) {
        fail(nullptr, true);
    }
    // The server answers the COPY, then says it is ready; every answer is read so the session can go on.
    PgResult failed;
    for (PgResult r(PQgetResult(conn_)); r; r.reset(PQgetResult(conn_))) {
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && !failed) {
            failed = std::move(r);
        }
    }
    if (failed) {
        fail(failed.get(), true);
    }
}

void ServerSession::abandonCopy() {
    PQputCopyEnd(conn_, "the copy was abandoned");
    for (PgResult r(PQgetResult(conn_)); r; r.reset(PQgetResult(conn_))) {
    }
}

void ServerSession::copyOut(const std::string& copySql, const std::function<void(QByteArrayView line)>& use) {
    reconnectIfLost();
    {
        PgResult r(PQexec(conn_, copySql.c_str()));
        if (!r || PQresultStatus(r.get()) != PGRES_COPY_OUT) {
            fail(r.get(), false);
        }
    }
    // Every line is read, even after use throws, so the session is ready for the next statement.
    std::exception_ptr thrown;
    char* line = nullptr;
    int size = 0;
    while ((size = PQgetCopyData(conn_, &line, 0)) > 0) {
        const std::unique_ptr<char, void (*)(void*)> held(line, PQfreemem);
        if (thrown) {
            continue;
        }
        try {
            use(QByteArrayView(line, size > 0 && line[size - 1] == '\n' ? size - 1 : size));
        } catch (...) {
            thrown = std::current_exception();
        }
    }
    PgResult failed;
    for (PgResult r(PQgetResult(conn_)); r; r.reset(PQgetResult(conn_))) {
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && !failed) {
            failed = std::move(r);
        }
    }
    if (failed || size == -2) {
        fail(failed.get(), false);
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
}

void ServerSession::readRows(const std::string& select, const std::function<void(const std::vector<RowValue>&)>& use) {
    const PgResult shape = describe(select);
    std::vector<RowValue> row(static_cast<size_t>(PQnfields(shape.get())));
    std::vector<RowValue::Kind> kinds;
    for (int i = 0; i < PQnfields(shape.get()); ++i) {
        switch (PQftype(shape.get(), i)) {
        case kBool:
        case kInt2:
        case kInt4:
        case kInt8:
        case kOid:
            kinds.push_back(RowValue::Integer);
            break;
        case kFloat4:
        case kFloat8:
        case kNumeric:
            kinds.push_back(RowValue::Real);
            break;
        default:
            kinds.push_back(RowValue::Text);
        }
    }
    std::vector<std::string> unescaped(row.size());
    copyOut("COPY (" + select + ") TO STDOUT", [&](QByteArrayView line) {
        const char* p = line.data();
        const char* const end = p + line.size();
        for (size_t i = 0; i < row.size(); ++i) {
            const char* field = p;
            while (p < end && *p != '\t') {
                ++p;
            }
            std::string_view text(field, static_cast<size_t>(p - field));
            ++p; // past the tab
            RowValue& v = row[i];
            if (text == "\\N") {
                v.kind = RowValue::Null;
                continue;
            }
            if (text.find('\\') != std::string_view::npos) {
                unescaped[i] = copyTextValue(text);
                text = unescaped[i];
            }
            v.kind = kinds[i];
            if (v.kind == RowValue::Integer) {
                v.integer = text == "t" ? 1 : 0;
                std::from_chars(text.data(), text.data() + text.size(), v.integer);
            } else if (v.kind == RowValue::Real) {
                v.real = QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).toDouble();
            } else {
                v.bytes = QByteArrayView(text.data(), static_cast<qsizetype>(text.size()));
            }
        }
        use(row);
    });
}

void ServerSession::rollbackQuietly() {
    PgResult r(PQexec(conn_, "ROLLBACK"));
}

std::pair<QString, QString> ServerSession::origin(unsigned table, int column) {
    if (table == 0 || column <= 0) {
        return {};
    }
    auto it = origins_.find(table);
    if (it == origins_.end()) {
        // One read per table: every column's name at once.
        const std::string id = std::to_string(table);
        PgResult r = run("SELECT c.relname, a.attnum, a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = "
                         "a.attrelid WHERE a.attrelid = $1 AND a.attnum > 0",
                         {id}, false);
        QHash<int, std::pair<QString, QString>> names;
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            names.insert(std::atoi(PQgetvalue(r.get(), i, 1)),
                         {registerName(QString::fromUtf8(PQgetvalue(r.get(), i, 0))),
                          registerName(QString::fromUtf8(PQgetvalue(r.get(), i, 2)))});
        }
        it = origins_.insert(table, names);
    }
    return it->value(column);
}

ServerQuery::ServerQuery(ServerSession& session, const std::string& sql) : session_(session) {
    ServerText text = serverText(sql);
    sql_ = std::move(text.sql);
    const std::vector<std::string>& words = text.words;
    const std::string first = words.empty() ? std::string() : words.front();
    const auto has = [&](const char* word) { return std::find(words.begin(), words.end(), word) != words.end(); };
    // A statement reads when it is a SELECT (not SELECT ... INTO a new table), VALUES, or SHOW.
    readOnly_ = (first == "SELECT" && !has("INTO")) || first == "VALUES" || first == "SHOW";
    // Every register table has a rowid; an insert gives back the one it was given, as SQLite's
    // last_insert_rowid does.
    insert_ = first == "INSERT" && !has("RETURNING");
    if (insert_) {
        sql_ += " RETURNING rowid";
    }
}

ServerQuery::~ServerQuery() = default;

void ServerQuery::bind(int index, std::optional<std::string> text) {
    if (index < 1) {
        return;
    }
    if (params_.size() < static_cast<size_t>(index)) {
        params_.resize(static_cast<size_t>(index));
    }
    params_[static_cast<size_t>(index - 1)] = std::move(text);
}

bool ServerQuery::step() {
    if (!result_) {
        result_ = session_.run(sql_, params_, !readOnly_);
        row_ = -1;
        if (insert_ && PQntuples(result_.get()) == 1) {
            session_.lastInsertRowid = std::atoll(PQgetvalue(result_.get(), 0, 0));
            return false;
        }
    }
    ++row_;
    return row_ < PQntuples(result_.get());
}

bool ServerQuery::seek(int row) {
    if (!result_ || row < 0 || row >= PQntuples(result_.get())) {
        return false;
    }
    row_ = row;
    return true;
}

void ServerQuery::reset() {
    result_.reset();
    params_.clear();
    row_ = -1;
}

pg_result* ServerQuery::shape() {
    if (result_) {
        return result_.get();
    }
    if (!description_) {
        description_ = session_.describe(sql_);
    }
    return description_.get();
}

int ServerQuery::columnCount() {
    return PQnfields(shape());
}

QString ServerQuery::columnName(int i) {
    return registerName(QString::fromUtf8(PQfname(shape(), i)));
}

QString ServerQuery::columnDeclType(int i) {
    pg_result* r = shape();
    const auto [table, column] = session_.origin(PQftable(r, i), PQftablecol(r, i));
    return registerColumnType(table, column);
}

QString ServerQuery::columnOriginName(int i) {
    pg_result* r = shape();
    return session_.origin(PQftable(r, i), PQftablecol(r, i)).second;
}

QVariant ServerQuery::column(int i) const {
    pg_result* r = result_.get();
    if (PQgetisnull(r, row_, i)) {
        return QVariant();
    }
    const char* text = PQgetvalue(r, row_, i);
    switch (PQftype(r, i)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QVariant(static_cast<qlonglong>(std::atoll(text)));
    case kBool:
        return QVariant(static_cast<qlonglong>(text[0] == 't' ? 1 : 0));
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QVariant(QByteArray::fromRawData(text, static_cast<qsizetype>(std::strlen(text))).toDouble());
    default:
        return QVariant(QString::fromUtf8(text, PQgetlength(r, row_, i)));
    }
}

std::optional<QByteArrayView> ServerQuery::columnText(int i) const {
    pg_result* r = result_.get();
    if (PQgetisnull(r, row_, i)) {
        return QByteArrayView();
    }
    switch (PQftype(r, i)) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return std::nullopt;
    default:
        return QByteArrayView(PQgetvalue(r, row_, i), PQgetlength(r, row_, i));
    }
}

QByteArrayView ServerQuery::columnUtf8(int i) const {
    pg_result* r = result_.get();
    return QByteArrayView(PQgetvalue(r, row_, i), PQgetlength(r, row_, i));
}

long long ServerQuery::columnInt64(int i) const {
    pg_result* r = result_.get();
    switch (PQftype(r, i)) {
    case kInt2:
    case kInt4:
    case kInt8:
        // Row ids by the hundred thousand: read straight from the server's text.
        return std::strtoll(PQgetvalue(r, row_, i), nullptr, 10);
    default:
        return column(i).toLongLong();
    }
}

bool ServerQuery::columnIsNull(int i) const {
    return PQgetisnull(result_.get(), row_, i) != 0;
}
