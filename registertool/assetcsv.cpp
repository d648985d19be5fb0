// Export and import of assets. Every check of an import is made before anything is saved, so the user sees every
// problem of a file at once and a file with one saves nothing; a real import holds the register's write lock from
// the first check to the commit, so no other program can take an identifier in between.
#include "registertool/assetcsv.h"

#include "data/asciicase.h"
#include "data/assetids.h"
#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newfile.h"
#include "data/schema.h"
#include "data/textvalues.h"
#include "registertool/csv.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTime>
#include <QVarLengthArray>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

enum class Kind { Text, Date, Boolean, Money };

struct Column {
    QString name;
    Kind kind;
    HistoryColumn history;
};

Kind kindOf(const QString& declaredType) {
    if (declaredType.compare(QLatin1String("DATE"), Qt::CaseInsensitive) == 0) {
        return Kind::Date;
    }
    if (declaredType.compare(QLatin1String("BOOLEAN"), Qt::CaseInsensitive) == 0) {
        return Kind::Boolean;
    }
    if (declaredType.compare(QLatin1String("MONEY"), Qt::CaseInsensitive) == 0) {
        return Kind::Money;
    }
    return Kind::Text;
}

// The columns of assets in table order, with what kind of value each holds (the same on every engine).
std::vector<Column> assetColumns() {
    std::vector<Column> columns;
    for (const QString& name : QString::fromStdString(registerColumnList("assets")).split(QStringLiteral(", "))) {
        columns.push_back({name, kindOf(registerColumnType(QStringLiteral("assets"), name)),
                           historyColumn(QStringLiteral("assets"), name)});
    }
    return columns;
}

QString exportText(Kind kind, const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QString();
    }
    const bool isReal = v.typeId() == QMetaType::Double;
    switch (kind) {
    case Kind::Boolean:
        return v.toLongLong() != 0 ? QStringLiteral("1") : QStringLiteral("0");
    case Kind::Text: {
        const QString text = isReal ? plainNumberText(v.toDouble()) : v.toString();
        return needsApostrophe(text) ? QLatin1Char('\'') + text : text;
    }
    case Kind::Money:
    case Kind::Date:
        // Dates are stored as ISO text and leave as they are; so does anything a column holds that is not of
        // its kind, for the import to judge.
        return isReal ? plainNumberText(v.toDouble()) : v.toString();
    }
    return v.toString();
}

void writeAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) != bytes.size()) {
        throw DatabaseError(QStringLiteral("The assets could not be written: %1").arg(out.errorString()));
    }
}

// Opens the register for reading only: the program's checks, no upgrade of an older version, and SQLite
// told to refuse any change.
void openForReading(Connection& c, const QString& path) {
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword), false);
    c.engine().refuseChanges();
}

// The number the ASCII digits of t from from on spell; -1 when one of the count characters is not a digit.
int digitsAt(const QString& t, qsizetype from, int count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

// t when it is a stored date, yyyy-MM-dd of the years 1 to 9999 with " hh:mm:ss" when it has a time of day;
// null otherwise. The calendar and the years are those of the program's date fields.
QString isoDate(const QString& t) {
    if (t.size() != 10 && t.size() != 19) {
        return QString();
    }
    const int year = digitsAt(t, 0, 4);
    if (t[4] != u'-' || t[7] != u'-' || year < 1 || !QDate::isValid(year, digitsAt(t, 5, 2), digitsAt(t, 8, 2))) {
        return QString();
    }
    if (t.size() == 19 && (t[10] != u' ' || t[13] != u':' || t[16] != u':' ||
                           !QTime::isValid(digitsAt(t, 11, 2), digitsAt(t, 14, 2), digitsAt(t, 17, 2)))) {
        return QString();
    }
    return t;
}

// t as a number written with '.' before its decimals (an exponent allowed), whatever the locale.
std::optional<double> plainDecimal(const QString& t) {
    QVarLengthArray<char, 64> ascii(t.size());
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i].unicode() > 0x7f) {
            return std::nullopt;
        }
        ascii[i] = static_cast<char>(t[i].unicode());
    }
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') {
        ++first;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The date t spells as day, month and four-digit year separated by '/' or '.', as locales write it; invalid when
// it is not one. Only to tell the user the form to write it in.
QDate dayFirstDate(const QString& t) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2})([/.])(\\d{1,2})\\2(\\d{4})$"));
    const QRegularExpressionMatch m = form.match(t);
    return m.hasMatch() ? QDate(m.captured(4).toInt(), m.captured(3).toInt(), m.captured(1).toInt()) : QDate();
}

// A field's text converted as the program's fields convert typed text, into the form the CSV writes.
QVariant importValue(Kind kind, const QString& text) {
    if (kind == Kind::Text) {
        // The apostrophe comes off before the length is judged: the longest text leaves one character longer.
        const bool marked = text.size() > 1 && text.front() == u'\'' && needsApostrophe(QStringView(text).mid(1));
        const QString stored = marked ? text.mid(1) : text;
        if (stored.size() > kMaxTextLength) {
            throw ConversionError(QStringLiteral("a text holds at most %1 characters; this one has %2")
                                      .arg(kMaxTextLength)
                                      .arg(stored.size()));
        }
        if (stored.contains(QChar(0))) {
            throw ConversionError(QStringLiteral("the text holds the character NUL, which a register does not store "
                                                 "(a server would cut the text there)"));
        }
        return stored.isNull() ? QVariant() : QVariant(stored);
    }
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return kind == Kind::Boolean ? QVariant(0LL) : QVariant();
    }
    switch (kind) {
    case Kind::Date: {
        const QString stored = isoDate(t);
        if (stored.isNull()) {
            const QDate dayFirst = dayFirstDate(t);
            if (dayFirst.isValid()) {
                throw ConversionError(QStringLiteral("'%1' is not a valid date: write it as %2 (yyyy-mm-dd)")
                                          .arg(text, dayFirst.toString(Qt::ISODate)));
            }
            throw ConversionError(QStringLiteral("'%1' is not a valid date; dates are written yyyy-mm-dd").arg(text));
        }
        return stored;
    }
    case Kind::Boolean:
        if (t == u"0" || t == u"1") {
            return t == u"1" ? 1LL : 0LL;
        }
        return parseBoolean(t) ? 1LL : 0LL;
    case Kind::Money: {
        const std::optional<double> amount = plainDecimal(t);
        if (!amount) {
            // A decimal comma, as a spreadsheet in many locales writes it: the user is told the form to use.
            QString point = t;
            point.replace(QLatin1Char(','), QLatin1Char('.'));
            if (t.count(QLatin1Char(',')) == 1 && !t.contains(QLatin1Char('.')) && plainDecimal(point)) {
                throw ConversionError(QStringLiteral("'%1' is not a valid amount: write it as %2").arg(text, point));
            }
            throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
        }
        if (std::fabs(*amount) >= kMoneyLimit) {
            throw ConversionError(QStringLiteral("'%1' is not a valid amount: an amount has at most 12 digits "
                                                 "before the decimal point")
                                      .arg(text));
        }
        return *amount;
    }
    case Kind::Text:
        break;
    }
    return text;
}

// A header field's name without the blanks, and the byte order mark, that joining files can leave around it.
QString bareName(const QString& field) {
    QString name = field.trimmed();
    if (name.startsWith(QChar(0xFEFF))) {
        name = name.mid(1).trimmed();
    }
    return name;
}

// Whether fields name the header's columns again, as the header row of a second file joined to the first does.
bool repeatsHeader(const QStringList& fields, const QStringList& header) {
    if (fields.size() != header.size()) {
        return false;
    }
    for (qsizetype f = 0; f < fields.size(); ++f) {
        if (bareName(fields[f]).compare(bareName(header[f]), Qt::CaseInsensitive) != 0) {
            return false;
        }
    }
    return true;
}

// Whether a record holds nothing but empty or blank fields, as the rows a spreadsheet keeps below its data do.
bool isBlank(const QStringList& fields) {
    return std::all_of(fields.cbegin(), fields.cend(), [](const QString& f) { return f.trimmed().isEmpty(); });
}

struct Problem {
    int line;
    QString text;
};

// About how many records a CSV file holds, for choosing how to write them before they are read: its length over
// the length of a short record of assets.
int estimatedRecords(const QIODevice& csv) {
    constexpr qint64 kShortRecord = 64;
    return static_cast<int>(std::min<qint64>(csv.size() / kShortRecord, std::numeric_limits<int>::max()));
}

// An import that adds more assets than the register holds gets the indexes made again as it commits, each from one
// sorted pass, rather than every asset entered in every index as it comes; the same for the history it adds. The
// identifiers' and the groups' indexes stay: the import looks assets up by them as it numbers.
void setIndexesAsideFor(Connection& c, int added) {
    constexpr int kWorthMakingAgain = 1000;
    const auto count = [&](const char* sql) {
        Statement s(c, sql);
        return s.step() ? s.columnInt64(0) : 0;
    };
    if (added < kWorthMakingAgain) {
        return;
    }
    if (added > count("SELECT count(*) FROM assets")) {
        c.setIndexesAside("assets", {QStringLiteral("assets_unique_assetid"), QStringLiteral("assets_by_itemgroup")});
    }
    if (c.keepsHistory() && added > count("SELECT coalesce(max(rowid), 0) FROM History")) {
        c.setIndexesAside("History");
    }
}

} // namespace

void exportAssets(const QString& path, QIODevice& out) {
    Connection c;
    openForReading(c, path);
    const std::vector<Column> columns = assetColumns();
    QStringList names;
    for (const Column& col : columns) {
        names << col.name;
    }
    QByteArray buffer = csvRecord(names).toUtf8();
    Statement rows(c, "SELECT * FROM assets ORDER BY rowid");
    QString line;
    while (rows.step()) {
        line.clear();
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) {
                line += QLatin1Char(',');
            }
            appendCsvField(line, exportText(columns[i].kind, rows.column(static_cast<int>(i))));
        }
        line += QLatin1String("\r\n");
        buffer += line.toUtf8();
        if (buffer.size() > (1 << 20)) {
            writeAll(out, buffer);
            buffer.clear();
        }
    }
    writeAll(out, buffer);
}

void exportAssetsToNewFile(const QString& path, const QString& csvPath) {
    if (QFileInfo::exists(csvPath) || QFileInfo(csvPath).isSymLink()) {
        throw DatabaseError(QStringLiteral("The file '%1' already exists; it is never written over.").arg(csvPath));
    }
    PartialFile partial(temporaryNameBeside(csvPath));
    QSaveFile file(partial.path());
    if (!file.open(QIODevice::WriteOnly)) {
        throw DatabaseError(QStringLiteral("The file '%1' cannot be made: %2").arg(csvPath, file.errorString()));
    }
    exportAssets(path, file);
    if (!file.commit()) {
        throw DatabaseError(QStringLiteral("The file '%1' could not be written: %2").arg(csvPath, file.errorString()));
    }
    partial.placeAt(csvPath);
}

namespace {

// What an import must know of every identifier while it reads the file a block at a time: the line that gives
// it and, for an asset being updated, the identifier as the register stores it. Kept in a file of its own in a
// temporary folder, so that a file of any length costs the import the same memory.
class IdentifierList {
public:
    IdentifierList() {
        if (!dir_.isValid()) {
            throw DatabaseError(
                QStringLiteral("No temporary folder for the import's list of identifiers: %1").arg(dir_.errorString()));
        }
        c_.createFile(dir_.filePath(QStringLiteral("identifiers")));
        c_.exec("PRAGMA journal_mode = OFF");
        c_.exec("PRAGMA cache_size = -32768");
        c_.exec("CREATE TABLE ids (k TEXT PRIMARY KEY, line INTEGER NOT NULL, stored TEXT) WITHOUT ROWID");
        c_.exec("BEGIN");
        find_.emplace(c_, "SELECT line, stored FROM ids WHERE k = ?1");
        add_.emplace(c_, "INSERT OR IGNORE INTO ids (k, line, stored) VALUES (?1, ?2, ?3)");
    }
    struct Entry {
        int line = 0;
        QString stored; // null unless the identifier is an asset of the register being updated
    };
    std::optional<Entry> find(const QString& id) {
        find_->bindText(1, upperAscii(id));
        std::optional<Entry> e;
        if (find_->step()) {
            e = Entry{static_cast<int>(find_->columnInt64(0)), find_->column(1).toString()};
        }
        find_->reset();
        return e;
    }
    // Adds id unless the list holds it already (letter case aside): whether it was added.
    bool add(const QString& id, int line, const QString& stored = QString()) {
        add_->bindText(1, upperAscii(id));
        add_->bind(2, line);
        add_->bind(3, stored.isNull() ? QVariant() : QVariant(stored));
        add_->step();
        add_->reset();
        return c_.changes() == 1;
    }

private:
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/vnrdb-import-XXXXXX")};
    Connection c_;
    std::optional<Statement> find_;
    std::optional<Statement> add_;
};

} // namespace

ImportOutcome importAssets(const QString& path, const QByteArray& csv, bool dryRun, bool update) {
    QBuffer buffer;
    buffer.setData(csv);
    buffer.open(QIODevice::ReadOnly);
    return importAssets(path, buffer, dryRun, update);
}

ImportOutcome importAssets(const QString& path, QIODevice& csv, bool dryRun, bool update) {
    std::vector<Problem> problems;
    const auto refuse = [&](int line, const QString& column, const QString& message) {
        problems.push_back({line, column.isEmpty() ? QStringLiteral("line %1: %2").arg(line).arg(message)
                                                   : QStringLiteral("line %1, %2: %3").arg(line).arg(column, message)});
    };
    QChar separator = QLatin1Char(',');
    int rows = 0;
    int updated = 0;
    int blankRows = 0;
    QStringList changes;
    const auto outcome = [&] {
        std::stable_sort(problems.begin(), problems.end(),
                         [](const Problem& a, const Problem& b) { return a.line < b.line; });
        ImportOutcome o;
        o.rows = rows - updated;
        o.updated = updated;
        o.changes = changes;
        o.blankRows = blankRows;
        o.separator = separator;
        for (const Problem& p : problems) {
            o.problems << p.text;
        }
        return o;
    };

    const std::vector<Column> columns = assetColumns();
    const auto columnIndex = [&](const QString& name) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const auto namesAColumn = [&](const CsvRecord& h) {
        return !h.flawed && std::any_of(h.fields.cbegin(), h.fields.cend(),
                                        [&](const QString& name) { return columnIndex(name) >= 0; });
    };

    CsvReader reader(csv);
    CsvRecord header;
    bool hasHeader = reader.next(header);
    // A header row that names no column split at commas is tried at semicolons and tabs, the separators
    // spreadsheets use where the comma is the decimal sign; the first that names one reads the whole file.
    for (const QChar other : {QLatin1Char(';'), QLatin1Char('\t')}) {
        if (!hasHeader || namesAColumn(header)) {
            break;
        }
        CsvReader otherReader(csv, other);
        CsvRecord otherHeader;
        if (otherReader.next(otherHeader) && namesAColumn(otherHeader)) {
            reader = std::move(otherReader);
            header = otherHeader;
            separator = other;
        }
    }
    if (!hasHeader || header.flawed) {
        // Without its header row no field can be read; the rest is read only for its flaws.
        for (CsvRecord rest; reader.next(rest);) {
        }
        for (const CsvFlaw& flaw : reader.flaws()) {
            refuse(flaw.line, QString(), flaw.message);
        }
        if (!hasHeader && reader.flaws().empty()) {
            refuse(1, QString(), QStringLiteral("the file is empty; it starts with a header row of column names"));
        }
        return outcome();
    }

    Connection c;
    std::optional<Connection::Transaction> writing;
    if (dryRun) {
        openForReading(c, path);
        // One read of the register for every check, rather than a lock taken and dropped per question.
        c.exec("BEGIN");
    } else {
        c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        writing.emplace(c);
        // The identifiers are numbered from what the register holds: another import numbering at the same
        // time would give the same ones (a file's transaction holds this lock from its start already).
        c.holdWriteLock();
    }
    const int idColumn = columnIndex(QStringLiteral("ASSETID"));
    const int groupColumn = columnIndex(QStringLiteral("ItemGroup"));

    // Header: which table column each field fills.
    std::vector<int> fieldColumn;
    std::vector<int> givenBy(columns.size(), -1);
    for (qsizetype f = 0; f < header.fields.size(); ++f) {
        const QString& name = header.fields[f];
        const int col = columnIndex(name);
        fieldColumn.push_back(col);
        if (col < 0) {
            refuse(header.line, name, QStringLiteral("assets has no such column"));
        } else if (givenBy[col] >= 0) {
            refuse(header.line, name,
                   QStringLiteral("the column is named twice (fields %1 and %2)").arg(givenBy[col] + 1).arg(f + 1));
        } else {
            givenBy[col] = static_cast<int>(f);
        }
    }

    // One record converted; refusals go to problems when refusing is true.
    struct Row {
        int line = 0;
        std::vector<QVariant> values; // by table column; only the columns the header names are used
        QString id;
        QString group;
    };
    const auto convert = [&](const CsvRecord& record, Row& row, bool refusing) {
        row.line = record.line;
        row.values.assign(columns.size(), QVariant());
        row.id.clear();
        row.group.clear();
        for (qsizetype f = 0; f < record.fields.size(); ++f) {
            const int col = fieldColumn[f];
            if (col < 0 || givenBy[col] != f) {
                continue;
            }
            try {
                row.values[col] = importValue(columns[col].kind, record.fields[f]);
            } catch (const ConversionError& e) {
                if (refusing) {
                    refuse(record.line, columns[col].name, e.text());
                }
            }
        }
        if (idColumn >= 0 && givenBy[idColumn] >= 0) {
            row.id = row.values[idColumn].toString();
        }
        if (givenBy[groupColumn] >= 0) {
            row.group = row.values[groupColumn].toString();
        }
    };
    // Whether a record is one of assets at all, rather than a blank or malformed line.
    const auto isAsset = [&](const CsvRecord& record, bool refusing) {
        if (record.flawed) {
            return false; // reported with the reader's flaws
        }
        if (isBlank(record.fields)) {
            blankRows += refusing ? 1 : 0;
            return false;
        }
        if (record.fields.size() != header.fields.size()) {
            if (refusing) {
                refuse(record.line, QString(),
                       QStringLiteral("%1 fields where the header has %2")
                           .arg(record.fields.size())
                           .arg(header.fields.size()));
            }
            return false;
        }
        if (repeatsHeader(record.fields, header.fields)) {
            if (refusing) {
                refuse(record.line, QString(), QStringLiteral("the header row again; a file has one header row"));
            }
            return false;
        }
        return true;
    };

    QString abbreviation;
    {
        Statement system(c, "SELECT CompanyAbbr FROM System LIMIT 1");
        if (system.step()) {
            abbreviation = system.column(0).toString();
        }
    }
    // The columns an asset being updated gets from the file: all the header names but its identifier.
    std::vector<int> given;
    for (size_t col = 0; col < columns.size(); ++col) {
        if (givenBy[col] >= 0 && static_cast<int>(col) != idColumn) {
            given.push_back(static_cast<int>(col));
        }
    }
    std::string givenList;
    for (const int col : given) {
        givenList += (givenList.empty() ? "" : ", ") + c.quoteName(columns[col].name);
    }
    // The header's columns and the identifier are written (every record has its group by now); every other
    // column keeps its default.
    std::vector<int> written;
    for (size_t col = 0; col < columns.size(); ++col) {
        if (givenBy[col] >= 0 || static_cast<int>(col) == idColumn) {
            written.push_back(static_cast<int>(col));
        }
    }
    std::string sql = "INSERT INTO assets (";
    std::string marks;
    for (size_t i = 0; i < written.size(); ++i) {
        sql += (i ? ", " : "") + c.quoteName(columns[written[i]].name);
        marks += i ? ", ?" : "?";
    }
    sql += ") VALUES (" + marks + ")";
    std::optional<Statement> insert;
    std::optional<Statement> change;
    std::optional<Statement> before; // the columns an update gives, as stored: its history entry, a dry run's list
    if (!given.empty()) {
        before.emplace(c, "SELECT " + givenList + " FROM assets WHERE ASSETID = ?");
    }

    // Writes a new asset, numbered already, with its history entry.
    const QString assets = QStringLiteral("assets");
    const auto writeNew = [&](Row& row, int line) {
        row.values[idColumn] = row.id;
        HistoryRecord imported{assets, historySubject(assets, row.id), HistoryAction::Imported, {}};
        for (size_t i = 0; i < written.size(); ++i) {
            insert->bind(static_cast<int>(i + 1), row.values[written[i]]);
            HistoryChange added;
            if (historyChange(columns[written[i]].history, QVariant(), row.values[written[i]], &added)) {
                imported.changes.push_back(std::move(added));
            }
        }
        try {
            insert->step();
        } catch (const DatabaseError& e) {
            throw DatabaseError(
                QStringLiteral("line %1, ASSETID '%2' could not be stored (%3). Nothing was imported; try again.")
                    .arg(line)
                    .arg(row.id, e.text()));
        }
        insert->reset();
        c.recordHistory(std::move(imported));
    };
    // An import that only adds assets writes each record as this reading checks it, for as long as every record
    // has given its identifier and nothing was refused: a file that gives every identifier is read once. From
    // the first record to be numbered, the second reading writes; anything refused later rolls back all.
    bool writingEarly = !dryRun && !update && problems.empty() && idColumn >= 0;
    int writtenEarly = 0;
    if (writingEarly) {
        setIndexesAsideFor(c, estimatedRecords(csv));
        insert.emplace(c, sql);
    }

    // The first reading checks every record and lists every identifier the file gives, so that the numbering
    // below steps past identifiers given further down; only a record at a time is held.
    IdentifierList ids;
    Statement stored(c, "SELECT ASSETID FROM assets WHERE ASSETID = ?1 LIMIT 1");
    Row row;
    for (CsvRecord record; reader.next(record);) {
        if (!isAsset(record, true)) {
            continue;
        }
        convert(record, row, true);
        bool existing = false;
        if (!row.id.trimmed().isEmpty()) {
            QString storedId;
            stored.bindText(1, row.id);
            const bool inRegister = stored.step();
            if (inRegister) {
                storedId = stored.column(0).toString(); // not empty: it matched row.id
            }
            stored.reset();
            if (!ids.add(row.id, record.line, update ? storedId : QString())) {
                refuse(record.line, columns[idColumn].name,
                       QStringLiteral("'%1' is the identifier of line %2 too").arg(row.id).arg(ids.find(row.id)->line));
            } else if (inRegister && update) {
                existing = true;
            } else if (inRegister) {
                refuse(record.line, columns[idColumn].name,
                       QStringLiteral("'%1' is already in the register (as '%2')").arg(row.id, storedId));
            }
        }
        // Every asset belongs to a group: its identifier is numbered in it, and the windows list assets by it.
        // An asset being updated keeps its group unless the file gives it one.
        if (row.group.trimmed().isEmpty() && (givenBy[groupColumn] >= 0 || !existing)) {
            refuse(record.line, columns[groupColumn].name,
                   givenBy[groupColumn] >= 0 ? QStringLiteral("the asset has no group; every asset belongs to one")
                                             : QStringLiteral("the asset has no group; the file has no ItemGroup "
                                                              "column, and every asset belongs to a group"));
        }
        ++rows;
        updated += existing ? 1 : 0;
        if (writingEarly) {
            writingEarly = problems.empty() && !row.id.trimmed().isEmpty();
            if (writingEarly) {
                writeNew(row, record.line);
                ++writtenEarly;
            }
        }
    }
    for (const CsvFlaw& flaw : reader.flaws()) {
        refuse(flaw.line, QString(), flaw.message);
    }

    // The second reading numbers the records without an identifier, in file order, as the asset editor would
    // had they been added one by one: each group's count includes the records before, and a number is stepped
    // past any identifier the register or the file already uses. Unless something was refused or this is a dry
    // run, it writes each record as it is numbered; a numbering refused rolls everything back.
    const bool writingRows = !dryRun && problems.empty();
    if (writingRows && !insert) {
        setIndexesAsideFor(c, rows - updated);
        insert.emplace(c, sql);
    }
    if (writingRows) {
        if (!given.empty()) {
            std::string set;
            for (const int col : given) {
                set += (set.empty() ? "" : ", ") + c.quoteName(columns[col].name) + " = ?";
            }
            change.emplace(c, "UPDATE assets SET " + set + " WHERE ASSETID = ?");
        }
    }
    const bool listingChanges = update && dryRun && problems.empty() && !given.empty();
    QHash<QString, int> inGroup; // group, letter case folded -> assets the register and the file hold so far
    Statement countGroup(c, "SELECT count(*) FROM assets WHERE ItemGroup = ?1");
    const auto taken = [&](const QString& id) { return ids.find(id).has_value(); };
    const size_t firstDigest = reader.digest();
    const size_t firstFlaws = reader.flaws().size();
    // Read again unless the first reading wrote every record.
    const bool readingAgain = !(writingRows && writtenEarly > 0 && writtenEarly == rows);
    if (readingAgain) {
        reader.rewind();
        reader.next(header);
    }
    int assetRecord = 0;
    for (CsvRecord record; readingAgain && reader.next(record);) {
        if (!isAsset(record, false) || assetRecord++ < writtenEarly) {
            continue; // not an asset, or written as the first reading checked it
        }
        convert(record, row, false);
        bool existing = false;
        if (update && !row.id.trimmed().isEmpty()) {
            const auto entry = ids.find(row.id);
            if (entry && entry->line == record.line && !entry->stored.isNull()) {
                existing = true;
                row.id = entry->stored;
            }
        }
        if (!existing && !row.group.trimmed().isEmpty()) {
            const QString key = upperAscii(row.group);
            auto count = inGroup.find(key);
            if (count == inGroup.end()) {
                countGroup.bindText(1, row.group);
                countGroup.step();
                count = inGroup.insert(key, static_cast<int>(countGroup.columnInt64(0)));
                countGroup.reset();
            }
            if (row.id.trimmed().isEmpty()) {
                try {
                    row.id = nextFreeAssetId(c, abbreviation, row.group, count.value(), taken);
                    ids.add(row.id, record.line);
                } catch (const ConversionError& e) {
                    refuse(record.line, idColumn >= 0 ? columns[idColumn].name : QStringLiteral("ASSETID"), e.text());
                }
            }
            ++count.value();
        }
        if (listingChanges && existing) {
            before->bindText(1, row.id);
            if (before->step()) {
                for (size_t i = 0; i < given.size(); ++i) {
                    const Kind kind = columns[given[i]].kind;
                    const QString was = exportText(kind, before->column(static_cast<int>(i)));
                    const QString now = exportText(kind, row.values[given[i]]);
                    if (was != now) {
                        changes << QStringLiteral("%1, %2: '%3' -> '%4'").arg(row.id, columns[given[i]].name, was, now);
                    }
                }
            }
            before->reset();
        }
        if (!writingRows || !problems.empty()) {
            continue;
        }
        if (existing) {
            if (change) {
                HistoryRecord entry{assets, historySubject(assets, row.id), HistoryAction::UpdatedByImport, {}};
                before->bindText(1, row.id);
                if (before->step()) {
                    for (size_t i = 0; i < given.size(); ++i) {
                        HistoryChange changed;
                        if (historyChange(columns[given[i]].history, before->column(static_cast<int>(i)),
                                          row.values[given[i]], &changed)) {
                            entry.changes.push_back(std::move(changed));
                        }
                    }
                }
                before->reset();
                for (size_t i = 0; i < given.size(); ++i) {
                    change->bind(static_cast<int>(i + 1), row.values[given[i]]);
                }
                change->bindText(static_cast<int>(given.size() + 1), row.id);
                change->step();
                change->reset();
                // Importing the same file again changes nothing, and says nothing.
                if (!entry.changes.empty()) {
                    c.recordHistory(std::move(entry));
                }
            }
            continue;
        }
        writeNew(row, record.line);
    }
    if (readingAgain && (reader.digest() != firstDigest || reader.flaws().size() != firstFlaws)) {
        // What was checked is not what would be written: nothing of it is saved.
        refuse(1, QString(), QStringLiteral("the file changed while it was being read; import it again"));
    }
    if (writingRows && problems.empty()) {
        writing->commit();
    }
    return outcome();
}
