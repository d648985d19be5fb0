// The gauge keeps Progress within its bounds, refuses bounds the wrong side of each other with the
// program's range message, computes its percentage without overflow, paints both parts, and is repainted
// only when the percentage it draws changes.
#include "data/errors.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"

#include <QEvent>
#include <QImage>
#include <QTest>
#include <limits>

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

// The text of the ControlError work raises, or an empty string when it raises none.
template <typename Work> QString controlErrorText(Work work) {
    try {
        work();
    } catch (const ControlError& e) {
        return e.text();
    }
    return QString();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class TestGauge : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { DialogScript::enable(); }

    void progressIsHeldWithinBounds() {
        TGauge gauge;
        gauge.setMinValue(10);
        gauge.setMaxValue(20);
        gauge.setProgress(25);
        QCOMPARE(gauge.progress(), 20);
        gauge.setProgress(3);
        QCOMPARE(gauge.progress(), 10);
        gauge.setProgress(15);
        QCOMPARE(gauge.progress(), 15);
    }

    void lowerMaxValueLowersProgress() {
        TGauge gauge;
        gauge.setProgress(80);
        gauge.setMaxValue(50);
        QCOMPARE(gauge.maxValue(), 50);
        QCOMPARE(gauge.progress(), 50);
        // Raising the bound again does not bring the old progress back.
        gauge.setMaxValue(100);
        QCOMPARE(gauge.progress(), 50);
        QCOMPARE(gauge.percentDone(), 50);
    }

    void higherMinValueRaisesProgress() {
        TGauge gauge;
        gauge.setProgress(5);
        gauge.setMinValue(30);
        QCOMPARE(gauge.progress(), 30);
        QCOMPARE(gauge.percentDone(), 0);
    }

    void percentDoneTruncates_data() {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("percent");
        QTest::newRow("one third") << 0 << 3 << 1 << 33;
        QTest::newRow("two thirds is not rounded up") << 0 << 3 << 2 << 66;
        QTest::newRow("offset bounds") << 10 << 13 << 12 << 66;
        QTest::newRow("negative bounds") << -200 << -100 << -101 << 99;
        QTest::newRow("full") << 0 << 7 << 7 << 100;
    }
    void percentDoneTruncates() {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(int, progress);
        QFETCH(int, percent);
        TGauge gauge;
        gauge.setMinValue(kIntMin);
        gauge.setMaxValue(maxValue);
        gauge.setMinValue(minValue);
        gauge.setProgress(progress);
        QCOMPARE(gauge.percentDone(), percent);
    }

    void equalBoundsGiveZeroPercent() {
        TGauge gauge;
        gauge.setProgress(40);
        gauge.setMaxValue(0);
        QCOMPARE(gauge.maxValue(), 0);
        QCOMPARE(gauge.progress(), 0);
        QCOMPARE(gauge.percentDone(), 0);
        gauge.resize(100, 20);
        gauge.grab(); // painting with no span must not divide by zero
    }

    void maxValueBelowMinValueIsRefused_data() {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<QString>("text");
        QTest::newRow("from zero") << 0 << QStringLiteral("Value must be between 1 and 2147483647");
        QTest::newRow("from five") << 5 << QStringLiteral("Value must be between 6 and 2147483647");
        QTest::newRow("from the largest int")
            << kIntMax << QStringLiteral("Value must be between 2147483648 and 2147483647");
    }
    void maxValueBelowMinValueIsRefused() {
        QFETCH(int, minValue);
        QFETCH(QString, text);
        TGauge gauge;
        gauge.setMaxValue(kIntMax);
        gauge.setMinValue(minValue);
        gauge.setProgress(minValue);
        QCOMPARE(controlErrorText([&] { gauge.setMaxValue(minValue - 1); }), text);
        // The refused value leaves the gauge as it was.
        QCOMPARE(gauge.maxValue(), kIntMax);
        QCOMPARE(gauge.minValue(), minValue);
        QCOMPARE(gauge.progress(), minValue);
    }

    void minValueAboveMaxValueIsRefused() {
        TGauge gauge;
        gauge.setProgress(60);
        QCOMPARE(controlErrorText([&] { gauge.setMinValue(101); }),
                 QStringLiteral("Value must be between -2147483648 and 99"));
        QCOMPARE(gauge.minValue(), 0);
        QCOMPARE(gauge.progress(), 60);
        // A minimum equal to the maximum is a valid, empty range.
        gauge.setMinValue(100);
        QCOMPARE(gauge.progress(), 100);
    }

    void fullIntRangeDoesNotOverflow() {
        TGauge gauge;
        gauge.setMinValue(kIntMin);
        gauge.setMaxValue(kIntMax);
        gauge.setProgress(kIntMax);
        QCOMPARE(gauge.percentDone(), 100);
        gauge.setProgress(kIntMax - 1);
        QCOMPARE(gauge.percentDone(), 99);
        gauge.setProgress(0);
        QCOMPARE(gauge.percentDone(), 50);
        gauge.setProgress(kIntMin);
        QCOMPARE(gauge.percentDone(), 0);

        TGauge large;
        large.setMaxValue(kIntMax);
        large.setProgress(kIntMax / 2 + 1);
        QCOMPARE(large.percentDone(), 50);
    }

    void paintsBorderAndBothParts() {
        const QColor back(255, 255, 255);
        const QColor fore(128, 128, 255);
        TGauge gauge;
        gauge.setBackColor(back);
        gauge.setForeColor(fore);
        QFont big = gauge.font();
        big.setPixelSize(28);
        big.setBold(true);
        gauge.setFont(big);
        gauge.resize(202, 40); // 200 pixels inside the border
        gauge.setProgress(25);
        QImage picture = gauge.grab().toImage();

        QCOMPARE(picture.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(picture.pixelColor(201, 39), QColor(Qt::black));
        // 25% of 200 pixels: columns 1..50 in ForeColor, from 51 on in BackColor (the row above the text).
        QCOMPARE(picture.pixelColor(1, 2), fore);
        QCOMPARE(picture.pixelColor(50, 2), fore);
        QCOMPARE(picture.pixelColor(51, 2), back);
        QCOMPARE(picture.pixelColor(200, 2), back);

        // The centred text "25%" lies over the BackColor part only, in that colour's inverse.
        const QColor backInverse(0, 0, 0);
        int inverted = 0;
        for (int y = 10; y < 30; ++y) {
            for (int x = 60; x < 140; ++x) {
                if (picture.pixelColor(x, y) == backInverse) {
                    ++inverted;
                }
            }
        }
        QVERIFY2(inverted > 20, "the percentage is not drawn in the inverse of BackColor");

        // Over the boundary the part of the text inside ForeColor turns to ForeColor's inverse.
        gauge.setProgress(50);
        picture = gauge.grab().toImage();
        const QColor foreInverse(127, 127, 0);
        int onFore = 0;
        int onBack = 0;
        for (int y = 10; y < 30; ++y) {
            for (int x = 60; x < 140; ++x) {
                onFore += picture.pixelColor(x, y) == foreInverse && x <= 100 ? 1 : 0;
                onBack += picture.pixelColor(x, y) == backInverse && x > 100 ? 1 : 0;
            }
        }
        QVERIFY2(onFore > 10 && onBack > 10, "the percentage does not read over both parts");
    }

    void repaintedOnlyWhenThePercentageChanges() {
        TGauge gauge;
        gauge.setMaxValue(10000);
        gauge.resize(200, 24);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        PaintCounter counter;
        gauge.installEventFilter(&counter);

        // A hundred steps stay within 0%: Progress follows every one, the picture none.
        for (int step = 1; step < 100; ++step) {
            gauge.setProgress(step);
            QCoreApplication::processEvents();
            QCOMPARE(gauge.progress(), step);
        }
        QCOMPARE(counter.paints, 0);

        gauge.setProgress(100);
        QTRY_COMPARE(counter.paints, 1);
        QCOMPARE(gauge.percentDone(), 1);
        // Going back below the percentage drawn repaints too.
        gauge.setProgress(99);
        QTRY_COMPARE(counter.paints, 2);
        QCOMPARE(gauge.percentDone(), 0);
        // So does a bound that moves the percentage with Progress unchanged.
        gauge.setMaxValue(198);
        QTRY_COMPARE(counter.paints, 3);
        QCOMPARE(gauge.percentDone(), 50);
    }
};

QTEST_MAIN(TestGauge)
#include "tst_gauge.moc"
