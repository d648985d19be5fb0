// Copying a register row by row between engines. Row ids are copied too, so the copy lists the assets in the
// same order and a server's row ids continue after the highest copied one.
#include "data/registercopy.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "data/server.h"

#include <QFileInfo>
#include <QLocale>
#include <QUrl>
#include <cmath>
#include <functional>
#include <memory>
#include <openssl/evp.h>
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

// A value as registerValueText writes it, in UTF-8, appended to line.
void appendValueText(QByteArray& line, const RowValue& v) {
    switch (v.kind) {
    case RowValue::Null:
        line += "NULL";
        return;
    case RowValue::Integer:
        line += QByteArray::number(v.integer);
        return;
    case RowValue::Real:
        // A file keeps a whole amount as an integer, a server as a double: both are the same amount.
        if (std::isfinite(v.real) && v.real == std::trunc(v.real) && std::fabs(v.real) < 9.0e15) {
            line += QByteArray::number(static_cast<long long>(v.real));
        } else {
            line += QByteArray::number(v.real, 'g', QLocale::FloatingPointShortest);
        }
        return;
    case RowValue::Text:
    case RowValue::Blob:
        break;
    }
    QByteArray madeValid;
    QByteArrayView text = v.bytes;
    qsizetype length = text.size(); // in UTF-16 code units, as a QString counts
    if (!isAsciiText(text)) {
        if (v.kind == RowValue::Blob) {
            const QString s = QString::fromUtf8(text);
            madeValid = s.toUtf8();
            text = madeValid;
        }
        // Valid UTF-8: one unit per character, two for one beyond the basic plane (a four-byte sequence).
        length = 0;
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            length += (byte & 0xC0) != 0x80;
            length += byte >= 0xF0;
        }
    }
    line += QByteArray::number(length);
    line += ':';
    line += text;
}

// A row as registerRows writes it.
void appendRowText(QByteArray& line, const char* table, const std::vector<RowValue>& row) {
    line = table;
    for (const RowValue& v : row) {
        line += '|';
        appendValueText(line, v);
    }
}

// The counts and digest of rows given one after the other, each as registerRows writes it.
class RowDigest {
public:
    RowDigest() {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
            throw DatabaseError(QStringLiteral("The digest of the register's rows could not be begun."));
        }
    }
    void add(const char* table, const std::vector<RowValue>& row) {
        appendRowText(line_, table, row);
        line_ += '\n';
        EVP_DigestUpdate(context_.get(), line_.constData(), static_cast<size_t>(line_.size()));
        const std::string_view name(table);
        s_.assets += name == "assets";
        s_.groups += name == "Groups";
        s_.settings += name == "System";
        s_.history += name == "History";
        s_.stockTakes += name == "StockTakes";
        s_.scans += name == "StockTakeScans";
    }
    RegisterSummary summary() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(context_.get(), digest, &size) != 1) {
            throw DatabaseError(QStringLiteral("The digest of the register's rows could not be made."));
        }
        s_.digest = QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size)).toHex();
        return s_;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context_{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    QByteArray line_;
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
    const auto writer = to.engine().writeRows(to, table, columns, true);
    from.engine().readRows(from, readAll(from, table), [&](const std::vector<RowValue>& row) {
        for (size_t i = 0; i < row.size(); ++i) {
            // A server takes texts as C strings: a NUL would cut the text short, and the copy would differ.
            if ((row[i].kind == RowValue::Text || row[i].kind == RowValue::Blob) && row[i].bytes.contains('\0')) {
                const QString column = registerName(
                    QString::fromStdString(columns).split(QStringLiteral(", ")).value(static_cast<qsizetype>(i)));
                throw DatabaseError(
                    std::string_view(table) == "assets"
                        ? QStringLiteral("The asset '%1' holds the character NUL in its %2, which a register cannot "
                                         "carry; remove it there first. Nothing was copied.")
                              .arg(row[1].kind == RowValue::Text ? QString::fromUtf8(row[1].bytes) : QString(), column)
                        : QStringLiteral("A row of %1 holds the character NUL in its %2, which a register cannot "
                                         "carry; remove it there first. Nothing was copied.")
                              .arg(QLatin1String(table), column));
            }
        }
        writer->addValues(row);
        digest.add(table, row);
    });
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
void forEachRow(const Connection& c, const std::function<void(const char*, const std::vector<RowValue>&)>& use) {
    for (const char* table : kTables) {
        if (addedInVersion3(table) && !c.keepsHistory()) {
            continue; // a register of an older version, opened as it is
        }
        c.engine().readRows(c, readAll(c, table), [&](const std::vector<RowValue>& row) { use(table, row); });
    }
}

QString locationName(const QString& location) {
    return isServerUri(location) ? QUrl(location).adjusted(QUrl::RemovePassword).toString() : location;
}

} // namespace

QStringList registerRows(const Connection& c) {
    QStringList lines;
    QByteArray line;
    forEachRow(c, [&](const char* table, const std::vector<RowValue>& row) {
        appendRowText(line, table, row);
        lines << QString::fromUtf8(line);
    });
    return lines;
}

RegisterSummary summariseRegister(const Connection& c) {
    // Row by row: a register of a million assets and their history is never held whole.
    RowDigest digest;
    forEachRow(c, [&](const char* table, const std::vector<RowValue>& row) { digest.add(table, row); });
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
    createRegisterWith(
        to, [&](Connection& c) { before = fillFrom(source, c); }, check);
    if (isServerUri(to) || to.endsWith(QLatin1String(".server"))) {
        settleServerRegister(isServerUri(to) ? to : readServerFile(to), RowsWritten::Frozen);
    }
    source.exec("COMMIT");
    return before;
}
