// The status window: its place and look, the gauge it drives, the seconds-left estimate under a clock
// the test drives tick by tick, and what showing and hiding reset or keep.
#include "app/status.h"
#include "data/errors.h"
#include "widgets/coolanimate.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

class TestStatus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        DialogScript::enable();
        StatusFrm = std::make_unique<TStatusFrm>();
        // The program's frames are compiled into the executable; the test gives the list 19 frames of its own.
        QList<QPixmap> frames;
        for (int i = 0; i < 19; ++i) {
            QPixmap frame(64, 60);
            frame.fill(QColor(i * 10, 0, 0));
            frames.append(frame);
        }
        StatusFrm->ImageList->setImages(frames);
    }

    void init() { StatusFrm->HideStatus(); }

    void cleanup() {
        StatusFrm->HideStatus();
        QVERIFY(DialogScript::unexpectedModals().empty());
    }

    void showAndHide() {
        showDriven(40);
        tick(80);
        steps(30);
        const QString shown = StatusFrm->TimeLeft->text();
        QVERIFY(!shown.isEmpty());
        QVERIFY(StatusFrm->isVisible() && StatusFrm->isWindow() && !StatusFrm->isModal());
        QVERIFY(StatusFrm->windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        QCOMPARE(StatusFrm->size(), QSize(315, 101));
        QCOMPARE(StatusFrm->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());

        // Hiding stops both clocks and keeps every figure.
        StatusFrm->HideStatus();
        QVERIFY(!StatusFrm->isVisible());
        QVERIFY(!StatusFrm->StatusTimer->isActive());
        QVERIFY(!StatusFrm->AniMate->active());
        QCOMPARE(StatusFrm->gauge->progress(), 30);
        QCOMPARE(StatusFrm->StatusTicks, 80);
        QCOMPARE(StatusFrm->TimeLeft->text(), shown);

        // Showing again resets the operation and starts both clocks.
        StatusFrm->ShowStatus(QStringLiteral("Second job"), 8);
        QCOMPARE(StatusFrm->statuslabel->text(), QStringLiteral("Second job"));
        QCOMPARE(StatusFrm->gauge->maxValue(), 8);
        QCOMPARE(StatusFrm->gauge->progress(), 0);
        QCOMPARE(StatusFrm->LastSecondsLeft, 22222222);
        QCOMPARE(StatusFrm->TimeLeft->text(), QString());
        QVERIFY(StatusFrm->StatusTimer->isActive());
        QVERIFY(StatusFrm->AniMate->active());
        QTRY_VERIFY(StatusFrm->StatusTicks > 0); // the real clock ticks while events are processed
    }

    void noEstimateWithinFiftyTicks() {
        showDriven(200);
        for (int i = 0; i < 50; ++i) {
            tick(1);
            StatusFrm->StepStatus();
        }
        QCOMPARE(StatusFrm->StatusTicks, 50);
        QCOMPARE(StatusFrm->TimeLeft->text(), QString());
        QCOMPARE(StatusFrm->LastSecondsLeft, 22222222);
        // The 51st tick is more than five seconds: the next step shows a figure.
        tick(1);
        StatusFrm->StepStatus();
        QVERIFY(StatusFrm->TimeLeft->text().endsWith(QStringLiteral(" Seconds Left")));
    }

    void estimateOfTheWorkedExample() {
        showDriven(1000);
        steps(99);
        QCOMPARE(StatusFrm->TimeLeft->text(), QString());
        tick(60);
        StatusFrm->StepStatus(); // 100 of 1000 done: 60 / 10 / 11 * 90 = 49.09
        QCOMPARE(StatusFrm->gauge->percentDone(), 10);
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("49 Seconds Left"));
        QCOMPARE(StatusFrm->LastSecondsLeft, 49);

        // Every step at 100 % gives 0, and a singular never appears.
        steps(900);
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("0 Seconds Left"));
    }

    void risingEstimateIsDropped() {
        showDriven(100);
        tick(60);
        StatusFrm->StepStatus(); // 1 %: 6 / 2 * 99 = 297
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("297 Seconds Left"));
        tick(600);
        StatusFrm->StepStatus(); // 2 %: 66 / 3 * 98 = 2156, higher than shown
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("297 Seconds Left"));
        QCOMPARE(StatusFrm->LastSecondsLeft, 297);
        steps(97); // 99 %: 66 / 100 * 1 = 0.66
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("1 Seconds Left"));
    }

    void estimateRoundsHalfToEven_data() {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("seconds");
        QTest::newRow("0.5 goes down to 0") << 500 << 99 << 0;
        QTest::newRow("1.5 goes up to 2") << 1500 << 99 << 2;
        QTest::newRow("2.5 goes down to 2") << 2500 << 99 << 2;
        QTest::newRow("3.5 goes up to 4") << 3500 << 99 << 4;
        QTest::newRow("worked example") << 60 << 10 << 49;
        QTest::newRow("nothing done") << 51 << 0 << 510;
        QTest::newRow("all done") << 9000 << 100 << 0;
    }
    void estimateRoundsHalfToEven() {
        QFETCH(int, ticks);
        QFETCH(int, percent);
        QFETCH(int, seconds);
        QCOMPARE(EstimateSecondsLeft(ticks, percent), seconds);
    }

    void gaugeHeldWithinItsBounds() {
        showDriven(3);
        steps(10);
        QCOMPARE(StatusFrm->gauge->progress(), 3);
        QCOMPARE(StatusFrm->gauge->percentDone(), 100);

        // A maximum of 0 stays at 0 %; the estimate is then the elapsed time times 100.
        showDriven(0);
        tick(60);
        steps(5);
        QCOMPARE(StatusFrm->gauge->progress(), 0);
        QCOMPARE(StatusFrm->gauge->percentDone(), 0);
        QCOMPARE(StatusFrm->TimeLeft->text(), QStringLiteral("600 Seconds Left"));
    }

    void negativeMaximumIsRefusedBeforeShowing() {
        try {
            StatusFrm->ShowStatus(QStringLiteral("Never shown"), -1);
            QFAIL("a negative maximum was accepted");
        } catch (const ControlError& e) {
            QCOMPARE(e.text(), QStringLiteral("Value must be between 1 and 2147483647"));
        }
        QVERIFY(!StatusFrm->isVisible());
        QVERIFY(!StatusFrm->StatusTimer->isActive());
        QVERIFY(!StatusFrm->AniMate->active());
        QVERIFY(StatusFrm->statuslabel->text() != QStringLiteral("Never shown"));
    }

    void animationContinuesWhereItStopped() {
        StatusFrm->ShowStatus(QStringLiteral("First"), 10);
        const int start = StatusFrm->AniMate->frameIndex();
        for (int i = 0; i < 4; ++i) {
            StatusFrm->AniMate->tick();
        }
        StatusFrm->HideStatus();
        StatusFrm->ShowStatus(QStringLiteral("Second"), 10);
        QCOMPARE(StatusFrm->AniMate->frameIndex(), (start + 4) % 19);
        QCOMPARE(StatusFrm->StatusTicks, 0);
        QCOMPARE(StatusFrm->TimeLeft->text(), QString());
    }

private:
    // The window under test, made once as start-up makes it.
    std::unique_ptr<TStatusFrm> StatusFrm;

    // Ticks of the window's clock, as the 100 ms timer would deliver them.
    void tick(int count) {
        for (int i = 0; i < count; ++i) {
            StatusFrm->StatusTimerTimer();
        }
    }

    // Shows the window and stops its real timer, so only the ticks the test gives count.
    void showDriven(int maximum) {
        StatusFrm->ShowStatus(QStringLiteral("Preparing Print Preview"), maximum);
        StatusFrm->StatusTimer->stop();
    }

    void steps(int count) {
        for (int i = 0; i < count; ++i) {
            StatusFrm->StepStatus();
        }
    }
};

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
