// Making a new register file. The schema is the program's: three tables, booleans that are never null,
// text that compares without regard to case, and indexes that let the list's ORDER BY walk an index that
// also holds the written-off flag, so a search reads no table rows until they are shown.
#include "data/schema.h"

#include "data/connection.h"
#include "data/errors.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <sqlite3.h>

const char* const kDefaultFilePassword = "kivelor";

namespace {

const char* const kSchema = R"sql(
CREATE TABLE assets (
    ASSETID TEXT COLLATE NOCASE,
    ItemGroup TEXT COLLATE NOCASE,
    OrderNumber TEXT COLLATE NOCASE,
    Make TEXT COLLATE NOCASE,
    Model TEXT COLLATE NOCASE,
    DatePurchased DATE,
    SerialNumber TEXT COLLATE NOCASE,
    Description TEXT COLLATE NOCASE,
    Supplier TEXT COLLATE NOCASE,
    PurchasedBy TEXT COLLATE NOCASE,
    Location TEXT COLLATE NOCASE,
    TotalCost MONEY,
    WarrantyPeriod TEXT COLLATE NOCASE,
    isElectrical BOOLEAN NOT NULL DEFAULT 0,
    LastTestTag DATE,
    itemBorrowed BOOLEAN NOT NULL DEFAULT 0,
    Borrower TEXT COLLATE NOCASE,
    BorrowedOn DATE,
    ExpectedReturn DATE,
    WrittenOff BOOLEAN NOT NULL DEFAULT 0,
    WrittenOffDate DATE,
    WrittenOffBy TEXT COLLATE NOCASE,
    WrittenOffReason TEXT COLLATE NOCASE,
    WrittenDownValue MONEY
);
CREATE UNIQUE INDEX assets_unique_assetid ON assets (ASSETID COLLATE NOCASE);
CREATE INDEX assets_by_assetid ON assets (ASSETID, WrittenOff);
CREATE INDEX assets_by_description ON assets (Description, WrittenOff);
CREATE INDEX assets_by_serialnumber ON assets (SerialNumber, WrittenOff);
CREATE INDEX assets_by_ordernumber ON assets (OrderNumber, WrittenOff);
CREATE INDEX assets_by_purchasedby ON assets (PurchasedBy, WrittenOff);
CREATE INDEX assets_by_borrower ON assets (Borrower, WrittenOff);
CREATE INDEX assets_by_supplier ON assets (Supplier, WrittenOff);
CREATE INDEX assets_by_itemgroup ON assets (ItemGroup);
CREATE TABLE System (
    CompanyName TEXT COLLATE NOCASE,
    CompanyAbbr TEXT COLLATE NOCASE,
    DataBasePassword TEXT,
    PromptPasswordToStart BOOLEAN NOT NULL DEFAULT 0
);
CREATE TABLE Groups (
    GroupNumber TEXT COLLATE NOCASE,
    Description TEXT COLLATE NOCASE
);
CREATE TABLE RegisterFile (
    Salt TEXT NOT NULL,
    PasswordHash TEXT NOT NULL
);
INSERT INTO System (CompanyName, CompanyAbbr, DataBasePassword, PromptPasswordToStart) VALUES ('', '', '', 0);
)sql";

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

void run(sqlite3* db, const std::string& sql, const QString& path) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        throw DatabaseError(QStringLiteral("The register file '%1' could not be made: %2").arg(path, text));
    }
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
    if (QFileInfo::exists(path)) {
        throw DatabaseError(QStringLiteral("The file '%1' already exists; a new register is never written over "
                                           "an existing file.")
                                .arg(path));
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    if (rc != SQLITE_OK) {
        throw DatabaseError(QStringLiteral("The register file '%1' could not be made: %2")
                                .arg(path, QString::fromUtf8(sqlite3_errmsg(raw))));
    }
    const QString salt = QString::number(QRandomGenerator::system()->generate64(), 16);
    try {
        run(raw, "BEGIN", path);
        run(raw, "PRAGMA application_id = " + std::to_string(kRegisterApplicationId), path);
        run(raw, "PRAGMA user_version = " + std::to_string(kRegisterSchemaVersion), path);
        run(raw, kSchema, path);
        run(raw,
            "INSERT INTO RegisterFile (Salt, PasswordHash) VALUES ('" + salt.toStdString() + "', '" +
                hashFilePassword(filePassword, salt).toStdString() + "')",
            path);
        run(raw, "COMMIT", path);
    } catch (...) {
        db.reset();
        QFile::remove(path);
        throw;
    }
}
