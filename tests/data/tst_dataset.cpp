// The dataset: static cursor, edit state machine, conversions and their texts, and the guards that keep
// two programs on one register from losing each other's changes.
#include "data/dataset.h"
#include "data/errors.h"
#include "data/schema.h"
#include "tests/support/testregister.h"

#include <QLocale>
#include <QSignalSpy>
#include <QtTest>

namespace {

void openList(Dataset& ds, const QString& where = QStringLiteral("WHERE Writtenoff <> TRUE"),
              const QString& order = QStringLiteral("ORDER BY Assetid;")) {
    QStringList lines{QStringLiteral("select *"), QStringLiteral("from assets")};
    if (!where.isEmpty()) {
        lines << where;
    }
    openOn(ds, lines << order);
}

QStringList ids(Dataset& ds) {
    return columnTexts(ds, QStringLiteral("assetid"));
}

} // namespace

class TestDataset : public QObject {
    Q_OBJECT

    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<Connection> conn;
    std::unique_ptr<Dataset> list;

    // The asset list, open on the assets not written off in identifier order, as the main window opens it.
    Dataset& openedList() {
        list = std::make_unique<Dataset>(*conn, QStringLiteral("mainquery"));
        openList(*list);
        return *list;
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init() {
        reg = std::make_unique<TestRegister>();
        reg->addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"), QStringLiteral("Description, TotalCost"),
                      QStringLiteral("'Laptop', 0.1"));
        reg->addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"), QStringLiteral("Description, DatePurchased"),
                      QStringLiteral("'OVERLAP desk', '2027-01-01'"));
        reg->addAsset(QStringLiteral("KLT2001"), QStringLiteral("2"), QStringLiteral("Description, WrittenOff"),
                      QStringLiteral("'Old lap tray', 1"));
        conn = std::make_unique<Connection>();
        conn->openFile(reg->path(), QString::fromLatin1(kDefaultFilePassword));
    }
    void cleanup() {
        list.reset();
        conn.reset();
        reg.reset();
    }

    void queryOpensOnFirstRecordInStatementOrder() {
        Dataset& ds = openedList();
        QCOMPARE(ids(ds), (QStringList{QStringLiteral("KLT1001"), QStringLiteral("KLT1002")}));
        QCOMPARE(ds.recNo(), 0);
        QVERIFY(!ds.eof());
        QCOMPARE(ds.fieldByName(QStringLiteral("ASSETID")).asString(), QStringLiteral("KLT1001"));
        QCOMPARE(ds.fieldCount(), 24);
        QCOMPARE(ds.fieldDef(0).name, QStringLiteral("ASSETID"));
    }

    void likeIgnoresCaseAndWrittenOffFilter() {
        Dataset ds(*conn, QStringLiteral("mainquery"));
        openList(ds, QStringLiteral("WHERE description LIKE \"%lap%\" \nAND Writtenoff <> TRUE"),
                 QStringLiteral("ORDER BY description;"));
        QCOMPARE(ids(ds), (QStringList{QStringLiteral("KLT1002"), QStringLiteral("KLT1001")}));
        openList(ds, QStringLiteral("WHERE description LIKE \"%lap%\" "), QStringLiteral("ORDER BY description;"));
        QCOMPARE(ds.recordCount(), 3);
    }

    void walkingSetsEofOnTheLastRecord() {
        Dataset& ds = openedList();
        ds.first();
        int seen = 0;
        while (!ds.eof()) {
            ++seen;
            ds.next();
        }
        QCOMPARE(seen, 2);
        QCOMPARE(ds.recNo(), 1); // the last record stays current
        QCOMPARE(ds.fieldByName(QStringLiteral("assetid")).asString(), QStringLiteral("KLT1002"));

        // Held, the walk tells the controls nothing until the last hold goes, and then once; a hold the
        // record never moved under, or a release without a hold, tells them nothing.
        QSignalSpy moves(&ds, &Dataset::currentChanged);
        ds.holdControls();
        ds.holdControls();
        for (ds.first(); !ds.eof(); ds.next()) {
        }
        ds.releaseControls();
        QCOMPARE(moves.count(), 0);
        ds.releaseControls();
        QCOMPARE(moves.count(), 1);
        ds.holdControls();
        ds.releaseControls();
        ds.releaseControls();
        QCOMPARE(moves.count(), 1);
    }

    void emptyResult() {
        Dataset ds(*conn, QStringLiteral("mainquery"));
        openList(ds, QStringLiteral("WHERE assetid = 'none'"));
        QVERIFY(ds.eof());
        QVERIFY(ds.bof());
        QCOMPARE(ds.recordCount(), 0);
        QCOMPARE(ds.recNo(), -1);
        QCOMPARE(ds.fieldByName(QStringLiteral("Make")).asString(), QString());
    }

    void fieldErrorsCarryTheDatasetName() {
        Dataset ds(*conn, QStringLiteral("Query2"));
        openList(ds);
        QCOMPARE(errorOf([&] { ds.fieldByName(QStringLiteral("nosuch")); }),
                 QStringLiteral("Query2: Field 'nosuch' not found"));
        QCOMPARE(errorOf([&] { ds.post(); }), QStringLiteral("Query2: Dataset not in edit or insert mode"));
        QCOMPARE(errorOf([&] { ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("x")); }),
                 QStringLiteral("Query2: Dataset not in edit or insert mode"));
    }

    void textValues() {
        Dataset ds(*conn, QStringLiteral("q"));
        openList(ds);
        QCOMPARE(ds.fieldByName(QStringLiteral("DatePurchased")).asString(), QStringLiteral("1/1/2027"));
        QCOMPARE(ds.fieldByName(QStringLiteral("isElectrical")).asString(), QStringLiteral("False"));
        QCOMPARE(ds.fieldByName(QStringLiteral("TotalCost")).asString(), QString());
        ds.next();
        QCOMPARE(ds.fieldByName(QStringLiteral("TotalCost")).asString(), QStringLiteral("0.1"));
        openOn(ds, {QStringLiteral("SELECT Sum(TotalCost) + 0.2 AS Total, Count(*) AS N FROM assets")});
        QCOMPARE(ds.fieldByName(QStringLiteral("total")).asString(), QStringLiteral("0.3"));
        QCOMPARE(ds.fieldByName(QStringLiteral("n")).asInteger(), 3);
    }

    // A part of a change that ended without committing (its failure caught on the way) keeps the whole
    // change from being saved, rather than leaving the rest saved without it.
    void aFailedPartKeepsTheWholeChangeUnsaved() {
        const long long before = reg->count(QStringLiteral("SELECT count(*) FROM Groups"));
        {
            Connection::Transaction whole(*conn);
            conn->exec("INSERT INTO Groups (GroupNumber, Description) VALUES ('7', 'Vans')");
            {
                Connection::Transaction part(*conn);
                conn->exec("INSERT INTO Groups (GroupNumber, Description) VALUES ('8', 'Cars')");
            }
            QVERIFY(errorOf([&] { whole.commit(); }).contains(QLatin1String("Nothing was saved")));
        }
        QCOMPARE(reg->count(QStringLiteral("SELECT count(*) FROM Groups")), before);
        // The next change on the connection is whole again.
        Connection::Transaction next(*conn);
        conn->exec("INSERT INTO Groups (GroupNumber, Description) VALUES ('9', 'Bikes')");
        next.commit();
        QCOMPARE(reg->count(QStringLiteral("SELECT count(*) FROM Groups")), before + 1);
    }

    void conversionsRefuseWithTheirTexts() {
        Dataset& ds = openedList();
        ds.edit();
        QCOMPARE(
            errorOf([&] { ds.fieldByName(QStringLiteral("DatePurchased")).setAsString(QStringLiteral("next week")); }),
            QStringLiteral("'next week' is not a valid date"));
        QCOMPARE(errorOf([&] { ds.fieldByName(QStringLiteral("TotalCost")).setAsString(QStringLiteral("12,3,4")); }),
                 QStringLiteral("'12,3,4' is not a valid floating point value"));
        const QString longText(256, QLatin1Char('x'));
        QVERIFY(errorOf([&] {
                    ds.fieldByName(QStringLiteral("Make")).setAsString(longText);
                }).contains(QLatin1String("Make")));
        // A server would keep a text only up to a NUL: no register takes one.
        QCOMPARE(errorOf([&] { ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("a") + QChar(0)); }),
                 QStringLiteral("'Make' cannot hold the character NUL; remove it and try again."));
        // Amounts beyond what a register holds, or no number at all, are refused; the largest is taken.
        const Field cost = ds.fieldByName(QStringLiteral("TotalCost"));
        for (const QString& text : {QStringLiteral("1e20"), QStringLiteral("1000000000000"), QStringLiteral("-1e12"),
                                    QStringLiteral("inf"), QStringLiteral("nan")}) {
            QVERIFY2(!errorOf([&] { cost.setAsString(text); }).isEmpty(), qPrintable(text));
        }
        QVERIFY(!ds.isModified());
        cost.setAsString(QStringLiteral("999999999999.99"));
        QCOMPARE(cost.asString(), QStringLiteral("999999999999.99"));
        ds.fieldByName(QStringLiteral("DatePurchased")).setAsString(QStringLiteral("7/4/2026"));
        ds.fieldByName(QStringLiteral("TotalCost")).setAsString(QStringLiteral("12.5"));
        ds.fieldByName(QStringLiteral("Make")).setAsString(QString(255, QLatin1Char('m')));
        ds.post();
        QCOMPARE(reg->text(QStringLiteral("SELECT DatePurchased FROM assets WHERE ASSETID='KLT1001'")),
                 QStringLiteral("2026-07-04"));
        QCOMPARE(reg->text(QStringLiteral("SELECT TotalCost FROM assets WHERE ASSETID='KLT1001'")),
                 QStringLiteral("12.5"));
    }

    void editOfEmptyDatasetBeginsInsert() {
        Dataset ds(*conn, QStringLiteral("SystemTable"));
        ds.setTableName(QStringLiteral("System"));
        reg->exec(QStringLiteral("DELETE FROM System"));
        ds.open();
        QCOMPARE(ds.recordCount(), 0);
        QCOMPARE(ds.fieldByName(QStringLiteral("promptpasswordtostart")).asBoolean(), false);
        ds.edit();
        QVERIFY(ds.isInserting());
        ds.fieldByName(QStringLiteral("CompanyName")).setAsString(QStringLiteral("Acme"));
        ds.post();
        QCOMPARE(reg->count(QStringLiteral("SELECT COUNT(*) FROM System")), 1);
        QCOMPARE(reg->count(QStringLiteral("SELECT PromptPasswordToStart FROM System")), 0);
    }

    void insertStaysAtItsPlaceUntilReopened() {
        Dataset& ds = openedList();
        QSignalSpy inserted(&ds, &Dataset::rowInserted);
        ds.insert(); // at the current position, the first row
        QCOMPARE(inserted.count(), 1);
        QVERIFY(ds.isInserting());
        QCOMPARE(ds.recNo(), 0);
        QCOMPARE(ds.fieldByName(QStringLiteral("WrittenOff")).asBoolean(), false);
        ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("KLT9001"));
        ds.post();
        QCOMPARE(ids(ds),
                 (QStringList{QStringLiteral("KLT9001"), QStringLiteral("KLT1001"), QStringLiteral("KLT1002")}));
        QCOMPARE(reg->count(QStringLiteral(
                     "SELECT isElectrical + itemBorrowed + WrittenOff FROM assets WHERE ASSETID='KLT9001'")),
                 0);
        openList(ds);
        QCOMPARE(ids(ds).last(), QStringLiteral("KLT9001"));
    }

    void cancelDiscardsInsertAndEdit() {
        Dataset& ds = openedList();
        ds.next();
        ds.append();
        QCOMPARE(ds.recNo(), 2);
        ds.cancel();
        QCOMPARE(ds.recordCount(), 2);
        QCOMPARE(ds.recNo(), 1);
        ds.edit();
        ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Changed"));
        ds.cancel();
        QCOMPARE(ds.fieldByName(QStringLiteral("Make")).asString(), QString());
        QCOMPARE(ds.state(), Dataset::State::Browse);
        ds.cancel(); // nothing pending: does nothing
        QCOMPARE(reg->count(QStringLiteral("SELECT COUNT(*) FROM assets WHERE Make IS NOT NULL")), 0);
    }

    void staticCursorKeepsMembershipAndOrder() {
        Dataset& ds = openedList();
        ds.edit();
        ds.fieldByName(QStringLiteral("WrittenOff")).setAsBoolean(true);
        ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("ZZZ"));
        ds.post();
        QCOMPARE(ids(ds), (QStringList{QStringLiteral("ZZZ"), QStringLiteral("KLT1002")}));
        openList(ds);
        QCOMPARE(ids(ds), QStringList{QStringLiteral("KLT1002")});
    }

    // A post writes only the columns changed, so another program's change of another column stays; its change of
    // a column changed here refuses the post, which keeps what was typed.
    void postWritesOnlyChangedColumnsAndRefusesALostUpdate() {
        Dataset& mine = openedList();
        reg->exec(QStringLiteral("UPDATE assets SET Model = 'Theirs' WHERE ASSETID = 'KLT1001'"));
        mine.edit();
        mine.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Mine"));
        mine.post();
        QCOMPARE(reg->text(QStringLiteral("SELECT Make || '/' || Model FROM assets WHERE ASSETID='KLT1001'")),
                 QStringLiteral("Mine/Theirs"));

        reg->exec(QStringLiteral("UPDATE assets SET Make = 'Theirs' WHERE ASSETID = 'KLT1001'"));
        mine.edit();
        mine.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Mine again"));
        QCOMPARE(errorOf([&] { mine.post(); }),
                 QStringLiteral("Row cannot be located for updating. Some values may have been changed since it was "
                                "last read."));
        QCOMPARE(mine.state(), Dataset::State::Edit);
        QCOMPARE(mine.fieldByName(QStringLiteral("Make")).asString(), QStringLiteral("Mine again"));
        QCOMPARE(reg->text(QStringLiteral("SELECT Make FROM assets WHERE ASSETID='KLT1001'")),
                 QStringLiteral("Theirs"));
    }

    void duplicateIdentifierRefusedOnPostAndRecordKept() {
        Dataset& ds = openedList();
        ds.insert();
        ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("klt2001"));
        const QString error = errorOf([&] { ds.post(); });
        QVERIFY2(error.contains(QLatin1String("'klt2001' is already in the register")), qPrintable(error));
        QVERIFY(ds.isInserting());
        QCOMPARE(reg->count(QStringLiteral("SELECT COUNT(*) FROM assets")), 3);
    }

    void lockThatOutlastsTheWaitFailsCleanly() {
        Dataset& ds = openedList();
        conn->setBusyTimeout(200);
        {
            // Another program in the middle of a change to the same asset.
            Connection::Transaction other(reg->side());
            reg->exec(QStringLiteral("UPDATE assets SET Make = Make WHERE ASSETID = 'KLT1001'"));
            ds.edit();
            ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Mine"));
            const QString error = errorOf([&] { ds.post(); });
            QVERIFY2(error.contains(QLatin1String("locked by another program")), qPrintable(error));
            QCOMPARE(ds.state(), Dataset::State::Edit);
            QCOMPARE(ds.fieldByName(QStringLiteral("Make")).asString(), QStringLiteral("Mine"));
        }
        ds.post();
        QCOMPARE(reg->text(QStringLiteral("SELECT Make FROM assets WHERE ASSETID='KLT1001'")), QStringLiteral("Mine"));
    }

    void openedCursorHoldsNoReadLock() {
        Dataset& ds = openedList();
        ds.fieldByName(QStringLiteral("Make")).asString();
        ds.textAt(1, 0);
        Connection& other = reg->side();
        other.setBusyTimeout(0);
        // Each fails at once while a reader holds a lock: SQLite's shared lock, or a server's table lock.
        if (other.isServer()) {
            Connection::Transaction t(other);
            other.exec("LOCK TABLE assets IN ACCESS EXCLUSIVE MODE NOWAIT");
        } else {
            other.exec("BEGIN EXCLUSIVE");
            other.exec("ROLLBACK");
        }
    }

    void queriesThatWouldChangeDataAreRefused() {
        Dataset ds(*conn, QStringLiteral("Query2"));
        ds.addSql(QStringLiteral("DELETE FROM assets"));
        QVERIFY(!errorOf([&] { ds.open(); }).isEmpty());
        ds.clearSql();
        ds.addSql(QStringLiteral("SELECT * FROM assets; DELETE FROM assets"));
        QVERIFY(!errorOf([&] { ds.open(); }).isEmpty());
        QVERIFY(!ds.active());
        QCOMPARE(reg->count(QStringLiteral("SELECT COUNT(*) FROM assets")), 3);
    }

    void joinedResultsAreReadOnlyWithShortNames() {
        reg->exec(QStringLiteral("INSERT INTO Groups VALUES ('1', 'Computers'), ('2', 'Furniture')"));
        Dataset ds(*conn, QStringLiteral("Query2"));
        openOn(ds, {"SELECT Groups.Description, Count(*) AS Total",
                    "FROM assets INNER JOIN Groups ON assets.ItemGroup = Groups.GroupNumber",
                    "GROUP BY Groups.Description, assets.WrittenOff", "HAVING assets.WrittenOff=TRUE"});
        QCOMPARE(ds.recordCount(), 1);
        QCOMPARE(ds.fieldDef(0).name, QStringLiteral("Description"));
        QCOMPARE(ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Furniture"));
        QCOMPARE(ds.fieldByName(QStringLiteral("Total")).asInteger(), 1);
        QVERIFY(!errorOf([&] { ds.edit(); }).isEmpty());
    }

    void deleteRemovesFromTableAndCursor() {
        Dataset& ds = openedList();
        QSignalSpy removed(&ds, &Dataset::rowRemoved);
        ds.deleteRecord();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(ids(ds), QStringList{QStringLiteral("KLT1002")});
        QCOMPARE(reg->count(QStringLiteral("SELECT COUNT(*) FROM assets WHERE ASSETID='KLT1001'")), 0);
    }

    void locateIgnoresCase() {
        Dataset ds(*conn, QStringLiteral("cfgGroupsTable"));
        reg->exec(QStringLiteral("INSERT INTO Groups VALUES ('1', 'Computers'), ('2', 'Furniture')"));
        ds.setTableName(QStringLiteral("Groups"));
        ds.open();
        QVERIFY(ds.locate(QStringLiteral("description"), QStringLiteral("FURNITURE")));
        QCOMPARE(ds.fieldByName(QStringLiteral("GroupNumber")).asString(), QStringLiteral("2"));
        QVERIFY(!ds.locate(QStringLiteral("GroupNumber"), QStringLiteral("7")));
    }

    void navigationPostsPendingEdit() {
        Dataset& ds = openedList();
        ds.edit();
        ds.fieldByName(QStringLiteral("Model")).setAsString(QStringLiteral("X1"));
        ds.next();
        QCOMPARE(ds.state(), Dataset::State::Browse);
        QCOMPARE(reg->text(QStringLiteral("SELECT Model FROM assets WHERE ASSETID='KLT1001'")), QStringLiteral("X1"));
    }

    void manyRowsAreReadInBlocks() {
        reg->addAssets(QStringLiteral("ASSETID, ItemGroup"), 1000, [](int i) {
            return QVariantList{QStringLiteral("X%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("3")};
        });
        Dataset ds(*conn, QStringLiteral("mainquery"));
        openList(ds, QStringLiteral("WHERE ItemGroup = \"3\""));
        QCOMPARE(ds.recordCount(), 1000);
        QCOMPARE(ds.textAt(999, 0), QStringLiteral("X01000"));
        QCOMPARE(ds.textAt(64, 0), QStringLiteral("X00065"));
        int n = 0;
        for (ds.first(); !ds.eof(); ds.next()) {
            QCOMPARE(ds.text(0), QStringLiteral("X%1").arg(++n, 5, 10, QLatin1Char('0')));
        }
        QCOMPARE(n, 1000);
    }
};

QTEST_GUILESS_MAIN(TestDataset)
#include "tst_dataset.moc"
