// The faults that would leave the register silently wrong: a stale cursor acting on another asset, money
// squeezed into whole numbers, a half-opened dataset, damaged or misshapen files used as if sound, doubled
// groups, raw engine texts, a crashed save taken for damage, and typed values at the edges of their kinds.
#include "data/backup.h"
#include "data/datamodule.h"
#include "data/dataset.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/jetsql.h"
#include "data/registercheck.h"
#include "data/schema.h"
#include "data/textvalues.h"
#include "registertool/demodata.h"
#include "tests/support/testregister.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kRowGone =
    QStringLiteral("Row cannot be located for updating. Some values may have been changed since it was last read.");

// What the asset rows hold, in row id order, in the columns a delete, write-off or edit would change.
QString assetsText(TestRegister& reg) {
    return reg.text(QStringLiteral("SELECT group_concat(quote(rowid) || ':' || quote(ASSETID) || '|' || quote(Make) "
                                   "|| '|' || quote(WrittenOff) || '|' || quote(WrittenOffBy), char(10)) FROM "
                                   "(SELECT * FROM assets ORDER BY rowid)"));
}

// Fills reg with 201 assets, KLT1000 to KLT1200, then damages it as damage says and closes the side connection:
// "page <table>" overwrites the table's first page, "index <name>" bytes 100 to 299 of the index's first page,
// "entry <index>" changes the index's entry of KLT1200 into KLT1201; anything else is SQL, statements separated
// by ';'.
void damageRegister(TestRegister& reg, const QString& damage) {
    reg.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 1200) "
                            "INSERT INTO assets (ASSETID, ItemGroup, TotalCost) SELECT 'KLT' || i, '1', i FROM n"));
    const QString kind = damage.section(QLatin1Char(' '), 0, 0);
    const QString name = damage.section(QLatin1Char(' '), 1);
    if (kind == QLatin1String("page") || kind == QLatin1String("index")) {
        const long long root =
            reg.count(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = '%1'").arg(name));
        reg.side().close();
        const bool whole = kind == QLatin1String("page");
        damagePage(reg.path(), root, whole ? 0 : 100, whole ? 4096 : 200);
    } else if (kind == QLatin1String("entry")) {
        reg.side().close();
        changeIndexEntry(reg.path(), name, "KLT1200", "KLT1201");
    } else {
        for (const QString& sql : damage.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            reg.exec(sql);
        }
        reg.side().close();
    }
}

} // namespace

class TestIntegrity : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    // Another program deletes the newest asset and adds one, which gets the deleted row's id; or it changes
    // the identifier's letter case. A cursor still showing the old asset must change nothing.
    void staleRowNeverActsOnAnotherAsset_data() {
        QTest::addColumn<QString>("theirs");
        QTest::addColumn<QString>("mine");
        const QString replace = QStringLiteral("DELETE FROM assets WHERE ASSETID = 'KLT1002'; INSERT INTO assets "
                                               "(ASSETID, ItemGroup) VALUES ('KLT1003', '1')");
        QTest::newRow("delete after replace") << replace << QStringLiteral("delete");
        QTest::newRow("write-off after replace") << replace << QStringLiteral("writeoff");
        QTest::newRow("edit after case change")
            << QStringLiteral("UPDATE assets SET ASSETID = 'klt1002' WHERE ASSETID = 'KLT1002'")
            << QStringLiteral("edit");
        QTest::newRow("delete after case change")
            << QStringLiteral("UPDATE assets SET ASSETID = 'klt1002' WHERE ASSETID = 'KLT1002'")
            << QStringLiteral("delete");
    }
    void staleRowNeverActsOnAnotherAsset() {
        QFETCH(QString, theirs);
        QFETCH(QString, mine);
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        reg.addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"));
        const long long staleId = reg.count(QStringLiteral("SELECT rowid FROM assets WHERE ASSETID = 'KLT1002'"));
        auto dm = openDataModule(reg);
        Dataset& list = dm->mainquery;
        list.open();
        list.moveTo(1);
        QCOMPARE(list.fieldByName(QStringLiteral("ASSETID")).asString(), QStringLiteral("KLT1002"));

        for (const QString& sql : theirs.split(QLatin1Char(';'))) {
            reg.exec(sql);
        }
        if (theirs.contains(QLatin1String("INSERT"))) {
            // The fault only shows when SQLite hands the deleted row's id to the new asset: make sure it did.
            QCOMPARE(reg.count(QStringLiteral("SELECT rowid FROM assets WHERE ASSETID = 'KLT1003'")), staleId);
        }
        const QString before = assetsText(reg);
        const QString error = errorOf([&] {
            if (mine == QLatin1String("delete")) {
                list.deleteRecord();
                return;
            }
            list.edit();
            if (mine == QLatin1String("writeoff")) {
                list.fieldByName(QStringLiteral("WrittenOff")).setAsBoolean(true);
                list.fieldByName(QStringLiteral("WrittenOffDate")).setAsDate(QDate(2026, 12, 8));
                list.fieldByName(QStringLiteral("WrittenOffBy")).setAsString(QStringLiteral("Erin"));
                list.fieldByName(QStringLiteral("WrittenOffReason")).setAsString(QStringLiteral("Lost"));
                list.fieldByName(QStringLiteral("WrittenDownValue")).setAsString(QStringLiteral("12.5"));
            } else {
                list.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Mine"));
            }
            list.post();
        });
        QCOMPARE(error, kRowGone);
        QCOMPARE(assetsText(reg), before);
    }

    // The first group's total is whole, so SQLite gives it as an integer; later totals must keep decimals.
    void moneyKeepsItsDecimals() {
        TestRegister reg;
        reg.exec(QStringLiteral("INSERT INTO Groups VALUES ('1', 'Computers'), ('2', 'Furniture'), ('3', 'Tools')"));
        int n = 0;
        for (const QString& cost : {QStringLiteral("1000"), QStringLiteral("1285"), QStringLiteral("19.99"),
                                    QStringLiteral("10.5"), QStringLiteral("2285.30")}) {
            const QString group = n < 2 ? QStringLiteral("1") : n < 4 ? QStringLiteral("2") : QStringLiteral("3");
            reg.addAsset(QStringLiteral("A%1").arg(n++), group, QStringLiteral("TotalCost"), cost);
        }
        auto dm = openDataModule(reg);
        Dataset& q = dm->Query2;
        openOn(q, {"SELECT Groups.Description, Sum(Assets.TotalCost) AS TotalValue",
                   "FROM assets INNER JOIN Groups ON assets.ItemGroup = Groups.GroupNumber",
                   "GROUP BY Groups.Description, assets.WrittenOff", "HAVING assets.WrittenOff=FALSE"});
        QStringList shown;
        for (int r = 0; r < q.recordCount(); ++r) {
            shown << q.textAt(r, 0) + QLatin1Char(' ') + q.textAt(r, 1);
        }
        QCOMPARE(shown, (QStringList{QStringLiteral("Computers 2285"), QStringLiteral("Furniture 30.49"),
                                     QStringLiteral("Tools 2285.3")}));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(q.textAt(1, 1), QStringLiteral("30,49"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void numbersAreShownInFullAndReadBack_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("large") << 1e15 << QStringLiteral("1000000000000000");
        QTest::newRow("small") << 1e-7 << QStringLiteral("0.0000001");
        QTest::newRow("huge negative") << -1e20 << QStringLiteral("-100000000000000000000");
        QTest::newRow("sum of tenths") << 0.1 + 0.2 << QStringLiteral("0.3");
        QTest::newRow("cents") << 2285.3 << QStringLiteral("2285.3");
        QTest::newRow("largest amount") << 999999999999.99 << QStringLiteral("999999999999.99");
    }
    void numbersAreShownInFullAndReadBack() {
        QFETCH(double, value);
        QFETCH(QString, shown);
        QCOMPARE(numberToText(value), shown);
        QCOMPARE(numberToText(parseFloat(shown)), shown);
    }

    // The list's first row cannot be read: the dataset stays closed, and nothing reads freed memory.
    void failedOpenLeavesTheDatasetClosed() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        const long long root = reg.count(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = 'assets'"));
        auto dm = openDataModule(reg);
        damagePage(reg.path(), root, 0, 4096);
        Dataset& list = dm->mainquery;
        QVERIFY(!errorOf([&] { list.open(); }).isEmpty());
        QVERIFY(!list.active());
        QCOMPARE(list.recordCount(), 0);
        QVERIFY(list.valueAt(0, 0).isNull());
        QVERIFY(list.value(0).isNull());
    }

    void damagedOrMisshapenRegistersAreRefused_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("said");
        QTest::newRow("assets is a view")
            << QStringLiteral("ALTER TABLE assets RENAME TO stored; CREATE VIEW assets AS SELECT * FROM stored")
            << QStringLiteral("'assets' is a view");
        QTest::newRow("text in an amount")
            << QStringLiteral("UPDATE assets SET TotalCost = 'abc'") << QStringLiteral("'TotalCost'");
        QTest::newRow("missing settings column")
            << QStringLiteral("ALTER TABLE System DROP COLUMN PromptPasswordToStart")
            << QStringLiteral("no column 'PromptPasswordToStart'");
        QTest::newRow("amount declared as text")
            << QStringLiteral(
                   "ALTER TABLE assets RENAME COLUMN TotalCost TO Old; ALTER TABLE assets ADD COLUMN TotalCost TEXT")
            << QStringLiteral("declared TEXT, not MONEY");
        QTest::newRow("no file password table")
            << QStringLiteral("DROP TABLE RegisterFile") << QStringLiteral("no table 'RegisterFile'");
        QTest::newRow("collation name changed")
            << QStringLiteral("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = replace(sql, 'NOCASE', "
                              "'NOCASt') WHERE name = 'assets'")
            << QStringLiteral("no such collation sequence: NOCASt");
        QTest::newRow("damaged index") << QStringLiteral("index assets_by_assetid")
                                       << QStringLiteral("pages do not fit together");
    }
    void damagedOrMisshapenRegistersAreRefused() {
        QFETCH(QString, sql);
        QFETCH(QString, said);
        TestRegister reg;
        damageRegister(reg, sql);
        Connection c;
        const QString error = errorOf([&] { c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword)); });
        QVERIFY2(error.contains(reg.path()) && error.contains(QLatin1String("damaged")) && error.contains(said),
                 qPrintable(error));
        QVERIFY(error.contains(QLatin1String("vnrdb check")));
    }

    // Opened as the program opens it, a register is refused at once only for what its header and shape
    // tell; damage deeper in the file is found by the background check (first the pages and values, then
    // every index against its table), said in the words of `vnrdb check`, and refuses every change.
    void damageIsRefusedAtOpeningOrFoundInTheBackground_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("found");
        QTest::newRow("sound") << QString() << QString();
        QTest::newRow("an index entry's letter changed")
            << QStringLiteral("entry assets_by_assetid") << QStringLiteral("indexes do not match its assets");
        QTest::newRow("a table page overwritten")
            << QStringLiteral("page assets") << QStringLiteral("its pages do not fit together");
        QTest::newRow("text in an amount")
            << QStringLiteral("UPDATE assets SET TotalCost = 'abc' WHERE ASSETID = "
                              "'KLT1100'")
            << QStringLiteral("'KLT1100' holds a value of the wrong kind in 'TotalCost'");
        QTest::newRow("assets is a view")
            << QStringLiteral("ALTER TABLE assets RENAME TO stored; CREATE VIEW assets AS SELECT * FROM stored")
            << QStringLiteral("refused: 'assets' is a view");
    }
    void damageIsRefusedAtOpeningOrFoundInTheBackground() {
        QFETCH(QString, damage);
        QFETCH(QString, found);
        TestRegister reg;
        damageRegister(reg, damage);
        Connection c;
        const QString refusal = errorOf([&] {
            c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword), true, Connection::WholeFileChecks::Later);
        });
        if (found.startsWith(QLatin1String("refused: "))) {
            QVERIFY2(refusal.contains(reg.path()) && refusal.contains(found.mid(9)), qPrintable(refusal));
            return;
        }
        QCOMPARE(refusal, QString());
        c.startBackgroundCheck();
        c.awaitOpeningChecks();
        // What the opening used to refuse is known once the first pass has answered, before any change.
        if (!found.isEmpty() && !found.contains(QLatin1String("indexes"))) {
            QVERIFY(!c.damageFound().isEmpty());
        }
        QVERIFY(c.backgroundCheck().awaitDone(30000));
        const QString warning = c.damageFound();
        Connection examined;
        examined.openForExamining(reg.path());
        const QString verdict = wholeFileDamage(examined, true).phrases.join(QLatin1Char('\n'));
        if (found.isEmpty()) {
            QCOMPARE(warning, QString());
            QCOMPARE(verdict, QString());
            QCOMPARE(c.writeRefusal(), QString());
            return;
        }
        QVERIFY2(warning.contains(reg.path()) && warning.contains(found) &&
                     warning.contains(QLatin1String("vnrdb check")),
                 qPrintable(warning));
        QVERIFY2(verdict.contains(found), qPrintable(verdict));
        QCOMPARE(c.writeRefusal(), warning);
        // A backup reads every page as it copies them: damaged pages or values are not copied as if sound.
        if (!found.contains(QLatin1String("indexes"))) {
            const QString to = reg.folder() + QStringLiteral("/backup.mdb");
            const QString refused = errorOf([&] { backupRegister(reg.path(), to); });
            QVERIFY2(refused.contains(found) && refused.contains(QLatin1String("No backup was made")),
                     qPrintable(refused));
            QVERIFY(!QFileInfo::exists(to));
        }
    }

    // Of 300 copies of a 500-asset register with 1 to 10 random bytes changed, each is refused at opening,
    // fails with a message naming it, or reads without fault (AddressSanitizer watches the reads); and a copy
    // whose list or search differs from the original's is warned about by the background check, unless all
    // that changed are values rewritten in place, which no check of the file can tell from values saved: those
    // the history's check finds, as values its entries do not say.
    void changedBytesAreRefusedFoundOrReadSafely() {
        TestRegister good;
        good.side().close();
        fillDemoRegister(good.path(), {.assets = 500});
        const QByteArray original = readFile(good.path());
        // The whole list in identifier order and the search for "a" in descriptions, as the main window shows them.
        const auto listed = [](const QString& path) {
            DataModule dm;
            dm.ADOConnection1.openFile(path, QString::fromLatin1(kDefaultFilePassword), false,
                                       Connection::WholeFileChecks::Later);
            QStringList rows;
            for (const QString& where : {QString(), QStringLiteral("WHERE description LIKE \"%a%\"")}) {
                Dataset& q = dm.mainquery;
                openOn(q, {QStringLiteral("SELECT * FROM Assets ") + where,
                           where.isEmpty() ? QStringLiteral("ORDER BY assetid;")
                                           : QStringLiteral("ORDER BY description;")});
                for (int r = 0; r < q.recordCount(); ++r) {
                    QStringList fields;
                    for (int c = 0; c < q.fieldCount(); ++c) {
                        fields << q.textAt(r, c);
                    }
                    rows << fields.join(QLatin1Char('|'));
                }
                rows << QStringLiteral("--");
            }
            return rows;
        };
        // Each stored value's kind and length in bytes, by row id: what stays the same when values are only
        // rewritten in place.
        const auto storedShape = [](const QString& path) {
            Connection c;
            c.openForExamining(path);
            QStringList columns;
            {
                Statement names(c, "SELECT * FROM assets LIMIT 0");
                for (int i = 0; i < names.columnCount(); ++i) {
                    columns
                        << QStringLiteral("typeof(\"%1\") || length(CAST(\"%1\" AS BLOB))").arg(names.columnName(i));
                }
            }
            Statement all(c, ("SELECT rowid || ':' || " + columns.join(QStringLiteral(" || '|' || ")) +
                              " FROM assets ORDER BY rowid")
                                 .toStdString());
            QStringList shape;
            while (all.step()) {
                shape << all.column(0).toString();
            }
            return shape;
        };
        const QStringList expected = listed(good.path());
        const QStringList expectedShape = storedShape(good.path());
        QRandomGenerator rng(20261209);
        int refused = 0;
        int warned = 0;
        int unseen = 0;
        int same = 0;
        int historyFound = 0; // of those that read as the original or differ in place: found by vnrdb check's history
        constexpr int kCopies = 300;
        for (int copy = 0; copy < kCopies; ++copy) {
            QByteArray bytes = original;
            const int changes = 1 + static_cast<int>(rng.bounded(10));
            for (int i = 0; i < changes; ++i) {
                const auto at = static_cast<qsizetype>(rng.bounded(static_cast<quint32>(bytes.size())));
                bytes[at] = static_cast<char>(bytes[at] ^ (1 + rng.bounded(255)));
            }
            const QString path = good.folder() + QStringLiteral("/copy%1.mdb").arg(copy);
            QVERIFY(writeFile(path, bytes));
            QStringList rows;
            const QString error = errorOf([&] { rows = listed(path); });
            if (!error.isEmpty()) {
                QVERIFY2(error.contains(QStringLiteral("copy%1.mdb").arg(copy)), qPrintable(error));
                ++refused;
            } else {
                bool found = false;
                {
                    Connection c;
                    c.openFile(path, QString::fromLatin1(kDefaultFilePassword), false,
                               Connection::WholeFileChecks::Later);
                    c.startBackgroundCheck();
                    QVERIFY(c.backgroundCheck().awaitDone(60000));
                    found = !c.damageFound().isEmpty();
                }
                // What the history's check finds of a copy the file's checks pass: an entry changed breaks the
                // chain, a value changed in place disagrees with the asset's last entry.
                const auto historyFinds = [&] {
                    bool finds = false;
                    const QString error = errorOf([&] {
                        Connection c;
                        c.openFile(path, QString::fromLatin1(kDefaultFilePassword), false,
                                   Connection::WholeFileChecks::Later);
                        finds = !verifyHistory(c).whole();
                    });
                    return finds || !error.isEmpty();
                };
                if (found) {
                    ++warned;
                } else if (rows == expected) {
                    ++same;
                    historyFound += historyFinds();
                } else {
                    QStringList shape;
                    QCOMPARE(errorOf([&] { shape = storedShape(path); }), QString());
                    QVERIFY2(shape == expectedShape, qPrintable(QStringLiteral("copy %1").arg(copy)));
                    ++unseen;
                    QVERIFY2(historyFinds(), qPrintable(QStringLiteral("copy %1: a value changed in place, and the "
                                                                       "history agrees with it")
                                                            .arg(copy)));
                    ++historyFound;
                }
            }
            QFile::remove(path);
        }
        qInfo("%d damaged copies: %d refused or failing with a message, %d warned by the background check, %d read "
              "as the original, %d differing only in values changed in place; %d of the last two found by the "
              "history's check",
              kCopies, refused, warned, same, unseen, historyFound);
        QVERIFY(refused > 0 && warned > 0);
    }

    void groupsHoldOneRowPerDigit() {
        TestRegister reg;
        // A register of the previous version, where two programs saving at once doubled group 7.
        reg.exec(QStringLiteral("DROP INDEX groups_unique_number"));
        reg.exec(QStringLiteral("DROP TABLE History; DROP TABLE StockTakeScans; DROP TABLE StockTakes"));
        reg.exec(QStringLiteral("PRAGMA user_version = 1"));
        reg.exec(QStringLiteral("INSERT INTO Groups VALUES ('7', 'Vans'), ('3', 'Desks'), ('7', 'Vans (twice)')"));
        reg.side().close();
        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(reg.text(QStringLiteral("SELECT group_concat(GroupNumber || Description, ',') FROM Groups")),
                 QStringLiteral("7Vans,3Desks"));
        QCOMPARE(reg.count(QStringLiteral("PRAGMA user_version")), qint64(kRegisterSchemaVersion));
        QVERIFY(!errorOf([&] { reg.exec(QStringLiteral("INSERT INTO Groups VALUES ('3', 'Chairs')")); }).isEmpty());
    }

    void whatStandsAtTheRegistersNameIsSaid_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("is a folder");
        QTest::newRow("pipe") << QStringLiteral("pipe") << QStringLiteral("not an ordinary file");
        QTest::newRow("link loop") << QStringLiteral("loop") << QStringLiteral("leads nowhere");
    }
    void whatStandsAtTheRegistersNameIsSaid() {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vnrdata.mdb"));
        const QByteArray p = QFile::encodeName(path);
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == QLatin1String("pipe")) {
            QCOMPARE(mkfifo(p.constData(), 0600), 0);
        } else {
            QCOMPARE(symlink(p.constData(), p.constData()), 0);
        }
        Connection c;
        const QString error = errorOf([&] { c.openFile(path, QString::fromLatin1(kDefaultFilePassword)); });
        QVERIFY2(error.contains(path) && error.contains(said), qPrintable(error));
    }

    // Two programs edit one asset: the second post is refused and keeps its values. A program reading for a
    // long time keeps the other's save from finishing: the save fails clearly and succeeds once it is done. A
    // lock met while reading says the register is busy, not that a save failed.
    void twoProgramsOnOneAsset() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        auto first = openDataModule(reg);
        auto second = openDataModule(reg);
        for (auto* dm : {first.get(), second.get()}) {
            dm->mainquery.open();
            dm->mainquery.edit();
        }
        first->mainquery.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("First"));
        second->mainquery.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Second"));
        first->mainquery.post();
        QCOMPARE(errorOf([&] { second->mainquery.post(); }), kRowGone);
        QCOMPARE(second->mainquery.fieldByName(QStringLiteral("Make")).asString(), QStringLiteral("Second"));
        QCOMPARE(reg.text(QStringLiteral("SELECT Make FROM assets")), QStringLiteral("First"));

        first->ADOConnection1.setBusyTimeout(50);
        first->mainquery.edit();
        first->mainquery.fieldByName(QStringLiteral("Model")).setAsString(QStringLiteral("X1"));
        Statement reader(reg.side(), "SELECT ASSETID FROM assets");
        QVERIFY(reader.step());
        const QString error = errorOf([&] { first->mainquery.post(); });
        QVERIFY2(error.contains(QLatin1String("Nothing was saved")), qPrintable(error));
        QCOMPARE(first->mainquery.state(), Dataset::State::Edit);
        reader.reset();
        first->mainquery.post();
        QCOMPARE(reg.text(QStringLiteral("SELECT Model FROM assets")), QStringLiteral("X1"));

        first->mainquery.close();
        reg.exec(QStringLiteral("BEGIN EXCLUSIVE"));
        const QString busy = errorOf([&] { first->mainquery.open(); });
        reg.exec(QStringLiteral("ROLLBACK"));
        QVERIFY2(busy.contains(QLatin1String("vnrdata.mdb' is busy")) && !busy.contains(QLatin1String("saved")),
                 qPrintable(busy));
    }

    // A program killed while a save grows the register leaves its journal, and a header that counts pages
    // the file does not have yet. Opening plays the journal back and finds the register as it was.
    void crashDuringAGrowingSaveOpensAsBefore() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        reg.side().close();
        const pid_t child = fork();
        if (child == 0) {
            Connection c;
            c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
            c.exec("PRAGMA cache_size = 2");
            c.exec("BEGIN IMMEDIATE");
            c.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                   "INSERT INTO assets (ASSETID, ItemGroup, Description) SELECT 'X' || i, '1', hex(randomblob(60)) "
                   "FROM n");
            raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QVERIFY(QFileInfo(reg.path() + QStringLiteral("-journal")).size() > 0);
        // The header counts more pages than the file holds, as when the crash came before the file grew.
        QFile f(reg.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 pages = f.size() / 4096 + 5;
        QVERIFY(f.seek(28));
        const char count[4] = {char(pages >> 24), char(pages >> 16), char(pages >> 8), char(pages)};
        f.write(count, 4);
        QVERIFY(f.seek(24));
        const QByteArray counter = f.read(4);
        QVERIFY(f.seek(92));
        f.write(counter);
        f.close();

        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(valueOf(c, QStringLiteral("SELECT group_concat(ASSETID) FROM assets")).toString(),
                 QStringLiteral("KLT1001"));
    }

    void typedDatesInEveryLocale_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // empty: refused
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        const QLocale gb(QLocale::English, QLocale::UnitedKingdom);
        const QLocale de(QLocale::German, QLocale::Germany);
        const QLocale c = QLocale::c();
        QTest::newRow("us leap day of 2000") << us << QStringLiteral("2/29/00") << QStringLiteral("2000-02-29");
        QTest::newRow("us negative year") << us << QStringLiteral("12/31/-2020") << QString();
        QTest::newRow("us year zero") << us << QStringLiteral("12/31/0000") << QString();
        QTest::newRow("us month first") << us << QStringLiteral("3/15/2026") << QStringLiteral("2026-03-15");
        QTest::newRow("us iso") << us << QStringLiteral("2026-03-15") << QStringLiteral("2026-03-15");
        QTest::newRow("gb one digit day") << gb << QStringLiteral("15/3/2026") << QStringLiteral("2026-03-15");
        QTest::newRow("gb one digit both") << gb << QStringLiteral("1/2/2026") << QStringLiteral("2026-02-01");
        QTest::newRow("gb two digit year") << gb << QStringLiteral("15/03/26") << QStringLiteral("2026-03-15");
        QTest::newRow("gb dashes") << gb << QStringLiteral("15-03-2026") << QStringLiteral("2026-03-15");
        QTest::newRow("gb impossible") << gb << QStringLiteral("31/02/2026") << QString();
        QTest::newRow("gb three digit year") << gb << QStringLiteral("1/2/202") << QString();
        QTest::newRow("de dots") << de << QStringLiteral("15.3.2026") << QStringLiteral("2026-03-15");
        QTest::newRow("de slashes") << de << QStringLiteral("1/2/26") << QStringLiteral("2026-02-01");
        QTest::newRow("c slashes") << c << QStringLiteral("15/03/2026") << QStringLiteral("2026-03-15");
        QTest::newRow("c month first refused") << c << QStringLiteral("3/15/2026") << QString();
        QTest::newRow("c iso") << c << QStringLiteral("2026-03-15") << QStringLiteral("2026-03-15");
    }
    void typedDatesInEveryLocale() {
        QFETCH(QLocale, locale);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QLocale::setDefault(locale);
        QString got;
        const QString error = errorOf([&] { got = dateToStored(parseDate(typed)); });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        if (stored.isEmpty()) {
            QCOMPARE(error, QStringLiteral("'%1' is not a valid date").arg(typed));
        } else {
            QCOMPARE(got, stored);
        }
    }
};

QTEST_GUILESS_MAIN(TestIntegrity)
#include "tst_integrity.moc"
