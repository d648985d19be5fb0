// Copying a register row by row between engines. Row ids are copied too, so the copy lists the assets in the
// same order and a server's row ids continue after the highest copied one.
#include "data/registercopy.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "data/server.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>
#include <cmath>
#include <functional>
#include <string_view>
#include <vector>

namespace {

// The history goes with the rows it tells of: its entries keep their row ids, so the chain reads the same. The
// stock-takes keep theirs too, which their scans name.
const char* const kTables[] = {"RegisterFile", "System", "Groups", "assets", "History", "StockTakes", "StockTakeScans"};

// The tables schema version 3 added, which a register of an older version opened as it is does not have.
bool addedInVersion3(std::string_view table) {
    return table == "History" || table == "StockTakes" || table == "StockTakeScans";
}

} // namespace

QString registerValueText(const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QStringLiteral("NULL");
    }
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QString::number(v.toLongLong());
    case QMetaType::Double: {
        const double d = v.toDouble();
        // A file keeps a whole amount as an integer, a server as a double: both are the same amount.
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) {
            return QString::number(static_cast<long long>(d));
        }
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    default: {
        const QString text = v.toString();
        return QStringLiteral("%1:%2").arg(text.size()).arg(text);
    }
    }
}

namespace {

// The counts and digest of rows given one after the other, each as registerRows writes it.
class RowDigest {
public:
    void add(const char* table, const std::vector<QVariant>& row) {
        QString line = QLatin1String(table);
        for (const QVariant& v : row) {
            line += QLatin1Char('|') + registerValueText(v);
        }
        hash_.addData(line.toUtf8());
        hash_.addData(QByteArrayView("\n"));
        const std::string_view name(table);
        s_.assets += name == "assets";
        s_.groups += name == "Groups";
        s_.settings += name == "System";
        s_.history += name == "History";
        s_.stockTakes += name == "StockTakes";
        s_.scans += name == "StockTakeScans";
    }
    RegisterSummary summary() {
        s_.digest = hash_.result().toHex();
        return s_;
    }

private:
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    RegisterSummary s_;
};

std::string readAll(const Connection& c, const char* table) {
    return "SELECT rowid, " + registerColumnList(table) + " FROM " + c.quoteName(QLatin1String(table)) +
           " ORDER BY rowid";
}

// Begins a read of one consistent state of c; commit() ends it.
void beginSnapshot(Connection& c) {
    c.engine().beginConsistentRead();
}

// The rows of table, as read, to a table made in this transaction; digested as they go.
void copyTable(const Connection& from, Connection& to, const char* table, RowDigest& digest) {
    to.exec("DELETE FROM " + to.quoteName(QLatin1String(table)));
    const std::string columns = "rowid, " + registerColumnList(table);
    Statement read(from, readAll(from, table));
    const auto writer = to.engine().writeRows(to, table, columns, true);
    std::vector<QVariant> row(static_cast<size_t>(read.columnCount()));
    while (read.step()) {
        for (size_t i = 0; i < row.size(); ++i) {
            row[i] = read.column(static_cast<int>(i));
            // A server takes texts as C strings: a NUL would cut the text short, and the copy would differ.
            if (row[i].typeId() == QMetaType::QString && row[i].toString().contains(QChar(0))) {
                const QString column = registerName(read.columnName(static_cast<int>(i)));
                throw DatabaseError(
                    std::string_view(table) == "assets"
                        ? QStringLiteral("The asset '%1' holds the character NUL in its %2, which a register cannot "
                                         "carry; remove it there first. Nothing was copied.")
                              .arg(read.column(1).toString(), column)
                        : QStringLiteral("A row of %1 holds the character NUL in its %2, which a register cannot "
                                         "carry; remove it there first. Nothing was copied.")
                              .arg(QLatin1String(table), column));
            }
        }
        writer->add(row);
        digest.add(table, row);
    }
    writer->finish();
    to.engine().settleCopiedTable(table);
}

RegisterSummary fillFrom(const Connection& from, Connection& to) {
    RowDigest digest;
    for (const char* table : kTables) {
        copyTable(from, to, table, digest);
    }
    return digest.summary();
}

// Each row of c's tables, in registerRows' order, as its values.
void forEachRow(const Connection& c, const std::function<void(const char*, const std::vector<QVariant>&)>& use) {
    for (const char* table : kTables) {
        if (addedInVersion3(table) && !c.keepsHistory()) {
            continue; // a register of an older version, opened as it is
        }
        Statement read(c, readAll(c, table));
        std::vector<QVariant> row(static_cast<size_t>(read.columnCount()));
        while (read.step()) {
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = read.column(static_cast<int>(i));
            }
            use(table, row);
        }
    }
}

QString locationName(const QString& location) {
    return isServerUri(location) ? QUrl(location).adjusted(QUrl::RemovePassword).toString() : location;
}

} // namespace

QStringList registerRows(const Connection& c) {
    QStringList lines;
    forEachRow(c, [&](const char* table, const std::vector<QVariant>& row) {
        QString line = QLatin1String(table);
        for (const QVariant& v : row) {
            line += QLatin1Char('|') + registerValueText(v);
        }
        lines << line;
    });
    return lines;
}

RegisterSummary summariseRegister(const Connection& c) {
    // Row by row: a register of a million assets and their history is never held whole.
    RowDigest digest;
    forEachRow(c, [&](const char* table, const std::vector<QVariant>& row) { digest.add(table, row); });
    return digest.summary();
}

RegisterSummary copyRegister(const QString& from, const QString& to) {
    Connection source;
    source.openFile(from, QString::fromLatin1(kDefaultFilePassword));
    beginSnapshot(source);
    RegisterSummary before;
    const auto check = [&](const Connection& copy) {
        const RegisterSummary after = summariseRegister(copy);
        if (after != before) {
            throw DatabaseError(QStringLiteral("The copy at %1 does not hold what %2 holds (%3 against %4 assets); "
                                               "nothing was kept.")
                                    .arg(locationName(to), locationName(from))
                                    .arg(after.assets)
                                    .arg(before.assets));
        }
    };
    // Checked inside the copy's own transaction, so a copy that differs is never kept.
    // The source's digest is taken from the rows as they are copied, all read in one consistent state.
    createRegisterWith(to, [&](Connection& c) {
        before = fillFrom(source, c);
        check(c);
    });
    if (isServerUri(to) || to.endsWith(QLatin1String(".server"))) {
        settleServerRegister(isServerUri(to) ? to : readServerFile(to), RowsWritten::Frozen);
    }
    source.exec("COMMIT");
    return before;
}
