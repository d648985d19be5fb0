// The history's entries: their text forms, the chain that links them, writing them at a transaction's commit,
// reading them, and the check that replays them against what the register holds.
#include "data/history.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/onfailure.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <QCryptographicHash>
#include <QDate>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

namespace {

const QString kAssets = QStringLiteral("assets");
const QString kSystem = QStringLiteral("System");
const QString kGroups = QStringLiteral("Groups");
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");
// What an entry holds for the access password instead of its value: only that it changed.
const QString kNotShown = QStringLiteral("(not shown)");

constexpr int kEntriesPerInsert = 100;
constexpr int kRowsPerRead = 10000;

bool same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The register's spelling of a table name ("ASSETS" -> "assets").
QString tableName(const QString& table) {
    return registerName(table);
}

bool hiddenColumn(const QString& table, const QString& column) {
    return same(table, kSystem) && same(column, QStringLiteral("DataBasePassword"));
}

// The columns of a register table, in table order.
QStringList columnsOf(const QString& table) {
    return QString::fromStdString(registerColumnList(table.toStdString())).split(QStringLiteral(", "));
}

// A string as one field of the encoded list: in double quotes, with quotes, backslashes and control characters
// escaped as JSON escapes them.
void appendQuoted(QString& out, const QString& text) {
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20) {
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            } else {
                out += c;
            }
        }
    }
    out += QLatin1Char('"');
}

// Reads the encoded list written by encodeHistoryChanges: [["column","before","after"],...].
class ChangesReader {
public:
    explicit ChangesReader(const QString& text) : s_(text) {}

    std::vector<HistoryChange> read() {
        std::vector<HistoryChange> changes;
        expect(u'[');
        if (peek() == u']') {
            ++at_;
        } else {
            for (;;) {
                expect(u'[');
                HistoryChange c;
                c.column = quoted();
                expect(u',');
                c.before = quoted();
                expect(u',');
                c.after = quoted();
                expect(u']');
                changes.push_back(std::move(c));
                if (peek() == u',') {
                    ++at_;
                    continue;
                }
                expect(u']');
                break;
            }
        }
        if (at_ != s_.size()) {
            fail();
        }
        return changes;
    }

private:
    [[noreturn]] void fail() const {
        throw DatabaseError(QStringLiteral("its list of changed columns cannot be read at character %1").arg(at_ + 1));
    }
    char16_t peek() const { return at_ < s_.size() ? s_[at_].unicode() : 0; }
    void expect(char16_t c) {
        if (peek() != c) {
            fail();
        }
        ++at_;
    }
    QString quoted() {
        expect(u'"');
        QString out;
        for (;;) {
            if (at_ >= s_.size()) {
                fail();
            }
            const char16_t c = s_[at_++].unicode();
            if (c == u'"') {
                return out;
            }
            if (c != u'\\') {
                out += QChar(c);
                continue;
            }
            switch (peek()) {
            case u'"':
            case u'\\':
                out += QChar(peek());
                ++at_;
                break;
            case u'n':
                out += QLatin1Char('\n');
                ++at_;
                break;
            case u't':
                out += QLatin1Char('\t');
                ++at_;
                break;
            case u'u': {
                bool ok = false;
                const uint code = s_.mid(at_ + 1, 4).toUInt(&ok, 16);
                if (!ok || at_ + 5 > s_.size()) {
                    fail();
                }
                out += QChar(static_cast<char16_t>(code));
                at_ += 5;
                break;
            }
            default:
                fail();
            }
        }
    }

    const QString& s_;
    qsizetype at_ = 0;
};

void appendField(QByteArray& input, const QString& field) {
    const QByteArray utf8 = field.toUtf8();
    input += QByteArray::number(utf8.size());
    input += ':';
    input += utf8;
}

const char* const kEntryColumns = "rowid, ChangedAt, ChangedBy, TableName, Subject, Action, Changes, Hash";

HistoryEntry entryFrom(const Statement& s) {
    HistoryEntry e;
    e.number = s.columnInt64(0);
    e.when = s.column(1).toString();
    e.who = s.column(2).toString();
    e.table = s.column(3).toString();
    e.subject = s.column(4).toString();
    e.action = s.column(5).toString();
    e.changes = s.column(6).toString();
    e.hash = s.column(7).toString();
    return e;
}

// Calls row for every row of table with its row id and its columns (in table order), a few thousand rows to a
// statement, in row id order: a server hands over each statement's rows at once.
void forEachRow(const Connection& c, const QString& table, const std::function<void(const Statement&)>& row) {
    Statement s(c, "SELECT rowid, " + registerColumnList(table.toStdString()) + " FROM " + c.quoteName(table) +
                       " WHERE rowid > ? ORDER BY rowid LIMIT " + std::to_string(kRowsPerRead));
    long long after = -1;
    for (;;) {
        s.bindInt64(1, after);
        int read = 0;
        while (s.step()) {
            row(s);
            after = s.columnInt64(0);
            ++read;
        }
        s.reset();
        if (read < kRowsPerRead) {
            return;
        }
    }
}

// The record of a row's state: every column that is not blank, as a change from blank.
HistoryRecord recordOfRow(const QString& table, const QStringList& columns, const Statement& s, const QString& action) {
    HistoryRecord r{table, QString(), action, {}};
    const QString key = historyKeyColumn(table);
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant value = s.column(i + 1);
        if (!key.isEmpty() && same(columns[i], key)) {
            r.subject = historySubject(table, historyValueText(table, columns[i], value));
        }
        HistoryChange change;
        if (historyChange(table, columns[i], QVariant(), value, &change)) {
            r.changes.push_back(std::move(change));
        }
    }
    if (key.isEmpty()) {
        r.subject = historySubject(table, QString());
    }
    return r;
}

} // namespace

bool tableKeepsHistory(const QString& table) {
    return same(table, kAssets) || same(table, kSystem) || same(table, kGroups);
}

QString historyKeyColumn(const QString& table) {
    if (same(table, kAssets)) {
        return QStringLiteral("ASSETID");
    }
    if (same(table, kGroups)) {
        return QStringLiteral("GroupNumber");
    }
    return QString();
}

QString historySubject(const QString& table, const QString& key) {
    if (same(table, kSystem)) {
        return QStringLiteral("settings");
    }
    if (same(table, kGroups)) {
        return QStringLiteral("group ") + key;
    }
    return key;
}

QString historyBlankText(const QString& table, const QString& column) {
    return registerColumnType(table, column) == QLatin1String("BOOLEAN") ? kFalse : QString();
}

QString historyValueText(const QString& table, const QString& column, const QVariant& stored) {
    if (!stored.isValid() || stored.isNull()) {
        return historyBlankText(table, column);
    }
    const int kind = stored.typeId();
    const bool number = kind == QMetaType::LongLong || kind == QMetaType::Int || kind == QMetaType::Double ||
                        kind == QMetaType::Bool || kind == QMetaType::ULongLong || kind == QMetaType::UInt;
    const QString type = registerColumnType(table, column);
    if (type == QLatin1String("BOOLEAN") && number) {
        return stored.toDouble() != 0 ? kTrue : kFalse;
    }
    if (kind == QMetaType::Double || (type == QLatin1String("MONEY") && number)) {
        // A file keeps a whole amount as an integer and -0 as 0, a server as the double it was given.
        const double amount = stored.toDouble();
        return plainNumberText(amount == 0 ? 0.0 : amount);
    }
    if (kind == QMetaType::QDate) {
        return dateToStored(stored.toDate());
    }
    if (kind == QMetaType::QByteArray) {
        return QString::fromUtf8(stored.toByteArray());
    }
    return stored.toString();
}

bool historyChange(const QString& table, const QString& column, const QVariant& before, const QVariant& after,
                   HistoryChange* change) {
    QString from = historyValueText(table, column, before);
    QString to = historyValueText(table, column, after);
    if (from == to) {
        return false;
    }
    if (hiddenColumn(table, column)) {
        from = from.isEmpty() ? from : kNotShown;
        to = to.isEmpty() ? to : kNotShown;
    }
    *change = HistoryChange{registerName(column), from, to};
    return true;
}

QString historyEditAction(const QString& table, const std::vector<HistoryChange>& changes,
                          const std::function<QString(const QString& column)>& afterText) {
    if (!same(table, kAssets)) {
        return HistoryAction::Edited;
    }
    const auto changed = [&](const char* column) -> const HistoryChange* {
        for (const HistoryChange& c : changes) {
            if (same(c.column, QLatin1String(column))) {
                return &c;
            }
        }
        return nullptr;
    };
    // Only the write-off window changes these columns: a write-off sets the flag, a second one (on an asset
    // written off already) its date, person, reason or value.
    if (const HistoryChange* flag = changed("WrittenOff"); flag && flag->after == kTrue) {
        return HistoryAction::WrittenOff;
    }
    if (!changed("WrittenOff") && afterText(QStringLiteral("WrittenOff")) == kTrue &&
        (changed("WrittenOffDate") || changed("WrittenOffBy") || changed("WrittenOffReason") ||
         changed("WrittenDownValue"))) {
        return HistoryAction::WrittenOffAgain;
    }
    if (const HistoryChange* loan = changed("itemBorrowed")) {
        return loan->after == kTrue ? HistoryAction::Lent : HistoryAction::Returned;
    }
    return HistoryAction::Edited;
}

QString encodeHistoryChanges(const std::vector<HistoryChange>& changes) {
    QString out = QStringLiteral("[");
    for (size_t i = 0; i < changes.size(); ++i) {
        out += i ? QStringLiteral(",[") : QStringLiteral("[");
        appendQuoted(out, changes[i].column);
        out += QLatin1Char(',');
        appendQuoted(out, changes[i].before);
        out += QLatin1Char(',');
        appendQuoted(out, changes[i].after);
        out += QLatin1Char(']');
    }
    return out + QLatin1Char(']');
}

std::vector<HistoryChange> decodeHistoryChanges(const QString& encoded) {
    return ChangesReader(encoded).read();
}

QString describeHistoryChange(const HistoryChange& change) {
    return QStringLiteral("%1: '%2' -> '%3'").arg(change.column, change.before, change.after);
}

QString historyHash(const QString& previous, const HistoryEntry& entry) {
    // Each field with its length in bytes before it, so no two different entries hash the same text.
    QByteArray input;
    input.reserve(256 + entry.changes.size() * 3);
    for (const QString* field :
         {&previous, &entry.when, &entry.who, &entry.table, &entry.subject, &entry.action, &entry.changes}) {
        appendField(input, *field);
    }
    return QString::fromLatin1(QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex());
}

void appendHistory(Connection& c, const std::vector<HistoryRecord>& records) {
    if (records.empty()) {
        return;
    }
    // Entries are added one writer at a time: the chain's last hash is read and followed before anyone else
    // may add. A file's transaction holds the file's write lock already.
    c.engine().lockHistory();
    Statement head(c, "SELECT " + c.engine().utcNowSql() + ", (SELECT Hash FROM History ORDER BY rowid DESC LIMIT 1)");
    if (!head.step()) {
        throw DatabaseError(QStringLiteral("The register's history cannot be read."));
    }
    HistoryEntry e;
    e.when = head.column(0).toString();
    QString previous = head.column(1).toString();
    head.reset();
    e.who = c.engine().historyUser(c);

    const auto insertSql = [](size_t rows) {
        std::string sql =
            "INSERT INTO History (ChangedAt, ChangedBy, TableName, Subject, Action, Changes, Hash) VALUES ";
        for (size_t r = 0; r < rows; ++r) {
            sql += r ? ",(?,?,?,?,?,?,?)" : "(?,?,?,?,?,?,?)";
        }
        return sql;
    };
    std::optional<Statement> full;
    for (size_t first = 0; first < records.size(); first += kEntriesPerInsert) {
        const size_t rows = std::min<size_t>(kEntriesPerInsert, records.size() - first);
        std::optional<Statement> part;
        Statement* insert = nullptr;
        if (rows == kEntriesPerInsert) {
            if (!full) {
                full.emplace(c, insertSql(rows));
            }
            insert = &*full;
        } else {
            part.emplace(c, insertSql(rows));
            insert = &*part;
        }
        int n = 1;
        for (size_t i = first; i < first + rows; ++i) {
            const HistoryRecord& r = records[i];
            e.table = tableName(r.table);
            e.subject = r.subject;
            e.action = r.action;
            e.changes = encodeHistoryChanges(r.changes);
            e.hash = historyHash(previous, e);
            for (const QString* field : {&e.when, &e.who, &e.table, &e.subject, &e.action, &e.changes, &e.hash}) {
                insert->bindText(n++, *field);
            }
            previous = e.hash;
        }
        insert->step();
        insert->reset();
    }
}

void recordExistingRows(Connection& c) {
    constexpr size_t kBatch = 1000;
    std::vector<HistoryRecord> batch;
    for (const QString& table : {kSystem, kGroups, kAssets}) {
        const QStringList columns = columnsOf(table);
        std::vector<HistoryRecord> rows;
        forEachRow(c, table, [&](const Statement& s) {
            rows.push_back(recordOfRow(table, columns, s, HistoryAction::HistoryBegins));
        });
        // Written after the table's reading ends: a file's statement must not be stepping while History grows.
        for (HistoryRecord& r : rows) {
            batch.push_back(std::move(r));
            if (batch.size() >= kBatch) {
                appendHistory(c, batch);
                batch.clear();
            }
        }
    }
    appendHistory(c, batch);
}

std::vector<HistoryEntry> readHistory(const Connection& c, const HistoryFilter& filter) {
    std::string sql = std::string("SELECT ") + kEntryColumns + " FROM History";
    QStringList binds;
    std::vector<std::string> conditions;
    if (!filter.asset.isEmpty()) {
        conditions.push_back("Subject = ? AND TableName = 'assets'");
        binds << filter.asset;
    }
    if (!filter.since.isEmpty()) {
        conditions.push_back("ChangedAt >= ?");
        binds << filter.since;
    }
    for (size_t i = 0; i < conditions.size(); ++i) {
        sql += (i ? " AND " : " WHERE ") + conditions[i];
    }
    sql += filter.newestFirst ? " ORDER BY rowid DESC" : " ORDER BY rowid";
    Statement s(c, sql);
    for (int i = 0; i < binds.size(); ++i) {
        s.bindText(i + 1, binds[i]);
    }
    std::vector<HistoryEntry> entries;
    while (s.step()) {
        entries.push_back(entryFrom(s));
    }
    s.reset();
    return entries;
}

namespace {

// What the entries so far say of one row: whether it is there, and each column's text.
struct Replayed {
    bool present = false;
    long long lastEntry = 0;
    std::vector<QString> values; // by the column's place in its table; a null text stands for blank
};

class Replay {
public:
    explicit Replay(HistoryVerdict& verdict) : verdict_(verdict) {
        for (const QString& table : {kSystem, kGroups, kAssets}) {
            Table& t = tables_[table];
            t.columns = columnsOf(table);
            for (int i = 0; i < t.columns.size(); ++i) {
                t.place.insert(t.columns[i].toLower(), i);
            }
        }
        // The settings row is made with the register, before any entry: it is there from the start.
        Replayed& settings = tables_[kSystem].rows[QStringLiteral("settings")];
        settings.present = true;
        settings.values.resize(static_cast<size_t>(tables_[kSystem].columns.size()));
    }

    void disagree(const QString& finding) {
        if (verdict_.disagreements++ < kHistoryFindingsListed) {
            verdict_.findings << finding;
        }
    }

    void apply(const HistoryEntry& e) {
        const auto table = tables_.find(tableName(e.table));
        if (table == tables_.end()) {
            disagree(QStringLiteral("history entry %1 is about a table the register does not keep, '%2'")
                         .arg(QString::number(e.number), e.table));
            return;
        }
        std::vector<HistoryChange> changes;
        try {
            changes = decodeHistoryChanges(e.changes);
        } catch (const DatabaseError& error) {
            disagree(QStringLiteral("history entry %1 (%2) cannot be read: %3")
                         .arg(QString::number(e.number), e.subject, error.text()));
            return;
        }
        Table& t = table->second;
        Replayed& row = t.rows[e.subject];
        row.values.resize(static_cast<size_t>(t.columns.size()));
        for (const HistoryChange& c : changes) {
            const int place = t.place.value(c.column.toLower(), -1);
            if (place < 0) {
                disagree(QStringLiteral("history entry %1 (%2) changes a column the register does not have, '%3'")
                             .arg(QString::number(e.number), e.subject, c.column));
                continue;
            }
            QString& value = row.values[static_cast<size_t>(place)];
            const QString was = value.isNull() ? historyBlankText(e.table, c.column) : value;
            if (was != c.before && !hiddenColumn(e.table, c.column)) {
                disagree(QStringLiteral("%1 held %2 '%3' after history entry %4, but entry %5 (%6, %7) found '%8': "
                                        "changed behind the program's back in between")
                             .arg(describeSubject(e.table, e.subject), c.column, was, QString::number(row.lastEntry),
                                  QString::number(e.number), e.when, e.action, c.before));
            }
            value = c.after;
        }
        row.present = e.action != HistoryAction::Deleted;
        row.lastEntry = e.number;
    }

    // Compares every stored row of the register with what its entries say.
    void compareWith(const Connection& c) {
        for (auto& [table, t] : tables_) {
            const int key = t.place.value(historyKeyColumn(table).toLower(), -1);
            forEachRow(c, table, [&](const Statement& s) {
                const QString subject = historySubject(
                    table, key < 0 ? QString() : historyValueText(table, t.columns[key], s.column(key + 1)));
                const auto it = t.rows.find(subject);
                if (it == t.rows.end() || !it->second.present) {
                    disagree(QStringLiteral("%1 is in the register, but no history entry %2: added behind the "
                                            "program's back")
                                 .arg(describeSubject(table, subject),
                                      it == t.rows.end() ? QStringLiteral("adds it")
                                                         : QStringLiteral("adds it after entry %1, which deleted it")
                                                               .arg(it->second.lastEntry)));
                    return;
                }
                Replayed& row = it->second;
                row.present = false; // seen; what is left present afterwards is missing from the register
                row.values.resize(static_cast<size_t>(t.columns.size()));
                for (int i = 0; i < t.columns.size(); ++i) {
                    if (hiddenColumn(table, t.columns[i])) {
                        continue;
                    }
                    const QString stored = historyValueText(table, t.columns[i], s.column(i + 1));
                    const QString& said = row.values[static_cast<size_t>(i)];
                    const QString expected = said.isNull() ? historyBlankText(table, t.columns[i]) : said;
                    if (stored != expected) {
                        disagree(QStringLiteral("%1 holds %2 '%3', but its last history entry (%4) says '%5': "
                                                "changed behind the program's back")
                                     .arg(describeSubject(table, subject), t.columns[i], stored,
                                          QString::number(row.lastEntry), expected));
                    }
                }
            });
            for (const auto& [subject, row] : t.rows) {
                if (row.present && table != kSystem) {
                    disagree(QStringLiteral("%1 is not in the register, but its last history entry (%2) does not "
                                            "delete it: deleted behind the program's back")
                                 .arg(describeSubject(table, subject), QString::number(row.lastEntry)));
                }
            }
        }
    }

private:
    static QString describeSubject(const QString& table, const QString& subject) {
        if (same(table, kAssets)) {
            return QStringLiteral("the asset '%1'").arg(subject);
        }
        return subject == QLatin1String("settings") ? QStringLiteral("the settings") : subject;
    }

    struct Table {
        QStringList columns;
        QHash<QString, int> place;
        std::unordered_map<QString, Replayed> rows;
    };
    std::unordered_map<QString, Table> tables_;
    HistoryVerdict& verdict_;
};

} // namespace

HistoryVerdict verifyHistory(Connection& c) {
    HistoryVerdict verdict;
    Replay replay(verdict);
    // The entries and the rows are read from one state, so a save meanwhile is seen whole or not at all.
    c.engine().beginConsistentRead();
    const OnFailure endRead([&c] { c.engine().rollback(); });
    Statement s(c, std::string("SELECT ") + kEntryColumns + " FROM History WHERE rowid > ? ORDER BY rowid LIMIT " +
                       std::to_string(kRowsPerRead));
    QString previous;
    long long after = -1;
    for (;;) {
        s.bindInt64(1, after);
        int read = 0;
        while (s.step()) {
            const HistoryEntry e = entryFrom(s);
            if (historyHash(previous, e) != e.hash) {
                if (verdict.breaks++ == 0) {
                    verdict.firstBreak = e.number;
                }
                if (verdict.breaks <= kHistoryFindingsListed) {
                    verdict.findings << QStringLiteral("history entry %1 (%2, %3, %4) breaks the chain: its hash is "
                                                       "not that of its content after entry %5; it or the entry "
                                                       "before it was changed, removed or moved")
                                            .arg(QString::number(e.number), e.when, e.subject, e.action,
                                                 after < 0 ? QStringLiteral("none") : QString::number(after));
                }
            }
            replay.apply(e);
            previous = e.hash;
            after = e.number;
            ++verdict.entries;
            ++read;
        }
        s.reset();
        if (read < kRowsPerRead) {
            break;
        }
    }
    replay.compareWith(c);
    c.exec("COMMIT");
    return verdict;
}
