// The history's entries: their text forms, the chain that links them, writing them at a transaction's commit,
// reading them, and the check that replays them against what the register holds.
#include "data/history.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/onfailure.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <QDate>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <openssl/evp.h>
#include <optional>
#include <string>
#include <string_view>
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

// A string as one field of the encoded list, in UTF-8: in double quotes, with quotes, backslashes and control
// characters escaped as JSON escapes them.
void appendQuoted(QByteArray& out, QStringView text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Written in place: at most six bytes a character (a control character's escape), and the quotes.
    const qsizetype start = out.size();
    out.resize(start + 6 * text.size() + 2);
    char* p = out.data() + start;
    *p++ = '"';
    for (qsizetype i = 0; i < text.size();) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80) {
            // A run of characters beyond ASCII goes whole, so that a pair of surrogates stays together; it takes
            // at most three bytes a character.
            qsizetype end = i + 1;
            while (end < text.size() && text[end].unicode() >= 0x80) {
                ++end;
            }
            const QByteArray utf8 = text.sliced(i, end - i).toUtf8();
            std::memcpy(p, utf8.constData(), static_cast<size_t>(utf8.size()));
            p += utf8.size();
            i = end;
            continue;
        }
        const char escaped = c == u'"' ? '"' : c == u'\\' ? '\\' : c == u'\n' ? 'n' : c == u'\t' ? 't' : 0;
        if (escaped) {
            *p++ = '\\';
            *p++ = escaped;
        } else if (c < 0x20) {
            for (const char e : {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]}) {
                *p++ = e;
            }
        } else {
            *p++ = static_cast<char>(c);
        }
        ++i;
    }
    *p++ = '"';
    out.truncate(p - out.constData());
}

// Reads the encoded list written by encodeHistoryChanges, [["column","before","after"],...], from its UTF-8 bytes,
// handing each change to a callback as UTF-8 views: no text is made for a value unless it holds an escape (then
// it is unescaped into space of the reader's own, kept until the next change).
class ChangesReader {
public:
    explicit ChangesReader(QByteArrayView text) : s_(text) {}

    template <class Change> void read(Change&& change) {
        expect('[');
        if (peek() == ']') {
            ++at_;
        } else {
            for (;;) {
                expect('[');
                const QByteArrayView column = quoted(0);
                expect(',');
                const QByteArrayView before = quoted(1);
                expect(',');
                const QByteArrayView after = quoted(2);
                expect(']');
                change(column, before, after);
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect(']');
                break;
            }
        }
        if (at_ != s_.size()) {
            fail();
        }
    }

private:
    [[noreturn]] void fail() const {
        throw DatabaseError(QStringLiteral("its list of changed columns cannot be read at byte %1").arg(at_ + 1));
    }
    char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    void expect(char c) {
        if (peek() != c) {
            fail();
        }
        ++at_;
    }
    QByteArrayView quoted(int slot) {
        expect('"');
        const qsizetype start = at_;
        while (at_ < s_.size() && s_[at_] != '"' && s_[at_] != '\\') {
            ++at_;
        }
        if (peek() == '"') {
            ++at_;
            return s_.sliced(start, at_ - 1 - start);
        }
        QByteArray& out = scratch_[slot];
        out = s_.sliced(start, at_ - start).toByteArray();
        for (;;) {
            if (at_ >= s_.size()) {
                fail();
            }
            const char c = s_[at_++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            switch (peek()) {
            case '"':
            case '\\':
                out += peek();
                ++at_;
                break;
            case 'n':
                out += '\n';
                ++at_;
                break;
            case 't':
                out += '\t';
                ++at_;
                break;
            case 'u': {
                bool ok = false;
                const uint code = at_ + 5 <= s_.size() ? s_.sliced(at_ + 1, 4).toByteArray().toUInt(&ok, 16) : 0;
                if (!ok) {
                    fail();
                }
                out += QString(QChar(static_cast<char16_t>(code))).toUtf8();
                at_ += 5;
                break;
            }
            default:
                fail();
            }
        }
    }

    QByteArrayView s_;
    qsizetype at_ = 0;
    QByteArray scratch_[3];
};

// SHA-256 of an entry's fields, each with its length in bytes before it so that no two different entries hash
// the same text, in hex. Through libcrypto, which uses the processor's SHA instructions: the check of a long
// history hashes every entry.
QByteArray hashOfFields(std::initializer_list<QByteArrayView> fields) {
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    QByteArray input;
    input.reserve(512);
    for (const QByteArrayView field : fields) {
        char length[24];
        const auto end = std::to_chars(length, length + sizeof length, field.size()).ptr;
        input.append(length, end - length);
        input += ':';
        input.append(field);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!sha256 ||
        EVP_Digest(input.constData(), static_cast<size_t>(input.size()), digest, &size, sha256, nullptr) != 1) {
        throw DatabaseError(QStringLiteral("The history's hashes cannot be made: SHA-256 is not available."));
    }
    return QByteArray(reinterpret_cast<const char*>(digest), size).toHex();
}

const char* const kEntryColumns = "rowid, ChangedAt, ChangedBy, TableName, Subject, Action, Changes, Hash";

HistoryEntry entryFrom(const Statement& s) {
    const auto text = [&s](int i) { return s.columnText(i).value_or(s.column(i).toString()); };
    HistoryEntry e;
    e.number = s.columnInt64(0);
    e.when = text(1);
    e.who = text(2);
    e.table = text(3);
    e.subject = text(4);
    e.action = text(5);
    e.changes = text(6);
    e.hash = text(7);
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
HistoryRecord recordOfRow(const QString& table, const std::vector<HistoryColumn>& columns, const Statement& s,
                          const QString& action) {
    HistoryRecord r{table, QString(), action, {}};
    const QString key = historyKeyColumn(table);
    for (size_t i = 0; i < columns.size(); ++i) {
        const QVariant value = s.column(static_cast<int>(i) + 1);
        if (!key.isEmpty() && same(columns[i].name, key)) {
            r.subject = historySubject(table, historyValueText(table, columns[i].name, value));
        }
        HistoryChange change;
        if (historyChange(columns[i], QVariant(), value, &change)) {
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

namespace {

using Kind = HistoryColumn::Kind;

Kind kindOf(const QString& table, const QString& column) {
    const QString type = registerColumnType(table, column);
    return type == QLatin1String("BOOLEAN") ? Kind::Boolean : type == QLatin1String("MONEY") ? Kind::Money : Kind::Text;
}

QString blankText(Kind kind) {
    return kind == Kind::Boolean ? kFalse : QString();
}

QString valueText(Kind kind, const QVariant& stored) {
    if (!stored.isValid() || stored.isNull()) {
        return blankText(kind);
    }
    const int type = stored.typeId();
    const bool number = type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::Double ||
                        type == QMetaType::Bool || type == QMetaType::ULongLong || type == QMetaType::UInt;
    if (kind == Kind::Boolean && number) {
        return stored.toDouble() != 0 ? kTrue : kFalse;
    }
    if (type == QMetaType::Double || (kind == Kind::Money && number)) {
        // A file keeps a whole amount as an integer and -0 as 0, a server as the double it was given.
        const double amount = stored.toDouble();
        return plainNumberText(amount == 0 ? 0.0 : amount);
    }
    if (type == QMetaType::QDate) {
        return dateToStored(stored.toDate());
    }
    if (type == QMetaType::QByteArray) {
        return QString::fromUtf8(stored.toByteArray());
    }
    return stored.toString();
}

} // namespace

QString historyBlankText(const QString& table, const QString& column) {
    return blankText(kindOf(table, column));
}

QString historyValueText(const QString& table, const QString& column, const QVariant& stored) {
    return valueText(kindOf(table, column), stored);
}

bool historyChange(const QString& table, const QString& column, const QVariant& before, const QVariant& after,
                   HistoryChange* change) {
    return historyChange(historyColumn(table, column), before, after, change);
}

HistoryColumn historyColumn(const QString& table, const QString& column) {
    return {registerName(column), kindOf(table, column), hiddenColumn(table, column)};
}

bool historyChange(const HistoryColumn& column, const QVariant& before, const QVariant& after, HistoryChange* change) {
    QString from = valueText(column.kind, before);
    QString to = valueText(column.kind, after);
    if (from == to) {
        return false;
    }
    if (column.hidden) {
        from = from.isEmpty() ? from : kNotShown;
        to = to.isEmpty() ? to : kNotShown;
    }
    *change = HistoryChange{column.name, from, to};
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

QByteArray encodeHistoryChangesUtf8(const std::vector<HistoryChange>& changes) {
    QByteArray out;
    out.reserve(64 * static_cast<qsizetype>(changes.size()) + 2);
    out += '[';
    for (size_t i = 0; i < changes.size(); ++i) {
        out += i ? ",[" : "[";
        appendQuoted(out, changes[i].column);
        out += ',';
        appendQuoted(out, changes[i].before);
        out += ',';
        appendQuoted(out, changes[i].after);
        out += ']';
    }
    out += ']';
    return out;
}

QString encodeHistoryChanges(const std::vector<HistoryChange>& changes) {
    return QString::fromUtf8(encodeHistoryChangesUtf8(changes));
}

std::vector<HistoryChange> decodeHistoryChanges(const QString& encoded) {
    std::vector<HistoryChange> changes;
    const QByteArray utf8 = encoded.toUtf8();
    ChangesReader(utf8).read([&](QByteArrayView column, QByteArrayView before, QByteArrayView after) {
        changes.push_back({QString::fromUtf8(column), QString::fromUtf8(before), QString::fromUtf8(after)});
    });
    return changes;
}

QString describeHistoryChange(const HistoryChange& change) {
    return QStringLiteral("%1: '%2' -> '%3'").arg(change.column, change.before, change.after);
}

QString historyHash(const QString& previous, const HistoryEntry& entry) {
    return QString::fromLatin1(
        hashOfFields({previous.toUtf8(), entry.when.toUtf8(), entry.who.toUtf8(), entry.table.toUtf8(),
                      entry.subject.toUtf8(), entry.action.toUtf8(), entry.changes.toUtf8()}));
}

void appendHistory(Connection& c, const std::vector<HistoryRecord>& records) {
    if (!records.empty()) {
        c.engine().appendHistory(c, records, false);
    }
}

void writeHistoryEntries(Connection& c, const std::vector<HistoryRecord>& records, const QString& who,
                         const QString& when) {
    if (records.empty()) {
        return;
    }
    Statement head(c, "SELECT Hash FROM History ORDER BY rowid DESC LIMIT 1");
    QByteArray previous = head.step() ? head.column(0).toString().toUtf8() : QByteArray();
    head.reset();
    // Each entry is hashed and stored from the same UTF-8 bytes, made once.
    const QByteArray when8 = when.toUtf8();
    const QByteArray who8 = who.toUtf8();
    QByteArray table8;
    QByteArray action8;

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
            if (i == 0 || r.table != records[i - 1].table) {
                table8 = tableName(r.table).toUtf8();
            }
            if (i == 0 || r.action != records[i - 1].action) {
                action8 = r.action.toUtf8();
            }
            const QByteArray subject8 = r.subject.toUtf8();
            const QByteArray changes8 = encodeHistoryChangesUtf8(r.changes);
            QByteArray hash = hashOfFields({previous, when8, who8, table8, subject8, action8, changes8});
            for (const QByteArrayView field :
                 std::initializer_list<QByteArrayView>{when8, who8, table8, subject8, action8, changes8, hash}) {
                insert->bindTextUtf8(n++, field);
            }
            previous = std::move(hash);
        }
        insert->step();
        insert->reset();
    }
}

void recordExistingRows(Connection& c) {
    constexpr size_t kBatch = 1000;
    std::vector<HistoryRecord> batch;
    for (const QString& table : {kSystem, kGroups, kAssets}) {
        std::vector<HistoryColumn> columns;
        for (const QString& name : columnsOf(table)) {
            columns.push_back(historyColumn(table, name));
        }
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

// What the entries so far say of one row: whether it is there, and each column's text in UTF-8.
struct Replayed {
    QString subject;
    bool present = false;
    long long lastEntry = 0;
    std::vector<QByteArray> values; // by the column's place in its table; a null one stands for blank
};

// Finds a std::string key by a std::string_view, without making a string.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

// One entry as the check reads it: views of its row's bytes, valid until the next row.
struct EntryBytes {
    long long number;
    QByteArrayView when, who, table, subject, action, changes, hash;
};

class Replay {
public:
    explicit Replay(HistoryVerdict& verdict) : verdict_(verdict) {
        for (const QString& name : {kSystem, kGroups, kAssets}) {
            Table& t = tables_[name];
            t.name = name;
            t.utf8Name = name.toUtf8();
            t.columns = columnsOf(name);
            for (int i = 0; i < t.columns.size(); ++i) {
                t.utf8Columns.push_back(t.columns[i].toStdString());
                t.kinds.push_back(kindOf(name, t.columns[i]));
                t.blanks.push_back(blankText(t.kinds.back()).toUtf8());
                t.hidden.push_back(hiddenColumn(name, t.columns[i]));
            }
            for (size_t i = 0; i < t.utf8Columns.size(); ++i) {
                t.place.emplace(t.utf8Columns[i], static_cast<int>(i));
            }
            t.key = static_cast<int>(t.columns.indexOf(historyKeyColumn(name)));
        }
        // The settings row is made with the register, before any entry: it is there from the start.
        row(tables_[kSystem], QByteArrayView("settings")).present = true;
    }

    void disagree(const QString& finding) {
        if (verdict_.disagreements++ < kHistoryFindingsListed) {
            verdict_.findings << finding;
        }
    }

    void apply(const EntryBytes& e) {
        Table* t = table(e.table);
        if (!t) {
            disagree(QStringLiteral("history entry %1 is about a table the register does not keep, '%2'")
                         .arg(QString::number(e.number), QString::fromUtf8(e.table)));
            return;
        }
        Replayed& r = row(*t, e.subject);
        const QString& subject = r.subject;
        try {
            ChangesReader(e.changes).read([&](QByteArrayView column, QByteArrayView before, QByteArrayView after) {
                const int place = t->placeOf(column);
                if (place < 0) {
                    disagree(QStringLiteral("history entry %1 (%2) changes a column the register does not have, '%3'")
                                 .arg(QString::number(e.number), subject, QString::fromUtf8(column)));
                    return;
                }
                const auto at = static_cast<size_t>(place);
                QByteArray& value = r.values[at];
                const QByteArrayView was = value.isNull() ? QByteArrayView(t->blanks[at]) : QByteArrayView(value);
                if (was != before && !t->hidden[at]) {
                    disagree(QStringLiteral("%1 held %2 '%3' after history entry %4, but entry %5 (%6, %7) found '%8': "
                                            "changed behind the program's back in between")
                                 .arg(describe(*t, subject), t->columns[place], QString::fromUtf8(was),
                                      QString::number(r.lastEntry), QString::number(e.number),
                                      QString::fromUtf8(e.when), QString::fromUtf8(e.action),
                                      QString::fromUtf8(before)));
                }
                value = after.toByteArray();
            });
        } catch (const DatabaseError& error) {
            disagree(QStringLiteral("history entry %1 (%2) cannot be read: %3")
                         .arg(QString::number(e.number), subject, error.text()));
            return;
        }
        r.present = e.action != deleted_;
        r.lastEntry = e.number;
    }

    // Compares every stored row of the register with what its entries say.
    void compareWith(const Connection& c) {
        for (Table* t : {&tables_[kSystem], &tables_[kGroups], &tables_[kAssets]}) {
            forEachRow(c, t->name, [&](const Statement& s) {
                const QString subject = historySubject(
                    t->name,
                    t->key < 0 ? QString() : valueText(t->kinds[static_cast<size_t>(t->key)], s.column(t->key + 1)));
                const auto it = t->index.find(subject.toStdString());
                Replayed* found = it == t->index.end() ? nullptr : &t->rows[it->second];
                if (!found || !found->present) {
                    disagree(QStringLiteral("%1 is in the register, but no history entry %2: added behind the "
                                            "program's back")
                                 .arg(describe(*t, subject),
                                      !found ? QStringLiteral("adds it")
                                             : QStringLiteral("adds it after entry %1, which deleted it")
                                                   .arg(found->lastEntry)));
                    return;
                }
                Replayed& r = *found;
                r.present = false; // seen; what is left present afterwards is missing from the register
                for (int i = 0; i < t->columns.size(); ++i) {
                    const auto at = static_cast<size_t>(i);
                    if (t->hidden[at]) {
                        continue;
                    }
                    const QByteArray stored = valueText(t->kinds[at], s.column(i + 1)).toUtf8();
                    const QByteArray& said = r.values[at].isNull() ? t->blanks[at] : r.values[at];
                    if (stored != said) {
                        disagree(QStringLiteral("%1 holds %2 '%3', but its last history entry (%4) says '%5': "
                                                "changed behind the program's back")
                                     .arg(describe(*t, subject), t->columns[i], QString::fromUtf8(stored),
                                          QString::number(r.lastEntry), QString::fromUtf8(said)));
                    }
                }
            });
            for (const Replayed& r : t->rows) {
                if (r.present && t->name != kSystem) {
                    disagree(QStringLiteral("%1 is not in the register, but its last history entry (%2) does not "
                                            "delete it: deleted behind the program's back")
                                 .arg(describe(*t, r.subject), QString::number(r.lastEntry)));
                }
            }
        }
    }

private:
    struct Table {
        QString name;
        QByteArray utf8Name;
        QStringList columns;
        std::vector<std::string> utf8Columns;
        std::unordered_map<std::string_view, int> place; // by the UTF-8 of utf8Columns
        std::vector<Kind> kinds;
        std::vector<QByteArray> blanks;
        std::vector<bool> hidden;
        int key = -1;
        std::vector<Replayed> rows; // in the order their first entries came
        std::unordered_map<std::string, size_t, TextHash, std::equal_to<>> index; // by subject, in UTF-8

        // The column's place; entries spell columns as the register does, and any other spelling is looked up by
        // the register's names.
        int placeOf(QByteArrayView column) const {
            const auto it = place.find(std::string_view(column.data(), static_cast<size_t>(column.size())));
            if (it != place.end()) {
                return it->second;
            }
            return static_cast<int>(columns.indexOf(registerName(QString::fromUtf8(column))));
        }
    };

    Table* table(QByteArrayView name) {
        for (auto& [known, t] : tables_) {
            if (t.utf8Name == name) {
                return &t;
            }
        }
        const auto it = tables_.find(tableName(QString::fromUtf8(name)));
        return it == tables_.end() ? nullptr : &it->second;
    }

    static Replayed& row(Table& t, QByteArrayView subject) {
        const std::string_view key(subject.data(), static_cast<size_t>(subject.size()));
        const auto it = t.index.find(key);
        if (it != t.index.end()) {
            return t.rows[it->second];
        }
        t.index.emplace(std::string(key), t.rows.size());
        Replayed& r = t.rows.emplace_back();
        r.subject = QString::fromUtf8(subject);
        r.values.resize(static_cast<size_t>(t.columns.size()));
        return r;
    }

    static QString describe(const Table& t, const QString& subject) {
        if (t.name == kAssets) {
            return QStringLiteral("the asset '%1'").arg(subject);
        }
        return t.name == kSystem ? QStringLiteral("the settings") : subject;
    }

    std::unordered_map<QString, Table> tables_;
    const QByteArray deleted_ = HistoryAction::Deleted.toUtf8();
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
    // Every entry is read once, as the bytes the register holds: its hash is over their UTF-8.
    QByteArray previous;
    long long after = -1;
    for (;;) {
        s.bindInt64(1, after);
        int read = 0;
        while (s.step()) {
            const EntryBytes e{s.columnInt64(0), s.columnUtf8(1), s.columnUtf8(2), s.columnUtf8(3),
                               s.columnUtf8(4),  s.columnUtf8(5), s.columnUtf8(6), s.columnUtf8(7)};
            if (hashOfFields({previous, e.when, e.who, e.table, e.subject, e.action, e.changes}) != e.hash) {
                if (verdict.breaks++ == 0) {
                    verdict.firstBreak = e.number;
                }
                if (verdict.breaks <= kHistoryFindingsListed) {
                    verdict.findings << QStringLiteral("history entry %1 (%2, %3, %4) breaks the chain: its hash is "
                                                       "not that of its content after entry %5; it or the entry "
                                                       "before it was changed, removed or moved")
                                            .arg(QString::number(e.number), QString::fromUtf8(e.when),
                                                 QString::fromUtf8(e.subject), QString::fromUtf8(e.action),
                                                 after < 0 ? QStringLiteral("none") : QString::number(after));
                }
            }
            replay.apply(e);
            previous = e.hash.toByteArray();
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
