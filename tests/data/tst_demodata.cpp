// Demo registers are made as the program would have made them: identifiers numbered per group from one
// with at least three digits, booleans never null, and the same seed giving the same register.
#include "data/connection.h"
#include "data/schema.h"
#include "registertool/demodata.h"
#include "tests/support/testregister.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestDemoData : public QObject {
    Q_OBJECT
private slots:
    void identifiersFollowTheNumberingRule() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vnrdata.mdb"));
        createRegister(path);
        fillDemoRegister(path, {.assets = 300});
        Connection c;
        c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        Statement s(c, "SELECT ItemGroup, ASSETID FROM assets ORDER BY rowid");
        QHash<QString, int> seen;
        int rows = 0;
        while (s.step()) {
            const QString group = s.column(0).toString();
            const int n = ++seen[group];
            QCOMPARE(s.column(1).toString(), QStringLiteral("KLT%1%2").arg(group).arg(n, 3, 10, QLatin1Char('0')));
            ++rows;
        }
        QCOMPARE(rows, 300);
        QCOMPARE(valueOf(c, QStringLiteral("SELECT COUNT(*) FROM assets WHERE isElectrical IS NULL OR itemBorrowed IS "
                                           "NULL OR WrittenOff IS NULL"))
                     .toLongLong(),
                 0);
        QVERIFY(
            valueOf(c, QStringLiteral("SELECT min(SUM(WrittenOff), SUM(itemBorrowed), SUM(isElectrical)) FROM assets"))
                .toLongLong() > 0);
    }
};

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"
