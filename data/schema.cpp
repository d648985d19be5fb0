// The register file's schema: three tables, booleans that are never null, text that compares without regard
// to case, one row per group digit, and indexes that let the list's ORDER BY walk an index that also holds the
// written-off flag, so a search reads no table rows until they are shown. The same column table makes a new
// register and checks an opened one, so the two can never disagree.
#include "data/schema.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/newfile.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <vector>

const char* const kDefaultFilePassword = "kivelor";

namespace {

struct ColumnDef {
    const char* name;
    const char* type; // the declared type; an opened register must declare the same
    const char* tail; // collation and constraints
};

struct TableDef {
    const char* name;
    std::vector<ColumnDef> columns;
};

const char* const kText = "COLLATE NOCASE";
const char* const kFlag = "NOT NULL DEFAULT 0";

const std::array<TableDef, 4>& tables() {
    static const std::array<TableDef, 4> t{{
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
          {"WrittenDownValue", "MONEY", ""}}},
        {"System",
         {{"CompanyName", "TEXT", kText},
          {"CompanyAbbr", "TEXT", kText},
          {"DataBasePassword", "TEXT", ""},
          {"PromptPasswordToStart", "BOOLEAN", kFlag}}},
        {"Groups", {{"GroupNumber", "TEXT", kText}, {"Description", "TEXT", kText}}},
        {"RegisterFile", {{"Salt", "TEXT", "NOT NULL"}, {"PasswordHash", "TEXT", "NOT NULL"}}},
    }};
    return t;
}

// One row per digit: two programs saving the configuration at once must not double a group.
const char* const kGroupsUnique = "CREATE UNIQUE INDEX IF NOT EXISTS groups_unique_number ON Groups (GroupNumber)";

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

std::string createTables() {
    std::string sql;
    for (const TableDef& t : tables()) {
        sql += std::string("CREATE TABLE ") + t.name + " (";
        for (size_t i = 0; i < t.columns.size(); ++i) {
            const ColumnDef& c = t.columns[i];
            sql += std::string(i ? ", " : "") + c.name + " " + c.type + (*c.tail ? " " : "") + c.tail;
        }
        sql += ");\n";
    }
    return sql;
}

} // namespace

QString hashFilePassword(const QString& password, const QString& salt) {
    QByteArray digest = (salt + QLatin1Char(':') + password).toUtf8();
    for (int i = 0; i < 10000; ++i) {
        digest = QCryptographicHash::hash(digest, QCryptographicHash::Sha256);
    }
    return QString::fromLatin1(digest.toHex());
}

void createRegister(const QString& path, const QString& filePassword) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        throw DatabaseError(QStringLiteral("The file '%1' already exists; a new register is never written over "
                                           "an existing file.")
                                .arg(path));
    }
    const QString salt = QString::number(QRandomGenerator::system()->generate64(), 16);
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
        Statement lock(c, "INSERT INTO RegisterFile (Salt, PasswordHash) VALUES (?, ?)");
        lock.bindText(1, salt);
        lock.bindText(2, hashFilePassword(filePassword, salt));
        lock.step();
        t.commit();
    } catch (const DatabaseError& e) {
        throw DatabaseError(QStringLiteral("The register file '%1' could not be made: %2")
                                .arg(path, QString(e.text()).replace(file.path(), path)));
    }
    file.placeAt(path);
}

QString registerShapeProblem(const Connection& c) {
    for (const TableDef& t : tables()) {
        Statement kind(c, "SELECT type FROM sqlite_master WHERE name = ? COLLATE NOCASE AND type IN ('table', "
                          "'view')");
        kind.bindText(1, QString::fromLatin1(t.name));
        if (!kind.step()) {
            return QStringLiteral("it has no table '%1'").arg(QLatin1String(t.name));
        }
        if (kind.column(0).toString() != QLatin1String("table")) {
            return QStringLiteral("'%1' is a view, not a table").arg(QLatin1String(t.name));
        }
        kind.reset();
        Statement info(c, std::string("SELECT name, type FROM pragma_table_info('") + t.name + "')");
        std::vector<std::pair<QString, QString>> present;
        while (info.step()) {
            present.emplace_back(info.column(0).toString(), info.column(1).toString());
        }
        for (const ColumnDef& col : t.columns) {
            const auto it = std::find_if(present.begin(), present.end(), [&](const auto& p) {
                return p.first.compare(QLatin1String(col.name), Qt::CaseInsensitive) == 0;
            });
            if (it == present.end()) {
                return QStringLiteral("table '%1' has no column '%2'")
                    .arg(QLatin1String(t.name), QLatin1String(col.name));
            }
            if (it->second.compare(QLatin1String(col.type), Qt::CaseInsensitive) != 0) {
                return QStringLiteral("column '%1' of table '%2' is declared %3, not %4")
                    .arg(QLatin1String(col.name), QLatin1String(t.name), it->second, QLatin1String(col.type));
            }
        }
    }
    return QString();
}

QString registerValueProblem(const Connection& c) {
    // Amounts must be numbers and yes/no values integers: anything else would be shown as a zero or a "False"
    // that the register does not hold. (A date that is not a date is shown as the text it is.) One pass over
    // the table, reading the five columns; the column at fault is looked up only when a row is found.
    static const char* const kCheck =
        "SELECT ASSETID, typeof(TotalCost) IN ('text', 'blob'), typeof(WrittenDownValue) IN ('text', 'blob'), "
        "typeof(isElectrical) <> 'integer', typeof(itemBorrowed) <> 'integer' FROM assets "
        "WHERE typeof(TotalCost) IN ('text', 'blob') OR typeof(WrittenDownValue) IN ('text', 'blob') "
        "OR typeof(isElectrical) <> 'integer' OR typeof(itemBorrowed) <> 'integer' OR typeof(WrittenOff) <> 'integer' "
        "LIMIT 1";
    Statement s(c, kCheck);
    if (s.step()) {
        const char* column = s.columnInt64(1)   ? "TotalCost"
                             : s.columnInt64(2) ? "WrittenDownValue"
                             : s.columnInt64(3) ? "isElectrical"
                             : s.columnInt64(4) ? "itemBorrowed"
                                                : "WrittenOff";
        return QStringLiteral("the asset '%1' holds a value of the wrong kind in '%2'")
            .arg(s.column(0).toString(), QLatin1String(column));
    }
    Statement flag(c, "SELECT 1 FROM System WHERE typeof(PromptPasswordToStart) <> 'integer' LIMIT 1");
    if (flag.step()) {
        return QStringLiteral("the settings hold a value of the wrong kind in 'PromptPasswordToStart'");
    }
    return QString();
}

void upgradeRegister(Connection& c, int fromVersion) {
    Connection::Transaction t(c);
    if (fromVersion < 2) {
        // Keep the row of each digit that the configuration finds and edits first: the oldest.
        c.exec("DELETE FROM Groups WHERE rowid NOT IN (SELECT min(rowid) FROM Groups GROUP BY GroupNumber)");
        c.exec(kGroupsUnique);
    }
    c.exec("PRAGMA user_version = " + std::to_string(kRegisterSchemaVersion));
    t.commit();
}
