// The gauge keeps Progress within its bounds, refuses bounds the wrong side of each other with the
// program's range message, computes its percentage without overflow, paints both parts, and is repainted
// only when the percentage it draws changes.
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"

#include <QEvent>
#include <QImage>
#include <QTest>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

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

    // Progress is held within the bounds, whichever is set last, and the percentage drawn is truncated and never
    // overflows: each case sets a new gauge's (0 to 100) values in turn.
    void progressAndPercentageFollowTheBounds() {
        enum Set { Min, Max, Progress };
        const struct {
            const char* name;
            std::vector<std::pair<Set, int>> steps;
            int min, max, progress, percent;
        } cases[] = {
            {"progress above the maximum", {{Min, 10}, {Max, 20}, {Progress, 25}}, 10, 20, 20, 100},
            {"progress below the minimum", {{Min, 10}, {Max, 20}, {Progress, 3}}, 10, 20, 10, 0},
            {"progress within", {{Min, 10}, {Max, 20}, {Progress, 15}}, 10, 20, 15, 50},
            {"a lower maximum lowers progress", {{Progress, 80}, {Max, 50}}, 0, 50, 50, 100},
            // Raising the bound again does not bring the old progress back.
            {"the maximum raised again", {{Progress, 80}, {Max, 50}, {Max, 100}}, 0, 100, 50, 50},
            {"a higher minimum raises progress", {{Progress, 5}, {Min, 30}}, 30, 100, 30, 0},
            // Equal bounds are a valid, empty range, drawn as 0%.
            {"the maximum lowered to the minimum", {{Progress, 40}, {Max, 0}}, 0, 0, 0, 0},
            {"the minimum raised to the maximum", {{Progress, 60}, {Min, 100}}, 100, 100, 100, 0},
            {"one third", {{Max, 3}, {Progress, 1}}, 0, 3, 1, 33},
            {"two thirds is not rounded up", {{Max, 3}, {Progress, 2}}, 0, 3, 2, 66},
            {"offset bounds", {{Max, 13}, {Min, 10}, {Progress, 12}}, 10, 13, 12, 66},
            {"negative bounds", {{Min, kIntMin}, {Max, -100}, {Min, -200}, {Progress, -101}}, -200, -100, -101, 99},
            {"full", {{Max, 7}, {Progress, 7}}, 0, 7, 7, 100},
            {"the whole int range, full",
             {{Min, kIntMin}, {Max, kIntMax}, {Progress, kIntMax}},
             kIntMin,
             kIntMax,
             kIntMax,
             100},
            {"the whole int range, one short",
             {{Min, kIntMin}, {Max, kIntMax}, {Progress, kIntMax - 1}},
             kIntMin,
             kIntMax,
             kIntMax - 1,
             99},
            {"the whole int range, half", {{Min, kIntMin}, {Max, kIntMax}, {Progress, 0}}, kIntMin, kIntMax, 0, 50},
            {"the whole int range, empty",
             {{Min, kIntMin}, {Max, kIntMax}, {Progress, kIntMin}},
             kIntMin,
             kIntMax,
             kIntMin,
             0},
            {"half of the largest maximum",
             {{Max, kIntMax}, {Progress, kIntMax / 2 + 1}},
             0,
             kIntMax,
             kIntMax / 2 + 1,
             50},
        };
        const auto values = [](int min, int max, int progress, int percent) {
            return QStringLiteral("%1 to %2, progress %3, %4%").arg(min).arg(max).arg(progress).arg(percent);
        };
        for (const auto& c : cases) {
            TGauge gauge;
            for (const auto& [what, value] : c.steps) {
                what == Min   ? gauge.setMinValue(value)
                : what == Max ? gauge.setMaxValue(value)
                              : gauge.setProgress(value);
            }
            const QString shown = values(gauge.minValue(), gauge.maxValue(), gauge.progress(), gauge.percentDone());
            QVERIFY2(shown == values(c.min, c.max, c.progress, c.percent), qPrintable(c.name + (": " + shown)));
            // Painting an empty range or the whole int range must not divide by zero or overflow.
            gauge.resize(100, 20);
            gauge.grab();
        }
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
        QCOMPARE(errorOf([&] { gauge.setMaxValue(minValue - 1); }), text);
        // The refused value leaves the gauge as it was.
        QCOMPARE(gauge.maxValue(), kIntMax);
        QCOMPARE(gauge.minValue(), minValue);
        QCOMPARE(gauge.progress(), minValue);
    }

    void minValueAboveMaxValueIsRefused() {
        TGauge gauge;
        gauge.setProgress(60);
        QCOMPARE(errorOf([&] { gauge.setMinValue(101); }), QStringLiteral("Value must be between -2147483648 and 99"));
        QCOMPARE(gauge.minValue(), 0);
        QCOMPARE(gauge.progress(), 60);
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
