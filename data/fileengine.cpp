// SQLite under a register file: the connection's handle, its statements, its locks and change counter, and
// the texts its failures are said in.
#include "data/fileengine.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/likefunction.h"
#include "data/registerfile.h"
#include "data/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBusyTimeoutMs = 5000;

QString fromUtf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
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

class FileStatement : public EngineStatement {
public:
    FileStatement(const FileEngine& engine, const std::string& sql) : engine_(engine) {
        sqlite3* db = engine.fileHandle();
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail);
        if (rc != SQLITE_OK) {
            // Preparing reads the schema: a lock or a damaged page shows here first.
            throw DatabaseError((rc & 0xff) == SQLITE_ERROR ? fromUtf8(sqlite3_errmsg(db))
                                                            : engine.errorText(rc, false));
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
    ~FileStatement() override { sqlite3_finalize(stmt_); }
    FileStatement(const FileStatement&) = delete;
    FileStatement& operator=(const FileStatement&) = delete;

    bool step() override {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        QString text = engine_.errorText(rc, !readOnly());
        if ((rc & 0xff) == SQLITE_CONSTRAINT) {
            text = fromUtf8(sqlite3_errmsg(engine_.fileHandle()));
        }
        sqlite3_reset(stmt_);
        throw DatabaseError(text);
    }
    void reset() override {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    bool seek(int) override { return false; } // a file's statement only steps forward
    bool readOnly() const override { return sqlite3_stmt_readonly(stmt_) != 0; }
    void bindNull(int index) override { sqlite3_bind_null(stmt_, index); }
    void bindInt64(int index, long long value) override { sqlite3_bind_int64(stmt_, index, value); }
    void bindDouble(int index, double value) override { sqlite3_bind_double(stmt_, index, value); }
    void bindText(int index, const QString& value) override {
        // Most texts are ASCII: narrowed into a buffer kept from call to call rather than converted into a new one.
        const qsizetype size = value.size();
        const ushort* const chars = value.utf16();
        narrowed_.resize(static_cast<size_t>(size));
        ushort any = 0;
        for (qsizetype i = 0; i < size; ++i) {
            any |= chars[i];
            narrowed_[static_cast<size_t>(i)] = static_cast<char>(chars[i]);
        }
        if (any < 0x80) {
            sqlite3_bind_text(stmt_, index, narrowed_.data(), static_cast<int>(size), SQLITE_TRANSIENT);
            return;
        }
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(stmt_, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindTextUtf8(int index, QByteArrayView utf8) override {
        sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindBlob(int index, const QByteArray& value) override {
        sqlite3_bind_blob(stmt_, index, value.constData(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    int columnCount() override { return sqlite3_column_count(stmt_); }
    QString columnName(int i) override { return fromUtf8(sqlite3_column_name(stmt_, i)); }
    QString columnDeclType(int i) override { return fromUtf8(sqlite3_column_decltype(stmt_, i)); }
    QString columnOriginName(int i) override { return fromUtf8(sqlite3_column_origin_name(stmt_, i)); }
    QVariant column(int i) const override {
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
    std::optional<QByteArrayView> columnText(int i) const override {
        switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_NULL:
            return QByteArrayView();
        case SQLITE_TEXT:
            // Never a null pointer for a text, even an empty one: a null view stands for NULL.
            return QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i)),
                                  sqlite3_column_bytes(stmt_, i));
        default:
            return std::nullopt;
        }
    }
    QByteArrayView columnUtf8(int i) const override {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return QByteArrayView(text, text ? sqlite3_column_bytes(stmt_, i) : 0);
    }
    long long columnInt64(int i) const override { return sqlite3_column_int64(stmt_, i); }
    bool columnIsNull(int i) const override { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

    sqlite3_stmt* handle() const { return stmt_; }

private:
    const FileEngine& engine_;
    sqlite3_stmt* stmt_ = nullptr;
    std::string narrowed_; // the last ASCII text bound
};

// Rows written a few hundred to a statement: one statement prepared and stepped per block.
class BlockInserter : public RowWriter {
public:
    BlockInserter(Connection& c, const char* table, const std::string& columns)
        : c_(c), head_("INSERT INTO " + c.quoteName(QLatin1String(table)) + " (" + columns + ") VALUES "),
          width_(static_cast<size_t>(std::count(columns.begin(), columns.end(), ',') + 1)) {
        // Built by appending: GCC 12 at -O3 takes a concatenation around a string for an overlapping copy.
        row_.append(1, '(');
        for (size_t i = 0; i < width_; ++i) {
            row_.append(i ? ",?" : "?");
        }
        row_.append(1, ')');
    }
    void add(const std::vector<QVariant>& row) override {
        pending_.insert(pending_.end(), row.begin(), row.end());
        if (pending_.size() >= width_ * kRowsPerStatement) {
            finish();
        }
    }
    void finish() override {
        if (pending_.empty()) {
            return;
        }
        std::string sql = head_;
        for (size_t r = 0; r < pending_.size() / width_; ++r) {
            if (r) {
                sql.append(1, ',');
            }
            sql.append(row_);
        }
        Statement insert(c_, sql);
        for (size_t i = 0; i < pending_.size(); ++i) {
            insert.bind(static_cast<int>(i) + 1, pending_[i]);
        }
        insert.step();
        pending_.clear();
    }

private:
    static constexpr size_t kRowsPerStatement = 200;
    Connection& c_;
    const std::string head_;
    const size_t width_;
    std::string row_;
    std::vector<QVariant> pending_;
};

} // namespace

void FileEngine::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

FileEngine::FileEngine(std::unique_ptr<sqlite3, Closer> db, const QString& path) : path_(path) {
    adopt(std::move(db));
}

FileEngine::~FileEngine() {
    // The check reads a copy through connections of its own, but is stopped before the file is let go.
    check_.reset();
}

std::unique_ptr<sqlite3, FileEngine::Closer> FileEngine::openHandle(const QString& path, int flags) {
    sqlite3* raw = nullptr;
    // A connection is used by one thread at a time (the whole-file check and the backup's check open their
    // own), so SQLite need not take its mutex at every call: a long walk reads millions of values.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK) {
        throw DatabaseError(
            QStringLiteral("The register file '%1' cannot be opened: %2").arg(path, fromUtf8(sqlite3_errmsg(raw))));
    }
    return db;
}

std::unique_ptr<FileEngine> FileEngine::open(const QString& path) {
    return std::unique_ptr<FileEngine>(new FileEngine(openHandle(path, SQLITE_OPEN_READWRITE), path));
}

std::unique_ptr<FileEngine> FileEngine::openReadOnly(const QString& path) {
    return std::unique_ptr<FileEngine>(new FileEngine(openHandle(path, SQLITE_OPEN_READONLY), path));
}

std::unique_ptr<FileEngine> FileEngine::create(const QString& path) {
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
    return std::unique_ptr<FileEngine>(new FileEngine(std::move(db), path));
}

void FileEngine::adopt(std::unique_ptr<sqlite3, Closer> db) {
    sqlite3* raw = db.get();
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    busyTimeoutMs_ = kBusyTimeoutMs;
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    registerLikeFunctions(raw);
    db_ = std::move(db);
}

QString FileEngine::name() const {
    return QDir::toNativeSeparators(QFileInfo(path_).absoluteFilePath());
}

void FileEngine::checkRegister(Connection& c, const QString& filePassword, bool upgrade, bool wholeFile) {
    const QString& path = path_;
    try {
        const QString notOurs = QStringLiteral("The file '%1' is not a Vantrel register.").arg(path);
        Statement appId(c, "PRAGMA application_id");
        if (!appId.step() || appId.columnInt64(0) != kRegisterApplicationId) {
            throw DatabaseError(notOurs);
        }
        const int fileVersion = schemaVersion(c);
        if (fileVersion > kRegisterSchemaVersion) {
            throw DatabaseError(
                QStringLiteral("The register file '%1' was made by a newer version of Vantrel.").arg(path));
        }
        // The file's pages and tables are checked before anything in them is relied on, the password first.
        // A register about to be brought up to date is read whole first, whatever the caller leaves for later.
        checkRegisterFileContents(c, path, wholeFile || (upgrade && fileVersion < kRegisterSchemaVersion));
        checkRegisterPassword(c, filePassword, QStringLiteral("register file '%1'").arg(path));
        if (upgrade && fileVersion < kRegisterSchemaVersion) {
            upgradeRegister(c);
        }
    } catch (const DatabaseError& e) {
        // The checks' own refusals name the file; a statement the engine could not run on the file's own
        // schema ("no such collation sequence") means a damaged file, and says which.
        if (!e.text().contains(path)) {
            throw DatabaseError(QStringLiteral("The register file '%1' is damaged: %2. %3")
                                    .arg(path, e.text().trimmed(), kRestoreDamaged));
        }
        throw;
    }
}

int FileEngine::schemaVersion(const Connection& c) {
    Statement version(c, "PRAGMA user_version");
    return version.step() ? static_cast<int>(version.columnInt64(0)) : 0;
}

void FileEngine::setSchemaVersion(Connection& c, int version) {
    c.exec("PRAGMA user_version = " + std::to_string(version));
}

void FileEngine::appendHistory(Connection& c, const std::vector<HistoryRecord>& records, bool thenCommit) {
    if (user_.isEmpty()) {
        const passwd* pw = ::getpwuid(::geteuid());
        user_ = (pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid())) + QLatin1Char('@') +
                QSysInfo::machineHostName();
    }
    // The file's clock is this machine's.
    writeHistoryEntries(c, records, user_,
                        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (thenCommit) {
        exec("COMMIT");
    }
}

QString FileEngine::shapeProblem(const Connection& c) {
    return registerFileShapeProblem(c);
}

QString FileEngine::valueProblem(const Connection& c) {
    return registerFileValueProblem(c);
}

std::unique_ptr<EngineStatement> FileEngine::prepare(const std::string& sql) {
    return std::make_unique<FileStatement>(*this, sql);
}

void FileEngine::exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        // A statement error (a wrong name, a broken constraint) is best said by SQLite's own message; a failure
        // of the file, the disk or a lock by the register's words.
        QString text = errorText(rc, true);
        if (message && (rc & 0xff) == SQLITE_ERROR) {
            text = QStringLiteral("The register '%1': %2").arg(name(), QString::fromUtf8(message));
        } else if (message && (rc & 0xff) == SQLITE_CONSTRAINT) {
            text = QString::fromUtf8(message);
        }
        sqlite3_free(message);
        throw DatabaseError(text);
    }
}

long long FileEngine::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_.get());
}

int FileEngine::changes() const {
    return sqlite3_changes(db_.get());
}

std::string FileEngine::quoteName(const QString& name) const {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return ("\"" + q + "\"").toStdString();
}

std::string FileEngine::sameValueSql(const std::string& quotedColumn, bool) const {
    return quotedColumn + " IS ? COLLATE BINARY";
}

void FileEngine::rollback() {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void FileEngine::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_.get(), milliseconds);
    busyTimeoutMs_ = milliseconds;
}

void FileEngine::setNoWaiting(bool on) {
    sqlite3_busy_timeout(db_.get(), on ? 0 : busyTimeoutMs_);
}

bool FileEngine::changedByOthers() {
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

QString FileEngine::writeRefusal(bool inTransaction) {
    if (QString damage = damageFound(); !damage.isEmpty()) {
        return damage;
    }
    const QFileInfo info(path_);
    const QString folder = info.absolutePath();
    const bool fileWritable = ::access(QFile::encodeName(path_).constData(), W_OK) == 0;
    // The folder takes the journal that every save writes beside the file.
    const bool folderWritable = ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    if (fileWritable && folderWritable) {
        // SQLite opened a file that was read-only then for reading only, and keeps it so.
        if (!inTransaction && sqlite3_db_readonly(db_.get(), "main") == 1) {
            sqlite3* raw = nullptr;
            const int rc = sqlite3_open_v2(QFile::encodeName(path_).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
            std::unique_ptr<sqlite3, Closer> db(raw);
            if (rc == SQLITE_OK && sqlite3_db_readonly(raw, "main") == 0) {
                const int wait = busyTimeoutMs_;
                adopt(std::move(db));
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

bool FileEngine::readsInOrder(const Connection& c, const std::string& select) {
    Statement plan(c, "EXPLAIN QUERY PLAN " + select);
    while (plan.step()) {
        if (plan.column(3).toString().contains(QLatin1String("TEMP B-TREE"))) {
            return false;
        }
    }
    return true;
}

void FileEngine::interrupt() {
    sqlite3_interrupt(db_.get());
}

std::string FileEngine::rowIdCondition(int count) const {
    std::string sql = "rowid IN (";
    for (int i = 0; i < count; ++i) {
        sql += i == 0 ? "?" : ",?";
    }
    return sql + ")";
}

void FileEngine::bindRowIds(EngineStatement& s, const std::vector<long long>& ids, size_t first, size_t last) const {
    for (size_t i = first; i < last; ++i) {
        s.bindInt64(static_cast<int>(i - first) + 1, ids[i]);
    }
}

QStringList FileEngine::uniqueColumns(const QString& table) {
    FileStatement s(*this, "SELECT ii.name FROM pragma_index_list(?) AS il, pragma_index_info(il.name) AS ii "
                           "WHERE il.\"unique\" = 1 AND ii.name IS NOT NULL");
    s.bindText(1, table);
    QStringList columns;
    while (s.step()) {
        columns << s.column(0).toString();
    }
    return columns;
}

std::vector<std::string> FileEngine::setIndexesAside(const char* table, const std::vector<QString>& keep) {
    std::vector<std::string> makeAgain;
    std::vector<QString> names;
    {
        // An index SQLite makes for a constraint has no statement, and stays.
        FileStatement s(*this, "SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ?1 "
                               "AND sql IS NOT NULL ORDER BY name");
        s.bindText(1, QString::fromLatin1(table));
        while (s.step()) {
            const QString name = s.column(0).toString();
            if (std::none_of(keep.cbegin(), keep.cend(),
                             [&](const QString& k) { return k.compare(name, Qt::CaseInsensitive) == 0; })) {
                names.push_back(name);
                makeAgain.push_back(s.column(1).toString().toStdString());
            }
        }
    }
    for (const QString& name : names) {
        exec("DROP INDEX " + quoteName(name));
    }
    if (!names.empty()) {
        // Making an index sorts all its rows: SQLite sorts a large one on worker threads when it may.
        const unsigned cores = std::thread::hardware_concurrency();
        exec("PRAGMA threads = " + std::to_string(std::clamp(cores, 1u, 4u)));
    }
    return makeAgain;
}

QStringList FileEngine::identifierTwins() {
    FileStatement s(*this, "SELECT group_concat(ASSETID, ', ') FROM assets GROUP BY ASSETID COLLATE NOCASE "
                           "HAVING count(*) > 1");
    QStringList twins;
    while (s.step()) {
        twins << s.column(0).toString();
    }
    return twins;
}

void FileEngine::readRows(const Connection&, const std::string& select,
                          const std::function<void(const std::vector<RowValue>&)>& use) {
    FileStatement read(*this, select);
    sqlite3_stmt* const stmt = read.handle();
    std::vector<RowValue> row(static_cast<size_t>(sqlite3_column_count(stmt)));
    std::vector<QByteArray> madeValid(row.size());
    while (read.step()) {
        for (size_t i = 0; i < row.size(); ++i) {
            RowValue& v = row[i];
            const int column = static_cast<int>(i);
            switch (sqlite3_column_type(stmt, column)) {
            case SQLITE_INTEGER:
                v.kind = RowValue::Integer;
                v.integer = sqlite3_column_int64(stmt, column);
                break;
            case SQLITE_FLOAT:
                v.kind = RowValue::Real;
                v.real = sqlite3_column_double(stmt, column);
                break;
            case SQLITE_TEXT:
                v.kind = RowValue::Text;
                v.bytes = QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                         sqlite3_column_bytes(stmt, column));
                // SQLite keeps whatever bytes were stored; a text that is not UTF-8 reads as a QString reads it.
                if (!isAsciiText(v.bytes)) {
                    madeValid[i] = QString::fromUtf8(v.bytes).toUtf8();
                    v.bytes = madeValid[i];
                }
                break;
            case SQLITE_BLOB:
                v.kind = RowValue::Blob;
                v.bytes = QByteArrayView(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                         sqlite3_column_bytes(stmt, column));
                break;
            default:
                v.kind = RowValue::Null;
            }
        }
        use(row);
    }
}

void RowWriter::addValues(const std::vector<RowValue>& row) {
    std::vector<QVariant> values;
    values.reserve(row.size());
    for (const RowValue& v : row) {
        switch (v.kind) {
        case RowValue::Integer:
            values.emplace_back(static_cast<qlonglong>(v.integer));
            break;
        case RowValue::Real:
            values.emplace_back(v.real);
            break;
        case RowValue::Text:
            values.emplace_back(QString::fromUtf8(v.bytes));
            break;
        case RowValue::Blob:
            values.emplace_back(v.bytes.toByteArray());
            break;
        case RowValue::Null:
            values.emplace_back();
        }
    }
    add(values);
}

std::unique_ptr<RowWriter> FileEngine::writeRows(Connection& c, const char* table, const std::string& columns,
                                                 bool /*newTable*/) {
    return std::make_unique<BlockInserter>(c, table, columns);
}

void FileEngine::startBackgroundCheck() {
    if (!check_) {
        check_ = std::make_unique<BackgroundCheck>(path_);
    }
}

void FileEngine::awaitOpeningChecks() {
    if (check_) {
        check_->awaitQuickPass();
    }
}

QString FileEngine::damageFound() const {
    if (!check_) {
        return QString();
    }
    const Damage damage = check_->damage();
    return damage.found() ? damageWarning(path_, damage) : QString();
}

Damage FileEngine::wholeFileDamage(const Connection& c) {
    return ::wholeFileDamage(c, true);
}

QString FileEngine::errorText(int rc, bool writing) const {
    const QString engine = fromUtf8(db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc));
    return failureText(failureOf(rc), name(), writing, engine);
}
