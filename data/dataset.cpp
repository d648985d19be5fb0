// Datasets: the static cursor, the current record buffer and the edit state machine. A one-table result
// keeps only its row ids; rows are read by id in blocks when shown. Any other result (joins, groups,
// aggregates) is small by nature and kept whole.
#include "data/dataset.h"

#include "data/engine.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/jetsql.h"
#include "data/onfailure.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int kBlock = 64;           // rows read by id in one statement
constexpr size_t kCacheLimit = 4096; // rows kept in memory before the cache starts afresh
// A list's row ids: how many are read as it opens (a few screens), how long each slice read between events
// takes, and how long after opening the rest is read at once, since a file's read lock is held meanwhile.
constexpr size_t kFirstIds = 1024;
constexpr qint64 kIdSliceNs = 8'000'000;
constexpr qint64 kIdsPendingLimitMs = 250;

const QString kGoneText = QStringLiteral("This record was deleted by another program after the list was read, so it "
                                         "can no longer be changed. Search again to bring the list up to date.");

// The type a declared column type names; empty when the declaration says nothing we know.
std::optional<FieldType> typeFromDecl(const QString& decl) {
    const QString d = decl.toUpper();
    if (d.startsWith(QLatin1String("BOOL"))) {
        return FieldType::Boolean;
    }
    if (d.startsWith(QLatin1String("DATE"))) {
        return FieldType::Date;
    }
    if (d.startsWith(QLatin1String("MONEY"))) {
        return FieldType::Money;
    }
    if (d.startsWith(QLatin1String("INT"))) {
        return FieldType::Integer;
    }
    if (d.contains(QLatin1String("TEXT")) || d.contains(QLatin1String("CHAR"))) {
        return FieldType::Text;
    }
    return std::nullopt;
}

// An expression's type from every value it gave: SQLite types each value on its own (a Sum of whole amounts
// is an integer, the next group's Sum a real), so a column that holds any real number is a real column.
FieldType typeFromValues(const std::vector<std::vector<QVariant>>& rows, size_t column) {
    bool sawInteger = false;
    for (const auto& r : rows) {
        switch (r[column].typeId()) {
        case QMetaType::Double:
            return FieldType::Float;
        case QMetaType::LongLong:
            sawInteger = true;
            break;
        default:
            if (!r[column].isNull()) {
                return FieldType::Text;
            }
        }
    }
    return sawInteger ? FieldType::Integer : FieldType::Text;
}

// Brings a stored value into the one form the field type uses, so that comparing a read value with an
// edited one is exact: numbers of money columns as double, booleans and integers as qlonglong.
QVariant normalise(FieldType type, const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QVariant();
    }
    switch (type) {
    case FieldType::Money:
    case FieldType::Float:
        return QVariant(v.toDouble());
    case FieldType::Boolean:
    case FieldType::Integer:
        return QVariant(v.toLongLong());
    case FieldType::Text:
    case FieldType::Date:
        return QVariant(v.toString());
    }
    return v;
}

using Row = std::vector<QVariant>;

// A statement reading the row id and then the columns listed ("a, b") of count rows of table, bound by id.
std::string rowsByIdSql(const Connection& c, const std::string& columns, const QString& table, int count) {
    return "SELECT rowid, " + columns + " FROM " + c.quoteName(table) + " WHERE " + c.engine().rowIdCondition(count);
}

// The ids of a whole result (all) after the first ones read before (known), when the whole was read later:
// a record another client saved in between keeps the place the first rows gave it, and one that came into
// their range waits for the next search, as any record added after a list opened does.
void appendRest(std::vector<long long>& known, const std::vector<long long>& all) {
    if (all.size() >= known.size() && std::equal(known.begin(), known.end(), all.begin())) {
        known.insert(known.end(), all.begin() + static_cast<std::ptrdiff_t>(known.size()), all.end());
        return;
    }
    const std::unordered_set<long long> have(known.begin(), known.end());
    size_t after = 0; // just past the last of the known ids in all
    for (size_t i = 0; i < all.size(); ++i) {
        if (have.count(all[i]) != 0) {
            after = i + 1;
        }
    }
    for (size_t i = after; i < all.size(); ++i) {
        if (have.count(all[i]) == 0) {
            known.push_back(all[i]);
        }
    }
}

// Where each row id of the block from..from+count of ids is in the block, filled when first asked for.
const std::unordered_map<long long, size_t>& placesIn(const std::vector<long long>& ids, int from, int count,
                                                      std::unordered_map<long long, size_t>& places) {
    if (places.empty()) {
        places.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            places.emplace(ids[static_cast<size_t>(from + i)], static_cast<size_t>(i));
        }
    }
    return places;
}

// The columns that belong to a unique index of table.
QStringList uniqueColumns(const Connection& connection, const QString& table) {
    QStringList columns;
    for (const QString& column : connection.engine().uniqueColumns(table)) {
        columns.append(registerName(column));
    }
    return columns;
}

} // namespace

struct Dataset::Walk {
    Walk(const Connection& c, const std::string& sql) : rows(c, sql) {}
    Statement rows;                           // rowid, then the columns, of the rows the statement selects
    std::unordered_map<long long, int> rowOf; // where each row id is in rows
};

struct Dataset::Cursor {
    bool byRowid = false;
    QString table;              // the table a post writes to; empty when the result is not updatable
    std::vector<long long> ids; // row ids in result order; -1 marks a pending insert
    std::vector<Row> rows;      // whole rows when not byRowid
    std::string selectList;
    std::vector<size_t> keyFields; // fields whose stored values identify a record beyond its row id
    std::string fromWhere;         // the statement's text from FROM on without its order, for a walk
    mutable std::unordered_map<long long, Row> cache;
    mutable std::unordered_set<long long> gone; // records another program deleted since the cursor opened
    mutable std::unique_ptr<Walk> walk;         // the walk under way over the records, on a server
    mutable int walkedTo = -1;                  // where the block textsOf gave last ended, and its columns
    mutable std::string walkedColumns;
    mutable std::unique_ptr<Statement> byIds; // the last block's read by id, kept prepared (and reset) for the next
    mutable std::string byIdsColumns;
    mutable int byIdsCount = 0;
    // A file's walk over a list ordered by one column unique to a record: the column, the statement that
    // reads the next block after a key (for resumeColumns) and the key the last block ended on.
    std::string orderKey;
    mutable std::unique_ptr<Statement> resume;
    mutable std::string resumeColumns;
    mutable std::optional<QVariant> resumeAfter;
    // The statement reading the list's row ids while some are still to read, and when the cursor opened. It
    // holds a file's read lock, so it is read on between events and finished before any transaction.
    mutable std::unique_ptr<Statement> pendingIds;
    QElapsedTimer opened;
    mutable QString idsFailure; // why the rest of the ids could not be read; the list is then incomplete
    // On a server, which answers a statement whole: the statement of every id, once the first were read with a
    // limit, until the rest are needed.
    mutable std::string wholeIds;

    int count() const { return static_cast<int>(byRowid ? ids.size() : rows.size()); }
};

Dataset::Dataset(Connection& connection, QString name, QObject* parent)
    : QObject(parent), connection_(connection), name_(std::move(name)) {}

Dataset::~Dataset() {
    dropPendingIds();
}

void Dataset::fail(const QString& text) const {
    throw DatabaseError(name_ + QStringLiteral(": ") + text);
}

void Dataset::setTableName(const QString& table) {
    table_ = table;
}

void Dataset::clearSql() {
    sql_.clear();
}

void Dataset::addSql(const QString& line) {
    sql_.append(line);
}

int Dataset::recordCount() const {
    if (!cursor_) {
        return 0;
    }
    readAllIds();
    if (!cursor_->idsFailure.isEmpty()) {
        throw DatabaseError(cursor_->idsFailure);
    }
    return cursor_->count();
}

int Dataset::knownCount() const {
    return cursor_ ? cursor_->count() : 0;
}

bool Dataset::allRead() const {
    return !cursor_ || (!cursor_->pendingIds && cursor_->wholeIds.empty());
}

bool Dataset::hasRow(int row) const {
    return row >= 0 && (row < knownCount() || row < recordCount());
}

bool Dataset::readIds(qint64 deadline, size_t upTo) const {
    Cursor* cur = cursor_.get();
    if (cur && !cur->wholeIds.empty()) {
        // Not between events: a server has nothing to release meanwhile, and answers all at once.
        if (deadline >= 0 || cur->ids.size() >= upTo) {
            return false;
        }
        std::vector<long long> all;
        try {
            Statement whole(connection_, cur->wholeIds);
            while (whole.step()) {
                all.push_back(whole.columnInt64(0));
            }
        } catch (const DatabaseError& e) {
            cur->idsFailure = e.text();
            cur->wholeIds.clear();
            throw;
        }
        cur->wholeIds.clear();
        appendRest(cur->ids, all);
        // Read where nothing may be told; the views hear of the rows once the event that asked is over.
        QMetaObject::invokeMethod(const_cast<Dataset*>(this), &Dataset::tellArrivals, Qt::QueuedConnection);
        return true;
    }
    if (!cur || !cur->pendingIds) {
        return true;
    }
    Statement& s = *cur->pendingIds;
    try {
        for (int n = 0;; ++n) {
            if (cur->ids.size() >= upTo ||
                (deadline >= 0 && (n & 255) == 255 && cur->opened.nsecsElapsed() > deadline)) {
                return false;
            }
            if (!s.step()) {
                break;
            }
            cur->ids.push_back(s.columnInt64(0));
        }
        s.reset();
    } catch (const DatabaseError& e) {
        cur->idsFailure = e.text();
        const_cast<Dataset*>(this)->dropPendingIds();
        throw;
    }
    const_cast<Dataset*>(this)->dropPendingIds();
    return true;
}

void Dataset::dropPendingIds() {
    connection_.removePendingRead(this);
    if (cursor_) {
        cursor_->pendingIds.reset();
    }
}

void Dataset::catchUpIds() {
    readAllIds();
    tellArrivals();
}

void Dataset::tellArrivals() {
    if (knownCount() > told_) {
        told_ = knownCount();
        emit rowsArrived();
    }
}

void Dataset::timerEvent(QTimerEvent* event) {
    if (event->timerId() != idsTimer_.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    QString failure;
    if (cursor_ && cursor_->pendingIds) {
        try {
            const qint64 deadline =
                cursor_->opened.elapsed() > kIdsPendingLimitMs ? -1 : cursor_->opened.nsecsElapsed() + kIdSliceNs;
            readIds(deadline, SIZE_MAX);
        } catch (const DatabaseError& e) {
            failure = e.text();
        }
    }
    if (allRead()) {
        idsTimer_.stop();
        tellArrivals();
    }
    if (!failure.isEmpty()) {
        emit readFailed(failure);
    }
}

bool Dataset::updatable() const {
    return cursor_ && !cursor_->table.isEmpty();
}

void Dataset::open() {
    if (active()) {
        return;
    }
    // Another list still reading its ids holds the file's read lock: this one's reading may take long.
    connection_.finishPendingReads();
    const QString text = table_.isEmpty() ? sqlText() : QStringLiteral("SELECT * FROM [%1]").arg(table_);
    const TranslatedSelect tr = translateJetSql(text, connection_.dialect());
    {
        Statement whole(connection_, tr.sql);
        if (!whole.readOnly()) {
            fail(QStringLiteral("A query may only read the register; this statement would change it."));
        }
        if (tr.singleTable) {
            openByRowid(tr);
        } else {
            openWhole(whole);
        }
    }
    // The dataset becomes open only once its first record is read; a failure leaves it closed and empty.
    {
        const OnFailure leaveClosed([this] {
            cursor_.reset();
            fields_.clear();
            buffer_.clear();
            original_.clear();
            stored_.clear();
        });
        loadRow(0);
    }
    insertedAt_ = -1;
    state_ = State::Browse;
    eof_ = bof_ = isEmpty();
    told_ = knownCount();
    emit activeChanged();
    emit stateChanged();
    emit currentChanged();
}

void Dataset::openByRowid(const TranslatedSelect& tr) {
    // Learn the fields from the statement that reads rows by id, then keep only the ids in order.
    auto cursor = std::make_unique<Cursor>();
    cursor->byRowid = true;
    cursor->table = QString::fromStdString(tr.table);
    if (cursor->table.size() >= 2 && cursor->table.startsWith(QLatin1Char('"')) &&
        cursor->table.endsWith(QLatin1Char('"'))) {
        cursor->table =
            cursor->table.mid(1, cursor->table.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
    }
    cursor->selectList = tr.selectList;
    cursor->fromWhere = tr.fromWhere;
    // A search reopens the list at every keystroke with the same table and columns: their fields are learnt
    // once (on a server that is two questions over the network).
    if (shape_.fields.empty() || shape_.table != cursor->table || shape_.selectList != tr.selectList) {
        Shape shape{cursor->table, tr.selectList, {}, {}, {}};
        Statement fetch(connection_, "SELECT rowid, " + tr.selectList + " FROM " +
                                         connection_.quoteName(cursor->table) + " WHERE rowid = ?");
        for (int i = 1; i < fetch.columnCount(); ++i) {
            shape.fields.push_back({fetch.columnName(i),
                                    typeFromDecl(fetch.columnDeclType(i)).value_or(FieldType::Text),
                                    fetch.columnOriginName(i)});
        }
        // The record's identity beyond its row id: the columns of the table's unique indexes that the result
        // reads; without any, every column it reads.
        const QStringList keys = uniqueColumns(connection_, cursor->table);
        shape.uniqueColumns = keys;
        for (size_t i = 0; i < shape.fields.size(); ++i) {
            const QString& column = shape.fields[i].column;
            if (!column.isEmpty() && (keys.isEmpty() || keys.contains(column, Qt::CaseInsensitive))) {
                shape.keyFields.push_back(i);
            }
        }
        shape_ = std::move(shape);
    }
    cursor->keyFields = shape_.keyFields;
    // "ORDER BY Assetid": a column no two records share orders the rows whole, so a walk can resume after it.
    if (tr.fromOn.size() > tr.fromWhere.size() && tr.fromOn.compare(0, tr.fromWhere.size(), tr.fromWhere) == 0) {
        static const QRegularExpression orderBy(QStringLiteral(R"(^\s*ORDER\s+BY\s+("?)(\w+)\1(\s+ASC)?\s*$)"),
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = orderBy.match(QString::fromStdString(tr.fromOn.substr(tr.fromWhere.size())));
        if (m.hasMatch() && shape_.uniqueColumns.contains(m.captured(2), Qt::CaseInsensitive)) {
            cursor->orderKey = connection_.quoteName(m.captured(2));
        }
    }
    const std::string idsSql = "SELECT rowid " + tr.fromOn;
    static const QRegularExpression limited(QStringLiteral(R"(\bLIMIT\b)"), QRegularExpression::CaseInsensitiveOption);
    const bool answersWhole = connection_.engine().answersWhole();
    if (restBetweenEvents_ && answersWhole && !limited.match(QString::fromStdString(tr.fromOn)).hasMatch()) {
        // A server answers a statement whole, however long: the first rows are asked for alone, and the rest
        // only when they are needed (a move past them, the count).
        Statement first(connection_, idsSql + " LIMIT " + std::to_string(kFirstIds));
        while (first.step()) {
            cursor->ids.push_back(first.columnInt64(0));
        }
        if (cursor->ids.size() == kFirstIds) {
            cursor->wholeIds = idsSql;
        }
    } else {
        cursor->pendingIds = std::make_unique<Statement>(connection_, idsSql);
        cursor->opened.start();
    }
    fields_ = shape_.fields;
    cursor_ = std::move(cursor);
    if (cursor_->pendingIds && !readIds(-1, restBetweenEvents_ && !answersWhole ? kFirstIds : SIZE_MAX)) {
        connection_.addPendingRead(this, [this] { readAllIds(); });
        idsTimer_.start(0, this);
    }
}

void Dataset::openWhole(Statement& whole) {
    auto cursor = std::make_unique<Cursor>();
    std::vector<FieldDef> fields;
    const size_t n = static_cast<size_t>(whole.columnCount());
    while (whole.step()) {
        Row row(n);
        for (size_t i = 0; i < n; ++i) {
            row[i] = whole.column(static_cast<int>(i));
        }
        cursor->rows.push_back(std::move(row));
    }
    whole.reset();
    for (size_t i = 0; i < n; ++i) {
        const int c = static_cast<int>(i);
        const FieldType type = typeFromDecl(whole.columnDeclType(c)).value_or(typeFromValues(cursor->rows, i));
        fields.push_back({whole.columnName(c), type, QString()});
    }
    for (Row& r : cursor->rows) {
        for (size_t i = 0; i < n; ++i) {
            r[i] = normalise(fields[i].type, r[i]);
        }
    }
    fields_ = std::move(fields);
    cursor_ = std::move(cursor);
}

void Dataset::close() {
    if (!active()) {
        return;
    }
    dropPendingIds();
    idsTimer_.stop();
    cursor_.reset();
    fields_.clear();
    buffer_.clear();
    original_.clear();
    stored_.clear();
    insertedAt_ = -1;
    current_ = 0;
    eof_ = bof_ = true;
    state_ = State::Inactive;
    emit activeChanged();
    emit stateChanged();
}

void Dataset::requireActive() const {
    if (!active()) {
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
    }
}

void Dataset::requireEditing() const {
    if (state_ != State::Edit && state_ != State::Insert) {
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    }
}

void Dataset::setState(State s) {
    if (state_ != s) {
        state_ = s;
        emit stateChanged();
    }
}

void Dataset::checkBrowseMode() {
    requireActive();
    if (state_ == State::Edit || state_ == State::Insert) {
        post();
    }
}

void Dataset::loadRow(int row) {
    const int n = row >= 0 && row < knownCount() ? knownCount() : recordCount();
    if (n == 0) {
        current_ = 0;
        stored_.assign(fields_.size(), QVariant());
    } else {
        row = std::clamp(row, 0, n - 1);
        // Read first: when the read fails, the cursor stays on the record it had, with its values.
        Row raw = cursor_->byRowid ? fetchRow(connection_, *cursor_, row, fields_.size())
                                   : cursor_->rows[static_cast<size_t>(row)];
        current_ = row;
        stored_ = std::move(raw);
    }
    buffer_.resize(stored_.size());
    for (size_t i = 0; i < stored_.size(); ++i) {
        buffer_[i] = normalise(fields_[i].type, stored_[i]);
    }
    original_ = buffer_;
}

// Reads rows by id in blocks around row, so a grid's screen or a report's walk costs one statement per
// block rather than one per row.
const Row& Dataset::fetchRow(const Connection& connection, const Cursor& cursor, int row, size_t width) {
    const long long id = cursor.ids[static_cast<size_t>(row)];
    if (auto it = cursor.cache.find(id); it != cursor.cache.end()) {
        return it->second;
    }
    if (cursor.cache.size() > kCacheLimit) {
        cursor.cache.clear();
    }
    const int first = row - row % kBlock;
    const int last = std::min(first + kBlock, cursor.count());
    Statement s(connection, rowsByIdSql(connection, cursor.selectList, cursor.table, last - first));
    s.bindRowIds(cursor.ids, static_cast<size_t>(first), static_cast<size_t>(last));
    while (s.step()) {
        Row r(width);
        for (size_t c = 0; c < width; ++c) {
            r[c] = s.column(static_cast<int>(c) + 1);
        }
        cursor.cache[s.columnInt64(0)] = std::move(r);
    }
    s.reset();
    // A row another program deleted since the cursor opened reads as empty, and is gone.
    for (int i = first; i < last; ++i) {
        const long long missing = cursor.ids[static_cast<size_t>(i)];
        if (cursor.cache.try_emplace(missing, Row(width)).second && missing >= 0) {
            cursor.gone.insert(missing);
        }
    }
    return cursor.cache[id];
}

void Dataset::first() {
    checkBrowseMode();
    loadRow(0);
    eof_ = bof_ = isEmpty();
    currentMoved();
}

void Dataset::next() {
    checkBrowseMode();
    bof_ = false;
    if (!hasRow(current_ + 1)) {
        eof_ = true;
        return;
    }
    loadRow(current_ + 1);
    eof_ = false;
    currentMoved();
}

void Dataset::prior() {
    checkBrowseMode();
    eof_ = false;
    if (current_ <= 0) {
        bof_ = true;
        return;
    }
    loadRow(current_ - 1);
    bof_ = false;
    currentMoved();
}

void Dataset::last() {
    checkBrowseMode();
    catchUpIds();
    loadRow(recordCount() - 1);
    eof_ = bof_ = isEmpty();
    currentMoved();
}

void Dataset::moveTo(int row) {
    checkBrowseMode();
    if (isEmpty() || row == current_) {
        return;
    }
    loadRow(row);
    eof_ = bof_ = false;
    currentMoved();
}

void Dataset::currentMoved() {
    if (controlHolds_ > 0) {
        movedWhileHeld_ = true;
    } else {
        emit currentChanged();
    }
}

void Dataset::releaseControls() {
    if (controlHolds_ == 0 || --controlHolds_ > 0 || !movedWhileHeld_) {
        return;
    }
    movedWhileHeld_ = false;
    emit currentChanged();
}

int Dataset::findField(const QString& name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Field Dataset::fieldByName(const QString& name) {
    const int i = findField(name);
    if (i < 0) {
        fail(QStringLiteral("Field '%1' not found").arg(name));
    }
    return Field(*this, i);
}

QVariant Dataset::value(int field) const {
    if (field < 0 || static_cast<size_t>(field) >= buffer_.size()) {
        return QVariant();
    }
    return buffer_[static_cast<size_t>(field)];
}

QString Dataset::text(int field) const {
    return valueToText(field, value(field));
}

QVariant Dataset::valueAt(int row, int field) const {
    if (!cursor_ || !hasRow(row) || field < 0 || field >= fieldCount()) {
        return QVariant();
    }
    if (row == current_) {
        return value(field);
    }
    if (!cursor_->byRowid) {
        return cursor_->rows[static_cast<size_t>(row)][static_cast<size_t>(field)];
    }
    if (cursor_->ids[static_cast<size_t>(row)] < 0) {
        return QVariant();
    }
    return normalise(fields_[static_cast<size_t>(field)].type,
                     fetchRow(connection_, *cursor_, row, fields_.size())[static_cast<size_t>(field)]);
}

bool Dataset::rowIsRead(int row) const {
    if (!cursor_ || !hasRow(row) || row == current_ || !cursor_->byRowid) {
        return true;
    }
    const long long id = cursor_->ids[static_cast<size_t>(row)];
    return id < 0 || cursor_->cache.count(id) != 0;
}

QString Dataset::textAt(int row, int field) const {
    return valueToText(field, valueAt(row, field));
}

void CellTexts::reset(size_t cells) {
    bytes_.clear(); // keeps its room for the next block
    spans_.assign(cells, {0, 0});
}

void CellTexts::set(size_t cell, QByteArrayView utf8) {
    spans_[cell] = {static_cast<qsizetype>(bytes_.size()), utf8.size()};
    bytes_.append(utf8.data(), static_cast<size_t>(utf8.size()));
}

void CellTexts::set(size_t cell, const QString& text) {
    set(cell, QByteArrayView(text.toUtf8()));
}

void Dataset::readTexts(const Statement& s, const std::vector<int>& fields, CellTexts& out, size_t cell,
                        int first) const {
    for (size_t c = 0; c < fields.size(); ++c) {
        const int f = fields[c];
        const FieldType type = fields_[static_cast<size_t>(f)].type;
        // A text column holding text shows it as it is: its bytes are copied as they are stored.
        if (type == FieldType::Text) {
            if (const std::optional<QByteArrayView> text = s.columnTextUtf8(static_cast<int>(c) + first)) {
                out.set(cell + c, *text);
                continue;
            }
        }
        out.set(cell + c, valueToText(f, normalise(type, s.column(static_cast<int>(c) + first))));
    }
}

std::vector<QString> Dataset::textsOf(int from, int count, const std::vector<int>& fields) const {
    CellTexts cells;
    textsOf(from, count, fields, cells);
    std::vector<QString> texts;
    texts.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        texts.push_back(QString::fromUtf8(cells.at(i)));
    }
    return texts;
}

void Dataset::textsOf(int from, int count, const std::vector<int>& fields, CellTexts& texts) const {
    texts.reset(0);
    if (!cursor_ || from < 0 || count <= 0 || !hasRow(from + count - 1)) {
        return;
    }
    const size_t width = fields.size();
    bool columnsKnown = cursor_->byRowid;
    std::string columns;
    for (const int f : fields) {
        if (f < 0 || f >= fieldCount() || fields_[static_cast<size_t>(f)].column.isEmpty()) {
            columnsKnown = false;
            break;
        }
        columns += (columns.empty() ? "" : ", ") + connection_.quoteName(fields_[static_cast<size_t>(f)].column);
    }
    texts.reset(static_cast<size_t>(count) * width);
    if (!columnsKnown) {
        for (int row = from; row < from + count; ++row) {
            for (size_t c = 0; c < width; ++c) {
                texts.set(static_cast<size_t>(row - from) * width + c, textAt(row, fields[c]));
            }
        }
        return;
    }
    std::unordered_map<long long, size_t> at; // through placesIn
    std::vector<bool> done(static_cast<size_t>(count), false);
    int missing = count;
    const bool following = from > 0 && from == cursor_->walkedTo && columns == cursor_->walkedColumns;
    cursor_->walkedTo = from + count;
    cursor_->walkedColumns = columns;
    if (!following) {
        cursor_->resumeAfter.reset();
    }
    if (Walk* walk = walkFor(from, count, columns, following)) {
        for (int i = 0; i < count; ++i) {
            const auto it = walk->rowOf.find(cursor_->ids[static_cast<size_t>(from + i)]);
            if (it != walk->rowOf.end() && walk->rows.seek(it->second)) {
                readTexts(walk->rows, fields, texts, static_cast<size_t>(i) * width);
                done[static_cast<size_t>(i)] = true;
                --missing;
            }
        }
        if (from + count >= recordCount()) {
            cursor_->walk.reset();
        }
    } else if (following) {
        missing -= resumeWalk(from, count, columns, fields, at, texts, done);
    }
    // A row the walk's statement no longer selects (another program changed it) is read by id.
    if (missing > 0) {
        std::vector<long long> ids;
        ids.reserve(static_cast<size_t>(missing));
        for (int i = 0; i < count; ++i) {
            if (!done[static_cast<size_t>(i)]) {
                ids.push_back(cursor_->ids[static_cast<size_t>(from + i)]);
            }
        }
        // A walk asks for block after block of the same size and columns: its statement is prepared once.
        if (!cursor_->byIds || cursor_->byIdsColumns != columns || cursor_->byIdsCount != missing) {
            cursor_->byIds.reset();
            cursor_->byIds =
                std::make_unique<Statement>(connection_, rowsByIdSql(connection_, columns, cursor_->table, missing));
            cursor_->byIdsColumns = columns;
            cursor_->byIdsCount = missing;
        }
        Statement& s = *cursor_->byIds;
        s.bindRowIds(ids, 0, ids.size());
        // A row another program deleted since the cursor opened, or one not yet written, reads as empty.
        {
            const OnFailure forget([this] { cursor_->byIds.reset(); });
            const auto& places = placesIn(cursor_->ids, from, count, at);
            while (s.step()) {
                if (const auto it = places.find(s.columnInt64(0)); it != places.end()) {
                    readTexts(s, fields, texts, it->second * width);
                }
            }
        }
        s.reset();
    }
    // The current record shows what it holds now, as textAt does.
    if (current_ >= from && current_ < from + count) {
        for (size_t c = 0; c < width; ++c) {
            texts.set(static_cast<size_t>(current_ - from) * width + c, text(fields[c]));
        }
    }
}

Dataset::Walk* Dataset::walkFor(int from, int count, const std::string& columns, bool following) const {
    // On a server a statement's rows come whole in one answer, so once blocks are asked for one after the
    // other, the rest of the walk reads the rows the cursor's statement selects once, in no order (the
    // cursor's ids keep it), instead of asking again by id for every block. A file must not keep its
    // statement open between blocks: that would hold a lock that stops other programs writing.
    if (!connection_.engine().answersWhole() || !following) {
        cursor_->walk.reset();
        return nullptr;
    }
    if (!cursor_->walk && from + count < recordCount()) {
        auto walk = std::make_unique<Walk>(connection_, "SELECT rowid, " + columns + " " + cursor_->fromWhere);
        walk->rowOf.reserve(static_cast<size_t>(recordCount()));
        for (int row = 0; walk->rows.step(); ++row) {
            walk->rowOf.emplace(walk->rows.columnInt64(0), row);
        }
        cursor_->walk = std::move(walk);
    }
    return cursor_->walk.get();
}

int Dataset::resumeWalk(int from, int count, const std::string& columns, const std::vector<int>& fields,
                        std::unordered_map<long long, size_t>& at, CellTexts& texts, std::vector<bool>& done) const {
    // A list ordered by a column unique to a record, from an index, is read a block at a time by the list's
    // own statement started after the key the block before ended on: one step along the index per row
    // instead of a look-up per row id. The statement is reset after each block, so no lock is held between
    // blocks and another program's save waits for one block's read at most. A row is read whole within its
    // block's read, as it was or as it now is; one the statement no longer reads where the cursor has it
    // (another program changed or added rows) is left to be read by id.
    Cursor& cur = *cursor_;
    if (cur.orderKey.empty()) {
        return 0;
    }
    if (!cur.resume || cur.resumeColumns != columns) {
        cur.resume.reset();
        cur.resumeAfter.reset();
        const std::string sql = "SELECT * FROM (SELECT rowid AS walk_rowid, " + cur.orderKey + " AS walk_key, " +
                                columns + " " + cur.fromWhere + ") WHERE walk_key > ? ORDER BY walk_key LIMIT ?";
        if (!connection_.engine().readsInOrder(connection_, sql)) {
            cur.orderKey.clear(); // every block would sort the rows again: reading by id is quicker
            return 0;
        }
        cur.resume = std::make_unique<Statement>(connection_, sql);
        cur.resumeColumns = columns;
    }
    if (!cur.resumeAfter) {
        Statement last(connection_,
                       "SELECT " + cur.orderKey + " FROM " + connection_.quoteName(cur.table) + " WHERE rowid = ?");
        last.bindInt64(1, cur.ids[static_cast<size_t>(from - 1)]);
        if (!last.step() || last.column(0).isNull()) {
            return 0;
        }
        cur.resumeAfter = last.column(0);
    }
    Statement& s = *cur.resume;
    s.bind(1, *cur.resumeAfter);
    s.bindInt64(2, count);
    const long long endId = cur.ids[static_cast<size_t>(from + count - 1)];
    cur.resumeAfter.reset();
    int read = 0;
    size_t next = 0; // the rows come in the cursor's order unless another program changed them
    {
        const OnFailure forget([&cur] { cur.resume.reset(); });
        while (s.step()) {
            const long long id = s.columnInt64(0);
            // The next block starts after this block's last row. When another program moved that row, the
            // next block looks its key up again.
            if (id == endId) {
                cur.resumeAfter = s.column(1);
            }
            size_t place = next;
            if (next < static_cast<size_t>(count) && cur.ids[static_cast<size_t>(from) + next] == id) {
                ++next;
            } else if (const auto& places = placesIn(cur.ids, from, count, at); places.count(id) != 0) {
                place = places.at(id);
            } else {
                continue;
            }
            if (!done[place]) {
                readTexts(s, fields, texts, place * fields.size(), 2);
                done[place] = true;
                ++read;
            }
        }
    }
    s.reset();
    return read;
}

QString Dataset::valueToText(int field, const QVariant& v) const {
    if (!v.isValid() || v.isNull()) {
        return QString();
    }
    switch (fields_[static_cast<size_t>(field)].type) {
    case FieldType::Text:
        return v.toString();
    case FieldType::Date: {
        bool hasTime = false;
        const QDateTime dt = storedToDateTime(v.toString(), &hasTime);
        return dt.isValid() ? dateTimeToText(dt, hasTime) : v.toString();
    }
    case FieldType::Boolean:
        return v.toLongLong() != 0 ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::Money:
    case FieldType::Float:
        return numberToText(v.toDouble());
    case FieldType::Integer:
        return QString::number(v.toLongLong());
    }
    return v.toString();
}

QVariant Dataset::convertText(int field, const QString& text) const {
    const FieldDef& f = fields_[static_cast<size_t>(field)];
    if (f.type == FieldType::Text) {
        if (text.size() > kMaxTextLength) {
            throw ConversionError(QStringLiteral("'%1' holds at most %2 characters; the text typed has %3.")
                                      .arg(f.name)
                                      .arg(kMaxTextLength)
                                      .arg(text.size()));
        }
        if (text.contains(QChar(0))) {
            throw ConversionError(
                QStringLiteral("'%1' cannot hold the character NUL; remove it and try again.").arg(f.name));
        }
        return text;
    }
    if (text.trimmed().isEmpty()) {
        return f.type == FieldType::Boolean ? QVariant(0LL) : QVariant();
    }
    switch (f.type) {
    case FieldType::Date:
        return dateToStored(parseDate(text));
    case FieldType::Boolean:
        return QVariant(parseBoolean(text) ? 1LL : 0LL);
    case FieldType::Money: {
        const double amount = parseFloat(text);
        if (std::fabs(amount) >= kMoneyLimit) {
            throw ConversionError(QStringLiteral("'%1' is not a valid amount: an amount has at most 12 digits "
                                                 "before the decimal point")
                                      .arg(text));
        }
        return QVariant(amount);
    }
    case FieldType::Float:
        return QVariant(parseFloat(text));
    case FieldType::Integer:
        return QVariant(static_cast<qlonglong>(parseInteger(text)));
    case FieldType::Text:
        break;
    }
    return text;
}

void Dataset::setValue(int field, const QVariant& value) {
    requireEditing();
    if (field < 0 || field >= fieldCount()) {
        fail(QStringLiteral("Field index out of range"));
    }
    const FieldDef& f = fields_[static_cast<size_t>(field)];
    if (f.column.isEmpty() || !updatable()) {
        fail(QStringLiteral("Field '%1' cannot be modified").arg(f.name));
    }
    buffer_[static_cast<size_t>(field)] = normalise(f.type, value);
    emit recordChanged(field);
}

void Dataset::setText(int field, const QString& text) {
    requireEditing();
    setValue(field, convertText(field, text));
}

bool Dataset::isModified() const {
    return (state_ == State::Edit || state_ == State::Insert) && buffer_ != original_;
}

void Dataset::beginInsert(int at) {
    if (!updatable()) {
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    }
    currentBeforeInsert_ = current_;
    cursor_->ids.insert(cursor_->ids.begin() + at, -1);
    insertedAt_ = at;
    current_ = at;
    eof_ = bof_ = false;
    buffer_.assign(fields_.size(), QVariant());
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type == FieldType::Boolean) {
            buffer_[i] = QVariant(0LL);
        }
    }
    original_ = buffer_;
    setState(State::Insert);
    emit rowInserted(at);
    emit currentChanged();
    emit recordChanged(-1);
}

void Dataset::insert() {
    checkBrowseMode();
    catchUpIds();
    beginInsert(recordCount() == 0 ? 0 : current_);
}

void Dataset::append() {
    checkBrowseMode();
    catchUpIds();
    beginInsert(recordCount());
}

void Dataset::edit() {
    requireActive();
    if (state_ == State::Edit || state_ == State::Insert) {
        return;
    }
    catchUpIds();
    if (recordCount() == 0) {
        insert();
        return;
    }
    if (!updatable()) {
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    }
    if (rowGone(current_)) {
        throw DatabaseError(kGoneText);
    }
    setState(State::Edit);
}

void Dataset::setDuplicateKeyText(const QString& text) {
    duplicateKeyText_ = text;
}

[[noreturn]] void Dataset::rethrowPostError(const DatabaseError& e) const {
    // SQLite says "UNIQUE constraint failed: table.column": name the value the user gave, in words.
    static const QLatin1String kUnique("UNIQUE constraint failed: ");
    if (e.text().startsWith(kUnique)) {
        const QString column =
            e.text().mid(kUnique.size()).section(QLatin1Char('.'), 1, 1).section(QLatin1Char(','), 0, 0);
        const int f = findField(column);
        const QString value = f >= 0 ? buffer_[static_cast<size_t>(f)].toString() : QString();
        if (!duplicateKeyText_.isEmpty()) {
            throw DatabaseError(duplicateKeyText_.arg(value));
        }
        throw DatabaseError(
            QStringLiteral("'%1' is already in the register, and %2 holds each value once. Nothing was saved.")
                .arg(value, column));
    }
    throw; // as it was: a refused guard stays a StaleRowError
}

void Dataset::post() {
    requireEditing();
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type == FieldType::Text && buffer_[i].toString().size() > kMaxTextLength) {
            fail(QStringLiteral("'%1' holds at most %2 characters; nothing was saved.")
                     .arg(fields_[i].name)
                     .arg(kMaxTextLength));
        }
    }
    // A post that joins a larger transaction is undone in memory too when that transaction rolls back, so
    // the record is again being edited with what the user typed and a second try writes it afresh.
    std::optional<Snapshot> before;
    if (connection_.inTransaction()) {
        before = Snapshot{cursor_->ids,         current_, state_, buffer_, original_, stored_, insertedAt_,
                          currentBeforeInsert_, eof_,     bof_};
    }
    try {
        if (state_ == State::Insert) {
            postInsert();
        } else {
            postEdit();
        }
    } catch (const DatabaseError& e) {
        rethrowPostError(e);
    }
    if (before) {
        connection_.onRollback([this, snapshot = std::move(*before)]() mutable { restore(std::move(snapshot)); });
    }
    setState(State::Browse);
    emit recordChanged(-1);
}

void Dataset::restore(Snapshot&& s) {
    if (!cursor_) {
        return;
    }
    cursor_->ids = std::move(s.ids);
    cursor_->cache.clear();
    current_ = s.current;
    buffer_ = std::move(s.buffer);
    original_ = std::move(s.original);
    stored_ = std::move(s.stored);
    insertedAt_ = s.insertedAt;
    currentBeforeInsert_ = s.currentBeforeInsert;
    eof_ = s.eof;
    bof_ = s.bof;
    state_ = s.state;
    emit activeChanged();
    emit stateChanged();
    emit currentChanged();
    emit recordChanged(-1);
}

void Dataset::postInsert() {
    std::string columns;
    std::string marks;
    std::vector<QVariant> values;
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].column.isEmpty() || buffer_[i].isNull()) {
            continue;
        }
        columns += (columns.empty() ? "" : ", ") + connection_.quoteName(fields_[i].column);
        marks += marks.empty() ? "?" : ", ?";
        values.push_back(buffer_[i]);
    }
    const std::string table = connection_.quoteName(cursor_->table);
    const std::string sql = columns.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                                            : "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
    long long id = -1;
    Row raw;
    {
        Connection::Transaction t(connection_);
        Statement s(connection_, sql);
        for (size_t i = 0; i < values.size(); ++i) {
            s.bind(static_cast<int>(i) + 1, values[i]);
        }
        s.step();
        id = connection_.lastInsertRowid();
        s.reset();
        // Read the stored row back inside the transaction, so defaults the table filled in show as stored
        // and the record's guard holds exactly what was written.
        raw = readRow(id);
        recordChange(subjectOf(id, raw), HistoryAction::Added, nullptr, &raw, {});
        t.commit();
    }
    cursor_->ids[static_cast<size_t>(insertedAt_)] = id;
    insertedAt_ = -1;
    cursor_->cache[id] = raw;
    loadRow(current_);
}

// The condition that holds only while the stored row is the record this cursor read: the same row id, the
// same key (a column of a unique index) and, for a change, the same values in the columns it changes. Values
// compare exactly, texts by their bytes: another program changing a letter's case is a change too. Row ids
// alone are not enough, since SQLite gives the id of the newest deleted row to the next row added.
std::string Dataset::guardClause(const std::vector<size_t>& changed, std::vector<QVariant>& binds) const {
    std::string guard = " WHERE rowid = ?";
    binds.push_back(QVariant(static_cast<qlonglong>(cursor_->ids[static_cast<size_t>(current_)])));
    std::vector<size_t> guarded = cursor_->keyFields;
    guarded.insert(guarded.end(), changed.begin(), changed.end());
    QStringList seen;
    for (size_t i : guarded) {
        const QString& column = fields_[i].column;
        if (seen.contains(column, Qt::CaseInsensitive)) {
            continue;
        }
        seen.append(column);
        guard += " AND " + connection_.sameValueSql(connection_.quoteName(column), fields_[i].type == FieldType::Text);
        binds.push_back(stored_[i]);
    }
    return guard;
}

void Dataset::changeGuarded(const std::string& sql, const std::vector<QVariant>& binds) {
    Statement s(connection_, sql);
    for (size_t i = 0; i < binds.size(); ++i) {
        s.bind(static_cast<int>(i) + 1, binds[i]);
    }
    s.step();
    s.reset();
    if (connection_.changes() != 1) {
        throw StaleRowError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                           "changed since it was last read."));
    }
}

Dataset::Row Dataset::readRow(long long id) const {
    return readStoredRow(id, nullptr).value_or(Row(fields_.size()));
}

std::optional<Dataset::Row> Dataset::readStoredRow(long long id, const Row* known) const {
    Statement s(connection_, "SELECT " + cursor_->selectList + " FROM " + connection_.quoteName(cursor_->table) +
                                 " WHERE rowid = ?");
    s.bindInt64(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    Row r(fields_.size());
    for (size_t c = 0; c < r.size(); ++c) {
        r[c] = s.column(static_cast<int>(c));
    }
    s.reset();
    if (known && !sameRecord(*known, r)) {
        return std::nullopt;
    }
    return r;
}

// A row id alone does not name a record: SQLite gives the id of the newest deleted row to the next row added.
bool Dataset::sameRecord(const Row& a, const Row& b) const {
    for (size_t i : cursor_->keyFields) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

bool Dataset::rowGone(int row) const {
    if (!cursor_ || !cursor_->byRowid || row < 0 || row >= knownCount()) {
        return false;
    }
    return cursor_->gone.count(cursor_->ids[static_cast<size_t>(row)]) != 0;
}

bool Dataset::refresh() {
    if (controlHolds_ > 0 || connection_.inTransaction() || (cursor_ && cursor_->pendingIds)) {
        return false;
    }
    if (!cursor_ || !cursor_->byRowid) {
        return true;
    }
    // The rows in memory are the ones a view has shown; the rest are read afresh when next shown. The
    // current record is read again even when the cache has started afresh since it was loaded.
    std::unordered_map<long long, Row> known;
    for (const auto& [id, row] : cursor_->cache) {
        if (id >= 0 && !cursor_->gone.count(id)) {
            known.emplace(id, row);
        }
    }
    const bool haveCurrent = recordCount() > 0 && cursor_->ids[static_cast<size_t>(current_)] >= 0;
    const long long currentId = haveCurrent ? cursor_->ids[static_cast<size_t>(current_)] : -1;
    if (haveCurrent && !cursor_->gone.count(currentId)) {
        known.try_emplace(currentId, stored_);
    }
    std::vector<long long> ids;
    ids.reserve(known.size());
    for (const auto& entry : known) {
        ids.push_back(entry.first);
    }
    std::unordered_map<long long, Row> fresh;
    for (size_t first = 0; first < ids.size(); first += kBlock) {
        const size_t last = std::min(first + kBlock, ids.size());
        Statement s(connection_,
                    rowsByIdSql(connection_, cursor_->selectList, cursor_->table, static_cast<int>(last - first)));
        s.bindRowIds(ids, first, last);
        while (s.step()) {
            Row r(fields_.size());
            for (size_t c = 0; c < r.size(); ++c) {
                r[c] = s.column(static_cast<int>(c) + 1);
            }
            fresh.emplace(s.columnInt64(0), std::move(r));
        }
        s.reset();
    }
    // A walk under way on a server keeps the rows as they were when it began.
    cursor_->walk.reset();
    cursor_->walkedTo = -1;
    std::unordered_set<long long> changed;
    for (auto& [id, old] : known) {
        auto it = fresh.find(id);
        if (it == fresh.end() || !sameRecord(old, it->second)) {
            cursor_->gone.insert(id); // keeps the values it had, to show what went
            changed.insert(id);
        } else if (it->second != old) {
            cursor_->cache[id] = std::move(it->second);
            changed.insert(id);
        }
    }
    if (changed.empty()) {
        return true;
    }
    if (state_ == State::Browse && changed.count(currentId) && !cursor_->gone.count(currentId)) {
        stored_ = cursor_->cache[currentId];
        for (size_t i = 0; i < stored_.size(); ++i) {
            buffer_[i] = normalise(fields_[i].type, stored_[i]);
        }
        original_ = buffer_;
        emit recordChanged(-1);
    }
    for (int row = 0; row < knownCount() && !changed.empty(); ++row) {
        if (changed.erase(cursor_->ids[static_cast<size_t>(row)])) {
            emit rowRefreshed(row);
        }
    }
    return true;
}

std::optional<Dataset::Row> Dataset::storedNow() {
    requireActive();
    if (!cursor_->byRowid || recordCount() == 0 || cursor_->ids[static_cast<size_t>(current_)] < 0) {
        return std::nullopt;
    }
    const long long id = cursor_->ids[static_cast<size_t>(current_)];
    std::optional<Row> now = readStoredRow(id, &stored_);
    if (now) {
        cursor_->cache[id] = *now;
    } else {
        cursor_->gone.insert(id);
    }
    emit rowRefreshed(current_);
    return now;
}

void Dataset::rebaseEdit(const Row& stored, bool keepTyped) {
    if (state_ != State::Edit || stored.size() != fields_.size()) {
        fail(QStringLiteral("Dataset not in edit mode"));
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
        const QVariant now = normalise(fields_[i].type, stored[i]);
        if (!keepTyped || buffer_[i] == original_[i]) {
            buffer_[i] = now;
        }
        original_[i] = now;
    }
    stored_ = stored;
    emit recordChanged(-1);
}

QVariant Dataset::originalValue(int field) const {
    if (field < 0 || static_cast<size_t>(field) >= original_.size()) {
        return QVariant();
    }
    return original_[static_cast<size_t>(field)];
}

QString Dataset::fieldText(int field, const QVariant& value) const {
    if (field < 0 || field >= fieldCount()) {
        return QString();
    }
    return valueToText(field, normalise(fields_[static_cast<size_t>(field)].type, value));
}

void Dataset::postEdit() {
    std::vector<size_t> changed;
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (buffer_[i] != original_[i]) {
            changed.push_back(i);
        }
    }
    if (changed.empty()) {
        return;
    }
    std::string set;
    std::vector<QVariant> binds;
    for (size_t i : changed) {
        set += (set.empty() ? "" : ", ") + connection_.quoteName(fields_[i].column) + " = ?";
        binds.push_back(buffer_[i]);
    }
    const long long id = cursor_->ids[static_cast<size_t>(current_)];
    const std::string sql =
        "UPDATE " + connection_.quoteName(cursor_->table) + " SET " + set + guardClause(changed, binds);
    Row raw;
    {
        Connection::Transaction t(connection_);
        changeGuarded(sql, binds);
        raw = readRow(id);
        // The guard held: the changed columns held what the cursor read until this change.
        recordChange(subjectOf(id, raw), QString(), &stored_, &raw, changed);
        t.commit();
    }
    cursor_->cache[id] = raw;
    loadRow(current_);
}

void Dataset::cancel() {
    if (state_ == State::Insert) {
        const int at = insertedAt_;
        cursor_->ids.erase(cursor_->ids.begin() + at);
        insertedAt_ = -1;
        setState(State::Browse);
        emit rowRemoved(at);
        eof_ = bof_ = recordCount() == 0;
        // The record shown before the insert comes back; if it cannot be read now, the nearest empty form.
        try {
            loadRow(std::clamp(currentBeforeInsert_, 0, std::max(0, recordCount() - 1)));
        } catch (const DatabaseError&) {
            current_ = std::clamp(currentBeforeInsert_, 0, std::max(0, recordCount() - 1));
            stored_.assign(fields_.size(), QVariant());
            buffer_ = original_ = stored_;
            throw;
        }
        emit currentChanged();
        emit recordChanged(-1);
    } else if (state_ == State::Edit) {
        buffer_ = original_;
        setState(State::Browse);
        emit recordChanged(-1);
    }
}

void Dataset::deleteRecord() {
    requireActive();
    if (state_ == State::Insert) {
        cancel();
        return;
    }
    cancel();
    catchUpIds();
    if (recordCount() == 0) {
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    }
    if (!updatable()) {
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    }
    if (rowGone(current_)) {
        throw DatabaseError(kGoneText);
    }
    const int at = current_;
    const long long id = cursor_->ids[static_cast<size_t>(at)];
    std::vector<QVariant> binds;
    const std::string sql = "DELETE FROM " + connection_.quoteName(cursor_->table) + guardClause({}, binds);
    {
        Connection::Transaction t(connection_);
        // What the entry says was deleted is what was stored, read under the transaction's lock: columns the
        // guard does not compare may have been changed by another program since the cursor read them.
        const Row before = readStoredRow(id, &stored_).value_or(stored_);
        const QString subject = subjectOf(id, before);
        changeGuarded(sql, binds);
        recordChange(subject, HistoryAction::Deleted, &before, nullptr, {});
        t.commit();
    }
    cursor_->ids.erase(cursor_->ids.begin() + at);
    cursor_->cache.erase(id);
    eof_ = bof_ = recordCount() == 0;
    emit rowRemoved(at);
    loadRow(at);
    emit currentChanged();
    emit recordChanged(-1);
}

QString Dataset::subjectOf(long long id, const Row& row) const {
    const QString table = registerName(cursor_->table);
    const QString keyColumn = historyKeyColumn(table);
    if (keyColumn.isEmpty() || !tableKeepsHistory(table)) {
        return historySubject(table, QString());
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].column.compare(keyColumn, Qt::CaseInsensitive) == 0) {
            return historySubject(table, historyValueText(table, keyColumn, row[i]));
        }
    }
    // A cursor that does not read the key asks for it.
    Statement key(connection_, "SELECT " + connection_.quoteName(keyColumn) + " FROM " + connection_.quoteName(table) +
                                   " WHERE rowid = ?");
    key.bindInt64(1, id);
    return historySubject(table, key.step() ? historyValueText(table, keyColumn, key.column(0)) : QString());
}

void Dataset::recordChange(const QString& subject, const QString& action, const Row* before, const Row* after,
                           const std::vector<size_t>& changed) {
    const QString table = registerName(cursor_->table);
    if (!tableKeepsHistory(table)) {
        return;
    }
    std::vector<size_t> fields = changed;
    if (fields.empty()) {
        for (size_t i = 0; i < fields_.size(); ++i) {
            fields.push_back(i);
        }
    }
    HistoryRecord record{table, subject, action, {}};
    QStringList seen;
    for (size_t i : fields) {
        const QString& column = fields_[i].column;
        if (column.isEmpty() || seen.contains(column, Qt::CaseInsensitive)) {
            continue;
        }
        seen << column;
        HistoryChange change;
        if (historyChange(table, column, before ? (*before)[i] : QVariant(), after ? (*after)[i] : QVariant(),
                          &change)) {
            record.changes.push_back(std::move(change));
        }
    }
    if (record.action.isEmpty()) {
        if (record.changes.empty()) {
            return; // nothing the register's forms can tell apart was changed
        }
        record.action = historyEditAction(table, record.changes, [&](const QString& column) {
            const int f = findFieldByColumn(column);
            return f < 0 ? QString() : historyValueText(table, column, (*after)[static_cast<size_t>(f)]);
        });
    }
    connection_.recordHistory(std::move(record));
}

int Dataset::findFieldByColumn(const QString& column) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].column.compare(column, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Dataset::locate(const QString& fieldName, const QString& value) {
    checkBrowseMode();
    catchUpIds();
    const int f = fieldByName(fieldName).index();
    for (int row = 0; row < recordCount(); ++row) {
        if (textAt(row, f).compare(value, Qt::CaseInsensitive) == 0) {
            if (row != current_) {
                loadRow(row);
            }
            eof_ = bof_ = false;
            emit currentChanged();
            return true;
        }
    }
    return false;
}

// Field

const QString& Field::name() const {
    return ds_->fieldDef(index_).name;
}

FieldType Field::type() const {
    return ds_->fieldDef(index_).type;
}

QVariant Field::value() const {
    return ds_->value(index_);
}

bool Field::isNull() const {
    const QVariant v = value();
    return !v.isValid() || v.isNull();
}

QString Field::asString() const {
    return ds_->text(index_);
}

bool Field::asBoolean() const {
    const QVariant v = value();
    if (isNull()) {
        return false;
    }
    if (type() == FieldType::Text) {
        return parseBoolean(v.toString());
    }
    return v.toLongLong() != 0;
}

int Field::asInteger() const {
    if (isNull()) {
        return 0;
    }
    const QVariant v = value();
    if (type() == FieldType::Text || type() == FieldType::Date) {
        return parseInteger(v.toString());
    }
    return static_cast<int>(v.toLongLong());
}

double Field::asFloat() const {
    if (isNull()) {
        return 0;
    }
    if (type() == FieldType::Text || type() == FieldType::Date) {
        return parseFloat(value().toString());
    }
    return value().toDouble();
}

void Field::setAsString(const QString& text) const {
    ds_->setText(index_, text);
}

void Field::setAsBoolean(bool v) const {
    if (type() == FieldType::Text) {
        ds_->setText(index_, v ? QStringLiteral("True") : QStringLiteral("False"));
    } else {
        ds_->setValue(index_, QVariant(v ? 1LL : 0LL));
    }
}

void Field::setAsDate(const QDate& date) const {
    if (type() == FieldType::Text) {
        ds_->setText(index_, dateToText(date));
    } else {
        ds_->setValue(index_, dateToStored(date));
    }
}

void Field::clear() const {
    ds_->setValue(index_, QVariant());
}
