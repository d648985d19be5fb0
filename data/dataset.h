// A Dataset is a cursor over a table or over a query's result, with a current record and an edit state.
// The result of a query is static: which records it holds, and in which order, is fixed when it opens and
// changes only by the cursor's own inserts and deletes until it is opened again. Rows of a one-table
// statement are kept as row ids and read by id, a few at a time, when they are shown; the statement itself
// is stepped to its end and reset inside open(), so no read lock outlives the call; a list in a window that
// reads the rest between events steps it on a slice at a time, and ends it before any transaction.
#pragma once

#include "data/connection.h"
#include "data/jetsql.h"

#include <QBasicTimer>
#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class FieldType { Text, Date, Boolean, Money, Integer, Float };

// One field of a dataset's result.
struct FieldDef {
    QString name;   // the result column's name as the statement gives it ("Description", "GTotal")
    FieldType type; // from the column's declared type; an expression takes the type of its value
    QString column; // the table column a post writes it to; empty for expressions (not writable)
};

class Dataset;
class DatabaseError;

// A handle on one field of a dataset's current record, in the manner of Dataset::fieldByName("x").asString().
class Field {
public:
    Field(Dataset& ds, int index) : ds_(&ds), index_(index) {}
    const QString& name() const;
    FieldType type() const;
    int index() const { return index_; }
    QVariant value() const;
    bool isNull() const;
    QString asString() const; // the text value: dates in the short date format, "True"/"False", plain numbers
    bool asBoolean() const;   // null reads false
    int asInteger() const;    // null reads 0; text is converted (ConversionError when it is not a number)
    double asFloat() const;
    // Writes converted to the field's type; ConversionError when the text does not convert.
    // Requires: the dataset is in edit or insert state.
    void setAsString(const QString& text) const;
    void setAsBoolean(bool value) const;
    void setAsDate(const QDate& date) const;
    void clear() const;

private:
    Dataset* ds_;
    int index_;
};

// The texts of a block of cells as UTF-8, one after another in one buffer that is kept from block to block: a
// walk over a long list reads millions of cells, and a string of its own for each costs more than the reading.
class CellTexts {
public:
    void reset(size_t cells); // cells cells, each empty
    void set(size_t cell, QByteArrayView utf8);
    void set(size_t cell, const QString& text);
    QByteArrayView at(size_t cell) const {
        if (cell >= spans_.size()) {
            return {};
        }
        const auto [start, length] = spans_[cell];
        return QByteArrayView(bytes_.data() + start, length);
    }
    size_t size() const { return spans_.size(); }

private:
    std::string bytes_;
    std::vector<std::pair<qsizetype, qsizetype>> spans_; // where each cell's text is in bytes_, and its length
};

class Dataset : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    Dataset(Connection& connection, QString name, QObject* parent = nullptr);
    ~Dataset() override;

    const QString& name() const { return name_; }

    // Definition. A table dataset holds every row of the table in stored order.
    void setTableName(const QString& table);
    // A query's statement, given line by line (lines are joined with line breaks).
    void clearSql();
    void addSql(const QString& line);
    const QStringList& sqlLines() const { return sql_; }
    QString sqlText() const { return sql_.join(QLatin1Char('\n')); }

    // Runs the statement; the first record becomes current. Throws DatabaseError and stays closed when the
    // statement fails or would change data.
    void open();
    // Discards a pending insert or edit, then closes. Does nothing when closed.
    void close();
    bool active() const { return state_ != State::Inactive; }
    State state() const { return state_; }
    bool isInserting() const { return state_ == State::Insert; }

    // Navigation. Moving away from a record being edited or inserted posts it first.
    // Requires: the dataset is open.
    void first();
    void next(); // on the last record: eof() becomes true and the last record stays current
    void prior();
    void last();
    void moveTo(int row);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    // Holds back currentChanged while a walk moves over every record, so the controls showing the current
    // record do not follow each step; when the last hold is released they are told once, if it moved.
    void holdControls() { ++controlHolds_; }
    void releaseControls();
    // Every record of the result; reads the rest of a list's row ids first when they are still being read.
    int recordCount() const;
    // A list of one table that reads the rest between events reads the first rows' ids as it opens and the
    // rest a slice at a time while the program waits for input, so a search shows its first rows at once at
    // any length. For a list in a window only: until an event loop runs, a file's read lock stays held.
    void setReadRestBetweenEvents(bool on) { restBetweenEvents_ = on; }
    // How many of the result's rows are read so far (rowsArrived tells when it grows), and whether that is all.
    int knownCount() const;
    bool allRead() const;
    bool isEmpty() const { return knownCount() == 0; }
    // The current row, 0-based; -1 when there is none.
    int recNo() const { return isEmpty() ? -1 : current_; }

    // Fields of the result, in the order of the select list.
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    const FieldDef& fieldDef(int i) const { return fields_[static_cast<size_t>(i)]; }
    // -1 when there is no such field; names are compared without regard to case.
    int findField(const QString& name) const;
    // Throws DatabaseError "<dataset>: Field '<name>' not found".
    Field fieldByName(const QString& name);
    Field field(int i) { return Field(*this, i); }

    // The current record's values (null when the dataset is empty or closed).
    QVariant value(int field) const;
    QString text(int field) const;
    // Stores a typed value into the current record. Requires: edit or insert state.
    void setValue(int field, const QVariant& value);
    void setText(int field, const QString& text); // converts; ConversionError leaves the record unchanged

    // Values of any row, for grids. Reading does not move the cursor.
    QVariant valueAt(int row, int field) const;
    // Whether row's values are in memory, so reading them cannot meet the register.
    bool rowIsRead(int row) const;
    QString textAt(int row, int field) const;
    // The texts of fields for count rows from row from, row after row, as textAt gives them; reads only
    // those columns, in long blocks, without moving the cursor or touching the row cache. For a walk over
    // every record that shows a few of many columns.
    std::vector<QString> textsOf(int from, int count, const std::vector<int>& fields) const;
    // The same texts into cells, as UTF-8; none when the rows are not there.
    void textsOf(int from, int count, const std::vector<int>& fields, CellTexts& cells) const;

    // Changes.
    void insert(); // a new record at the current position, booleans false, the rest null
    void append(); // a new record at the end
    void edit();   // on an empty dataset begins an insert instead
    // Writes the record to its table in one transaction (or as part of the connection's open one), with its
    // history entry (data/history.h) when the table keeps history. An edited record writes only the changed
    // columns and only if the stored row still holds exactly what this cursor read. Throws DatabaseError and
    // stays in edit or insert state with the values as they were.
    void post();
    // The text of the error a post meets when a unique column would hold a value twice; %1 is the value.
    void setDuplicateKeyText(const QString& text);
    void cancel(); // discards a pending insert or edit; does nothing otherwise
    // Deletes the current record from its table and from the cursor, with its history entry, only if the stored
    // row still holds exactly what this cursor read; otherwise throws DatabaseError and deletes nothing.
    void deleteRecord();
    bool isModified() const;

    // Other programs' changes. refresh reads again the rows the cursor holds in memory (the ones shown), so
    // values another program saved show without the result being opened again: no row moves, none is added,
    // and the current record takes the stored values only while it is not being edited. A row whose record
    // another program deleted stays where it was, with the values it had, and is gone. Emits rowRefreshed for
    // every row whose values changed. False when it could not run now (during a transaction or a walk).
    bool refresh();
    // Whether another program deleted row's record since the cursor opened (as far as it has been read).
    bool rowGone(int row) const;
    // After a post refused with StaleRowError: the current record as stored now, each field as stored, the row
    // in memory refreshed with it; nullopt when another program deleted it. Requires: the dataset is open.
    std::optional<std::vector<QVariant>> storedNow();
    // Requires: edit state, and stored as storedNow gave it. Makes stored the values the next post is guarded
    // against; the fields the user has not changed take the stored values, and those they changed keep what
    // was typed when keepTyped, or take the stored values too when not.
    void rebaseEdit(const std::vector<QVariant>& stored, bool keepTyped);
    // The current record's value of field as it was read, before any typing.
    QVariant originalValue(int field) const;
    // value (as stored, or in the field's form) as the field's text, as textAt gives it.
    QString fieldText(int field, const QVariant& value) const;

    // Makes current the first record whose field equals value without regard to case; true when found.
    bool locate(const QString& fieldName, const QString& value);

    // Whether the dataset's records go back to one table (only then can it change data).
    bool updatable() const;

signals:
    void activeChanged();          // opened or closed: everything shown must be read again
    void currentChanged();         // another record became current
    void recordChanged(int field); // a value of the current record changed (-1: all of them)
    void stateChanged();
    void rowInserted(int row);
    void rowRemoved(int row);
    void rowRefreshed(int row);           // row's stored values changed, or its record is gone
    void rowsArrived();                   // more of the result's rows are known (knownCount grew)
    void readFailed(const QString& text); // the rest of the rows could not be read; recordCount throws it

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    friend class Field;
    // Tells the controls another record is current, or notes it for the release of a hold.
    void currentMoved();
    struct Cursor;
    struct Walk;
    using Row = std::vector<QVariant>;
    // What a post changes in memory, to put back when the transaction it joined rolls back.
    struct Snapshot {
        std::vector<long long> ids;
        int current;
        State state;
        Row buffer, original, stored;
        int insertedAt, currentBeforeInsert;
        bool eof, bof;
    };

    void requireActive() const;
    void requireEditing() const;
    void setState(State s);
    void checkBrowseMode(); // posts a pending change before the cursor moves
    void openByRowid(const TranslatedSelect& tr);
    // Reads on the list's row ids until the deadline (QElapsedTimer's nanoseconds since the cursor opened;
    // negative for no deadline) or until upTo ids are known; true once all are read.
    bool readIds(qint64 deadline, size_t upTo) const;
    void readAllIds() const { readIds(-1, SIZE_MAX); }
    void dropPendingIds();
    // Whether row is in the result, reading on the ids only when it is past the ones known.
    bool hasRow(int row) const;
    // Reads the rest of the ids, and tells of the rows that arrived.
    void catchUpIds();
    void tellArrivals();
    void openWhole(Statement& whole);
    // Makes row current with its values read; when the read fails, nothing changes. Requires: open.
    void loadRow(int row);
    Row readRow(long long id) const;
    // The record id as stored now, when it is there and still the record the cursor knows (the same key).
    std::optional<Row> readStoredRow(long long id, const Row* known) const;
    bool sameRecord(const Row& a, const Row& b) const;
    std::string guardClause(const std::vector<size_t>& changed, std::vector<QVariant>& binds) const;
    void changeGuarded(const std::string& sql, const std::vector<QVariant>& binds);
    [[noreturn]] void rethrowPostError(const DatabaseError& e) const;
    void restore(Snapshot&& s);
    void beginInsert(int at);
    [[noreturn]] void fail(const QString& text) const;
    QString valueToText(int field, const QVariant& v) const;
    // The texts of fields (columns first.. of s) into the cells from cell on.
    void readTexts(const Statement& s, const std::vector<int>& fields, CellTexts& out, size_t cell,
                   int first = 1) const;
    // The walk that serves the block from..from+count of columns, on a server once blocks follow each other;
    // null when the block is read otherwise.
    Walk* walkFor(int from, int count, const std::string& columns, bool following) const;
    // On a file, reads what it can of the block following the last one (columns; at, where each row id is in
    // the block, filled when needed) by stepping the list's statement on from where that block ended; marks
    // them done and says how many it read.
    int resumeWalk(int from, int count, const std::string& columns, const std::vector<int>& fields,
                   std::unordered_map<long long, size_t>& at, CellTexts& texts, std::vector<bool>& done) const;
    QVariant convertText(int field, const QString& text) const;
    void postInsert();
    void postEdit();
    // What history entries call the record of row id id, whose values (as stored) are row.
    QString subjectOf(long long id, const Row& row) const;
    // Requires: a transaction in which the record was just changed from before to after (an insert has no before,
    // a delete no after). Records its history entry: the columns of the fields changed (every field when empty)
    // whose text changed; an empty action is an edit's, told by what it changed.
    void recordChange(const QString& subject, const QString& action, const Row* before, const Row* after,
                      const std::vector<size_t>& changed);
    int findFieldByColumn(const QString& column) const;
    static const Row& fetchRow(const Connection& connection, const Cursor& cursor, int row, size_t width);

    Connection& connection_;
    QString name_;
    QString table_;
    QStringList sql_;
    State state_ = State::Inactive;
    std::vector<FieldDef> fields_;
    std::unique_ptr<Cursor> cursor_;
    int current_ = 0;
    bool eof_ = true;
    int controlHolds_ = 0;
    bool movedWhileHeld_ = false;
    bool bof_ = true;
    std::vector<QVariant> buffer_;   // the current record as shown and edited
    std::vector<QVariant> original_; // the current record as read, in the field types' forms
    std::vector<QVariant> stored_;   // the current record exactly as stored, for the lost-update guard
    QString duplicateKeyText_;
    // The fields of the last one-table statement opened, by its table and select list.
    struct Shape {
        QString table;
        std::string selectList;
        std::vector<FieldDef> fields;
        std::vector<size_t> keyFields; // fields whose stored values identify a record beyond its row id
        QStringList uniqueColumns;
    };
    Shape shape_;
    QBasicTimer idsTimer_; // reads on the row ids between events while some are still to read
    int told_ = 0;         // the known rows rowsArrived has told of
    bool restBetweenEvents_ = false;
    int insertedAt_ = -1; // row of a pending insert in the cursor
    int currentBeforeInsert_ = 0;
};
