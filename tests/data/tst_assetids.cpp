// The identifier rule on a real register: the running number after the group's count, stepped past
// identifiers in use in any letter case, the zero fill and the length limit.
#include "data/assetids.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/schema.h"
#include "tests/support/testregister.h"

#include <QtTest>

class TestAssetIds : public QObject {
    Q_OBJECT
private slots:
    void nextFreeIdentifier_data() {
        QTest::addColumn<QString>("abbreviation");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("inUse");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& abbreviation, const QString& group,
                            const QStringList& inUse, int stored, const QString& expected) {
            QTest::newRow(name) << abbreviation << group << inUse << stored << expected;
        };
        row("first of a group", "KLT", "1", QStringList(), 0, "KLT1001");
        row("after the count", "KLT", "3", QStringList{"KLT3001"}, 11, "KLT3012");
        row("taken number skipped", "KLT", "1", QStringList{"KLT1002"}, 1, "KLT1003");
        row("taken in another case", "KLT", "1", QStringList{"klt1002", "Klt1003"}, 1, "KLT1004");
        row("two zeros up to 9", "KLT", "1", QStringList(), 8, "KLT1009");
        row("one zero from 10", "KLT", "1", QStringList(), 9, "KLT1010");
        row("no zero from 100", "KLT", "1", QStringList(), 99, "KLT1100");
        row("four digits from 1000", "KLT", "1", QStringList(), 999, "KLT11000");
        row("four digits, no fill", "KLT", "7", QStringList(), 1234, "KLT71235");
        row("no abbreviation", "", "5", QStringList(), 44, "5045");
        row("other group's number is free", "KLT", "2", QStringList{"KLT1001"}, 0, "KLT2001");
    }
    void nextFreeIdentifier() {
        QFETCH(QString, abbreviation);
        QFETCH(QString, group);
        QFETCH(QStringList, inUse);
        QFETCH(int, stored);
        QFETCH(QString, expected);
        TestRegister reg;
        for (const QString& id : inUse) {
            reg.addAsset(id, group);
        }
        QCOMPARE(nextFreeAssetId(reg.side(), abbreviation, group, stored), expected);
        QVERIFY(!assetIdInUse(reg.side(), expected));
    }

    // An identifier one character too long for its column is refused before anything is stored; one that
    // just fits is given.
    void identifierMustFitItsColumn() {
        TestRegister reg;
        const QString fits(kMaxTextLength - 4, QLatin1Char('K'));
        QCOMPARE(nextFreeAssetId(reg.side(), fits, QStringLiteral("1"), 0).size(), kMaxTextLength);
        try {
            nextFreeAssetId(reg.side(), fits + QLatin1Char('K'), QStringLiteral("1"), 0);
            QFAIL("an identifier longer than its column was given");
        } catch (const ConversionError& e) {
            QVERIFY2(e.text().contains(QStringLiteral("would have %1").arg(kMaxTextLength + 1)), qPrintable(e.text()));
        }
    }
};

QTEST_GUILESS_MAIN(TestAssetIds)
#include "tst_assetids.moc"
