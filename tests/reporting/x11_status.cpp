// The status window as the X server shows it while a long report is written: grabbed from the screen (not
// drawn by the test), it must show its caption and a gauge, not a black or empty box.
#include "app/status.h"
#include "data/datamodule.h"
#include "registertool/demodata.h"
#include "reporting/reportwriter.h"
#include "tests/support/reportfixture.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

// How many different colours a part of a picture holds.
int coloursIn(const QImage& image, const QRect& part) {
    QSet<QRgb> colours;
    for (int y = part.top(); y <= part.bottom(); ++y) {
        for (int x = part.left(); x <= part.right(); ++x) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size();
}

// The share of pixels of a that differ from b by more than a little in any channel.
double differingShare(const QImage& a, const QImage& b) {
    int differ = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) > 24 || std::abs(p.green() - q.green()) > 24 ||
                std::abs(p.blue() - q.blue()) > 24) {
                ++differ;
            }
        }
    }
    return static_cast<double>(differ) / (a.width() * a.height());
}

} // namespace

class TestStatusOnScreen : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QSKIP("needs a real X server: run through tools/xtest.sh");
        }
        fx.start();
    }
    void statusWindowIsPaintedDuringALongReport();
    void inputMadeWhileHeldIsNeverActedOn();

private:
    ReportFixture fx;
};

void TestStatusOnScreen::statusWindowIsPaintedDuringALongReport() {
    QVERIFY(fx.begin());
    fillDemoRegister(fx.reg->path(), {.assets = 30000});
    fx.openRegister();
    TDBGrid grid(QStringLiteral("DBGrid1"), &fx.dm->mainsource);
    grid.setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 80},
                     {QStringLiteral("Description"), QString(), 200},
                     {QStringLiteral("Supplier"), QString(), 120}});

    TStatusFrm& status = *fx.StatusFrm;
    QImage onScreen;
    QImage drawn;
    int progressAtGrab = -1;
    // Grabbed once the report is well under way: a zero timer runs each time the status window lets events
    // through, so the grab comes within one of its steps of the tenth per cent however quick the report.
    QTimer grabber;
    grabber.setInterval(0);
    QObject::connect(&grabber, &QTimer::timeout, [&] {
        if (!onScreen.isNull() || status.gauge->percentDone() < 10) {
            return;
        }
        progressAtGrab = status.gauge->percentDone();
        const QRect frame = status.geometry();
        onScreen = status.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
        drawn = status.grab().toImage();
    });
    grabber.start();
    DialogScript::setNextModal([](QDialog& viewer) { viewer.close(); });
    fx.writer->ReportGridAsTable(QStringLiteral("Asset List"), grid);
    grabber.stop();

    QVERIFY2(!onScreen.isNull(), "the report ended before the status window could be grabbed");
    onScreen.save(QDir::temp().filePath(QStringLiteral("vantrel-status-grab.png")));
    QVERIFY(progressAtGrab >= 10 && progressAtGrab < 100);
    const QImage shown = onScreen.convertToFormat(QImage::Format_RGB32);
    const QImage expected = drawn.convertToFormat(QImage::Format_RGB32).scaled(shown.size());
    // The caption: the label's rectangle holds the letters' colour as well as the background's.
    QVERIFY2(coloursIn(shown, status.statuslabel->geometry()) > 4, "the caption is not on the screen");
    // The gauge: its two colours, a border and the percentage, not one flat colour.
    QVERIFY2(coloursIn(shown, status.gauge->geometry()) > 3, "the gauge is not on the screen");
    // And the screen shows what the window draws, give or take the gauge moving between the two grabs.
    const double share = differingShare(shown, expected);
    QVERIFY2(share < 0.15,
             qPrintable(QStringLiteral("%1 of the pixels differ from the window's own drawing").arg(share)));
}

// A click and a key the user makes while an operation holds the input, but which the program has not read
// from the X server by the time the operation ends, are dropped with the rest: they must not start work or
// close the window that opens next.
void TestStatusOnScreen::inputMadeWhileHeldIsNeverActedOn() {
    QWidget window;
    auto* go = new QPushButton(QStringLiteral("GO"), &window);
    auto* typed = new QLineEdit(&window);
    typed->move(0, 40);
    window.setGeometry(0, 0, 200, 80); // clear of the status window, which stands in the screen's centre
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int clicks = 0;
    QObject::connect(go, &QPushButton::clicked, [&clicks] { ++clicks; });
    const QString id = QString::number(window.winId());
    QCOMPARE(
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id}),
        0);
    typed->setFocus();
    QTRY_VERIFY(typed->hasFocus());

    TStatusFrm& status = *fx.StatusFrm;
    status.ShowStatus(QStringLiteral("Preparing Print Preview"), 10);
    // Sent through the X server while the input is held, and not read before the hold ends.
    const QPoint centre = go->mapTo(&window, go->rect().center());
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                               {QStringLiteral("mousemove"), QStringLiteral("--window"), id,
                                QString::number(centre.x()), QString::number(centre.y()), QStringLiteral("click"),
                                QStringLiteral("1"), QStringLiteral("key"), QStringLiteral("x")}),
             0);
    status.HideStatus();
    QTest::qWait(300);
    QCOMPARE(clicks, 0);
    QCOMPARE(typed->text(), QString());

    // Made once the hold has ended, the same input is acted on.
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("x")}), 0);
    QTRY_COMPARE(typed->text(), QStringLiteral("x"));
}

QTEST_MAIN(TestStatusOnScreen)
#include "x11_status.moc"
