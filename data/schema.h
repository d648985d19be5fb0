// The register file's schema: the tables assets, System, Groups, History and the stock-takes', the indexes the
// search walks, and the marks that tell our files from any other SQLite file.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class Connection;

// The password the program's connection string gives for the register file.
extern const char* const kDefaultFilePassword;
// SQLite application_id of a register ("VNTR").
constexpr int kRegisterApplicationId = 0x564E5452;
// The schema version this program writes and reads (SQLite user_version). Version 2 keeps one Groups row
// per digit; version 3 adds the tables of RegisterTable::since 3 (History, StockTakes and StockTakeScans).
// Registers of an older version are brought up to date when opened.
constexpr int kRegisterSchemaVersion = 3;
// The longest text a text column holds.
constexpr int kMaxTextLength = 255;

// The register's tables and columns, as a new register declares them and an opened one must.
struct RegisterColumn {
    const char* name;
    const char* type; // the declared type; an opened register must declare the same
    const char* tail; // collation and constraints
};
struct RegisterTable {
    const char* name;
    std::vector<RegisterColumn> columns;
    int since = 1;                    // the schema version that added the table
    std::vector<const char*> indexes; // its indexes, the same statement on either engine
};
const std::array<RegisterTable, 7>& registerTables();

// Makes a new, empty register: the tables, one settings record of empty texts and false, no groups.
// Refuses (DatabaseError) to overwrite an existing file. A postgresql:// path makes it in that database.
void createRegister(const QString& path, const QString& filePassword = QString::fromLatin1(kDefaultFilePassword));

// The salted hash stored for a file password; never the password itself.
QString hashFilePassword(const QString& password, const QString& salt);

// Empty when the register's tables (those of its schema version) are tables with every column the program
// uses, declared with the program's types; otherwise what is wrong, as a phrase ("table 'assets' has no
// column 'TotalCost'").
QString registerShapeProblem(const Connection& c);
// Empty when every stored amount is a number and every yes/no an integer; otherwise the first asset that
// holds another kind, as a phrase.
QString registerValueProblem(const Connection& c);
// The shape check of a register on a server, by the column types the server was given.
QString serverShapeProblem(const Connection& c);
// Brings a register of an older schema version up to this program's, in one transaction, from the version it
// holds when the transaction has begun (another program may have brought it up meanwhile): version 1 gets one
// Groups row per digit, version 2 the tables of version 3 and the first history entries (recordExistingRows).
void upgradeRegister(Connection& c);

// Makes a new register in the existing database uri names, then runs fill on it, all in one transaction.
// Refuses (DatabaseError) a database that already holds a register's tables. Given verify, fill writes a whole
// register's rows at once: the indexes are made after fill, from its rows, then the statistics, then verify
// reads what was written, still in the transaction, and throws to keep none of it.
void createServerRegister(const QString& uri, const QString& filePassword, const std::function<void(Connection&)>& fill,
                          const std::function<void(Connection&)>& verify = {});

// The channel a server register notifies after every statement that changes assets, so that other clients'
// lists show the change; the trigger comes with every server register, and opening adds it to one made
// before it existed, when the login may.
constexpr const char* kAssetsChangedChannel = "vantrel_assets";
void addServerChangeTrigger(Connection& c);

// After many rows were written to the server register at uri at once: records which rows every transaction
// sees, so the list is read from its indexes alone, and the statistics its plans are made from. Rows written
// frozen (a copy into new tables, whose statistics createServerRegister made) are seen by every transaction
// already; it waits only for the server to mark their pages so.
enum class RowsWritten { Plain, Frozen };
void settleServerRegister(const QString& uri, RowsWritten rows = RowsWritten::Plain);
void settleServerRegister(Connection& c, RowsWritten rows = RowsWritten::Plain);

// A table or column name of the register as the program writes it ("itemgroup" -> "ItemGroup"); other
// names unchanged.
QString registerName(const QString& name);
// The declared type ("TEXT", "DATE", "MONEY", "BOOLEAN") of a register column; empty for any other.
QString registerColumnType(const QString& table, const QString& column);
// On a server, the column that holds a searched column of assets folded to lower case, compared by its bytes
// ("description" -> "description_folded"); empty for a column without one.
std::string registerFoldedColumn(std::string_view column);
// The columns of a register table as a select list ("ASSETID, ItemGroup, ..."); empty for any other name.
std::string registerColumnList(std::string_view table);
