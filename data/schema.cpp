// The register file's schema: the register's tables, booleans that are never null, text that compares without regard
// to case, one row per group digit, and indexes that let the list's ORDER BY walk an index that also holds the
// written-off flag, so a search reads no table rows until they are shown. The same column table makes a new
// register and checks an opened one, so the two can never disagree.
#include "data/schema.h"

#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newfile.h"
#include "data/server.h"

#include "data/asciicase.h"
#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <array>
#include <vector>

const char* const kDefaultFilePassword = "kivelor";

namespace {

using ColumnDef = RegisterColumn;
using TableDef = RegisterTable;

const char* const kText = "COLLATE NOCASE";
const char* const kFlag = "NOT NULL DEFAULT 0";

} // namespace

const std::array<RegisterTable, 7>& registerTables() {
    static const std::array<TableDef, 7> t{{
        {"assets",
         {{"ASSETID", "TEXT", kText},
          {"ItemGroup", "TEXT", kText},
          {"OrderNumber", "TEXT", kText},
          {"Make", "TEXT", kText},
          {"Model", "TEXT", kText},
          {"DatePurchased", "DATE", ""},
          {"SerialNumber", "TEXT", kText},
          {"Description", "TEXT", kText},
          {"Supplier", "TEXT", kText},
          {"PurchasedBy", "TEXT", kText},
          {"Location", "TEXT", kText},
          {"TotalCost", "MONEY", ""},
          {"WarrantyPeriod", "TEXT", kText},
          {"isElectrical", "BOOLEAN", kFlag},
          {"LastTestTag", "DATE", ""},
          {"itemBorrowed", "BOOLEAN", kFlag},
          {"Borrower", "TEXT", kText},
          {"BorrowedOn", "DATE", ""},
          {"ExpectedReturn", "DATE", ""},
          {"WrittenOff", "BOOLEAN", kFlag},
          {"WrittenOffDate", "DATE", ""},
          {"WrittenOffBy", "TEXT", kText},
          {"WrittenOffReason", "TEXT", kText},
          {"WrittenDownValue", "MONEY", ""}},
         1,
         {}},
        {"System",
         {{"CompanyName", "TEXT", kText},
          {"CompanyAbbr", "TEXT", kText},
          {"DataBasePassword", "TEXT", ""},
          {"PromptPasswordToStart", "BOOLEAN", kFlag}},
         1,
         {}},
        {"Groups", {{"GroupNumber", "TEXT", kText}, {"Description", "TEXT", kText}}, 1, {}},
        {"RegisterFile", {{"Salt", "TEXT", "NOT NULL"}, {"PasswordHash", "TEXT", "NOT NULL"}}, 1, {}},
        // The history of every change (data/history.h); its row id is the entry's place in the chain. An asset's
        // entries are found by its identifier, without regard to case as identifiers are compared.
        {"History",
         {{"ChangedAt", "TEXT", "NOT NULL"},
          {"ChangedBy", "TEXT", "NOT NULL"},
          {"TableName", "TEXT", "NOT NULL"},
          {"Subject", "TEXT", kText},
          {"Action", "TEXT", "NOT NULL"},
          {"Changes", "TEXT", "NOT NULL"},
          {"Hash", "TEXT", "NOT NULL"}},
         3,
         {"CREATE INDEX history_by_subject ON History (Subject)"}},
        // Stock-takes (data/stocktake.h): each one's name, unique without regard to case, what it covers (a
        // location and groups, empty for any) and when and by whom it was started and closed (open while ClosedAt
        // is empty).
        {"StockTakes",
         {{"Name", "TEXT", kText},
          {"Location", "TEXT", kText},
          {"ItemGroups", "TEXT", kText},
          {"StartedAt", "TEXT", "NOT NULL"},
          {"StartedBy", "TEXT", "NOT NULL"},
          {"ClosedAt", "TEXT", ""},
          {"ClosedBy", "TEXT", ""}},
         3,
         {"CREATE UNIQUE INDEX stocktakes_unique_name ON StockTakes (Name)"}},
        // Every scan of a stock-take, as it was answered. An asset counts once in a stock-take: its first scan is
        // the counted one, and the unique index keeps a second from being counted, whichever program makes it;
        // later scans are kept as repeats. A scan no asset answers keeps AssetId empty.
        {"StockTakeScans",
         {{"StockTake", "INTEGER", "NOT NULL"},
          {"Scanned", "TEXT", kText},
          {"AssetId", "TEXT", kText},
          {"Outcome", "TEXT", "NOT NULL"},
          {"RecordedLocation", "TEXT", kText},
          {"Counted", "BOOLEAN", kFlag},
          {"ScannedAt", "TEXT", "NOT NULL"},
          {"ScannedBy", "TEXT", "NOT NULL"}},
         3,
         {"CREATE UNIQUE INDEX stocktakescans_counted ON StockTakeScans (StockTake, AssetId) WHERE Counted = 1",
          "CREATE INDEX stocktakescans_by_stocktake ON StockTakeScans (StockTake)"}},
    }};
    return t;
}

namespace {

const std::array<RegisterTable, 7>& tables() {
    return registerTables();
}

// One row per digit: two programs saving the configuration at once must not double a group.
const char* const kGroupsUnique = "CREATE UNIQUE INDEX IF NOT EXISTS groups_unique_number ON Groups (GroupNumber)";

const ColumnDef* findColumn(const QString& table, const QString& column) {
    for (const TableDef& t : tables()) {
        if (table.compare(QLatin1String(t.name), Qt::CaseInsensitive) != 0) {
            continue;
        }
        for (const ColumnDef& c : t.columns) {
            if (column.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0) {
                return &c;
            }
        }
    }
    return nullptr;
}

void storePassword(Connection& c, const QString& filePassword) {
    const QString salt = QString::number(QRandomGenerator::system()->generate64(), 16);
    Statement lock(c, "INSERT INTO RegisterFile (Salt, PasswordHash) VALUES (?, ?)");
    lock.bindText(1, salt);
    lock.bindText(2, hashFilePassword(filePassword, salt));
    lock.step();
}

const char* const kIndexes = R"sql(
CREATE UNIQUE INDEX assets_unique_assetid ON assets (ASSETID COLLATE NOCASE);
CREATE INDEX assets_by_assetid ON assets (ASSETID, WrittenOff);
CREATE INDEX assets_by_description ON assets (Description, WrittenOff);
CREATE INDEX assets_by_serialnumber ON assets (SerialNumber, WrittenOff);
CREATE INDEX assets_by_ordernumber ON assets (OrderNumber, WrittenOff);
CREATE INDEX assets_by_purchasedby ON assets (PurchasedBy, WrittenOff);
CREATE INDEX assets_by_borrower ON assets (Borrower, WrittenOff);
CREATE INDEX assets_by_supplier ON assets (Supplier, WrittenOff);
CREATE INDEX assets_by_itemgroup ON assets (ItemGroup);
INSERT INTO System (CompanyName, CompanyAbbr, DataBasePassword, PromptPasswordToStart) VALUES ('', '', '', 0);
)sql";

// A server keeps the same tables and columns. Text that compares without regard to case is citext; the
// flags are integers as in the file, so statements compare them with 0 and 1 on both engines. Each table
// has a rowid that is never given twice, standing in for SQLite's, and the marks the file keeps in its
// header (application id, schema version) are kept in a table of their own.
const char* serverType(const ColumnDef& c) {
    const std::string_view type = c.type;
    if (type == "TEXT") {
        return c.tail == kText ? "citext" : "text";
    }
    if (type == "DATE") {
        return "date";
    }
    if (type == "MONEY") {
        return "float8";
    }
    return "int8";
}

// The columns the list is searched and sorted by: each has an index of its own.
const char* const kSearchedColumns[] = {"ASSETID",     "Description", "SerialNumber", "OrderNumber",
                                        "PurchasedBy", "Borrower",    "Supplier",     "ItemGroup"};

std::string foldedColumn(std::string_view column) {
    std::string folded(column);
    for (char& c : folded) {
        c = asciiLower(c);
    }
    return folded + "_folded";
}

// A statement-level trigger: one notification per saved statement, sent by the server at its commit and
// never for a change that rolled back.
std::string serverChangeTriggerSql() {
    return std::string("CREATE OR REPLACE FUNCTION assets_changed_notify() RETURNS trigger LANGUAGE plpgsql AS $$ "
                       "BEGIN PERFORM pg_notify('") +
           kAssetsChangedChannel +
           "', ''); RETURN NULL; END $$;\n"
           "CREATE TRIGGER assets_changed AFTER INSERT OR UPDATE OR DELETE ON assets FOR EACH STATEMENT "
           "EXECUTE FUNCTION assets_changed_notify();\n";
}

// One table as the engine declares it, then its indexes; into *indexes instead when given, the server's primary
// key with them. A server's table has a rowid that is never given twice, last, so that an INSERT without a column
// list fills the register's columns.
std::string tableSql(const TableDef& t, SqlDialect dialect, std::string* indexes = nullptr) {
    std::string sql = std::string("CREATE TABLE ") + t.name + " (";
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        const std::string_view tail = c.tail;
        if (dialect == SqlDialect::PostgreSQL) {
            sql += std::string(c.name) + " " + serverType(c) +
                   (tail == kFlag        ? " NOT NULL DEFAULT 0"
                    : tail == "NOT NULL" ? " NOT NULL"
                                         : "") +
                   ", ";
        } else {
            sql += std::string(i ? ", " : "") + c.name + " " + c.type + (tail.empty() ? "" : " ") + c.tail;
        }
    }
    std::string& after = indexes ? *indexes : sql;
    if (dialect == SqlDialect::PostgreSQL) {
        sql += std::string("rowid int8 GENERATED BY DEFAULT AS IDENTITY") + (indexes ? "" : " PRIMARY KEY") + ");\n";
        if (indexes) {
            *indexes += std::string("ALTER TABLE ") + t.name + " ADD PRIMARY KEY (rowid);\n";
        }
    } else {
        sql += ");\n";
    }
    for (const char* index : t.indexes) {
        after += std::string(index) + ";\n";
    }
    return sql;
}

// The tables that schema versions after version added, with their indexes: what brings a register of that
// version up to date. A new register gets them with the rest.
std::string tablesAddedAfter(int version, SqlDialect dialect, std::string* indexes = nullptr) {
    std::string sql;
    for (const TableDef& t : tables()) {
        if (t.since > version) {
            sql += tableSql(t, dialect, indexes);
        }
    }
    return sql;
}

struct ServerSchema {
    std::string tables;
    std::string indexes; // empty when the tables make them
};

// A new server register; with indexesApart, its indexes (primary keys too) are left for after its rows, when the
// server builds each from one sorted pass over them instead of adding every row to every index as it comes.
ServerSchema createServerTables(bool indexesApart) {
    ServerSchema schema;
    std::string& indexes = indexesApart ? schema.indexes : schema.tables;
    std::string sql = "CREATE EXTENSION IF NOT EXISTS citext;\n" +
                      tablesAddedAfter(0, SqlDialect::PostgreSQL, indexesApart ? &schema.indexes : nullptr);
    // The searched and sorted columns also keep their text folded to lower case, in a column of their own in
    // byte order ("C"): comparing those bytes is what the file's NOCASE does, and far cheaper for the server
    // than folding citext at every comparison. The list's indexes are on the folded text, NULL first as the
    // file sorts it, and hold the rowid, so the list is read from the index alone.
    for (const char* column : kSearchedColumns) {
        const std::string folded = foldedColumn(column);
        sql += "ALTER TABLE assets ADD COLUMN " + folded + " text COLLATE \"C\" GENERATED ALWAYS AS (lower(" + column +
               "::text)) STORED;\n";
    }
    schema.tables = std::move(sql);
    for (const char* column : kSearchedColumns) {
        const std::string name = "assets_by_" + QString::fromLatin1(column).toLower().toStdString();
        indexes += "CREATE INDEX " + name + " ON assets (" + foldedColumn(column) + " NULLS FIRST" +
                   (std::string_view(column) == "ItemGroup" ? "" : ", WrittenOff") + ") INCLUDE (rowid);\n";
    }
    indexes += "CREATE UNIQUE INDEX assets_unique_assetid ON assets (ASSETID);\n" + std::string(kGroupsUnique) + ";\n";
    schema.tables += "INSERT INTO System (CompanyName, CompanyAbbr, DataBasePassword, PromptPasswordToStart) VALUES "
                     "('', '', '', 0);\n" +
                     serverChangeTriggerSql() +
                     "CREATE TABLE registerversion (application_id int8 NOT NULL, schema_version int8 NOT NULL);\n"
                     "INSERT INTO registerversion VALUES (" +
                     std::to_string(kRegisterApplicationId) + ", " + std::to_string(kRegisterSchemaVersion) + ");\n";
    return schema;
}

// The statistics of a register whose rows were all written at once, made in the transaction that wrote them so
// that its first searches are planned well. Every column gets coarse ones; then the columns the list searches,
// sorts and filters by (all but the citext ones, whose comparisons fold case and cost the server most) get the
// server's usual ones. The server counts the rows as written only at the commit, so its own maintenance
// analyses the tables whole soon after, citext columns too.
void analyseFilledServerRegister(Connection& c) {
    std::string all;
    std::string searched = "rowid";
    for (const TableDef& t : tables()) {
        all += (all.empty() ? "" : ", ") + std::string(t.name);
        if (std::string_view(t.name) != "assets") {
            continue;
        }
        for (const ColumnDef& col : t.columns) {
            if (std::string_view(serverType(col)) != "citext") {
                searched += std::string(", ") + col.name;
            }
        }
    }
    for (const char* column : kSearchedColumns) {
        searched += ", " + foldedColumn(column);
    }
    c.exec("SET LOCAL default_statistics_target = 10;\nANALYZE " + all +
           ", registerversion;\nSET LOCAL default_statistics_target TO DEFAULT;\nANALYZE assets (" + searched + ")");
}

std::string createTables() {
    return tablesAddedAfter(0, SqlDialect::SQLite);
}

} // namespace

QString serverShapeProblem(const Connection& c) {
    Statement info(c, "SELECT udt_name FROM information_schema.columns WHERE table_schema = current_schema() "
                      "AND table_name = ? AND column_name = ?");
    const int version = c.schemaVersion();
    for (const TableDef& t : tables()) {
        if (t.since > version) {
            continue;
        }
        for (const ColumnDef& col : t.columns) {
            info.bindText(1, QString::fromLatin1(t.name).toLower());
            info.bindText(2, QString::fromLatin1(col.name).toLower());
            if (!info.step()) {
                return QStringLiteral("table '%1' has no column '%2'")
                    .arg(QLatin1String(t.name), QLatin1String(col.name));
            }
            const QString type = info.column(0).toString();
            info.reset();
            if (type != QLatin1String(serverType(col))) {
                return QStringLiteral("column '%1' of table '%2' is of type %3, not %4")
                    .arg(QLatin1String(col.name), QLatin1String(t.name), type, QLatin1String(serverType(col)));
            }
        }
    }
    return QString();
}

namespace {} // namespace

QString hashFilePassword(const QString& password, const QString& salt) {
    QByteArray digest = (salt + QLatin1Char(':') + password).toUtf8();
    for (int i = 0; i < 10000; ++i) {
        digest = QCryptographicHash::hash(digest, QCryptographicHash::Sha256);
    }
    return QString::fromLatin1(digest.toHex());
}

QString registerName(const QString& name) {
    for (const TableDef& t : tables()) {
        if (name.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0) {
            return QLatin1String(t.name);
        }
        for (const ColumnDef& c : t.columns) {
            if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0) {
                return QLatin1String(c.name);
            }
        }
    }
    return name;
}

QString registerColumnType(const QString& table, const QString& column) {
    const ColumnDef* c = findColumn(table, column);
    return c ? QLatin1String(c->type) : QString();
}

std::string registerFoldedColumn(std::string_view column) {
    for (const char* searched : kSearchedColumns) {
        if (equalIgnoringAsciiCase(column, searched)) {
            return foldedColumn(searched);
        }
    }
    return {};
}

std::string registerColumnList(std::string_view table) {
    for (const TableDef& t : tables()) {
        if (!equalIgnoringAsciiCase(table, t.name)) {
            continue;
        }
        std::string list;
        for (const ColumnDef& c : t.columns) {
            list += (list.empty() ? "" : ", ") + std::string(c.name);
        }
        return list;
    }
    return {};
}

void createServerRegister(const QString& uri, const QString& filePassword, const std::function<void(Connection&)>& fill,
                          const std::function<void(Connection&)>& verify) {
    Connection c;
    c.connectServer(uri);
    const QString name = c.engine().name();
    Statement present(c, "SELECT to_regclass('registerversion') IS NOT NULL OR to_regclass('assets') IS NOT NULL");
    if (present.step() && present.columnInt64(0) != 0) {
        throw DatabaseError(QStringLiteral("The database %1 already holds a register; a new register is never "
                                           "written over an existing one.")
                                .arg(name));
    }
    present.reset();
    // Tables, marks, password and settings in one transaction: a failure leaves the database as it was.
    try {
        // Flushed before it is said to be made, whatever the server's own setting; and only rows whose
        // commit is flushed can be marked visible to all, which lets the list read its index alone.
        c.exec("SET synchronous_commit = on");
        Connection::Transaction t(c);
        const ServerSchema schema = createServerTables(static_cast<bool>(verify));
        c.exec(schema.tables);
        storePassword(c, filePassword);
        if (fill) {
            fill(c);
        }
        if (verify) {
            c.exec(schema.indexes);
            analyseFilledServerRegister(c);
            verify(c);
        }
        t.commit();
    } catch (const DatabaseError& e) {
        throw DatabaseError(QStringLiteral("The register database %1 could not be made: %2").arg(name, e.text()));
    }
}

void settleServerRegister(const QString& uri, RowsWritten rows) {
    Connection c;
    c.connectServer(uri);
    settleServerRegister(c, rows);
}

void addServerChangeTrigger(Connection& c) {
    Statement present(c, "SELECT count(*) FROM pg_trigger WHERE tgname = 'assets_changed' AND tgrelid = "
                         "to_regclass('assets')");
    if (present.step() && present.columnInt64(0) > 0) {
        return;
    }
    present.reset();
    try {
        Connection::Transaction t(c);
        c.exec(serverChangeTriggerSql());
        t.commit();
    } catch (const DatabaseError&) {
        // A login that may not add it still works on the register; its list shows other clients' changes
        // at the next search, as it did before the trigger existed.
    }
}

void settleServerRegister(Connection& c, RowsWritten rows) {
    if (rows == RowsWritten::Plain) {
        c.exec("VACUUM ANALYZE");
    }
    // Pages are marked visible to all only when no transaction that began before the rows were written is
    // still running; the server's own maintenance, started on a new database meanwhile, can hold that back
    // for a moment. Until they are, the list reads every row's table page beside its index.
    for (int tries = 0; tries < 20; ++tries) {
        Statement marked(c, "SELECT relallvisible >= relpages FROM pg_class WHERE oid = 'assets'::regclass");
        if (!marked.step() || marked.columnInt64(0) != 0) {
            return;
        }
        marked.reset();
        QThread::msleep(100);
        c.exec("VACUUM assets");
    }
}

void createRegister(const QString& path, const QString& filePassword) {
    if (isServerUri(path)) {
        createServerRegister(path, filePassword, {});
        return;
    }
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        throw DatabaseError(QStringLiteral("The file '%1' already exists; a new register is never written over "
                                           "an existing file.")
                                .arg(path));
    }
    // Built under a temporary name and moved into place when complete: a failure leaves nothing behind (not
    // even the journal of the failed transaction), and a file that appears at path meanwhile is never touched.
    PartialFile file(temporaryNameBeside(path));
    try {
        Connection c;
        c.createFile(file.path());
        Connection::Transaction t(c);
        c.exec("PRAGMA application_id = " + std::to_string(kRegisterApplicationId));
        c.exec("PRAGMA user_version = " + std::to_string(kRegisterSchemaVersion));
        c.exec(createTables() + kIndexes + kGroupsUnique);
        storePassword(c, filePassword);
        t.commit();
    } catch (const DatabaseError& e) {
        throw DatabaseError(QStringLiteral("The register file '%1' could not be made: %2")
                                .arg(path, QString(e.text()).replace(file.path(), path)));
    }
    file.placeAt(path);
}

void upgradeRegister(Connection& c) {
    Connection::Transaction t(c);
    c.holdWriteLock();
    const int from = c.schemaVersion();
    if (from >= kRegisterSchemaVersion) {
        t.commit();
        return;
    }
    if (from < 2) {
        // Keep the row of each digit that the configuration finds and edits first: the oldest.
        c.exec("DELETE FROM Groups WHERE rowid NOT IN (SELECT min(rowid) FROM Groups GROUP BY GroupNumber)");
        c.exec(kGroupsUnique);
    }
    if (from < 3) {
        // Version 3's tables; the history starts from every row as it stands.
        c.exec(tablesAddedAfter(2, c.dialect()));
        recordExistingRows(c);
    }
    c.engine().setSchemaVersion(c, kRegisterSchemaVersion);
    t.commit();
}
