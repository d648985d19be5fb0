// The connection to a register file and the statements run on it. Every connection uses the rollback
// journal (registers often live on network folders, where WAL's shared memory does not work), waits a few
// seconds for another program's lock, and has SQLite's double-quoted string literals turned off so that a
// double quote in translated SQL only ever names a column.
#include "data/connection.h"

#include "data/errors.h"
#include "data/likefunction.h"
#include "data/registercheck.h"
#include "data/schema.h"
#include "data/server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr int kBusyTimeoutMs = 5000;

const QString kRestore = QStringLiteral("Restore the register from a backup copy, or examine it with the register "
                                        "tool (vnrdb check).");

QString fromUtf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

unsigned readBigEndian(const QByteArray& b, int at, int bytes) {
    unsigned v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    }
    return v;
}

// What stands at the register's name when it is not an ordinary file, as a user would put it.
void checkFileKind(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists()) {
        throw DatabaseError(
            QStringLiteral("The register file '%1' is a link that leads nowhere (or back to itself).").arg(path));
    }
    if (!info.exists()) {
        throw DatabaseError(QStringLiteral("The register file '%1' does not exist.").arg(path));
    }
    if (info.isDir()) {
        throw DatabaseError(QStringLiteral("'%1' is a folder, not a register file.").arg(path));
    }
    if (!info.isFile()) {
        throw DatabaseError(
            QStringLiteral("'%1' is not an ordinary file (it may be a pipe or a device), so it is not a register.")
                .arg(path));
    }
}

// Reads the schema through SQLite, without creating any file: SQLite plays back the journal a crashed save
// left, and waits under its lock for a save another program is making. True when that read succeeds.
bool readThroughSqlite(const QString& path) {
    sqlite3* raw = nullptr;
    bool read = false;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(raw, kBusyTimeoutMs);
        read = sqlite3_exec(raw, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close_v2(raw);
    return read;
}

// Checks the file before SQLite sees it: SQLite would happily treat an empty file as an empty database,
// and reports a truncated one only as "malformed" when the missing pages are read.
void checkRegisterFile(const QString& path) {
    const QFileInfo info(path);
    if (info.size() == 0) {
        throw DatabaseError(QStringLiteral("The register file '%1' is empty.").arg(path));
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw DatabaseError(QStringLiteral("The register file '%1' cannot be read: %2").arg(path, f.errorString()));
    }
    const QByteArray header = f.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16))) {
        throw DatabaseError(
            QStringLiteral("The file '%1' is not a Vantrel register: it is not a database of this program.").arg(path));
    }
    unsigned pageSize = readBigEndian(header, 16, 2);
    if (pageSize == 1) {
        pageSize = 65536;
    }
    const unsigned pages = readBigEndian(header, 28, 4);
    const bool pagesValid = readBigEndian(header, 24, 4) == readBigEndian(header, 92, 4);
    const QString truncated = QStringLiteral("The register file '%1' is truncated or damaged. %2").arg(path, kRestore);
    if (pageSize < 512 || info.size() % pageSize != 0) {
        throw DatabaseError(truncated);
    }
    // The header is read here without SQLite's lock, and a program saving at this moment writes the header
    // before it lengthens the file: SQLite, which makes the same comparison under its lock, has the last word.
    if (pagesValid && static_cast<qint64>(pageSize) * pages > info.size() && !readThroughSqlite(path)) {
        throw DatabaseError(truncated);
    }
}

// A program that crashed while saving leaves its journal beside the register, and the register may then
// look truncated until the journal is played back; it is played back before the file is judged. Whatever
// stops that is reported by the checks after this.
void rollBackHotJournal(const QString& path) {
    const QFileInfo journal(path + QStringLiteral("-journal"));
    if (journal.isFile() && journal.size() > 0) {
        readThroughSqlite(path);
    }
}

Connection::PasswordPrompt& passwordPrompt() {
    static Connection::PasswordPrompt prompt;
    return prompt;
}

Failure failureOf(int rc) {
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Failure::Busy;
    case SQLITE_FULL:
        return Failure::Full;
    case SQLITE_IOERR:
        return Failure::Io;
    case SQLITE_READONLY:
        return Failure::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Failure::Damaged;
    case SQLITE_CANTOPEN:
        return Failure::CantOpen;
    default:
        return Failure::Other;
    }
}

} // namespace

QString failureText(Failure failure, const QString& file, bool writing, const QString& detail) {
    const QString outcome = writing ? QStringLiteral(" Nothing was saved.") : QString();
    switch (failure) {
    case Failure::Busy:
        if (!writing) {
            return QStringLiteral("The register '%1' is busy: another program is saving a change to it. Try again "
                                  "in a moment.")
                .arg(file);
        }
        return QStringLiteral("The register '%1' is locked by another program. Nothing was saved; try again in a "
                              "moment.")
            .arg(file);
    case Failure::Full:
        return QStringLiteral("The disk that holds the register '%1' is full.%2 Make room on it and try again.")
            .arg(file, outcome);
    case Failure::Io:
        return QStringLiteral("The register '%1' could not be %2 (a disk or network error).%3 Check that its disk or "
                              "network folder is reachable and try again.")
            .arg(file, writing ? QStringLiteral("written") : QStringLiteral("read"), outcome);
    case Failure::Unreachable:
        return QStringLiteral("The server of the register '%1' cannot be reached (a network error, or the server "
                              "stopped).%2 Check the network and that the server is running, and try again.")
            .arg(file, outcome);
    case Failure::ReadOnly:
        return QStringLiteral("The register '%1' cannot be changed: the file or its folder is read-only for you.%2")
            .arg(file, outcome);
    case Failure::Damaged:
        return QStringLiteral("The register '%1' is damaged.%2 %3").arg(file, outcome, kRestore);
    case Failure::CantOpen:
        return QStringLiteral("The register '%1' or its journal cannot be opened.%2 Check that its folder is "
                              "reachable and that you may write in it.")
            .arg(file, outcome);
    case Failure::Constraint:
        return detail;
    case Failure::Statement:
    case Failure::Other:
        break;
    }
    return file.isEmpty() ? detail : QStringLiteral("The register '%1': %2").arg(file, detail);
}

QString serverFileFor(const QString& registerPath) {
    const QFileInfo info(registerPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".server"));
}

void Connection::setPasswordPrompt(PasswordPrompt prompt) {
    passwordPrompt() = std::move(prompt);
}

ConnectionSettings parseConnectionString(const QString& text) {
    ConnectionSettings s;
    bool haveSource = false;
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0) {
            continue;
        }
        const QString key = part.left(eq).trimmed();
        const QString value = part.mid(eq + 1).trimmed();
        if (key.compare(QLatin1String("Data Source"), Qt::CaseInsensitive) == 0) {
            s.dataSource = value;
            haveSource = true;
        } else if (key.compare(QLatin1String("Jet OLEDB:Database Password"), Qt::CaseInsensitive) == 0) {
            s.filePassword = value;
        }
    }
    if (!haveSource || s.dataSource.isEmpty()) {
        throw DatabaseError(QStringLiteral("The connection string names no Data Source."));
    }
    return s;
}

void Connection::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

Connection::Connection() = default;
Connection::~Connection() = default;

sqlite3* Connection::handle() const {
    return db_.get();
}

void Connection::open(const QString& connectionString, WholeFileChecks whole) {
    const ConnectionSettings s = parseConnectionString(connectionString);
    const QString file = QDir::current().absoluteFilePath(s.dataSource);
    const QString server = serverFileFor(file);
    const bool haveFile = QFileInfo::exists(file) || QFileInfo(file).isSymLink();
    if (QFileInfo::exists(server)) {
        if (haveFile) {
            throw DatabaseError(QStringLiteral("The folder holds both a register file '%1' and a server file '%2'; "
                                               "keep the one that is the register and move the other away.")
                                    .arg(file, server));
        }
        openFile(server, s.filePassword);
        return;
    }
    openFile(file, s.filePassword, true, whole);
}

std::string Connection::quoteName(const QString& name) const {
    QString q = server_ ? name.toLower() : name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return ("\"" + q + "\"").toStdString();
}

std::string Connection::sameValueSql(const std::string& quotedColumn, bool text) const {
    if (!server_) {
        return quotedColumn + " IS ? COLLATE BINARY";
    }
    return (text ? quotedColumn + "::text" : quotedColumn) + " IS NOT DISTINCT FROM ?";
}

void Connection::connectServer(const QString& uri) {
    close();
    server_ = std::make_unique<ServerSession>(uri, QString());
    path_ = uri;
}

void Connection::openServer(const QString& uri, const QString& filePassword, bool upgrade) {
    QString login;
    try {
        server_ = std::make_unique<ServerSession>(uri, QString(), &login);
    } catch (const DatabaseError&) {
        if (login.isEmpty() || !passwordPrompt()) {
            throw;
        }
        const QUrl url(uri);
        const std::optional<QString> password =
            passwordPrompt()(url.host().isEmpty() ? QStringLiteral("on this machine") : url.host(), login);
        if (!password) {
            throw;
        }
        server_ = std::make_unique<ServerSession>(uri, *password);
    }
    try {
        const QString name = server_->name();
        const QString notOurs = QStringLiteral("The database %1 is not a Vantrel register.").arg(name);
        Statement marked(*this, "SELECT to_regclass('registerversion') IS NOT NULL");
        if (!marked.step() || marked.columnInt64(0) == 0) {
            throw DatabaseError(notOurs);
        }
        marked.reset();
        Statement version(*this, "SELECT application_id, schema_version FROM registerversion");
        if (!version.step() || version.columnInt64(0) != kRegisterApplicationId) {
            throw DatabaseError(notOurs);
        }
        if (version.columnInt64(1) > kRegisterSchemaVersion) {
            throw DatabaseError(
                QStringLiteral("The register database %1 was made by a newer version of Vantrel.").arg(name));
        }
        version.reset();
        if (const QString problem = registerShapeProblem(*this); !problem.isEmpty()) {
            throw DatabaseError(QStringLiteral("The register database %1 is damaged: %2.").arg(name, problem));
        }
        checkPassword(filePassword, QStringLiteral("register database %1").arg(name));
        if (upgrade) {
            addServerChangeTrigger(*this);
        }
    } catch (...) {
        close();
        throw;
    }
}

void Connection::checkPassword(const QString& filePassword, const QString& what) {
    Statement lock(*this, "SELECT Salt, PasswordHash FROM RegisterFile");
    if (!lock.step()) {
        throw DatabaseError(QStringLiteral("The %1 is not a Vantrel register.").arg(what));
    }
    if (hashFilePassword(filePassword, lock.column(0).toString()) != lock.column(1).toString()) {
        throw DatabaseError(QStringLiteral("The %1 is protected by another file password.").arg(what));
    }
    lock.reset();
}

void Connection::createFile(const QString& path) {
    close();
    // SQLite opens an existing file as readily as it makes one (sqlite3_open_v2 drops SQLITE_OPEN_EXCLUSIVE),
    // and then writes into whatever it holds: the file is made here, in one step that fails when the name is
    // taken, and SQLite opens it empty.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        throw DatabaseError(error == EEXIST ? QStringLiteral("The file '%1' already exists.").arg(path)
                                            : QStringLiteral("The file '%1' cannot be made: %2")
                                                  .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
    ::close(fd);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK) {
        const QString message = fromUtf8(sqlite3_errmsg(raw));
        ::unlink(name.constData());
        throw DatabaseError(message);
    }
    adopt(std::move(db), path);
}

void Connection::adopt(std::unique_ptr<sqlite3, Closer> db, const QString& path) {
    sqlite3* raw = db.get();
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    busyTimeoutMs_ = kBusyTimeoutMs;
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    registerLikeFunctions(raw);
    db_ = std::move(db);
    path_ = path;
}

void Connection::openFile(const QString& path, const QString& filePassword, bool upgrade, WholeFileChecks whole) {
    close();
    if (isServerUri(path) || path.endsWith(QLatin1String(".server"))) {
        openServer(isServerUri(path) ? path : readServerFile(path), filePassword, upgrade);
        path_ = path;
        return;
    }
    checkFileKind(path);
    rollBackHotJournal(path);
    checkRegisterFile(path);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK) {
        throw DatabaseError(
            QStringLiteral("The register file '%1' cannot be opened: %2").arg(path, fromUtf8(sqlite3_errmsg(raw))));
    }
    adopt(std::move(db), path);

    try {
        const QString notOurs = QStringLiteral("The file '%1' is not a Vantrel register.").arg(path);
        Statement appId(*this, "PRAGMA application_id");
        if (!appId.step() || appId.columnInt64(0) != kRegisterApplicationId) {
            throw DatabaseError(notOurs);
        }
        const int fileVersion = schemaVersion();
        if (fileVersion > kRegisterSchemaVersion) {
            throw DatabaseError(
                QStringLiteral("The register file '%1' was made by a newer version of Vantrel.").arg(path));
        }
        // The file's pages and tables are checked before anything in them is relied on, the password first.
        checkRegisterContents(whole == WholeFileChecks::AtOpening || (upgrade && fileVersion < kRegisterSchemaVersion));
        checkPassword(filePassword, QStringLiteral("register file '%1'").arg(path));
        if (upgrade && fileVersion < kRegisterSchemaVersion) {
            upgradeRegister(*this, fileVersion);
        }
    } catch (const DatabaseError& e) {
        close();
        // The checks' own refusals name the file; a statement the engine could not run on the file's own
        // schema ("no such collation sequence") means a damaged file, and says which.
        if (!e.text().contains(path)) {
            throw DatabaseError(
                QStringLiteral("The register file '%1' is damaged: %2. %3").arg(path, e.text().trimmed(), kRestore));
        }
        throw;
    } catch (...) {
        close();
        throw;
    }
}

QStringList Connection::integrityProblems(const QString& path, int limit) {
    QStringList problems;
    sqlite3* raw = nullptr;
    std::unique_ptr<sqlite3, Closer> db;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        db.reset(raw);
        return {fromUtf8(sqlite3_errmsg(raw))};
    }
    db.reset(raw);
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "PRAGMA integrity_check(" + std::to_string(limit) + ")";
    if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        return {fromUtf8(sqlite3_errmsg(raw))};
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const QString line = fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        if (line != QLatin1String("ok")) {
            problems << line;
        }
    }
    if (rc != SQLITE_DONE) {
        problems << fromUtf8(sqlite3_errmsg(raw));
    }
    sqlite3_finalize(stmt);
    return problems;
}

int Connection::schemaVersion() const {
    if (server_) {
        Statement version(*this, "SELECT schema_version FROM registerversion");
        return version.step() ? static_cast<int>(version.columnInt64(0)) : 0;
    }
    Statement version(*this, "PRAGMA user_version");
    return version.step() ? static_cast<int>(version.columnInt64(0)) : 0;
}

void Connection::openForExamining(const QString& path) {
    close();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK) {
        throw DatabaseError(
            QStringLiteral("The register file '%1' cannot be opened: %2").arg(path, fromUtf8(sqlite3_errmsg(raw))));
    }
    adopt(std::move(db), path);
}

void Connection::interrupt() {
    if (db_) {
        sqlite3_interrupt(db_.get());
    }
}

void Connection::startBackgroundCheck() {
    if (db_ && !check_) {
        check_ = std::make_unique<BackgroundCheck>(path_);
    }
}

void Connection::awaitOpeningChecks() {
    if (check_) {
        check_->awaitQuickPass();
    }
}

QString Connection::damageFound() const {
    if (!check_) {
        return QString();
    }
    const Damage damage = check_->damage();
    return damage.found() ? damageWarning(path_, damage) : QString();
}

void Connection::checkRegisterContents(bool wholeFile) {
    const auto damaged = [this](const QString& what) {
        return DatabaseError(QStringLiteral("The register file '%1' is damaged: %2. %3").arg(path_, what, kRestore));
    };
    // A flipped bit in an index or a page pointer shows as a silently different list, or ends the program
    // later in the middle of a read; quick_check finds both in one pass over the file.
    if (wholeFile) {
        Statement check(*this, "PRAGMA quick_check(1)");
        if (!check.step() || check.column(0).toString() != QLatin1String("ok")) {
            throw damaged(QStringLiteral("its pages do not fit together"));
        }
    }
    QString problem = registerShapeProblem(*this);
    if (problem.isEmpty() && wholeFile) {
        problem = registerValueProblem(*this);
    }
    if (!problem.isEmpty()) {
        throw damaged(problem);
    }
}

void Connection::close() {
    check_.reset();
    db_.reset();
    server_.reset();
    path_.clear();
    dataVersion_ = -1;
}

QString Connection::errorText(int rc, bool writing) const {
    const QString engine = fromUtf8(db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc));
    return failureText(failureOf(rc), messagePath(), writing, engine);
}

QString Connection::messagePath() const {
    return QDir::toNativeSeparators(QFileInfo(path_).absoluteFilePath());
}

void Connection::onRollback(std::function<void()> undo) {
    undo_.push_back(std::move(undo));
}

bool Connection::changedByOthers() {
    if (server_) {
        return server_->changedByOthers();
    }
    // data_version moves only with commits of other connections, and costs a shared lock and a look at the
    // file's header; while another program holds its lock, the answer waits for the next call.
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_.get(), "PRAGMA data_version", -1, &stmt, nullptr) != SQLITE_OK) {
        return false;
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalize(stmt, sqlite3_finalize);
    if (sqlite3_step(stmt) != SQLITE_ROW) {
        return false;
    }
    const long long version = sqlite3_column_int64(stmt, 0);
    const bool changed = dataVersion_ >= 0 && version != dataVersion_;
    dataVersion_ = version;
    return changed;
}

QString Connection::writeRefusal() {
    if (QString damage = damageFound(); !damage.isEmpty()) {
        return damage;
    }
    return server_ ? server_->writeRefusal() : fileWriteRefusal();
}

QString Connection::fileWriteRefusal() {
    const QFileInfo info(path_);
    const QString folder = info.absolutePath();
    const bool fileWritable = ::access(QFile::encodeName(path_).constData(), W_OK) == 0;
    // The folder takes the journal that every save writes beside the file.
    const bool folderWritable = ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    if (fileWritable && folderWritable) {
        // SQLite opened a file that was read-only then for reading only, and keeps it so.
        if (depth_ == 0 && sqlite3_db_readonly(db_.get(), "main") == 1) {
            sqlite3* raw = nullptr;
            const int rc = sqlite3_open_v2(QFile::encodeName(path_).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
            std::unique_ptr<sqlite3, Closer> db(raw);
            if (rc == SQLITE_OK && sqlite3_db_readonly(raw, "main") == 0) {
                const QString path = path_;
                const int wait = busyTimeoutMs_;
                adopt(std::move(db), path);
                setBusyTimeout(wait);
                dataVersion_ = -1;
                changedByOthers();
            }
        }
        return QString();
    }
    const passwd* pw = ::getpwuid(::geteuid());
    const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
    const QString what = !fileWritable && !folderWritable ? QStringLiteral("the file and its folder")
                         : !fileWritable                  ? QStringLiteral("the file")
                                                          : QStringLiteral("its folder");
    return QStringLiteral("The register '%1' cannot be changed by you (%2): %3 %4 read-only for you. Ask whoever "
                          "looks after the register to let you write both the file and its folder '%5' (in an "
                          "office, give both to your group with the group allowed to write). Vantrel need not be "
                          "started again: once you may write, the change works.")
        .arg(QDir::toNativeSeparators(path_), user, what,
             !fileWritable && !folderWritable ? QStringLiteral("are") : QStringLiteral("is"),
             QDir::toNativeSeparators(folder));
}

void Connection::setBusyTimeout(int milliseconds) {
    if (server_) {
        server_->setLockTimeout(milliseconds);
        return;
    }
    sqlite3_busy_timeout(db_.get(), milliseconds);
    busyTimeoutMs_ = milliseconds;
}

Connection::NoWaiting::NoWaiting(Connection& c) : c_(c) {
    if (c_.server_) {
        c_.server_->setNoWaiting(true);
    } else if (c_.db_) {
        sqlite3_busy_timeout(c_.db_.get(), 0);
    }
}

Connection::NoWaiting::~NoWaiting() {
    if (c_.server_) {
        try {
            c_.server_->setNoWaiting(false);
        } catch (const DatabaseError&) {
            // The connection was lost; the next statement makes it again, with the session's own settings.
        }
    } else if (c_.db_) {
        sqlite3_busy_timeout(c_.db_.get(), c_.busyTimeoutMs_);
    }
}

long long Connection::lastInsertRowid() const {
    return server_ ? server_->lastInsertRowid : sqlite3_last_insert_rowid(db_.get());
}

int Connection::changes() const {
    return server_ ? server_->changes : sqlite3_changes(db_.get());
}

void Connection::exec(const std::string& sql) {
    if (server_) {
        server_->exec(sql);
        return;
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        // A statement error (a wrong name, a broken constraint) is best said by SQLite's own message; a failure
        // of the file, the disk or a lock by the register's words.
        QString text = errorText(rc);
        if (message && (rc & 0xff) == SQLITE_ERROR) {
            text = QStringLiteral("The register '%1': %2").arg(messagePath(), QString::fromUtf8(message));
        } else if (message && (rc & 0xff) == SQLITE_CONSTRAINT) {
            text = QString::fromUtf8(message);
        }
        sqlite3_free(message);
        throw DatabaseError(text);
    }
}

Connection::Transaction::Transaction(Connection& c) : c_(c) {
    if (c_.depth_ == 0) {
        c_.exec(c_.server_ ? "BEGIN" : "BEGIN IMMEDIATE");
        outermost_ = true;
        c_.partFailed_ = false;
    }
    ++c_.depth_;
}

Connection::Transaction::~Transaction() {
    --c_.depth_;
    if (!outermost_) {
        // A part that did not commit (its change failed, and the failure was caught on the way) spoils the
        // whole: saving the rest would keep half of what belongs together.
        c_.partFailed_ = c_.partFailed_ || !done_;
        return;
    }
    if (!done_) {
        if (c_.server_) {
            c_.server_->rollbackQuietly();
        } else {
            sqlite3_exec(c_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        // Put back what the joined posts changed in memory, newest first, so it matches the file again.
        for (auto it = c_.undo_.rbegin(); it != c_.undo_.rend(); ++it) {
            (*it)();
        }
    }
    c_.undo_.clear();
}

void Connection::Transaction::commit() {
    if (outermost_) {
        if (c_.partFailed_) {
            throw DatabaseError(QStringLiteral("A part of the change to the register '%1' could not be saved. "
                                               "Nothing was saved.")
                                    .arg(c_.server_ ? c_.server_->name() : c_.messagePath()));
        }
        c_.exec("COMMIT");
    }
    done_ = true;
}

void Connection::holdWriteLock() {
    if (server_) {
        // One lock number for the register's writers that look before they change ('VNTR').
        server_->exec("SELECT pg_advisory_xact_lock(" + std::to_string(kRegisterApplicationId) + ")", false);
    }
}

Statement::Statement(const Connection& c, const std::string& sql) : c_(c) {
    if (!c.isOpen()) {
        throw DatabaseError(QStringLiteral("The register is not open."));
    }
    if (c.isServer()) {
        query_ = std::make_unique<ServerQuery>(c.server(), sql);
        return;
    }
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(c.handle(), sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail);
    if (rc != SQLITE_OK) {
        // Preparing reads the schema: a lock or a damaged page shows here first.
        throw DatabaseError((rc & 0xff) == SQLITE_ERROR ? fromUtf8(sqlite3_errmsg(c.handle()))
                                                        : c.errorText(rc, false));
    }
    if (!stmt_) {
        throw DatabaseError(QStringLiteral("The statement is empty."));
    }
    for (const char* p = tail; p && *p; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            throw DatabaseError(QStringLiteral("Characters found after end of SQL statement."));
        }
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

bool Statement::seek(int row) {
    return query_ && query_->seek(row);
}

bool Statement::step() {
    if (query_) {
        return query_->step();
    }
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    QString text = c_.errorText(rc, !readOnly());
    if ((rc & 0xff) == SQLITE_CONSTRAINT) {
        text = fromUtf8(sqlite3_errmsg(c_.handle()));
    }
    sqlite3_reset(stmt_);
    throw DatabaseError(text);
}

void Statement::reset() {
    if (query_) {
        query_->reset();
        return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::readOnly() const {
    if (query_) {
        return query_->readOnly();
    }
    return sqlite3_stmt_readonly(stmt_) != 0;
}

void Statement::bind(int index, const QVariant& value) {
    if (query_) {
        if (!value.isValid() || value.isNull()) {
            query_->bind(index, std::nullopt);
        } else if (value.typeId() == QMetaType::Bool) {
            query_->bind(index, value.toBool() ? "1" : "0");
        } else if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
            query_->bind(index, QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest).toStdString());
        } else if (value.typeId() == QMetaType::QDate) {
            query_->bind(index, value.toDate().toString(Qt::ISODate).toStdString());
        } else {
            bindServerText(index, value.toString());
        }
        return;
    }
    if (!value.isValid() || value.isNull()) {
        sqlite3_bind_null(stmt_, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        sqlite3_bind_blob(stmt_, index, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::Bool:
        sqlite3_bind_int(stmt_, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        sqlite3_bind_int64(stmt_, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(stmt_, index, value.toDouble());
        break;
    default:
        bindText(index, value.toString());
        break;
    }
}

void Statement::bindInt64(int index, long long value) {
    if (query_) {
        query_->bind(index, std::to_string(value));
        return;
    }
    sqlite3_bind_int64(stmt_, index, value);
}

void Statement::bindServerText(int index, const QString& value) {
    // libpq hands a text over as a C string: one holding NUL would be stored cut short, as if whole.
    if (value.contains(QChar(0))) {
        throw DatabaseError(QStringLiteral("A text holding the character NUL cannot be stored on a server: '%1'.")
                                .arg(value.left(value.indexOf(QChar(0)))));
    }
    query_->bind(index, value.toStdString());
}

void Statement::bindText(int index, const QString& value) {
    if (query_) {
        bindServerText(index, value);
        return;
    }
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(stmt_, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

int Statement::columnCount() const {
    if (query_) {
        return query_->columnCount();
    }
    return sqlite3_column_count(stmt_);
}

QString Statement::columnName(int i) const {
    if (query_) {
        return query_->columnName(i);
    }
    return fromUtf8(sqlite3_column_name(stmt_, i));
}

QString Statement::columnDeclType(int i) const {
    if (query_) {
        return query_->columnDeclType(i);
    }
    return fromUtf8(sqlite3_column_decltype(stmt_, i));
}

QString Statement::columnOriginName(int i) const {
    if (query_) {
        return query_->columnOriginName(i);
    }
    return fromUtf8(sqlite3_column_origin_name(stmt_, i));
}

QVariant Statement::column(int i) const {
    if (query_) {
        return query_->column(i);
    }
    switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt_, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_, i));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt_, i)));
    }
    case SQLITE_BLOB:
        return QVariant(
            QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt_, i)), sqlite3_column_bytes(stmt_, i)));
    default:
        return QVariant();
    }
}

std::optional<QString> Statement::columnText(int i) const {
    if (query_) {
        return query_->columnText(i);
    }
    switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_NULL:
        return QString();
    case SQLITE_TEXT:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i)),
                                 sqlite3_column_bytes(stmt_, i));
    default:
        return std::nullopt;
    }
}

long long Statement::columnInt64(int i) const {
    if (query_) {
        return query_->columnInt64(i);
    }
    return sqlite3_column_int64(stmt_, i);
}

bool Statement::columnIsNull(int i) const {
    if (query_) {
        return query_->columnIsNull(i);
    }
    return sqlite3_column_type(stmt_, i) == SQLITE_NULL;
}
