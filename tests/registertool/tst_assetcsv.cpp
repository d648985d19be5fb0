// Assets as CSV through the register tool's library: an export read back into a new register gives the same
// rows and the same bytes, records without an identifier are numbered as the asset editor numbers them, and a
// file read a block at a time reads the same wherever a block ends.
#include "data/connection.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "registertool/assetcsv.h"
#include "registertool/csv.h"
#include "registertool/demodata.h"
#include "tests/support/registercheck.h"
#include "tests/support/testregister.h"

#include <QBuffer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray exported(const QString& path) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    exportAssets(path, out);
    return out.data();
}

RegisterContents assetRows(const QString& path) {
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    RegisterContents rows = registerContents(c);
    rows.removeIf([](const auto& row) { return !row.key().startsWith(QLatin1String("assets/")); });
    return rows;
}

// Values a CSV file gets wrong most easily: quotes, commas and every kind of line end inside a text, text
// beyond Latin-1, texts of the greatest length, an empty text beside no text, dates with and without a time
// and none, amounts that have no exact binary form, negative and tiny amounts.
void addAwkwardAssets(TestRegister& reg) {
    const QVariant none;
    const QString longest = QString(253, QChar(0xE9)) + QStringLiteral("🙂");
    const QList<QVariantList> rows{
        {QStringLiteral("Q\"1"), QStringLiteral("1"), QStringLiteral("He said \"hi\", then left"),
         QStringLiteral("one\r\ntwo\nthree\rfour,"), QStringLiteral("2024-02-29"), 0.1, -0.01, 1, none,
         QStringLiteral("")},
        {QStringLiteral("Łódź 日本 🙂"), QStringLiteral("2"), QStringLiteral("Łódź 日本 🙂"),
         QString(255, u'x'), none, 1234567.89, -42.5, 0, QStringLiteral("2024-02-29 13:45:07"), none},
        {QStringLiteral("Z,3"), QStringLiteral("3"), QStringLiteral(" padded "), longest, QStringLiteral("0001-01-01"),
         999999999999.99, 1e-7, 1, QStringLiteral("9999-12-31"), QStringLiteral("\"")},
    };
    Statement ins(reg.side(), "INSERT INTO assets (ASSETID, ItemGroup, Make, Description, DatePurchased, TotalCost, "
                              "WrittenDownValue, isElectrical, LastTestTag, Borrower) VALUES (?,?,?,?,?,?,?,?,?,?)");
    for (const QVariantList& row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            ins.bind(i + 1, row[i]);
        }
        ins.step();
        ins.reset();
    }
}

} // namespace

class TestAssetCsv : public QObject {
    Q_OBJECT

private slots:
    void exportReadBackGivesTheSameRegister_data() {
        QTest::addColumn<bool>("demo");
        QTest::newRow("demo register") << true;
        QTest::newRow("awkward values") << false;
    }
    void exportReadBackGivesTheSameRegister() {
        QFETCH(bool, demo);
        TestRegister source;
        if (demo) {
            fillDemoRegister(source.path(), {.assets = 300});
        } else {
            addAwkwardAssets(source);
        }
        const QByteArray first = exported(source.path());
        TestRegister copy;
        const ImportOutcome outcome = importAssets(copy.path(), first, false);
        QVERIFY2(outcome.problems.isEmpty(), qPrintable(outcome.problems.join(QLatin1Char('\n'))));
        QCOMPARE(outcome.rows, demo ? 300 : 3);
        QCOMPARE(exported(copy.path()), first);
        const QString differences = contentDifferences(assetRows(source.path()), assetRows(copy.path()));
        QVERIFY2(differences.isEmpty(), qPrintable(differences));
        if (!demo) {
            // The forms the file promises: CR LF records, '.' decimals in full, quotes doubled, no value apart
            // from an empty text.
            QVERIFY(first.startsWith("ASSETID,ItemGroup,OrderNumber,Make,Model,DatePurchased,"));
            QVERIFY(first.contains("\r\n\"Q\"\"1\",1,,\"He said \"\"hi\"\", then left\",,2024-02-29,,"
                                   "\"one\r\ntwo\nthree\rfour,\",,,,0.1,,1,,0,\"\",,,0,,,,-0.01\r\n"));
            QVERIFY(first.contains(",1234567.89,"));
            QVERIFY(first.contains(",999999999999.99,"));
            QVERIFY(first.contains(",0.0000001\r\n"));
        }
    }

    // Texts a spreadsheet would run as a formula leave with an apostrophe before them, and so do texts that
    // start with one, so the import can take exactly that apostrophe off again; other columns leave as they are.
    void formulaTextsAreDisarmedAndReadBack_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("written"); // the field as the export writes it, unquoted
        const QString make = QStringLiteral("Make");
        const QString longest = QLatin1Char('=') + QString(254, u'x');
        QTest::newRow("=") << make << QVariant(QStringLiteral("=HYPERLINK(\"http://x\")"))
                           << QStringLiteral("'=HYPERLINK(\"http://x\")");
        QTest::newRow("+") << make << QVariant(QStringLiteral("+cmd|' /C calc'!A0"))
                           << QStringLiteral("'+cmd|' /C calc'!A0");
        QTest::newRow("-") << make << QVariant(QStringLiteral("-2+3")) << QStringLiteral("'-2+3");
        QTest::newRow("@") << make << QVariant(QStringLiteral("@SUM(1)")) << QStringLiteral("'@SUM(1)");
        QTest::newRow("tab") << make << QVariant(QStringLiteral("\t=1")) << QStringLiteral("'\t=1");
        QTest::newRow("CR") << make << QVariant(QStringLiteral("\r=1")) << QStringLiteral("'\r=1");
        QTest::newRow("apostrophe") << make << QVariant(QStringLiteral("'quoted")) << QStringLiteral("''quoted");
        QTest::newRow("apostrophe and =") << make << QVariant(QStringLiteral("'=1+1")) << QStringLiteral("''=1+1");
        QTest::newRow("plain text") << make << QVariant(QStringLiteral("a=b-c")) << QStringLiteral("a=b-c");
        QTest::newRow("longest text with =") << make << QVariant(longest) << QLatin1Char('\'') + longest;
        QTest::newRow("negative amount") << QStringLiteral("TotalCost") << QVariant(-12.5) << QStringLiteral("-12.5");
    }
    void formulaTextsAreDisarmedAndReadBack() {
        QFETCH(QString, column);
        QFETCH(QVariant, stored);
        QFETCH(QString, written);
        TestRegister source;
        {
            Statement ins(source.side(), "INSERT INTO assets (ASSETID, ItemGroup, " + column.toStdString() +
                                             ") VALUES ('A1', '1', ?)");
            ins.bind(1, stored);
            ins.step();
        }
        const QByteArray first = exported(source.path());
        CsvReader reader(first);
        CsvRecord header;
        CsvRecord record;
        QVERIFY(reader.next(header) && reader.next(record));
        QCOMPARE(record.fields.value(header.fields.indexOf(column)), written);

        TestRegister copy;
        const ImportOutcome outcome = importAssets(copy.path(), first, false);
        QVERIFY2(outcome.problems.isEmpty(), qPrintable(outcome.problems.join(QLatin1Char('\n'))));
        QCOMPARE(exported(copy.path()), first);
        const QString differences = contentDifferences(assetRows(source.path()), assetRows(copy.path()));
        QVERIFY2(differences.isEmpty(), qPrintable(differences));
    }

    void identifiersFollowFileOrderPerGroup() {
        NewRegister settings;
        settings.abbreviation = QStringLiteral("KLT");
        settings.groups = {{1, QStringLiteral("Computers")}, {2, QStringLiteral("Chairs")}};
        TestRegister reg(settings);
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        reg.addAsset(QStringLiteral("KLT1003"), QStringLiteral("1"));
        // Group 1 counts the register's two assets and every record before; numbers step past identifiers in
        // use in the register (KLT1003) and those given later in the file (KLT2001).
        const QByteArray csv = "ItemGroup,ASSETID\n"
                               "1,\n"
                               "2,\n"
                               "1,CUSTOM-9\n"
                               "1,\n"
                               "2,KLT2001\n"
                               "2,\n";
        const ImportOutcome dry = importAssets(reg.path(), csv, true);
        QVERIFY(dry.problems.isEmpty());
        QCOMPARE(reg.count(QStringLiteral("SELECT count(*) FROM assets")), 2);
        const ImportOutcome outcome = importAssets(reg.path(), csv, false);
        QVERIFY2(outcome.problems.isEmpty(), qPrintable(outcome.problems.join(QLatin1Char('\n'))));
        QStringList ids;
        Statement s(reg.side(), "SELECT ASSETID FROM assets WHERE rowid > 2 ORDER BY rowid");
        while (s.step()) {
            ids << s.column(0).toString();
        }
        QCOMPARE(ids, QStringList({QStringLiteral("KLT1004"), QStringLiteral("KLT2002"), QStringLiteral("CUSTOM-9"),
                                   QStringLiteral("KLT1005"), QStringLiteral("KLT2001"), QStringLiteral("KLT2003")}));
    }

    // A file is read a megabyte at a time: a block may end inside a UTF-8 sequence, between CR and LF, inside a
    // doubled quote or a quoted line end. Each record is put so that a block ends at each of its bytes in turn.
    void blocksEndingAnywhereReadTheSame() {
        const qsizetype block = 1 << 20;
        const QByteArray tricky = "\"q\"\"u\r\not\xC3\xA9\",\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\nlast,1\r\n";
        const QByteArray flawed = "ok\r\nbad\xE2\x82\r\n";
        for (qsizetype cut = 0; cut <= tricky.size(); ++cut) {
            QBuffer file;
            file.setData("a," + QByteArray(block - cut - 3, 'x') + "\r\n" + tricky);
            file.open(QIODevice::ReadOnly);
            CsvReader reader(file);
            CsvRecord first, second, third, none;
            QVERIFY(reader.next(first) && reader.next(second) && reader.next(third));
            QVERIFY(!reader.next(none));
            QVERIFY2(reader.flaws().empty(), qPrintable(QString::number(cut)));
            QCOMPARE(second.fields,
                     QStringList({QStringLiteral("q\"u\r\not\u00e9"), QStringLiteral("\u00e9\u20ac\U0001F600")}));
            QCOMPARE(second.line, 2);
            QCOMPARE(third.fields, QStringList({QStringLiteral("last"), QStringLiteral("1")}));
            QCOMPARE(third.line, 4);
        }
        for (qsizetype cut = 0; cut <= flawed.size(); ++cut) {
            CsvReader reader("a," + QByteArray(block - cut - 3, 'x') + "\r\n" + flawed);
            QCOMPARE(reader.flaws().size(), size_t(1));
            QCOMPARE(reader.flaws().front().line, 3);
        }
    }

    // A file that gives its identifiers is written as it is first read, and a long one has the register's indexes
    // made again as it commits: numbering what follows counts what was written, and a refusal after writing
    // saves nothing and leaves the indexes as they were.
    void writtenAsFirstRead_data() {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("ids"); // the assets added, in file order; none when refused
        QTest::addColumn<QString>("problem"); // the first problem; empty when none
        const auto longFile = [](const QByteArray& last) {
            QByteArray csv = "ItemGroup,ASSETID,Description\n";
            for (int i = 1; i <= 1200; ++i) {
                csv += "1,KLT" + QByteArray::number(100000 + i) + "," + QByteArray(60, 'd') + "\n";
            }
            return csv + last;
        };
        QStringList longIds;
        for (int i = 1; i <= 1200; ++i) {
            longIds << QStringLiteral("KLT%1").arg(100000 + i);
        }
        QTest::newRow("identifiers, then numbered")
            << QByteArray("ItemGroup,ASSETID\n1,KLT1001\n1,KLT1002\n1,\n2,\n")
            << QStringList{u"KLT1001"_s, u"KLT1002"_s, u"KLT1003"_s, u"KLT2001"_s} << QString();
        QTest::newRow("refused after writing")
            << QByteArray("ItemGroup,ASSETID\n1,KLT1001\n1,KLT1002\n1,kLT1001\n") << QStringList()
            << u"line 4, ASSETID: 'kLT1001' is the identifier of line 2 too"_s;
        QTest::newRow("long") << longFile("") << longIds << QString();
        QTest::newRow("long, then numbered")
            << longFile("2,,\n") << (QStringList(longIds) << u"KLT2001"_s) << QString();
        QTest::newRow("long, refused at its end")
            << longFile("2,KLT100001,\n") << QStringList()
            << u"line 1202, ASSETID: 'KLT100001' is the identifier of line 2 too"_s;
    }
    void writtenAsFirstRead() {
        QFETCH(QByteArray, csv);
        QFETCH(QStringList, ids);
        QFETCH(QString, problem);
        NewRegister settings;
        settings.abbreviation = QStringLiteral("KLT");
        settings.groups = {{1, QStringLiteral("Computers")}, {2, QStringLiteral("Chairs")}};
        TestRegister reg(settings);
        const auto indexes = [&] {
            QStringList list;
            Statement s(reg.side(), reg.side().isServer() ? "SELECT indexname || ': ' || indexdef FROM pg_indexes "
                                                            "WHERE schemaname = current_schema() ORDER BY 1"
                                                          : "SELECT name || ': ' || sql FROM sqlite_master "
                                                            "WHERE type = 'index' ORDER BY 1");
            while (s.step()) {
                list << s.column(0).toString();
            }
            return list;
        };
        const QStringList indexesBefore = indexes();
        const long long historyBefore = reg.count(QStringLiteral("SELECT count(*) FROM History"));

        const ImportOutcome outcome = importAssets(reg.path(), csv, false);
        QCOMPARE(outcome.problems.value(0), problem);
        QStringList stored;
        Statement s(reg.side(), "SELECT ASSETID FROM assets ORDER BY rowid");
        while (s.step()) {
            stored << s.column(0).toString();
        }
        QCOMPARE(stored, ids);
        QCOMPARE(reg.count(QStringLiteral("SELECT count(*) FROM History")) - historyBefore, ids.size());
        QCOMPARE(indexes(), indexesBefore);
        if (!reg.side().isServer()) {
            QCOMPARE(Connection::integrityProblems(reg.path()), QStringList());
        }
    }

    // What was checked is what is written: a file that changes between the two readings imports nothing, not
    // even the records the first reading wrote.
    void aFileChangedWhileReadIsRefused() {
        // A file that another program rewrites before it is read from its start a third time: after the check
        // of its text and the first reading of its records.
        class Rewritten : public QBuffer {
        public:
            using QBuffer::QBuffer;

        protected:
            qint64 readData(char* data, qint64 max) override {
                if (pos() == 0 && ++starts_ == 3) {
                    buffer().replace("KLT9001", "KLT9002");
                }
                return QBuffer::readData(data, max);
            }

        private:
            int starts_ = 0;
        };
        TestRegister reg;
        Rewritten file;
        file.setData("ASSETID,ItemGroup\nKLT9001,1\n,1\n");
        file.open(QIODevice::ReadOnly);
        const ImportOutcome outcome = importAssets(reg.path(), file, false);
        QCOMPARE(outcome.problems,
                 QStringList(QStringLiteral("line 1: the file changed while it was being read; import it again")));
        QCOMPARE(reg.count(QStringLiteral("SELECT count(*) FROM assets")), 0);
    }
};

QTEST_GUILESS_MAIN(TestAssetCsv)
#include "tst_assetcsv.moc"
