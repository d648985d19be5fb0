// The checks of a register file that tell, before anything in it is relied on, whether it is a whole
// register of ours: what stands at its name, its header and length, the shape of its tables, its stored
// values, its file password. The checks that read every page are in registercheck.
#include "data/registerfile.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/schema.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sqlite3.h>
#include <vector>

namespace {

constexpr int kBusyTimeoutMs = 5000;

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
    const QString truncated =
        QStringLiteral("The register file '%1' is truncated or damaged. %2").arg(path, kRestoreDamaged);
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

} // namespace

void checkFileBeforeOpening(const QString& path) {
    checkFileKind(path);
    rollBackHotJournal(path);
    checkRegisterFile(path);
}

void checkRegisterFileContents(const Connection& c, const QString& path, bool wholeFile) {
    const auto damaged = [&path](const QString& what) {
        return DatabaseError(
            QStringLiteral("The register file '%1' is damaged: %2. %3").arg(path, what, kRestoreDamaged));
    };
    // A flipped bit in an index or a page pointer shows as a silently different list, or ends the program
    // later in the middle of a read; quick_check finds both in one pass over the file.
    if (wholeFile) {
        Statement check(c, "PRAGMA quick_check(1)");
        if (!check.step() || check.column(0).toString() != QLatin1String("ok")) {
            throw damaged(QStringLiteral("its pages do not fit together"));
        }
    }
    QString problem = registerFileShapeProblem(c);
    if (problem.isEmpty() && wholeFile) {
        problem = registerFileValueProblem(c);
    }
    if (!problem.isEmpty()) {
        throw damaged(problem);
    }
}

void checkRegisterPassword(const Connection& c, const QString& filePassword, const QString& what) {
    Statement lock(c, "SELECT Salt, PasswordHash FROM RegisterFile");
    if (!lock.step()) {
        throw DatabaseError(QStringLiteral("The %1 is not a Vantrel register.").arg(what));
    }
    if (hashFilePassword(filePassword, lock.column(0).toString()) != lock.column(1).toString()) {
        throw DatabaseError(QStringLiteral("The %1 is protected by another file password.").arg(what));
    }
    lock.reset();
}

QString registerFileShapeProblem(const Connection& c) {
    const int version = c.schemaVersion();
    for (const RegisterTable& t : registerTables()) {
        if (t.since > version) {
            continue;
        }
        Statement kind(c, "SELECT type FROM sqlite_master WHERE name = ? COLLATE NOCASE AND type IN ('table', "
                          "'view')");
        kind.bindText(1, QString::fromLatin1(t.name));
        if (!kind.step()) {
            return QStringLiteral("it has no table '%1'").arg(QLatin1String(t.name));
        }
        if (kind.column(0).toString() != QLatin1String("table")) {
            return QStringLiteral("'%1' is a view, not a table").arg(QLatin1String(t.name));
        }
        kind.reset();
        Statement info(c, std::string("SELECT name, type FROM pragma_table_info('") + t.name + "')");
        std::vector<std::pair<QString, QString>> present;
        while (info.step()) {
            present.emplace_back(info.column(0).toString(), info.column(1).toString());
        }
        for (const RegisterColumn& col : t.columns) {
            const auto it = std::find_if(present.begin(), present.end(), [&](const auto& p) {
                return p.first.compare(QLatin1String(col.name), Qt::CaseInsensitive) == 0;
            });
            if (it == present.end()) {
                return QStringLiteral("table '%1' has no column '%2'")
                    .arg(QLatin1String(t.name), QLatin1String(col.name));
            }
            if (it->second.compare(QLatin1String(col.type), Qt::CaseInsensitive) != 0) {
                return QStringLiteral("column '%1' of table '%2' is declared %3, not %4")
                    .arg(QLatin1String(col.name), QLatin1String(t.name), it->second, QLatin1String(col.type));
            }
        }
    }
    return QString();
}

QString registerFileValueProblem(const Connection& c) {
    // Amounts must be numbers and yes/no values integers: anything else would be shown as a zero or a "False"
    // that the register does not hold. (A date that is not a date is shown as the text it is.) One pass over
    // the table, reading the five columns; the column at fault is looked up only when a row is found.
    static const char* const kCheck =
        "SELECT ASSETID, typeof(TotalCost) IN ('text', 'blob'), typeof(WrittenDownValue) IN ('text', 'blob'), "
        "typeof(isElectrical) <> 'integer', typeof(itemBorrowed) <> 'integer' FROM assets "
        "WHERE typeof(TotalCost) IN ('text', 'blob') OR typeof(WrittenDownValue) IN ('text', 'blob') "
        "OR typeof(isElectrical) <> 'integer' OR typeof(itemBorrowed) <> 'integer' OR typeof(WrittenOff) <> 'integer' "
        "LIMIT 1";
    Statement s(c, kCheck);
    if (s.step()) {
        const char* column = s.columnInt64(1)   ? "TotalCost"
                             : s.columnInt64(2) ? "WrittenDownValue"
                             : s.columnInt64(3) ? "isElectrical"
                             : s.columnInt64(4) ? "itemBorrowed"
                                                : "WrittenOff";
        return QStringLiteral("the asset '%1' holds a value of the wrong kind in '%2'")
            .arg(s.column(0).toString(), QLatin1String(column));
    }
    Statement flag(c, "SELECT 1 FROM System WHERE typeof(PromptPasswordToStart) <> 'integer' LIMIT 1");
    if (flag.step()) {
        return QStringLiteral("the settings hold a value of the wrong kind in 'PromptPasswordToStart'");
    }
    return QString();
}

QString registerShapeProblem(const Connection& c) {
    return c.engine().shapeProblem(c);
}

QString registerValueProblem(const Connection& c) {
    return c.engine().valueProblem(c);
}
