// Tests of the translation of Jet statements into SQLite's dialect: literals, dates, booleans, bracketed names,
// the end of the statement, the one-table analysis, statements in the program's shapes executed on an
// in-memory database configured as the register's connection is (no double-quoted strings, our LIKE), and
// the data layer's own statements run on a register.
#include "data/assetids.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "data/likefunction.h"
#include "tests/support/testregister.h"

#include <QtTest>
#include <sqlite3.h>

namespace {

// The text of the DatabaseError translating jet raises, or an empty string when it translates.
QString translationError(const QString& jet) {
    try {
        translateJetSql(jet);
    } catch (const DatabaseError& e) {
        return e.text();
    }
    return {};
}

// Statements in the shapes the program runs: over several lines, with dates, flags in either case, a
// double-quoted pattern and a closing semicolon.
const QStringList kDatesAndFlags = {"SELECT AssetID, Make, DatePurchased", "FROM Assets",
                                    "WHERE DatePurchased <= #7/4/2026# and WrittenOff = FALSE",
                                    "Order by DatePurchased"};
const QStringList kPatternAndFlags = {"select AssetID, Description", "from Assets", "WHERE Description LIKE \"%LAP%\"",
                                      "AND itemBorrowed <> TRUE", "ORDER BY Description;"};
const QStringList kFlagsEitherCase = {"Select AssetID, Borrower, ExpectedReturn", "FROM Assets",
                                      "WHERE itemBorrowed = TRUE and WrittenOFf = False", "Order by BorrowedOn"};

QString joined(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

// An in-memory database with the register's tables, set up as the register's connection is.
class RegisterDb {
public:
    RegisterDb() {
        if (sqlite3_open(":memory:", &db_) != SQLITE_OK) {
            qFatal("cannot open an in-memory database");
        }
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
        registerLikeFunctions(db_);
        exec("CREATE TABLE assets(ASSETID TEXT COLLATE NOCASE, ItemGroup TEXT, Make TEXT, Model TEXT, "
             "SerialNumber TEXT, Description TEXT COLLATE NOCASE, DatePurchased DATE, LastTestTag DATE, "
             "isElectrical BOOLEAN, itemBorrowed BOOLEAN, Borrower TEXT, BorrowedOn DATE, ExpectedReturn DATE, "
             "WrittenOff BOOLEAN, WrittenOffDate DATE, WrittenOffReason TEXT, TotalCost MONEY)");
        exec("CREATE TABLE Groups(GroupNumber TEXT, Description TEXT)");
        exec("INSERT INTO Groups VALUES ('1','Computers'), ('2','Furniture'), ('3','Tools'), ('4','')");
        // AssetID, group, make, model, serial, description, purchased, borrowed, borrower, borrowed on,
        // expected return, written off, cost.
        exec("INSERT INTO assets(AssetID, ItemGroup, Make, Model, SerialNumber, Description, DatePurchased, "
             "itemBorrowed, Borrower, BorrowedOn, ExpectedReturn, WrittenOff, TotalCost) VALUES "
             "('A001','1','Dell','Latitude','SN1','Dell laptop','2026-07-04',1,'Ann','2026-08-01','2026-08-15',0,1200),"
             "('A002','1','HP','ProBook','SN2','Office LAPTOP','2025-12-31',0,NULL,NULL,NULL,1,900),"
             "('A003','2','Ikea','Bekant','SN3','Standing desk','2026-07-05',0,NULL,NULL,NULL,0,300),"
             "('A004','3','Makita','DHP','SN4','Cordless drill','2027-01-01',1,'Bob','2027-01-10',NULL,0,150),"
             "('A005','1','Acer','X','SN5','Écran de laptop','2024-02-29',0,NULL,NULL,NULL,0,400),"
             "('A006','3','Stanley','H1','SN6','Hammer','2026-07-04 10:30:00',0,NULL,NULL,NULL,0,25),"
             "('A007','3','Bosch','S2','SN7','Old saw','2020-01-01',0,NULL,NULL,NULL,1,10),"
             "('A008','1','Dell','D2','SN8','Broken laptop','2019-05-05',0,NULL,NULL,NULL,1,50),"
             "('A009','2','Ikea','Markus','SN9','Chair 12\" high','2027-02-01',0,NULL,NULL,NULL,0,99.5)");
    }
    ~RegisterDb() { sqlite3_close(db_); }

    void exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            qFatal("cannot set up the test database: %s", message);
        }
    }

    // Every row of the result, its columns joined by '|'; a NULL shows as "NULL". Throws on SQL errors.
    QStringList rows(const std::string& sql) const {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            throw DatabaseError(QString::fromUtf8(sqlite3_errmsg(db_)) + QStringLiteral(" in ") +
                                QString::fromStdString(sql));
        }
        QStringList result;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const unsigned char* text = sqlite3_column_text(stmt, i);
                columns << (text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QStringLiteral("NULL"));
            }
            result << columns.join(QLatin1Char('|'));
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            throw DatabaseError(QString::fromUtf8(sqlite3_errmsg(db_)));
        }
        return result;
    }

    // The first column of every row.
    QStringList firstColumn(const std::string& sql) const {
        QStringList result;
        for (const QString& row : rows(sql)) {
            result << row.section(QLatin1Char('|'), 0, 0);
        }
        return result;
    }

private:
    sqlite3* db_ = nullptr;
};

} // namespace

class TestJetSql : public QObject {
    Q_OBJECT

private slots:
    void translation_data();
    void translation();
    void refused_data();
    void refused();
    void jetQuoteRoundTrip_data();
    void jetQuoteRoundTrip();
    void singleTable_data();
    void singleTable();
    void statementsRun_data();
    void statementsRun();
    void programStatementsOnARegister();
};

void TestJetSql::translation_data() {
    QTest::addColumn<QString>("jet");
    QTest::addColumn<int>("dialect");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& jet, const QString& sqlite) {
        QTest::newRow(name) << jet << int(SqlDialect::SQLite) << sqlite;
    };

    row("double-quoted text", R"(x = "abc")", "x = 'abc'");
    row("doubled double quote", R"(x = "a""b")", R"(x = 'a"b')");
    row("only a doubled quote", R"(x = """")", R"(x = '"')");
    row("single quote inside double", R"(x = "O'Brien")", "x = 'O''Brien'");
    row("single-quoted text", "x = 'abc'", "x = 'abc'");
    row("doubled single quote", "x = 'it''s'", "x = 'it''s'");
    row("double quote inside single", R"(x = 'say "hi"')", R"(x = 'say "hi"')");
    row("empty texts", R"(a = "" or b = '')", "a = '' or b = ''");
    row("keywords and # inside a literal", R"(x = "FROM #1/1/2027# TRUE; [y]")", "x = 'FROM #1/1/2027# TRUE; [y]'");
    row("non-ASCII text", R"(x = "Écran ω")", "x = 'Écran ω'");
    row("date", "d >= #1/1/2027#", "d >= '2027-01-01'");
    row("date end of century", "d = #12/31/1999#", "d = '1999-12-31'");
    row("date with leading zeros", "d = #07/04/2026#", "d = '2026-07-04'");
    row("date leap day", "d = #2/29/2024#", "d = '2024-02-29'");
    row("date leap day of 2000", "d = #2/29/2000#", "d = '2000-02-29'");
    row("date with blanks inside", "d = # 7/4/2026 #", "d = '2026-07-04'");
    row("TRUE", "x = TRUE", "x = 1");
    row("false", "x = false", "x = 0");
    row("mixed case", "x = tRuE or y = FaLsE", "x = 1 or y = 0");
    row("boolean next to operators", "x<>TRUE AND(y=FALSE)", "x<>1 AND(y=0)");
    row("names containing TRUE", "TrueValue = IsTrue or FALSEHOOD = 1", "TrueValue = IsTrue or FALSEHOOD = 1");
    row("boolean in a literal", R"(x = "TRUE" or y = 'false')", "x = 'TRUE' or y = 'false'");
    row("bracketed TRUE is a column", "[True] = TRUE", "\"True\" = 1");
    row("qualified TRUE is a column", "Flags.True = TRUE", "Flags.True = 1");
    row("bracketed name", "SELECT [Asset ID] FROM [My Assets]", R"(SELECT "Asset ID" FROM "My Assets")");
    row("bracketed name with quote", R"([12" screen])", R"("12"" screen")");
    row("qualified bracketed name", "[Groups].[Description]", R"("Groups"."Description")");
    row("operators", "a<=1 and b>=2 and c<>3 and d<4 and e>5", "a<=1 and b>=2 and c<>3 and d<4 and e>5");
    row("numbers", "x = 12.5 or y = .5 or z = 1e3", "x = 12.5 or y = .5 or z = 1e3");
    row("minus minus is not a comment", "x = 2--1", "x = 2- -1");
    row("slash star is not a comment", "x = 4/*y", "x = 4/ *y");
    row("line breaks kept", "SELECT *\nFROM Assets\r\nWHERE x", "SELECT *\nFROM Assets\r\nWHERE x");
    row("trailing semicolon", "SELECT 1;", "SELECT 1");
    row("semicolon then blanks", "SELECT 1 ;  \n\t", "SELECT 1");
    row("semicolon in a literal", "SELECT ';' ;", "SELECT ';'");
    row("non-ASCII name", "SELECT Größe FROM t", "SELECT Größe FROM t");

    // What differs for a server: names folded as the server folds them (aliases keep their case), LIKE without
    // regard to case with a backslash taken as itself, NULL sorted first, and * listing a table's columns.
    const auto serverRow = [](const char* name, const QString& jet, const QString& server) {
        QTest::addRow("server: %s", name) << jet << int(SqlDialect::PostgreSQL) << server;
    };
    serverRow("bracketed name", "SELECT [ItemGroup] FROM [Groups]", R"(SELECT "itemgroup" FROM "groups")");
    serverRow("alias keeps its case", "SELECT Count(*) AS GTotal FROM assets ORDER BY gtotal",
              R"(SELECT Count(*) AS "GTotal" FROM assets ORDER BY "GTotal" NULLS FIRST)");
    serverRow("qualified name is not the alias", "SELECT a.Make AS Make FROM assets a WHERE a.make = 'x'",
              R"(SELECT a.Make AS "Make" FROM assets a WHERE a.make = 'x')");
    serverRow("LIKE with a backslash", R"(WHERE x LIKE "%a\b%")", R"(WHERE x ILIKE '%a\\b%')");
    serverRow("searched column", R"(WHERE Description LIKE "%Lap%" ORDER BY description DESC, Make)",
              "WHERE description_folded LIKE lower('%Lap%') ORDER BY description_folded DESC "
              "NULLS LAST, Make NULLS FIRST");
    serverRow("searched column, qualified or against a column",
              "WHERE a.Description LIKE 'x' OR Supplier LIKE Make ORDER BY a.Supplier",
              "WHERE a.Description ILIKE 'x' OR Supplier ILIKE Make ORDER BY a.Supplier NULLS FIRST");
    serverRow("order keys", "SELECT x FROM t ORDER BY a, b DESC, c ASC, f(d, e), assetid",
              "SELECT x FROM t ORDER BY a NULLS FIRST, b DESC NULLS LAST, c ASC NULLS FIRST, "
              "f(d, e) NULLS FIRST, assetid_folded NULLS FIRST");
    serverRow("order inside brackets untouched", "SELECT x FROM (SELECT y FROM t ORDER BY y) ORDER BY x",
              "SELECT x FROM (SELECT y FROM t ORDER BY y) ORDER BY x NULLS FIRST");
    serverRow("star of a register table", "select distinct * from Groups where Description <> ''",
              "select distinct GroupNumber, Description from Groups where "
              "Description <> ''");
    serverRow("star of another table", "SELECT * FROM other", "SELECT * FROM other");
    serverRow("dates and flags as on the file", "WHERE d <= #7/4/2026# AND f = TRUE",
              "WHERE d <= '2026-07-04' AND f = 1");
}

void TestJetSql::translation() {
    QFETCH(QString, jet);
    QFETCH(int, dialect);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(translateJetSql(jet, SqlDialect(dialect)).sql), expected);
}

void TestJetSql::refused_data() {
    QTest::addColumn<QString>("jet");
    QTest::addColumn<QString>("errorContains");
    const auto row = [](const char* name, const QString& jet, const QString& errorContains) {
        QTest::newRow(name) << jet << errorContains;
    };

    row("second statement", "SELECT 1; SELECT 2", "Characters found after end of SQL statement.");
    row("two semicolons", "SELECT 1;;", "Characters found after end of SQL statement.");
    row("unterminated double-quoted", R"(x = "abc)", "closing quote");
    row("unterminated after doubled quote", R"(x = "abc"")", "closing quote");
    row("unterminated single-quoted", "x = 'abc", "closing quote");
    row("unterminated bracket", "SELECT [Asset ID FROM t", "closing bracket");
    row("empty bracket", "SELECT [] FROM t", "empty name");
    row("unterminated date", "d = #1/1/2027", "closing #");
    row("30 February", "d = #2/30/2025#", "#2/30/2025#");
    row("29 February of a common year", "d = #2/29/2025#", "#2/29/2025#");
    row("29 February of 1900", "d = #2/29/1900#", "#2/29/1900#");
    row("31 April", "d = #4/31/2025#", "#4/31/2025#");
    row("month 13", "d = #13/1/2025#", "#13/1/2025#");
    row("month 0", "d = #0/1/2025#", "#0/1/2025#");
    row("day 32", "d = #1/32/2025#", "#1/32/2025#");
    row("day 0", "d = #1/0/2025#", "#1/0/2025#");
    row("two-digit year", "d = #1/1/25#", "#1/1/25#");
    row("five-digit year", "d = #1/1/20255#", "#1/1/20255#");
    row("three-digit month", "d = #001/1/2025#", "#001/1/2025#");
    row("ISO inside hashes", "d = #2025-01-01#", "#2025-01-01#");
    row("text after the date", "d = #1/1/2025 x#", "#1/1/2025 x#");
    row("empty date", "d = ##", "##");
}

void TestJetSql::refused() {
    QFETCH(QString, jet);
    QFETCH(QString, errorContains);
    const QString error = translationError(jet);
    QVERIFY2(error.contains(errorContains, Qt::CaseInsensitive), qPrintable(QStringLiteral("got: ") + error));
}

void TestJetSql::jetQuoteRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("quoted");
    QTest::addColumn<QString>("selected"); // what the quoted value selects; a NUL typed in a search is left out
    const auto row = [](const char* name, const QString& value, const QString& quoted, const QString& selected) {
        QTest::newRow(name) << value << quoted << selected;
    };

    row("plain", "laptop", R"("laptop")", "laptop");
    row("inch mark", R"(Chair 12" high)", R"("Chair 12"" high")", R"(Chair 12" high)");
    row("only quotes", R"("")", R"("""""")", R"("")");
    row("apostrophe", "O'Brien", R"("O'Brien")", "O'Brien");
    row("empty", "", R"("")", "");
    row("NUL", QStringLiteral("lap") + QChar(0) + QStringLiteral("top"), R"("laptop")", "laptop");
}

void TestJetSql::jetQuoteRoundTrip() {
    QFETCH(QString, value);
    QFETCH(QString, quoted);
    QFETCH(QString, selected);
    QCOMPARE(jetQuote(value), quoted);

    // The quoted value, translated and run, must select exactly the text it was made from.
    RegisterDb db;
    const TranslatedSelect t = translateJetSql(QStringLiteral("SELECT ") + jetQuote(value));
    QCOMPARE(db.rows(t.sql), QStringList{selected});
    const QString find = QStringLiteral("SELECT AssetID FROM Assets WHERE Description = ") + jetQuote(value);
    const QStringList found = db.firstColumn(translateJetSql(find).sql);
    QCOMPARE(found, value == QStringLiteral(R"(Chair 12" high)") ? QStringList{"A009"} : QStringList{});
}

void TestJetSql::singleTable_data() {
    QTest::addColumn<QString>("jet");
    QTest::addColumn<bool>("single");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("selectList");
    QTest::addColumn<QString>("fromOn");
    const auto row = [](const char* name, const QString& jet, bool single, const QString& table,
                        const QString& selectList, const QString& fromOn) {
        QTest::newRow(name) << jet << single << table << selectList << fromOn;
    };

    row("dates and flags", joined(kDatesAndFlags), true, "Assets", "AssetID, Make, DatePurchased",
        "FROM Assets\nWHERE DatePurchased <= '2026-07-04' and WrittenOff = 0\n"
        "Order by DatePurchased");
    row("pattern and flags", joined(kPatternAndFlags), true, "Assets", "AssetID, Description",
        "from Assets\nWHERE Description LIKE '%LAP%'\nAND itemBorrowed <> 1\n"
        "ORDER BY Description");
    row("flags in either case", joined(kFlagsEitherCase), true, "Assets", "AssetID, Borrower, ExpectedReturn",
        "FROM Assets\nWHERE itemBorrowed = 1 and WrittenOFf = 0\nOrder by BorrowedOn");
    // One row counted from many: reading it by row id would give one count per row.
    row("count with an alias", "Select COUNT(*) as Total\nFROM assets\nWhere ItemGroup = \"3\"", false, "", "", "");
    row("bare table", "SELECT * FROM Assets", true, "Assets", "*", "FROM Assets");
    row("bracketed table", "SELECT [Asset ID] FROM [My Assets] WHERE x = 1", true, "\"My Assets\"", "\"Asset ID\"",
        "FROM \"My Assets\" WHERE x = 1");
    row("lower-case keywords", "select make from assets order by make", true, "assets", "make",
        "from assets order by make");
    // Only plain columns are read row by row: an expression may be an alias, an aggregate or a window.
    row("expression column", "SELECT Make, TotalCost * 2 AS Twice FROM Assets", false, "", "", "");
    row("function in WHERE", "SELECT * FROM Assets WHERE lower(Make) = 'dell'", true, "Assets", "*",
        "FROM Assets WHERE lower(Make) = 'dell'");
    row("comma-list of tables", "SELECT * FROM assets, Groups", false, "", "", "");
    row("table alias", "SELECT a.Make FROM assets a", false, "", "", "");
    row("join", "SELECT * FROM assets JOIN Groups ON 1=1", false, "", "", "");
    row("distinct", "SELECT DISTINCT Make FROM assets", false, "", "", "");
    row("group by", "SELECT Make FROM assets GROUP BY Make", false, "", "", "");
    row("union", "SELECT Make FROM assets UNION SELECT Make FROM assets", false, "", "", "");
    row("subquery in WHERE", "SELECT * FROM assets WHERE ItemGroup IN (SELECT GroupNumber FROM Groups)", false, "", "",
        "");
    row("subquery as table", "SELECT * FROM (SELECT * FROM assets)", false, "", "", "");
    row("aggregate without space", "SELECT max(TotalCost) FROM assets", false, "", "", "");
    row("aggregate with space", "SELECT Sum (TotalCost) FROM assets", false, "", "", "");
    row("aggregate in ORDER BY", "SELECT Make FROM assets ORDER BY count(*)", false, "", "", "");
    row("ORDER BY a select-list alias", "SELECT Make AS M FROM assets ORDER BY M", false, "", "", "");
    row("ORDER BY column position", "SELECT Make, Model FROM assets ORDER BY Make, 2", false, "", "", "");
    row("column named like an aggregate", "SELECT Total FROM assets", true, "assets", "Total", "FROM assets");
    row("no FROM", "SELECT 1", false, "", "", "");
    row("not a SELECT", "UPDATE assets SET WrittenOff = TRUE", false, "", "", "");
    row("FROM inside a literal", R"(SELECT Make FROM assets WHERE Make = "x FROM y")", true, "assets", "Make",
        "FROM assets WHERE Make = 'x FROM y'");
}

void TestJetSql::singleTable() {
    QFETCH(QString, jet);
    QFETCH(bool, single);
    QFETCH(QString, table);
    QFETCH(QString, selectList);
    QFETCH(QString, fromOn);

    const TranslatedSelect t = translateJetSql(jet);
    QCOMPARE(t.singleTable, single);
    if (single) {
        QCOMPARE(QString::fromStdString(t.table), table);
        QCOMPARE(QString::fromStdString(t.selectList), selectList);
        QCOMPARE(QString::fromStdString(t.fromOn), fromOn);
    }
}

void TestJetSql::statementsRun_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("rows");
    // ISO text dates compare as dates; a purchase at 10:30 on the day is after the day's midnight, as in Jet.
    QTest::newRow("dates and flags") << kDatesAndFlags << QStringList{"A005|Acer|2024-02-29", "A001|Dell|2026-07-04"};
    // Our LIKE folds case, the borrowed laptop stays out, and Description sorts without regard to case.
    QTest::newRow("pattern and flags") << kPatternAndFlags
                                       << QStringList{"A008|Broken laptop", "A002|Office LAPTOP",
                                                      "A005|Écran de laptop"};
    QTest::newRow("flags in either case") << kFlagsEitherCase << QStringList{"A001|Ann|2026-08-15", "A004|Bob|NULL"};
}

// A statement, translated, selects the rows Jet would; read a row at a time by its row ids, as the dataset
// reads a one-table statement, it gives the same rows.
void TestJetSql::statementsRun() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, rows);
    RegisterDb db;
    const TranslatedSelect t = translateJetSql(joined(lines));
    QCOMPARE(db.rows(t.sql), rows);
    QVERIFY(t.singleTable);
    QStringList byId;
    for (const QString& id : db.firstColumn("SELECT rowid " + t.fromOn)) {
        byId << db.rows("SELECT " + t.selectList + " FROM " + t.table + " WHERE rowid IN (" + id.toStdString() + ")");
    }
    QCOMPARE(byId, rows);
}

// The data layer's own statements, run by the data module on a register of either engine: the start-up list
// holds the assets not written off in identifier order, GroupsTable the groups that have a name, and the
// count rule one row counting every asset of a group, written off or not, whatever its name holds.
void TestJetSql::programStatementsOnARegister() {
    TestRegister reg;
    reg.exec(QStringLiteral("INSERT INTO Groups (GroupNumber, Description) VALUES ('1', 'Computers'), ('2', ''), "
                            "('3', 'Tools'), ('7\"', 'Vans')"));
    reg.addAsset(QStringLiteral("KLT3002"), QStringLiteral("3"));
    reg.addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"), QStringLiteral("WrittenOff"), QStringLiteral("1"));
    reg.addAsset(QStringLiteral("KLT3003"), QStringLiteral("3"), QStringLiteral("WrittenOff"), QStringLiteral("1"));
    reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
    reg.addAsset(QStringLiteral("KLT7001"), QStringLiteral("7\""));
    reg.addAsset(QStringLiteral("KLT3001"), QStringLiteral("3"));
    const std::unique_ptr<DataModule> dm = openDataModule(reg);
    // A statement run on a dataset of the data module: its rows' values of one field.
    const auto run = [](Dataset& data, const QStringList& lines, const QString& field) {
        openOn(data, lines);
        return columnTexts(data, field);
    };
    QCOMPARE(dm->mainquery.sqlLines(), DataModule::startupListStatement());
    QCOMPARE(run(dm->mainquery, DataModule::startupListStatement(), QStringLiteral("ASSETID")),
             (QStringList{"KLT1001", "KLT3001", "KLT3002", "KLT7001"}));
    QStringList named = run(dm->GroupsTable, DataModule::namedGroupsStatement(), QStringLiteral("Description"));
    named.sort();
    QCOMPARE(named, (QStringList{"Computers", "Tools", "Vans"}));
    const QList<std::pair<QString, QString>> counts = {{"3", "3"}, {"1", "2"}, {"7\"", "1"}, {"2", "0"}};
    for (const auto& [group, count] : counts) {
        QCOMPARE(run(dm->Query2, groupCountStatement(group), QStringLiteral("GTotal")), QStringList{count});
    }
}

QTEST_GUILESS_MAIN(TestJetSql)
#include "tst_jetsql.moc"
