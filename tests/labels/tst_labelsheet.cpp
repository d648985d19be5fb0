// Labels as produced: every label of every preset read back by an independent decoder, the frames measured
// from the PDF against the stocks' geometry, a part-used sheet, the print offset, and the runs refused.
#include "labels/labelsheet.h"
#include "labels/symbols.h"
#include "tests/support/labelreading.h"

#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(LabelStock)
Q_DECLARE_METATYPE(LabelJob)

namespace {

const QStringList kIdentifiers{u"KLT1001"_s, u"SŁ1002"_s, u"資産1003"_s};

LabelAsset assetFor(const QString& id) {
    LabelAsset a;
    a.id = id;
    a.group = u"Computers"_s;
    a.description = u"Laptop 14\" ultrabook with its charger and a case"_s;
    a.electrical = true;
    a.lastCheck = QDate(2025, 3, 12);
    return a;
}

std::vector<LabelAsset> assetsFor(const QStringList& ids) {
    std::vector<LabelAsset> assets;
    for (const QString& id : ids) {
        assets.push_back(assetFor(id));
    }
    return assets;
}

// n identifiers KLT1001, KLT1002, ...
QStringList numbered(int n) {
    QStringList ids;
    for (int i = 1; i <= n; ++i) {
        ids << u"KLT%1"_s.arg(1000 + i);
    }
    return ids;
}

bool isAscii(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString describe(const QRectF& r) {
    return u"%1,%2 %3x%4"_s.arg(r.x(), 0, 'f', 3)
        .arg(r.y(), 0, 'f', 3)
        .arg(r.width(), 0, 'f', 3)
        .arg(r.height(), 0, 'f', 3);
}

bool near(const QRectF& a, const QRectF& b, double tolerance) {
    return std::abs(a.left() - b.left()) <= tolerance && std::abs(a.top() - b.top()) <= tolerance &&
           std::abs(a.right() - b.right()) <= tolerance && std::abs(a.bottom() - b.bottom()) <= tolerance;
}

} // namespace

class TestLabelSheet : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int labelsRead_ = 0;
    int qrDecoded_ = 0;
    int codeDecoded_ = 0;

    QString print(const LabelSheet& sheet, const QString& name) {
        const QString path = dir_.filePath(name + u".pdf"_s);
        QPdfWriter pdf(path);
        if (!sheet.print(pdf, [](int, int) { return true; })) {
            return QString();
        }
        return path;
    }

    static LabelJob jobOn(const QString& stock) {
        LabelJob job;
        job.stock = *presetStock(stock);
        job.company = u"Kelvin Lane Trust"_s;
        return job;
    }

private slots:
    void cleanupTestCase() {
        qInfo("read back %d labels: %d QR codes and %d Code 128 symbols decoded", labelsRead_, qrDecoded_,
              codeDecoded_);
    }

    void everyLabelReadsBackAsItsIdentifier_data() {
        QTest::addColumn<QString>("stock");
        for (const LabelStock& s : presetStocks()) {
            QTest::newRow(qPrintable(s.key)) << s.key;
        }
    }
    // zbarimg, reading pdftoppm's 300 dpi raster of each label alone, gives back exactly its identifier: in the
    // QR code always, in UTF-8 where it is not ASCII, and in the Code 128 symbol where Code 128 carries it. The
    // narrow portrait roll has no room for a readable Code 128 symbol (see runsThatCannotBePrintedAreRefused).
    void everyLabelReadsBackAsItsIdentifier() {
        QFETCH(QString, stock);
        LabelJob job = jobOn(stock);
        job.content.code128 = stock != u"roll-25x54"_s;
        job.content.company = true;
        const LabelSheet sheet(job, assetsFor(kIdentifiers));
        QVERIFY2(sheet.problems().isEmpty(), qPrintable(sheet.problems().join(u'\n')));
        if (job.content.code128) {
            QCOMPARE(sheet.notes().size(), 2);
            QVERIFY2(sheet.notes()[0].startsWith(u"SŁ1002 has no Code 128 symbol: Code 128 carries only ASCII"_s) &&
                         sheet.notes()[0].contains(u"'Ł'"_s),
                     qPrintable(sheet.notes()[0]));
        }
        const QString pdf = print(sheet, stock);
        QVERIFY(!pdf.isEmpty());

        const int perPage = job.stock.perPage();
        QImage page;
        for (int i = 0; i < kIdentifiers.size(); ++i) {
            if (i % perPage == 0) {
                page = renderPdfPage(pdf, i / perPage + 1);
                QVERIFY(!page.isNull());
            }
            const auto decoded = decodeRegions(page, {job.stock.labelRect(i % perPage)});
            QStringList got;
            for (const DecodedSymbol& d : decoded[0]) {
                got << d.type + u':' + d.data;
                qrDecoded_ += d.type == u"QR-Code"_s;
                codeDecoded_ += d.type == u"CODE-128"_s;
            }
            got.sort();
            const QString& id = kIdentifiers[i];
            QStringList expected{u"QR-Code:"_s + id};
            if (job.content.code128 && isAscii(id)) {
                expected.prepend(u"CODE-128:"_s + id);
            }
            QCOMPARE(got, expected);
            ++labelsRead_;
        }
    }

    void framesLieOnTheStocksGeometry_data() {
        QTest::addColumn<LabelStock>("stock");
        for (const LabelStock& s : presetStocks()) {
            QTest::newRow(qPrintable(s.key)) << s;
        }
        QTest::newRow("custom") << customStock({210, 297}, 4, 10, {48.5, 25.4}, 2, 3, 6.5, 10);
        QTest::newRow("tape cut at 45 mm") << tapeStock(45);
    }
    // Measured from the PDF: the page is the stock's, and every label's frame lies within 0.2 mm of where the
    // stock puts that label.
    void framesLieOnTheStocksGeometry() {
        QFETCH(LabelStock, stock);
        LabelJob job;
        job.stock = stock;
        job.outlines = true;
        const int labels = stock.roll ? 2 : stock.perPage();
        const LabelSheet sheet(job, assetsFor(numbered(labels)));
        QVERIFY2(sheet.problems().isEmpty(), qPrintable(sheet.problems().join(u'\n')));
        const std::vector<PdfPage> pages = readPdfPages(print(sheet, u"geometry"_s));
        QCOMPARE(int(pages.size()), stock.roll ? labels : 1);
        std::vector<QRectF> frames;
        for (const PdfPage& p : pages) {
            QVERIFY2(std::abs(p.mm.width() - stock.page.width()) <= 0.2 &&
                         std::abs(p.mm.height() - stock.page.height()) <= 0.2,
                     qPrintable(u"page %1 x %2 mm"_s.arg(p.mm.width()).arg(p.mm.height())));
            for (const QRectF& f : strokedRectangles(p)) {
                frames.push_back(f);
            }
        }
        QCOMPARE(int(frames.size()), labels);
        for (int i = 0; i < labels; ++i) {
            const QRectF expected = stock.labelRect(stock.roll ? 0 : i);
            QVERIFY2(near(frames[size_t(i)], expected, 0.2),
                     qPrintable(u"label %1 framed at %2, expected %3"_s.arg(i + 1).arg(describe(frames[size_t(i)]),
                                                                                       describe(expected))));
        }
    }

    // A sheet started at label 17 leaves 1 to 16 blank, and the labels printed read back where they stand.
    void startingAtSeventeenLeavesTheFirstSixteenBlank() {
        LabelJob job = jobOn(u"a4-65"_s);
        job.start = 17;
        job.outlines = true;
        const QStringList ids = numbered(3);
        const LabelSheet sheet(job, assetsFor(ids));
        QCOMPARE(sheet.pageCount(), 1);
        const QString pdf = print(sheet, u"start17"_s);
        const std::vector<QRectF> frames = strokedRectangles(readPdfPages(pdf).at(0));
        QCOMPARE(int(frames.size()), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(near(frames[size_t(i)], job.stock.labelRect(16 + i), 0.2),
                     qPrintable(describe(frames[size_t(i)])));
        }
        const QImage page = renderPdfPage(pdf, 1);
        for (int position = 0; position < 16; ++position) {
            QVERIFY2(regionIsBlank(page, job.stock.labelRect(position)), qPrintable(u"label %1"_s.arg(position + 1)));
        }
        const auto decoded =
            decodeRegions(page, {job.stock.labelRect(16), job.stock.labelRect(17), job.stock.labelRect(18)});
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(decoded[size_t(i)].size(), size_t(1));
            QCOMPARE(decoded[size_t(i)][0].data, ids[i]);
            ++labelsRead_;
            ++qrDecoded_;
        }
    }

    // The offset moves every shape and every line of text by exactly the offset, and changes nothing else.
    void theOffsetMovesEverythingByExactlyTheOffset() {
        LabelJob job = jobOn(u"a4-24"_s);
        job.content = {true, true, true, true, true};
        job.outlines = true;
        job.copies = 2;
        const std::vector<LabelAsset> assets = assetsFor({u"KLT1001"_s, u"KLT1002"_s});
        const std::vector<PdfShape> plain = readPdfPages(print(LabelSheet(job, assets), u"plain"_s)).at(0).shapes;
        job.offset = QPointF(1.5, -0.8);
        const std::vector<PdfShape> moved = readPdfPages(print(LabelSheet(job, assets), u"moved"_s)).at(0).shapes;
        QCOMPARE(moved.size(), plain.size());
        QVERIFY(plain.size() > 100);
        for (size_t i = 0; i < plain.size(); ++i) {
            QCOMPARE(moved[i].kind, plain[i].kind);
            const QRectF expected = plain[i].mm.translated(1.5, -0.8);
            QVERIFY2(near(moved[i].mm, expected, 0.001), qPrintable(u"shape %1 at %2, expected %3"_s.arg(i).arg(
                                                             describe(moved[i].mm), describe(expected))));
        }
    }

    void runsThatCannotBePrintedAreRefused_data() {
        QTest::addColumn<LabelJob>("job");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char* name, const LabelJob& job, const QStringList& ids, const QString& problem) {
            QTest::newRow(name) << job << ids << problem;
        };
        const QStringList one{u"KLT1001"_s};
        LabelJob j = jobOn(u"a4-24"_s);
        j.stock = customStock({210, 297}, 3, 8, {70, 33.9}, 2.5, 0, 7.2, 12.9);
        row("too wide for the page", j, one,
            u"The labels do not fit across the page: 3 columns of 70 mm with gaps of 2.5 mm from a left margin of "
            "7.2 mm reach 222.2 mm, and the page is 210 mm wide."_s);
        j.stock = customStock({210, 297}, 3, 9, {63.5, 33.9}, 2.5, 0, 7.2, 12.9);
        row("too tall for the page", j, one, u"The labels do not fit down the page: 9 rows"_s);
        j.stock = customStock({210, 297}, 3, 8, {0, 33.9}, 2.5, 0, 7.2, 12.9);
        row("zero width", j, one, u"The label width must be more than 0 mm; it is 0 mm."_s);
        j.stock = customStock({210, -297}, 3, 8, {63.5, 33.9}, 2.5, 0, 7.2, 12.9);
        row("negative page", j, one, u"The page height must be more than 0 mm; it is -297 mm."_s);
        j.stock = customStock({210, 297}, 3, 8, {63.5, 33.9}, -1, 0, 7.2, 12.9);
        row("negative gap", j, one, u"The gap between columns must be 0 mm or more; it is -1 mm."_s);
        j.stock = customStock({210, 297}, 0, 8, {63.5, 33.9}, 2.5, 0, 7.2, 12.9);
        row("no columns", j, one, u"There must be 1 to 100 columns; there are 0."_s);
        j.stock = tapeStock(0);
        row("tape cut at nothing", j, one, u"The length the tape is cut at must be more than 0 mm; it is 0 mm."_s);
        j = jobOn(u"a4-65"_s);
        j.copies = 10000;
        row("10,000 copies", j, one, u"Each asset may have 1 to 1,000 labels; 10,000 were asked for."_s);
        j = jobOn(u"a4-65"_s);
        j.start = 66;
        row("start past the sheet", j, one,
            u"A page of this stock holds 65 labels, so labels start at 1 to 65; 66 was given."_s);
        j = jobOn(u"a4-65"_s);
        j.offset = QPointF(0, 400);
        row("offset off the page", j, one, u"The print offset of 0, 400 mm moves the labels off"_s);
        j.stock = customStock({210, 297}, 10, 20, {8, 8}, 2, 2, 5, 5);
        j.offset = QPointF();
        row("too small for a QR code", j, one,
            u"Labels of 8 x 8 mm are too small for a readable QR code of KLT1001: its modules would be 0.14 mm, "
            "and scanners need 0.25 mm at least. Choose larger labels."_s);
        j = jobOn(u"roll-25x54"_s);
        j.content.code128 = true;
        row("too narrow for Code 128", j, one,
            u"Labels of 25 x 54 mm are too narrow for a readable Code 128 symbol of KLT1001"_s);
        j = jobOn(u"a4-65"_s);
        j.content.code128 = true;
        row("too narrow for Code 128 even across the label", j, QStringList{u"KLT1000001"_s},
            u"Labels of 38.1 x 21.2 mm are too narrow for a readable Code 128 symbol of KLT1000001: its bars would "
            "be 0.24 mm, and scanners need 0.25 mm at least."_s);
        j = jobOn(u"letter-80"_s);
        j.content = {true, true, true, true, true};
        row("no room for the text", j, one, u"Labels of 44.45 x 12.7 mm have no room for the text"_s);
        j = jobOn(u"a4-65"_s);
        row("identifier too long", j, QStringList{u"KLT-STORES-BASEMENT-SHELF-0042"_s},
            u"The identifier KLT-STORES-BASEMENT-SHELF-0042 is too long to print on labels of 38.1 x 21.2 mm."_s);
        row("no assets", j, QStringList(), u"There are no assets to print labels for."_s);
        row("no identifier", j, QStringList{QString()}, u"1 of the assets chosen has no identifier"_s);
    }
    // Each says what is wrong in the user's terms; the sheet then has no layout to draw with.
    void runsThatCannotBePrintedAreRefused() {
        QFETCH(LabelJob, job);
        QFETCH(QStringList, ids);
        QFETCH(QString, problem);
        const LabelSheet sheet(job, assetsFor(ids));
        QVERIFY2(!sheet.problems().isEmpty() && sheet.problems().join(u'\n').contains(problem),
                 qPrintable(sheet.problems().join(u'\n')));
    }

    // Stopped after its first page, a run abandons the device before the painter ends, and draws no more.
    void aStoppedRunAbandonsItsDevice() {
        const LabelSheet sheet(jobOn(u"roll-57x32"_s), assetsFor(numbered(3)));
        QPdfWriter pdf(dir_.filePath(u"stopped.pdf"_s));
        int pagesSeen = 0;
        int abandoned = 0;
        QVERIFY(!sheet.print(
            pdf, [&](int done, int) { return ++pagesSeen, done < 1; }, [&] { ++abandoned; }));
        QCOMPARE(pagesSeen, 1);
        QCOMPARE(abandoned, 1);
    }

    // The size check needs no mask; the symbols printed have the size it found, quiet zones included.
    void symbolsAreMeasuredAsTheyAreMade_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << u"KLT1001"_s;
        QTest::newRow("non-ASCII") << u"SŁ1002"_s;
        QTest::newRow("long") << u"KLT-STORES-BASEMENT-SHELF-0042-EAST-WING"_s;
    }
    void symbolsAreMeasuredAsTheyAreMade() {
        QFETCH(QString, text);
        const Symbol qr = qrSymbol(text);
        QCOMPARE(qr.width, qrModules(text));
        QCOMPARE(qr.height, qr.width);
        QRectF dark;
        for (const QRectF& r : qr.dark) {
            dark = dark.isNull() ? r : dark.united(r);
        }
        QCOMPARE(dark, QRectF(kQrQuietZone, kQrQuietZone, qr.width - 2 * kQrQuietZone, qr.width - 2 * kQrQuietZone));
        if (code128Refusal(text).isEmpty()) {
            const Symbol code = code128Symbol(text);
            QCOMPARE(code.width, code128Modules(text));
            QCOMPARE(code.dark.front().x(), double(kCode128QuietZone));
            QCOMPARE(code.dark.back().right(), double(code.width - kCode128QuietZone));
        }
    }
};

QTEST_MAIN(TestLabelSheet)
#include "tst_labelsheet.moc"
