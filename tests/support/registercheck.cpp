// Reading a register whole, for comparing it before and after a change that failed.
#include "tests/support/registercheck.h"

#include "data/connection.h"
#include "data/registercopy.h"
#include "data/schema.h"

#include <QFile>
#include <QStringList>
#include <memory>
#include <sqlite3.h>

namespace {

void addRows(const Connection& c, const QString& table, const QString& keyColumn, RegisterContents& out) {
    const QString key = keyColumn.isEmpty() ? QStringLiteral("''") : keyColumn;
    Statement s(c, QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY rowid")
                       .arg(key, QString::fromStdString(registerColumnList(table.toStdString())), table)
                       .toStdString());
    while (s.step()) {
        const QString base =
            table + (keyColumn.isEmpty() ? QString() : QLatin1Char('/') + s.column(0).toString().toUpper());
        int n = 1;
        while (out.contains(base + QLatin1Char('#') + QString::number(n))) {
            ++n;
        }
        QStringList values;
        for (int i = 1; i < s.columnCount(); ++i) {
            values << registerValueText(s.column(i));
        }
        out.insert(base + QLatin1Char('#') + QString::number(n), values.join(QLatin1Char('|')));
    }
    s.reset();
}

} // namespace

QString integrityCheck(const Connection& c) {
    if (c.isServer()) {
        // The server keeps its own pages; what can be checked from here is that every row reads.
        registerRows(c);
        return QStringLiteral("ok");
    }
    QStringList lines;
    Statement s(c, "PRAGMA integrity_check");
    while (s.step()) {
        lines << s.column(0).toString();
    }
    s.reset();
    return lines.join(QLatin1Char('\n'));
}

RegisterContents registerContents(const Connection& c) {
    RegisterContents out;
    addRows(c, QStringLiteral("assets"), QStringLiteral("ASSETID"), out);
    addRows(c, QStringLiteral("System"), QString(), out);
    addRows(c, QStringLiteral("Groups"), QStringLiteral("GroupNumber"), out);
    return out;
}

QString contentDifferences(const RegisterContents& a, const RegisterContents& b, int limit) {
    QStringList keys = a.keys() + b.keys();
    keys.removeDuplicates();
    keys.sort();
    QStringList out;
    int shown = 0;
    int total = 0;
    for (const QString& k : keys) {
        const QString x = a.value(k, QStringLiteral("(none)"));
        const QString y = b.value(k, QStringLiteral("(none)"));
        if (x == y) {
            continue;
        }
        ++total;
        if (shown++ < limit) {
            out << QStringLiteral("%1: %2 / %3").arg(k, x, y);
        }
    }
    if (total > limit) {
        out << QStringLiteral("... %1 rows differ in all").arg(total);
    }
    return out.join(QLatin1Char('\n'));
}

QString recoverWithPlainSqlite(const QString& path) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db(raw, sqlite3_close_v2);
    if (rc != SQLITE_OK) {
        return QStringLiteral("cannot open: ") + QString::fromUtf8(sqlite3_errmsg(raw));
    }
    QStringList lines;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK) {
        return QStringLiteral("cannot check: ") + QString::fromUtf8(sqlite3_errmsg(raw));
    }
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> owned(stmt, sqlite3_finalize);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        lines << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    }
    if (step != SQLITE_DONE) {
        lines << QStringLiteral("check failed: ") + QString::fromUtf8(sqlite3_errmsg(raw));
    }
    return lines.join(QLatin1Char('\n'));
}
