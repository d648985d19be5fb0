// A dataset reads a one-table statement by row id: the ids in the statement's order, then each row by its
// id; anything else it reads whole. Either way it must give exactly the rows, in the order, that running the
// statement whole gives. Each row is a statement found by fuzzing the translator or by reading it, and the two
// statements the program itself runs most.
#include "data/dataset.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "tests/support/testregister.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The rows of the statement run whole, each as its values joined with '|'.
QStringList wholeRows(const Connection& c, const QString& jet) {
    QStringList rows;
    Statement s(c, translateJetSql(jet).sql);
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
    }
};

QTEST_GUILESS_MAIN(TestRowidReads)
#include "tst_rowidreads.moc"
