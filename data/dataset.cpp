// Datasets: the static cursor, the current record buffer and the edit state machine. A one-table result
// keeps only its row ids; rows are read by id in blocks when shown. Any other result (joins, groups,
// aggregates) is small by nature and kept whole.
#include "data/dataset.h"

#include "data/errors.h"
#include "data/jetsql.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <algorithm>
#include <unordered_map>

namespace {

constexpr int kBlock = 64;            // rows read by id in one statement
constexpr size_t kCacheLimit = 4096;  // rows kept in memory before the cache starts afresh

FieldType typeFromDecl(const QString& decl, const QVariant& sample) {
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
    switch (sample.typeId()) {
    case QMetaType::LongLong:
        return FieldType::Integer;
    case QMetaType::Double:
        return FieldType::Float;
    default:
        return FieldType::Text;
    }
}

std::string quoteName(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return ("\"" + q + "\"").toStdString();
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

} // namespace

struct Dataset::Cursor {
    bool byRowid = false;
    QString table;              // the table a post writes to; empty when the result is not updatable
    std::vector<long long> ids; // row ids in result order; -1 marks a pending insert
    std::vector<Row> rows;      // whole rows when not byRowid
    std::string selectList;
    mutable std::unordered_map<long long, Row> cache;

    int count() const { return static_cast<int>(byRowid ? ids.size() : rows.size()); }
};

Dataset::Dataset(Connection& connection, QString name, QObject* parent)
    : QObject(parent), connection_(connection), name_(std::move(name)) {}

Dataset::~Dataset() = default;

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
    return cursor_ ? cursor_->count() : 0;
}

bool Dataset::updatable() const {
    return cursor_ && !cursor_->table.isEmpty();
}

void Dataset::open() {
    if (active()) {
        return;
    }
    const QString text =
        table_.isEmpty() ? sqlText() : QStringLiteral("SELECT * FROM [%1]").arg(table_);
    const TranslatedSelect tr = translateJetSql(text);
    auto cursor = std::make_unique<Cursor>();
    std::vector<FieldDef> fields;
    {
        Statement whole(connection_, tr.sql);
        if (!whole.readOnly()) {
            fail(QStringLiteral("A query may only read the register; this statement would change it."));
        }
        if (tr.singleTable) {
            // Learn the fields from the statement that reads rows by id, then keep only the ids in order.
            cursor->byRowid = true;
            cursor->table = QString::fromStdString(tr.table);
            if (cursor->table.size() >= 2 && cursor->table.startsWith(QLatin1Char('"')) &&
                cursor->table.endsWith(QLatin1Char('"'))) {
                cursor->table = cursor->table.mid(1, cursor->table.size() - 2).replace(QLatin1String("\"\""),
                                                                                      QLatin1String("\""));
            }
            cursor->selectList = tr.selectList;
            Statement fetch(connection_, "SELECT rowid, " + tr.selectList + " FROM " + quoteName(cursor->table) +
                                             " WHERE rowid = ?");
            for (int i = 1; i < fetch.columnCount(); ++i) {
                fields.push_back({fetch.columnName(i), typeFromDecl(fetch.columnDeclType(i), QVariant()),
                                  fetch.columnOriginName(i)});
            }
            Statement ids(connection_, "SELECT rowid " + tr.fromOn);
            while (ids.step()) {
                cursor->ids.push_back(ids.columnInt64(0));
            }
            ids.reset();
        } else {
            const int n = whole.columnCount();
            for (int i = 0; i < n; ++i) {
                fields.push_back({whole.columnName(i), FieldType::Text, QString()});
            }
            while (whole.step()) {
                Row row(static_cast<size_t>(n));
                for (int i = 0; i < n; ++i) {
                    row[static_cast<size_t>(i)] = whole.column(i);
                }
                cursor->rows.push_back(std::move(row));
            }
            whole.reset();
            for (int i = 0; i < n; ++i) {
                QVariant sample;
                for (const Row& r : cursor->rows) {
                    if (!r[static_cast<size_t>(i)].isNull()) {
                        sample = r[static_cast<size_t>(i)];
                        break;
                    }
                }
                fields[static_cast<size_t>(i)].type = typeFromDecl(whole.columnDeclType(i), sample);
            }
            for (Row& r : cursor->rows) {
                for (int i = 0; i < n; ++i) {
                    r[static_cast<size_t>(i)] = normalise(fields[static_cast<size_t>(i)].type, r[static_cast<size_t>(i)]);
                }
            }
        }
    }
    fields_ = std::move(fields);
    cursor_ = std::move(cursor);
    current_ = 0;
    insertedAt_ = -1;
    state_ = State::Browse;
    eof_ = bof_ = recordCount() == 0;
    loadCurrent();
    emit activeChanged();
    emit stateChanged();
    emit currentChanged();
}

void Dataset::close() {
    if (!active()) {
        return;
    }
    cursor_.reset();
    fields_.clear();
    buffer_.clear();
    original_.clear();
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

void Dataset::loadCurrent() {
    const int n = recordCount();
    if (n == 0) {
        buffer_.assign(fields_.size(), QVariant());
    } else {
        current_ = std::clamp(current_, 0, n - 1);
        if (cursor_->byRowid) {
            buffer_ = fetchRow(connection_, *cursor_, current_, fields_.size());
        } else {
            buffer_ = cursor_->rows[static_cast<size_t>(current_)];
        }
        for (size_t i = 0; i < fields_.size(); ++i) {
            buffer_[i] = normalise(fields_[i].type, buffer_[i]);
        }
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
    std::string sql = "SELECT rowid, " + cursor.selectList + " FROM " + quoteName(cursor.table) + " WHERE rowid IN (";
    for (int i = first; i < last; ++i) {
        sql += i == first ? "?" : ",?";
    }
    sql += ")";
    Statement s(connection, sql);
    for (int i = first; i < last; ++i) {
        s.bindInt64(i - first + 1, cursor.ids[static_cast<size_t>(i)]);
    }
    while (s.step()) {
        Row r(width);
        for (size_t c = 0; c < width; ++c) {
            r[c] = s.column(static_cast<int>(c) + 1);
        }
        cursor.cache[s.columnInt64(0)] = std::move(r);
    }
    s.reset();
    // A row another program deleted since the cursor opened reads as empty.
    for (int i = first; i < last; ++i) {
        cursor.cache.try_emplace(cursor.ids[static_cast<size_t>(i)], Row(width));
    }
    return cursor.cache[id];
}

void Dataset::first() {
    checkBrowseMode();
    current_ = 0;
    eof_ = bof_ = recordCount() == 0;
    loadCurrent();
    emit currentChanged();
}

void Dataset::next() {
    checkBrowseMode();
    bof_ = false;
    if (current_ + 1 >= recordCount()) {
        eof_ = true;
        return;
    }
    ++current_;
    eof_ = false;
    loadCurrent();
    emit currentChanged();
}

void Dataset::prior() {
    checkBrowseMode();
    eof_ = false;
    if (current_ <= 0) {
        bof_ = true;
        return;
    }
    --current_;
    bof_ = false;
    loadCurrent();
    emit currentChanged();
}

void Dataset::last() {
    checkBrowseMode();
    current_ = std::max(0, recordCount() - 1);
    eof_ = bof_ = recordCount() == 0;
    loadCurrent();
    emit currentChanged();
}

void Dataset::moveTo(int row) {
    checkBrowseMode();
    if (recordCount() == 0 || row == current_) {
        return;
    }
    current_ = std::clamp(row, 0, recordCount() - 1);
    eof_ = bof_ = false;
    loadCurrent();
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
    if (!cursor_ || row < 0 || row >= recordCount() || field < 0 || field >= fieldCount()) {
        return QVariant();
    }
    if (row == current_) {
        return buffer_[static_cast<size_t>(field)];
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

QString Dataset::textAt(int row, int field) const {
    return valueToText(field, valueAt(row, field));
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
    case FieldType::Money:
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
    beginInsert(recordCount() == 0 ? 0 : current_);
}

void Dataset::append() {
    checkBrowseMode();
    beginInsert(recordCount());
}

void Dataset::edit() {
    requireActive();
    if (state_ == State::Edit || state_ == State::Insert) {
        return;
    }
    if (recordCount() == 0) {
        insert();
        return;
    }
    if (!updatable()) {
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    }
    setState(State::Edit);
}

namespace {

// The refusals of the register, in words that say what to do about them.
[[noreturn]] void rethrowPostError(const DatabaseError& e, const QString& assetId) {
    if (e.text().contains(QLatin1String("UNIQUE constraint failed"))) {
        throw DatabaseError(QStringLiteral("An asset with the identifier '%1' is already in the register. Choose "
                                           "the group again to get a new identifier.")
                                .arg(assetId));
    }
    throw e;
}

} // namespace

void Dataset::post() {
    requireEditing();
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type == FieldType::Text && buffer_[i].toString().size() > kMaxTextLength) {
            fail(QStringLiteral("'%1' holds at most %2 characters; nothing was saved.")
                     .arg(fields_[i].name)
                     .arg(kMaxTextLength));
        }
    }
    const int idField = findField(QStringLiteral("ASSETID"));
    try {
        if (state_ == State::Insert) {
            postInsert();
        } else {
            postEdit();
        }
    } catch (const DatabaseError& e) {
        rethrowPostError(e, idField >= 0 ? buffer_[static_cast<size_t>(idField)].toString() : QString());
    }
    setState(State::Browse);
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
        columns += (columns.empty() ? "" : ", ") + quoteName(fields_[i].column);
        marks += marks.empty() ? "?" : ", ?";
        values.push_back(buffer_[i]);
    }
    const std::string table = quoteName(cursor_->table);
    const std::string sql = columns.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                                            : "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
    long long id = -1;
    {
        Connection::Transaction t(connection_);
        Statement s(connection_, sql);
        for (size_t i = 0; i < values.size(); ++i) {
            s.bind(static_cast<int>(i) + 1, values[i]);
        }
        s.step();
        id = connection_.lastInsertRowid();
        s.reset();
        t.commit();
    }
    cursor_->ids[static_cast<size_t>(insertedAt_)] = id;
    insertedAt_ = -1;
    // Read the stored row back, so defaults the table filled in show as stored.
    cursor_->cache.erase(id);
    loadCurrent();
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
    std::string guard;
    for (size_t i : changed) {
        set += (set.empty() ? "" : ", ") + quoteName(fields_[i].column) + " = ?";
        guard += " AND " + quoteName(fields_[i].column) + " IS ?";
    }
    const long long id = cursor_->ids[static_cast<size_t>(current_)];
    {
        Connection::Transaction t(connection_);
        Statement s(connection_, "UPDATE " + quoteName(cursor_->table) + " SET " + set + " WHERE rowid = ?" + guard);
        int n = 1;
        for (size_t i : changed) {
            s.bind(n++, buffer_[i]);
        }
        s.bindInt64(n++, id);
        for (size_t i : changed) {
            s.bind(n++, original_[i]);
        }
        s.step();
        s.reset();
        if (connection_.changes() != 1) {
            throw DatabaseError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                               "changed since it was last read."));
        }
        t.commit();
    }
    cursor_->cache.erase(id);
    loadCurrent();
}

void Dataset::cancel() {
    if (state_ == State::Insert) {
        const int at = insertedAt_;
        cursor_->ids.erase(cursor_->ids.begin() + at);
        insertedAt_ = -1;
        current_ = std::clamp(currentBeforeInsert_, 0, std::max(0, recordCount() - 1));
        eof_ = bof_ = recordCount() == 0;
        setState(State::Browse);
        emit rowRemoved(at);
        loadCurrent();
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
    if (recordCount() == 0) {
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    }
    if (!updatable()) {
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    }
    const int at = current_;
    const long long id = cursor_->ids[static_cast<size_t>(at)];
    {
        Connection::Transaction t(connection_);
        Statement s(connection_, "DELETE FROM " + quoteName(cursor_->table) + " WHERE rowid = ?");
        s.bindInt64(1, id);
        s.step();
        s.reset();
        t.commit();
    }
    cursor_->ids.erase(cursor_->ids.begin() + at);
    cursor_->cache.erase(id);
    eof_ = bof_ = recordCount() == 0;
    emit rowRemoved(at);
    loadCurrent();
    emit currentChanged();
    emit recordChanged(-1);
}

bool Dataset::locate(const QString& fieldName, const QString& value) {
    checkBrowseMode();
    const int f = fieldByName(fieldName).index();
    for (int row = 0; row < recordCount(); ++row) {
        if (textAt(row, f).compare(value, Qt::CaseInsensitive) == 0) {
            if (row != current_) {
                current_ = row;
                loadCurrent();
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
