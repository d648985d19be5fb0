// The connection to a register and the statements run on it: the engine is chosen once, when the register
// is opened, and every call goes to it. Transactions nest here, the same for either engine.
#include "data/connection.h"

#include "data/engine.h"
#include "data/errors.h"
#include "data/fileengine.h"
#include "data/history.h"
#include "data/onfailure.h"
#include "data/registerfile.h"
#include "data/server.h"
#include "data/serverengine.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <iterator>
#include <utility>

namespace {

Connection::PasswordPrompt& passwordPrompt() {
    static Connection::PasswordPrompt prompt;
    return prompt;
}

} // namespace

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

Connection::Connection() = default;
Connection::~Connection() = default;

sqlite3* Connection::handle() const {
    return engine_->fileHandle();
}

SqlDialect Connection::dialect() const {
    return engine_->dialect();
}

bool Connection::isServer() const {
    return engine_ && engine_->dialect() == SqlDialect::PostgreSQL;
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

void Connection::openFile(const QString& path, const QString& filePassword, bool upgrade, WholeFileChecks whole) {
    close();
    if (isServerUri(path) || path.endsWith(QLatin1String(".server"))) {
        engine_ = ServerEngine::connect(isServerUri(path) ? path : readServerFile(path), passwordPrompt());
    } else {
        checkFileBeforeOpening(path);
        engine_ = FileEngine::open(path);
    }
    path_ = path;
    const OnFailure closeIt([this] { close(); });
    engine_->checkRegister(*this, filePassword, upgrade, whole == WholeFileChecks::AtOpening);
}

void Connection::openForExamining(const QString& path) {
    close();
    engine_ = FileEngine::openReadOnly(path);
    path_ = path;
}

void Connection::connectServer(const QString& uri) {
    close();
    engine_ = ServerEngine::connect(uri);
    path_ = uri;
}

void Connection::createFile(const QString& path) {
    close();
    engine_ = FileEngine::create(path);
    path_ = path;
}

void Connection::close() {
    engine_.reset();
    path_.clear();
    keepsHistory_.reset();
}

QStringList Connection::integrityProblems(const QString& path, int limit) {
    QStringList problems;
    try {
        Connection c;
        c.openForExamining(path);
        Statement check(c, "PRAGMA integrity_check(" + std::to_string(limit) + ")");
        while (check.step()) {
            if (const QString line = check.column(0).toString(); line != QLatin1String("ok")) {
                problems << line;
            }
        }
    } catch (const DatabaseError& e) {
        problems << e.text();
    }
    return problems;
}

int Connection::schemaVersion() const {
    return engine_->schemaVersion(*this);
}

std::string Connection::quoteName(const QString& name) const {
    return engine_->quoteName(name);
}

std::string Connection::sameValueSql(const std::string& quotedColumn, bool text) const {
    return engine_->sameValueSql(quotedColumn, text);
}

void Connection::interrupt() {
    if (engine_) {
        engine_->interrupt();
    }
}

void Connection::startBackgroundCheck() {
    engine_->startBackgroundCheck();
}

void Connection::awaitOpeningChecks() {
    engine_->awaitOpeningChecks();
}

QString Connection::damageFound() const {
    return engine_ ? engine_->damageFound() : QString();
}

BackgroundCheck& Connection::backgroundCheck() {
    return *engine_->backgroundCheck();
}

bool Connection::changedByOthers() {
    return engine_->changedByOthers();
}

QString Connection::writeRefusal() {
    return engine_->writeRefusal(depth_ > 0);
}

void Connection::setBusyTimeout(int milliseconds) {
    engine_->setBusyTimeout(milliseconds);
}

Connection::NoWaiting::NoWaiting(Connection& c) : c_(c) {
    if (c_.engine_) {
        c_.engine_->setNoWaiting(true);
    }
}

Connection::NoWaiting::~NoWaiting() {
    if (c_.engine_) {
        try {
            c_.engine_->setNoWaiting(false);
        } catch (const DatabaseError&) {
            // A server connection was lost; the next statement makes it again, with the session's own settings.
        }
    }
}

long long Connection::lastInsertRowid() const {
    return engine_->lastInsertRowid();
}

int Connection::changes() const {
    return engine_->changes();
}

void Connection::exec(const std::string& sql) {
    engine_->exec(sql);
}

Connection::Transaction::Transaction(Connection& c) : c_(c) {
    if (c_.depth_ == 0) {
        c_.finishPendingReads();
        c_.engine_->begin();
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
    c_.history_.clear();
    c_.indexesAside_.clear();
    if (!done_) {
        c_.engine_->rollback();
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
                                    .arg(c_.engine_->name()));
        }
        // The entries go in with the change they tell of, or neither does; the indexes set aside are made
        // again over both.
        const bool rebuilding = !c_.indexesAside_.empty();
        bool committed = false;
        if (!c_.history_.empty()) {
            c_.engine_->appendHistory(c_, c_.history_, !rebuilding);
            c_.history_.clear();
            committed = !rebuilding;
        }
        for (const std::string& sql : std::exchange(c_.indexesAside_, {})) {
            c_.exec(sql);
        }
        if (!committed) {
            c_.exec("COMMIT");
        }
    }
    done_ = true;
}

void Connection::holdWriteLock() {
    engine_->holdWriteLock();
}

void Connection::setIndexesAside(const char* table, const std::vector<QString>& keep) {
    std::vector<std::string> makeAgain = engine_->setIndexesAside(table, keep);
    indexesAside_.insert(indexesAside_.end(), std::make_move_iterator(makeAgain.begin()),
                         std::make_move_iterator(makeAgain.end()));
}

void Connection::onRollback(std::function<void()> undo) {
    undo_.push_back(std::move(undo));
}

void Connection::recordHistory(HistoryRecord record) {
    if (depth_ == 0) {
        // Saved already, outside any transaction: an entry now could not be part of it.
        throw DatabaseError(
            QStringLiteral("A change to the register '%1' was saved without its history entry.").arg(engine_->name()));
    }
    if (!keepsHistory()) {
        return;
    }
    history_.push_back(std::move(record));
    // A change of many rows (an import) writes its entries as it goes rather than holding them all.
    constexpr size_t kHeldEntries = 1000;
    if (history_.size() >= kHeldEntries) {
        appendHistory(*this, history_);
        history_.clear();
    }
}

bool Connection::keepsHistory() const {
    if (!keepsHistory_) {
        keepsHistory_ = schemaVersion() >= 3;
    }
    return *keepsHistory_;
}

namespace {

const Engine& openEngine(const Connection& c) {
    if (!c.isOpen()) {
        throw DatabaseError(QStringLiteral("The register is not open."));
    }
    return c.engine();
}

} // namespace

Statement::Statement(const Connection& c, const std::string& sql)
    : engine_(openEngine(c)), impl_(c.engine().prepare(sql)) {}

Statement::~Statement() = default;

bool Statement::step() {
    return impl_->step();
}

bool Statement::seek(int row) {
    return impl_->seek(row);
}

void Statement::reset() {
    impl_->reset();
}

bool Statement::readOnly() const {
    return impl_->readOnly();
}

void Statement::bind(int index, const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        impl_->bindNull(index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        impl_->bindBlob(index, value.toByteArray());
        break;
    case QMetaType::Bool:
        impl_->bindInt64(index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        impl_->bindInt64(index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        impl_->bindDouble(index, value.toDouble());
        break;
    case QMetaType::QDate:
        impl_->bindText(index, value.toDate().toString(Qt::ISODate));
        break;
    default:
        impl_->bindText(index, value.toString());
        break;
    }
}

void Statement::bindInt64(int index, long long value) {
    impl_->bindInt64(index, value);
}

void Statement::bindText(int index, const QString& value) {
    impl_->bindText(index, value);
}

void Statement::bindTextUtf8(int index, QByteArrayView utf8) {
    impl_->bindTextUtf8(index, utf8);
}

void Statement::bindRowIds(const std::vector<long long>& ids, size_t first, size_t last) {
    engine_.bindRowIds(*impl_, ids, first, last);
}

int Statement::columnCount() const {
    return impl_->columnCount();
}

QString Statement::columnName(int i) const {
    return impl_->columnName(i);
}

QString Statement::columnDeclType(int i) const {
    return impl_->columnDeclType(i);
}

QString Statement::columnOriginName(int i) const {
    return impl_->columnOriginName(i);
}

QVariant Statement::column(int i) const {
    return impl_->column(i);
}

std::optional<QString> Statement::columnText(int i) const {
    const std::optional<QByteArrayView> bytes = impl_->columnText(i);
    if (!bytes) {
        return std::nullopt;
    }
    return bytes->isNull() ? QString() : QString::fromUtf8(*bytes);
}

std::optional<QByteArrayView> Statement::columnTextUtf8(int i) const {
    return impl_->columnText(i);
}

QByteArrayView Statement::columnUtf8(int i) const {
    return impl_->columnUtf8(i);
}

long long Statement::columnInt64(int i) const {
    return impl_->columnInt64(i);
}

bool Statement::columnIsNull(int i) const {
    return impl_->columnIsNull(i);
}

void Connection::addPendingRead(const void* owner, std::function<void()> finish) {
    removePendingRead(owner);
    pendingReads_.emplace_back(owner, std::move(finish));
}

void Connection::removePendingRead(const void* owner) {
    std::erase_if(pendingReads_, [owner](const auto& read) { return read.first == owner; });
}

void Connection::finishPendingReads() {
    // Each finish removes its own entry.
    while (!pendingReads_.empty()) {
        const auto finish = pendingReads_.back().second;
        removePendingRead(pendingReads_.back().first);
        finish();
    }
}
