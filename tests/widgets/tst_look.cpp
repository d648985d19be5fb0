// The common look's face: identifiers such as KLT1001 must be read and engraved, so every figure is a lining
// figure, standing on the baseline as tall as a capital, at each size and weight the windows use.
#include "widgets/look.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QtTest>

class TestLook : public QObject {
    Q_OBJECT

private slots:
    void figuresAreLining_data() {
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::newRow("windows, 16 px") << 16 << false;
        QTest::newRow("labels, 16 px bold") << 16 << true;
        QTest::newRow("password prompt, 13 px") << 13 << false;
        QTest::newRow("large, 48 px") << 48 << false;
    }
    void figuresAreLining() {
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        const QFont font = Look::font(pixelSize, bold);
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Vantrel Garamond"));
        QCOMPARE(QFontInfo(font).bold(), bold);
        const QFontMetricsF m(font);
        const QRectF capital = m.tightBoundingRect(QStringLiteral("H"));
        // Old-style 0, 1 and 2 reach only the height of an x, and 3 to 9 rise above it or fall below the line.
        const qreal slack = std::max(1.5, capital.height() * 0.1);
        for (const QChar figure : QStringLiteral("0123456789")) {
            const QRectF ink = m.tightBoundingRect(figure);
            QVERIFY2(std::abs(ink.top() - capital.top()) <= slack && ink.bottom() <= capital.bottom() + slack,
                     qPrintable(QStringLiteral("'%1' spans %2 to %3 around the baseline, a capital %4 to %5")
                                    .arg(figure)
                                    .arg(ink.top())
                                    .arg(ink.bottom())
                                    .arg(capital.top())
                                    .arg(capital.bottom())));
        }
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
