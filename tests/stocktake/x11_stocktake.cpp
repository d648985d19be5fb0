// Scanning as a USB scanner does it, on a real X server: each identifier typed by the X server's keyboard ten
// milliseconds a key, then Enter, into the Stock-take window, and read back as a person sees it: the answer's
// words, the colour painted behind them, the scan box empty and still holding the focus, and the scan in the
// register. The last scan is the payload of a printed label's QR code, as a decoder reads it from the page.
#include "tests/support/labelreading.h"
#include "tests/support/stocktakefixture.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// What a decoder reads from the QR code of the asset's label, printed as vnrdb prints labels.
QString labelPayload(const QString& registerPath, const QString& id, const QString& folder) {
    const QString pdf = folder + u"/label.pdf"_s;
    QProcess vnrdb;
    vnrdb.start(QStringLiteral(VNRDB_PATH), {u"labels"_s, registerPath, u"--to"_s, pdf, u"--ids"_s, id});
    if (!vnrdb.waitForFinished(60000) || vnrdb.exitCode() != 0) {
        return QString();
    }
    const std::vector<std::vector<DecodedSymbol>> page = decodeRegions(renderPdfPage(pdf, 1), {QRectF(0, 0, 210, 297)});
    for (const DecodedSymbol& s : page.front()) {
        if (s.type == u"QR-Code"_s) {
            return s.data;
        }
    }
    return QString();
}

} // namespace

class TestX11StockTake : public QObject {
    Q_OBJECT
    StockTakeFixture f;

private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == u"xcb"_s, "this test needs the X server");
        QVERIFY2(!QStandardPaths::findExecutable(u"xdotool"_s).isEmpty(), "xdotool is not installed");
        f.start();
    }

    void scansAreAnsweredAsAScannerTypesThem() {
        QVERIFY(f.beginWithAssets());
        const StockTake t = startRoom4(f.reg->side());
        // An identifier of ASCII: xdotool types a character the keyboard map lacks by changing the map for the
        // moment, which the toolkit may read too late, and an identifier that is not ASCII is matched by the
        // register as any other (stocktake_tst_stocktake).
        const QString payload = labelPayload(f.reg->path(), u"KLT1006"_s, f.reg->folder());
        QCOMPARE(payload, u"KLT1006"_s);
        StockTakeWindow& w = f.showWindow();
        f.openStockTake(t.name);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const struct {
            QString typed;
            QString answer;
            QRgb colour;
        } scans[] = {
            {u"KLT1001"_s, u"Found: KLT1001"_s, 0x2e8b3a},
            {u"klt1002"_s, u"Found: KLT1002"_s, 0x2e8b3a},
            {u" KLT1003 "_s, u"Found, but recorded at Hall: KLT1003"_s, 0xf0a020},
            {u"KLT1004"_s, u"Found, but written off: KLT1004"_s, 0xc0392b},
            {u"KLT1005"_s, u"Found, but not expected in this stock-take (group 2): KLT1005"_s, 0x2f6fb5},
            {u"kLT1001"_s, u"Already scanned: KLT1001"_s, 0x808080},
            {u"XYZ-42"_s, u"Unknown identifier: XYZ-42"_s, 0x8b0050},
            {u"KLT1007\t"_s, u"Found, but recorded at no location: KLT1007"_s, 0xf0a020}, // a Tab for Enter
            {payload, u"Found: KLT1006"_s, 0x2e8b3a},
        };
        for (const auto& s : scans) {
            QProcess scanner;
            scanner.start(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"10"_s, s.typed});
            QTRY_VERIFY(scanner.state() == QProcess::NotRunning);
            if (!s.typed.endsWith(u'\t')) {
                scanner.start(u"xdotool"_s, {u"key"_s, u"Return"_s});
            }
            QTRY_VERIFY2_WITH_TIMEOUT(w.answerLabel->text().startsWith(s.answer),
                                      qPrintable(w.answerLabel->text() + u" / typed: "_s + w.scanEdit->text()), 10000);
            QTRY_VERIFY(scanner.state() == QProcess::NotRunning);
            QCOMPARE(w.scanEdit->text(), QString());
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.scanEdit));
            const QPoint corner = w.answerLabel->mapToGlobal(QPoint(2, 2));
            QTRY_COMPARE(
                QGuiApplication::primaryScreen()->grabWindow(0, corner.x(), corner.y(), 1, 1).toImage().pixel(0, 0) &
                    0xffffff,
                s.colour);
        }
        QCOMPARE(latestScans(f.reg->side(), t, 100).size(), std::size(scans));
        QCOMPARE(w.countsLabel->text(), u"Found 3 of 4 expected"_s);
    }

    void cleanup() { f.finish(); }
};

QTEST_MAIN(TestX11StockTake)
#include "x11_stocktake.moc"
