// A dataset reads a one-table statement by row id: the ids in the statement's order, then each row by its
// id; anything else it reads whole. Either way it must give exactly the rows, in the order, that running the
// statement whole gives. Each row is a statement found by fuzzing the translator or by reading it, and the two
// statements the program itself runs most.
#include "data/dataset.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "data/schema.h"
#include "tests/support/testregister.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The rows of the statement run whole, each as its values joined with '|'.
QStringList wholeRows(const Connection& c, const QString& jet) {
    QStringList rows;
    Statement s(c, translateJetSql(jet, c.dialect()).sql);
    while (s.step()) {
        QStringList values;
        for (int i = 0; i < s.columnCount(); ++i) {
            values << s.column(i).toString();
        }
        rows << values.join(u'|');
    }
    s.reset();
    return rows;
}

// The rows as a dataset shows them, or why it refused the statement.
QStringList datasetRows(Connection& c, const QString& jet) {
    Dataset ds(c, u"q"_s);
    ds.addSql(jet);
    try {
        ds.open();
    } catch (const DatabaseError& e) {
        return {u"refused: "_s + e.text()};
    }
    QStringList rows;
    for (int r = 0; r < ds.recordCount(); ++r) {
        QStringList values;
        for (int i = 0; i < ds.fieldCount(); ++i) {
            values << ds.valueAt(r, i).toString();
        }
        rows << values.join(u'|');
    }
    return rows;
}

// Every row's texts read a long block at a time (as a report's walk reads them), beside the same read a cell
// at a time; from is where the block read starts.
std::pair<QStringList, QStringList> blockAndCellTexts(const Dataset& ds, int from) {
    std::vector<int> fields;
    for (int i = 0; i < ds.fieldCount(); ++i) {
        fields.push_back(i);
    }
    const int count = ds.recordCount() - from;
    const std::vector<QString> block = ds.textsOf(from, count, fields);
    QStringList blockRows;
    QStringList cellRows;
    for (int r = 0; r < count; ++r) {
        QStringList b;
        QStringList c;
        for (int i = 0; i < ds.fieldCount(); ++i) {
            b << (static_cast<size_t>(r * ds.fieldCount() + i) < block.size()
                      ? block[static_cast<size_t>(r * ds.fieldCount() + i)]
                      : u"<missing>"_s);
            c << ds.textAt(from + r, i);
        }
        blockRows << b.join(u'|');
        cellRows << c.join(u'|');
    }
    return {blockRows, cellRows};
}

} // namespace

class TestRowidReads : public QObject {
    Q_OBJECT

private slots:
    void datasetReadsExactlyWhatTheStatementReads_data() {
        QTest::addColumn<QString>("statement");
        QTest::newRow("the asset list") << u"select *\nfrom assets\nWHERE Writtenoff <> TRUE\nORDER BY Assetid;"_s;
        QTest::newRow("a search") << u"SELECT *\nFROM Assets\nWHERE description LIKE \"%a%\" \nORDER BY description;"_s;
        // SQLite takes a name after a column as its alias, and "ORDER BY m" then names it; read by row id
        // without the select list, the statement no longer prepares ("no such column: m").
        QTest::newRow("alias without AS") << u"SELECT Make m FROM assets ORDER BY m"_s;
        // "+1" is the first column to SQLite's ORDER BY, just as "1" is; by row id it orders by the row id.
        QTest::newRow("ORDER BY +1") << u"SELECT Make FROM assets ORDER BY +1"_s;
        // A bracketed function name is still the aggregate: one row whole, one row per asset by row id.
        QTest::newRow("bracketed aggregate") << u"SELECT [max](TotalCost) FROM assets"_s;
        // A window function sees every row whole, and only its own row when read by id.
        QTest::newRow("window function") << u"SELECT Make, row_number() OVER (ORDER BY Make) FROM assets"_s;
    }

    void datasetReadsExactlyWhatTheStatementReads() {
        QFETCH(QString, statement);
        TestRegister reg;
        // Stored order, identifier order and Make order all differ, and every value is distinct.
        reg.addAsset(u"KLT1002"_s, u"1"_s, u"Make, Description, TotalCost"_s, u"'Cherry', 'Desk lamp', 30"_s);
        reg.addAsset(u"KLT1003"_s, u"1"_s, u"Make, Description, TotalCost"_s, u"'Apple', 'Laptop', 1200"_s);
        reg.addAsset(u"KLT1001"_s, u"1"_s, u"Make, Description, TotalCost"_s, u"'Bosch', 'Drill', 95.5"_s);
        QCOMPARE(datasetRows(reg.side(), statement), wholeRows(reg.side(), statement));
        Dataset ds(reg.side(), u"q"_s);
        openOn(ds, {statement});
        const auto [block, cells] = blockAndCellTexts(ds, 0);
        QCOMPARE(block, cells);
    }

    // A block read sees the register as it is now: a row another program deleted reads as empty, a row it
    // changed as changed, and the record being edited as edited.
    void blockReadsSeeTheRegisterAsItIsNow() {
        TestRegister reg;
        {
            Connection::Transaction t(reg.side());
            for (int i = 1; i <= 700; ++i) {
                reg.addAsset(u"KLT%1"_s.arg(1000 + i), u"1"_s, u"Make"_s, u"'M%1'"_s.arg(i));
            }
            t.commit();
        }
        Dataset ds(reg.side(), u"q"_s);
        openOn(ds, {u"select * from assets order by assetid desc"_s});
        Connection other;
        other.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        other.exec("DELETE FROM Assets WHERE AssetID = 'KLT1005'");
        other.exec("UPDATE Assets SET Make = 'Changed' WHERE AssetID = 'KLT1600'");
        ds.moveTo(3);
        ds.edit();
        ds.setText(ds.findField(u"Make"_s), u"Edited"_s);
        const int make = ds.findField(u"Make"_s);
        const std::vector<QString> texts = ds.textsOf(0, ds.recordCount(), {make});
        QCOMPARE(texts.size(), size_t(700));
        QCOMPARE(texts[3], u"Edited"_s);
        QCOMPARE(texts[700 - 600], u"Changed"_s);
        QCOMPARE(texts[700 - 5], QString());
        QCOMPARE(texts[699], u"M1"_s);
        // A read from the middle of the list, over none of the rows the dataset has read, agrees cell for cell.
        ds.cancel();
        const auto [block, cells] = blockAndCellTexts(ds, 333);
        QCOMPARE(block, cells);
    }

    // A report's walk reads a block at a time, and another program may save between any two blocks: no lock
    // is held there. What it changed shows as a read by id shows it, by a list whose order rows share and by
    // one ordered by the identifier, which a file's walk steps on from block to block.
    void aWalkShowsTheRegisterAsItIsNow_data() {
        QTest::addColumn<QString>("order");
        QTest::newRow("rows that sort alike") << u"Description"_s;
        QTest::newRow("the identifier") << u"Assetid"_s;
    }
    void aWalkShowsTheRegisterAsItIsNow() {
        QFETCH(QString, order);
        TestRegister reg;
        reg.addAssets(u"ASSETID, Description, Make"_s, 1300, [](int i) {
            return QVariantList{u"W%1"_s.arg(i, 4, 10, QChar(u'0')), u"same %1"_s.arg(i % 3), u"make %1"_s.arg(i)};
        });
        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        Dataset ds(c, u"mainquery"_s);
        openOn(ds, {u"SELECT * FROM Assets WHERE WrittenOff <> TRUE ORDER BY "_s + order});
        const std::vector<int> fields{ds.findField(u"ASSETID"_s), ds.findField(u"Make"_s)};
        std::vector<QString> walked;
        const auto rowOf = [&](const QString& id) {
            return static_cast<int>(std::find(walked.begin(), walked.end(), id) - walked.begin()) / 2;
        };
        const auto exec = [&](const QString& sql) { reg.exec(sql); };
        reg.side().setBusyTimeout(0);
        QStringList at; // the identifiers of rows the walk has yet to read: gone, changed, written off, and
                        // the last row of the next block
        for (int from = 0; from < ds.recordCount(); from += 512) {
            if (from == 512) {
                Dataset same(c, u"same"_s); // which row is where, read without touching the walk's dataset
                openOn(same, {u"SELECT * FROM Assets WHERE WrittenOff <> TRUE ORDER BY "_s + order});
                for (const int row : {700, 701, 702, 1023}) {
                    at << same.textAt(row, same.findField(u"ASSETID"_s));
                }
                exec(u"DELETE FROM assets WHERE ASSETID IN ('%1', '%2')"_s.arg(at[0], at[3]));
                exec(u"UPDATE assets SET Make = 'changed' WHERE ASSETID = '%1'"_s.arg(at[1]));
                exec(u"UPDATE assets SET WrittenOff = 1 WHERE ASSETID = '%1'"_s.arg(at[2]));
                exec(u"INSERT INTO assets (ASSETID, ItemGroup, Description, Make) "
                     u"VALUES ('W0700a', '1', 'same 1', 'new')"_s);
            }
            const std::vector<QString> block = ds.textsOf(from, std::min(512, ds.recordCount() - from), fields);
            walked.insert(walked.end(), block.begin(), block.end());
        }
        QCOMPARE(static_cast<int>(walked.size()), 2 * 1300);
        for (int row = 512; row < ds.recordCount(); ++row) {
            QCOMPARE(walked[2 * row], ds.textAt(row, fields[0]));
            QCOMPARE(walked[2 * row + 1], ds.textAt(row, fields[1]));
        }
        QCOMPARE(walked[2 * 701 + 1], u"changed"_s);
        QCOMPARE(walked[2 * 702 + 1], u"make %1"_s.arg(at[2].mid(1).toInt())); // as it is now: kept by the list
        QCOMPARE(rowOf(at[0]), 1300); // read as empty: its id is in the cursor, its row is gone
        QCOMPARE(rowOf(at[3]), 1300);
        QCOMPARE(rowOf(u"W0700a"_s), 1300);
    }
};

QTEST_GUILESS_MAIN(TestRowidReads)
#include "tst_rowidreads.moc"
