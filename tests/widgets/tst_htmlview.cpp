// The page view: local pages with pictures beside them, the notice for a missing page, saving as a page
// or a PDF through the save dialog, and printing through the print dialog; a page with a long table shown
// a block of rows at a time, and the scan that finds where that table's rows lie.
#include "data/errors.h"
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"
#include "widgets/htmlscan.h"
#include "widgets/htmlview.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>
#include <QWidget>
#include <QtPrintSupport/QPrinter>

namespace {

const QColor kLogoColour(230, 20, 30);

// A view whose printing goes to a PDF file in place of the printer the dialog would have chosen,
// counting the pages sent.
class PdfPrintingView : public TextBrowserView {
public:
    explicit PdfPrintingView(QString pdf) : pdf_(std::move(pdf)) {}
    int printed = 0;
    std::function<void(QPrinter&)> choices; // what the user chose in the print dialog

protected:
    bool printTo(QPrinter& printer) override {
        ++printed;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf_);
        if (choices) {
            choices(printer);
        }
        return TextBrowserView::printTo(printer);
    }

private:
    QString pdf_;
};

// A page in the report's shape: a heading table with the logo, a long table of rows with a title row, and
// a footer. Data row i reads "Asset <i, five digits>"; from row 400 on the descriptions are longer, so a
// block of those rows laid out by itself would get other column widths.
QByteArray longPage(int rows) {
    QByteArray page = "<html><head><style type=\"text/css\">td { color: #202020; }</style></head><body>\r\n"
                      "<table width=\"100%\" border=\"0\"><tr><td><img src=\"logo.png\"></td>"
                      "<td><h1>Asset list</h1></td></tr></table>\r\n"
                      "<table align=\"center\" width=\"100%\" border=\"1\" cellpadding=\"0\" cellspacing=\"0\" "
                      "bordercolor=\"#333333\">\r\n<tr bgcolor=\"#CCCCCC\">\r\n"
                      "<td>\r\n<div align=\"center\"><strong>Asset ID</strong></div></td>\r\n"
                      "<td>\r\n<div align=\"center\"><strong>Description</strong></div></td>\r\n</tr>\r\n";
    for (int i = 0; i < rows; ++i) {
        const QByteArray number = QByteArray::number(i).rightJustified(5, '0');
        page += "<tr>\r\n";
        page += "<td><div align=\"center\">Asset " + number + "&nbsp;</div></td>\r\n";
        const QByteArray description = i < 400 ? "Oak chair " : "Oak chair with carved arms and a high back ";
        page += "<td><div align=\"center\">" + description + QByteArray(i % 7, 'x') + "&nbsp;</div></td>\r\n</tr>\r\n";
    }
    page += "</table>\r\n<hr>\r\n<p>End of the asset list</p>\r\n</body>\r\n</html>\r\n";
    return page;
}

QString assetText(int row) {
    return QStringLiteral("Asset %1").arg(row, 5, 10, QLatin1Char('0'));
}

// The data rows shown: how many of "Asset 00000", "Asset 00001", ... appear, each once and in order,
// before the first one missing; -1 when one appears twice or out of order.
int dataRowsInOrder(const QString& text) {
    qsizetype at = 0;
    int row = 0;
    for (;; ++row) {
        const qsizetype found = text.indexOf(assetText(row), at);
        if (found < 0) {
            break;
        }
        if (text.indexOf(assetText(row), found + 1) >= 0) {
            return -1;
        }
        at = found;
    }
    return text.indexOf(QStringLiteral("Asset "), at + 1) >= 0 && at > 0 ? -1 : row;
}

// The pages of a PDF file, counted from its page objects.
int pdfPages(const QByteArray& pdf) {
    return static_cast<int>(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page "));
}

int logoPixels(QWidget& widget) {
    const QImage shown = widget.grab().toImage();
    int pixels = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            pixels += shown.pixelColor(x, y) == kLogoColour ? 1 : 0;
        }
    }
    return pixels;
}

// The rectangle of the first cell's text in a table row, in document coordinates.
QRectF cellRect(QTextDocument& document, QTextTable& table, int row, int column) {
    return document.documentLayout()->blockBoundingRect(table.cellAt(row, column).firstCursorPosition().block());
}

// The bottom of the tallest cell text in a table row, in document coordinates.
qreal rowBottom(QTextDocument& document, QTextTable& table, int row) {
    qreal bottom = 0;
    for (int c = 0; c < table.columns(); ++c) {
        bottom = std::max(bottom, cellRect(document, table, row, c).bottom());
    }
    return bottom;
}

// Saves what view shows, the save dialog answered with name (and the file type chosen, when given).
void saveAs(TextBrowserView& view, const QString& name, const QString& fileType = QString()) {
    DialogScript::setNextFileName(name, fileType);
    view.saveAs();
}

// A view whose printing fails after the PDF file has been started, as a printer that stops half way does.
class FailingPdfView : public TextBrowserView {
protected:
    bool printTo(QPrinter& printer) override {
        writeFile(printer.outputFileName(), "%PDF-1.4 cut short");
        throw ControlError(QStringLiteral("Could not print the page"));
    }
};

double residentMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return statm.readAll().split(' ').value(1).toDouble() * 4096.0 / (1024.0 * 1024.0);
}

// The text of the row at a point of the view, or an empty string where the view shows no row yet.
QString rowAt(QTextBrowser& browser, QPoint point) {
    const QString text = browser.cursorForPosition(point).block().text();
    return text.startsWith(QStringLiteral("Asset ")) ? text : QString();
}

} // namespace

class TestHtmlView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() {
        DialogScript::reset();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QImage logo(60, 40, QImage::Format_RGB32);
        logo.fill(kLogoColour);
        QVERIFY(logo.save(dir_->filePath(QStringLiteral("logo.png"))));
        // An 8-bit page: "Caf\xe9" is Latin-1 and not valid UTF-8.
        pageBytes_ = QByteArray("<html><body><h1>Asset list</h1><p>Caf\xe9 chairs</p>"
                                "<p><img src=\"logo.png\"></p></body></html>\r\n");
        QVERIFY(writeFile(pagePath(), pageBytes_));
    }

    void cleanup() {
        QCOMPARE(DialogScript::pendingScript(), 0);
        QVERIFY(DialogScript::unexpectedModals().empty());
        dir_.reset();
    }

    void localPageShowsTextAndRelativePicture() {
        TextBrowserView view;
        view.navigate(address());
        QCOMPARE(view.currentAddress(), address());
        QVERIFY(view.documentText().contains(QStringLiteral("Caf\u00e9 chairs")));

        view.widget()->resize(400, 300);
        QVERIFY2(logoPixels(*view.widget()) >= 60 * 40 / 2, "the picture beside the page was not shown");
    }

    void missingPageShowsNotice() {
        TextBrowserView view;
        view.navigate(address());
        QString missing = QStringLiteral("file://") + dir_->filePath(QStringLiteral("nowhere.htm"));
        view.navigate(missing);
        QCOMPARE(view.currentAddress(), missing);
        QVERIFY(view.documentText().contains(QStringLiteral("cannot be found")));
        QVERIFY(!view.documentText().contains(QStringLiteral("Asset list")));
        QVERIFY(DialogScript::messages().empty());

        // Saving a missing page writes the notice shown, not the page shown before it.
        QString saved = dir_->filePath(QStringLiteral("notice.htm"));
        saveAs(view, saved);
        QVERIFY(readFile(saved).contains("cannot be found"));
    }

    void addressIsTakenLiterally() {
        // A folder name that a URL parser would read as a fragment and an escape.
        QString folder = dir_->filePath(QStringLiteral("Room #2 100%20"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(pagePath(), folder + QStringLiteral("/report.htm")));
        TextBrowserView view;
        view.navigate(QStringLiteral("file://") + folder + QStringLiteral("/report.htm"));
        QVERIFY(view.documentText().contains(QStringLiteral("Asset list")));

        // The same page through an encoded URL.
        view.navigate(QUrl::fromLocalFile(folder + QStringLiteral("/report.htm")).toString(QUrl::FullyEncoded));
        QVERIFY(view.documentText().contains(QStringLiteral("Asset list")));
    }

    // A page is saved as its original bytes, or as a PDF, over a file of that name, replaced whole. A name with its
    // own ending keeps it and its format; a name without one is saved in the file type chosen, with that type's
    // ending added.
    void saveAsFollowsTheFileTypeChosen_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fileType");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("pdf");
        const QString web = QStringLiteral("Web page (*.htm *.html)");
        const QString pdf = QStringLiteral("PDF (*.pdf)");
        QTest::newRow("none chosen, .htm typed") << "copy.htm" << QString() << "copy.htm" << false;
        QTest::newRow("PDF chosen, no ending") << "on-loan" << pdf << "on-loan.pdf" << true;
        QTest::newRow("web page chosen, no ending") << "on-loan" << web << "on-loan.htm" << false;
        QTest::newRow("PDF chosen, a dot in the name") << "loans.2026" << pdf << "loans.2026.pdf" << true;
        QTest::newRow("web page chosen, .pdf typed") << "list.pdf" << web << "list.pdf" << true;
        QTest::newRow("PDF chosen, .html typed") << "list.html" << pdf << "list.html" << false;
        QTest::newRow("web page chosen, .PDF typed") << "copy.PDF" << web << "copy.PDF" << true;
    }
    void saveAsFollowsTheFileTypeChosen() {
        QFETCH(QString, typed);
        QFETCH(QString, fileType);
        QFETCH(QString, written);
        QFETCH(bool, pdf);
        TextBrowserView view;
        view.navigate(address());
        QVERIFY(writeFile(dir_->filePath(written), QByteArray(4096, 'x')));
        saveAs(view, dir_->filePath(typed), fileType);
        const QByteArray bytes = readFile(dir_->filePath(written));
        QCOMPARE(bytes.startsWith("%PDF"), pdf);
        QCOMPARE(bytes == pageBytes_, !pdf);
        if (typed != written) {
            QVERIFY(!QFile::exists(dir_->filePath(typed)));
        }
    }

    // The save dialog opens where the last file went in this run; before that, or when that folder is gone, in
    // the user's documents folder, never in the register's hidden data folder.
    void fileDialogsOpenWhereTheLastFileWent() {
        QTemporaryDir home;
        const QByteArray previousHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Documents")));
        TextBrowserView view;
        view.navigate(address());
        const QString gone = home.filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(gone));
        saveAs(view, gone + QStringLiteral("/a.htm"));
        QCOMPARE(Dialogs::fileDialogFolder(), gone);
        QVERIFY(QDir(gone).removeRecursively());
        const QString documents = Dialogs::fileDialogFolder();
        saveAs(view, dir_->filePath(QStringLiteral("b.htm")));
        const QString afterSave = Dialogs::fileDialogFolder();
        qputenv("HOME", previousHome);
        QCOMPARE(documents, home.filePath(QStringLiteral("Documents")));
        QCOMPARE(afterSave, dir_->path());
    }

    void saveAsCancelledWritesNothing() {
        TextBrowserView view;
        view.navigate(address());
        QStringList before = QDir(dir_->path()).entryList(QDir::Files);
        view.saveAs(); // no name queued: the dialog is cancelled
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), before);
    }

    void saveAsUnwritableFileIsAnError() {
        TextBrowserView view;
        view.navigate(address());
        for (const QString& name : {QStringLiteral("copy.htm"), QStringLiteral("copy.pdf")}) {
            QString target = dir_->filePath(QStringLiteral("no such folder/") + name);
            QString text = errorOf([&] { saveAs(view, target); });
            QVERIFY2(text.contains(QDir::toNativeSeparators(target)), qPrintable(text));
            QVERIFY(!QFile::exists(target));
        }
    }

    void progressWindowIsAnsweredThroughTheSeam_data() {
        QTest::addColumn<int>("rows"); // of a long page; 0 for the short one; -1: the print fails
        QTest::addColumn<bool>("cancel");
        QTest::newRow("a print that fails") << -1 << false;
        QTest::newRow("long page, cancelled while it is laid out") << 1000 << true;
        QTest::newRow("short page, cancelled once its page is drawn") << 0 << true;
        QTest::newRow("long page, left to finish") << 1000 << false;
    }

    // A PDF saved over an existing one is written beside it and takes its place only when complete. The progress
    // window of a save as PDF is answered through the dialog seam. Cancelled, or when the print fails, the save
    // leaves the PDF it would have replaced as it was and nothing beside it; left alone, it replaces it. Without a
    // driver queued it is not shown at all (the first save).
    void progressWindowIsAnsweredThroughTheSeam() {
        QFETCH(int, rows);
        QFETCH(bool, cancel);
        const QString target = dir_->filePath(QStringLiteral("kept.pdf"));
        TextBrowserView view;
        view.navigate(address());
        saveAs(view, target);
        const QByteArray before = readFile(target);
        QVERIFY(before.startsWith("%PDF") && before.size() > 1000);
        if (rows > 0) {
            view.navigate(writePage(QStringLiteral("long.htm"), longPage(rows)));
        }
        const QStringList files = QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden);
        if (rows < 0) {
            FailingPdfView failing;
            failing.navigate(address());
            QCOMPARE(errorOf([&] { saveAs(failing, target); }), QStringLiteral("Could not print the page"));
            QCOMPARE(readFile(target), before);
            QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), files);
            return;
        }
        QString shownLabel;
        bool shown = false;
        DialogScript::setNextProgress([&](QProgressDialog& progress) {
            shownLabel = progress.labelText();
            shown = progress.isVisible();
            if (cancel) {
                progress.findChild<QPushButton*>()->click();
            }
        });
        saveAs(view, target);
        QVERIFY(shown);
        QCOMPARE(shownLabel, QStringLiteral("Saving the page as a PDF..."));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), files);
        const QByteArray after = readFile(target);
        if (cancel) {
            QCOMPARE(after, before);
        } else {
            QVERIFY(after.startsWith("%PDF"));
            QVERIFY(pdfPages(after) > pdfPages(before));
        }
    }

    // A long page shown whole holds a large document; cleared, the view gives that memory back to the system.
    void clearingGivesTheMemoryBack() {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("AddressSanitizer holds freed memory in its quarantine, so resident memory cannot fall back");
#endif
        const QString page = writePage(QStringLiteral("long.htm"), longPage(6000));
        TextBrowserView view;
        view.widget()->resize(600, 400);
        // Memory earlier tests freed is given back first, so the page's own memory shows.
        view.clear();
        const double before = residentMb();
        view.navigate(page);
        view.showWholePage();
        const double shown = residentMb();
        QVERIFY2(shown - before > 5, qPrintable(QStringLiteral("the page took only %1 MB").arg(shown - before)));
        view.clear();
        const double after = residentMb();
        QVERIFY2(
            after - before < 20,
            qPrintable(
                QStringLiteral("%1 MB before, %2 MB shown, %3 MB after clearing").arg(before).arg(shown).arg(after)));
        QCOMPARE(view.documentText().trimmed(), QString());
    }

    void printGoesWhereTheDialogSays_data() {
        QTest::addColumn<bool>("accepted");
        QTest::newRow("cancelled prints nothing") << false;
        QTest::newRow("accepted prints the page") << true;
    }
    void printGoesWhereTheDialogSays() {
        QFETCH(bool, accepted);
        QString pdf = dir_->filePath(QStringLiteral("printed.pdf"));
        PdfPrintingView view(pdf);
        view.navigate(address());
        DialogScript::setNextPrintAccepted(accepted);
        view.print();
        QCOMPARE(view.printed, accepted ? 1 : 0);
        QCOMPARE(QFile::exists(pdf), accepted);
        QCOMPARE(readFile(pdf).startsWith("%PDF"), accepted);
    }

    void scanFindsTheLongestTablesRows() {
        const QByteArray page = "<html><body><table><tr><td>a</td></tr></table>"
                                "<TABLE border=1>\n<TR><td>1</td></TR>\n<tr class=x><td>2</td></tr>\n"
                                "<tr><td><table><tr><td>n1</td></tr><tr><td>n2</td></tr></table></td></tr>\n"
                                "<Tr><td>4</td></Tr>\n<track><trx><thead>\n</Table><p>after</p></body></html>";
        const HtmlTableRows rows = findLongestTable(page);
        QCOMPARE(rows.rowStarts.size(), 4); // the nested table's two rows are its own
        QCOMPARE(rows.tableStart, page.indexOf("<TABLE"));
        QCOMPARE(rows.tableOpenEnd, page.indexOf("<TABLE border=1>") + qsizetype(16));
        QCOMPARE(rows.tableEnd, page.indexOf("</Table>"));
        const QList<qsizetype> expected = {page.indexOf("<TR>"), page.indexOf("<tr class=x>"),
                                           page.indexOf("<tr><td><table>"), page.indexOf("<Tr>")};
        QCOMPARE(rows.rowStarts, expected);
        QVERIFY(!rows.spansRows);

        // A table never closed runs to the end of the page.
        const QByteArray unclosed = "<table><tr><td>1</td></tr><tr><td>2";
        const HtmlTableRows open = findLongestTable(unclosed);
        QCOMPARE(open.rowStarts.size(), 2);
        QCOMPARE(open.tableEnd, unclosed.size());

        QCOMPARE(findLongestTable("<p>no table</p>").tableStart, qsizetype(-1));
        QVERIFY(findLongestTable(QByteArray()).rowStarts.isEmpty());
    }

    void scanSkipsCommentsStylesAndQuotedValues() {
        const QByteArray page = "<html><head><style>td:after { content: \"<tr>\"; } /* </table> */</style>"
                                "<script>var s = '<tr><tr>';</script></head><body><table>"
                                "<!-- <tr><td>commented</td></tr> -->"
                                "<tr title=\"a > b <tr>\"><td alt='<tr>'>1</td></tr>"
                                "<tr><td>2</td></tr></table></body></html>";
        const HtmlTableRows rows = findLongestTable(page);
        QCOMPARE(rows.rowStarts.size(), 2);
        QCOMPARE(rows.rowStarts.first(), page.indexOf("<tr title="));
        QCOMPARE(rows.tableEnd, page.lastIndexOf("</table>"));
    }

    void scanNotesTablesWithCellsAndRowSpans() {
        // QTextDocument drops a table without cells, so the scan leaves it out of the tables it counts.
        const QByteArray page = "<table></table><table><tr></tr></table>"
                                "<table><tr><td>a<table><tr><th>n</th></tr></table></td></tr>"
                                "<tr><td ROWSPAN=2>b</td></tr><tr><td>c</td></tr></table>";
        const HtmlTableRows rows = findLongestTable(page);
        QCOMPARE(rows.rowStarts.size(), 3);
        QVERIFY(rows.spansRows);
        const qsizetype outer = page.indexOf("<table><tr><td>a");
        const QList<qsizetype> expected = {outer, page.indexOf("<table>", outer + 1)};
        QCOMPARE(rows.tablesWithCells, expected);
        QTextDocument document;
        document.setHtml(QString::fromLatin1(page));
        int tables = 0;
        for (QTextFrame* frame : document.rootFrame()->childFrames()) {
            tables += qobject_cast<QTextTable*>(frame) ? 1 + static_cast<int>(frame->childFrames().size()) : 0;
        }
        QCOMPARE(tables, rows.tablesWithCells.size());
    }

    void tableOfUpToTheLimitIsShownWhole() {
        // The title row counts: kSplitRows rows in all are shown whole, one more is split.
        TextBrowserView view;
        view.navigate(writePage(QStringLiteral("limit.htm"), longPage(TextBrowserView::kSplitRows - 1)));
        QVERIFY(view.pageComplete());
        QCOMPARE(dataRowsInOrder(view.documentText()), TextBrowserView::kSplitRows - 1);

        view.navigate(writePage(QStringLiteral("over.htm"), longPage(TextBrowserView::kSplitRows)));
        QVERIFY(!view.pageComplete());
        QCOMPARE(dataRowsInOrder(view.documentText()), TextBrowserView::kFirstBlockRows - 1);
    }

    void longTableShowsItsFirstBlockWithFooterAndPicture() {
        TextBrowserView view;
        view.navigate(writePage(QStringLiteral("long.htm"), longPage(2000)));
        QVERIFY(!view.pageComplete());
        const QString text = view.documentText();
        QCOMPARE(dataRowsInOrder(text), TextBrowserView::kFirstBlockRows - 1);
        QVERIFY(!text.contains(assetText(1999)));
        QVERIFY(text.contains(QStringLiteral("Asset list")));
        QVERIFY(text.indexOf(QStringLiteral("End of the asset list")) > text.indexOf(assetText(298)));
        QCOMPARE(text.count(QStringLiteral("Description")), 1);

        // Shown but never scrolled: no more rows are brought in on their own.
        view.widget()->resize(500, 400);
        view.widget()->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.widget()));
        QTest::qWait(50);
        QCOMPARE(dataRowsInOrder(view.documentText()), TextBrowserView::kFirstBlockRows - 1);
        QVERIFY2(logoPixels(*view.widget()) >= 60 * 40 / 2, "the picture beside the page was not shown");
    }

    void scrollingLaysOutOnlyTheRowsNearTheView() {
        TextBrowserView view;
        QTextBrowser* browser = showLongPage(view);
        QVERIFY(browser);
        QScrollBar* bar = browser->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTest::qWait(50);
        QCOMPARE(dataRowsInOrder(view.documentText()), TextBrowserView::kFirstBlockRows - 1);

        bar->setValue(bar->maximum() / 2);
        QTRY_VERIFY(!rowAt(*browser, QPoint(20, 5)).isEmpty() && !rowAt(*browser, QPoint(20, 390)).isEmpty());
        QTest::qWait(50);
        const QString text = view.documentText();
        QVERIFY(!text.contains(assetText(500)));
        QVERIFY(!text.contains(assetText(1999)));
        QVERIFY(text.count(QStringLiteral("Asset ")) < 600);
    }

    // The document looks through its frames on every change, so a page whose blanks were a frame per block took
    // longer per block the longer it was: the rows waiting between two shown blocks stand in as one frame.
    void aLongPageStartsWithAsManyFramesAsAShortOne() {
        const auto framesAtOpening = [this](int rows) {
            TextBrowserView view;
            view.navigate(writePage(QStringLiteral("long%1.htm").arg(rows), longPage(rows)));
            return view.document()->rootFrame()->childFrames().size();
        };
        QCOMPARE(framesAtOpening(20000), framesAtOpening(2000));
    }

    void askingForTheEndShowsTheLastRowsAtOnce_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("End") << QStringLiteral("End");
        QTest::newRow("Ctrl+End") << QStringLiteral("Ctrl+End");
        QTest::newRow("scroll bar to the bottom") << QStringLiteral("bar");
    }
    void askingForTheEndShowsTheLastRowsAtOnce() {
        QFETCH(QString, how);
        TextBrowserView view;
        QTextBrowser* browser = showLongPage(view);
        QVERIFY(browser);
        QScrollBar* bar = browser->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        if (how == QLatin1String("bar")) {
            bar->triggerAction(QAbstractSlider::SliderToMaximum);
        } else {
            QTest::keyClick(browser, Qt::Key_End, how == QLatin1String("End") ? Qt::NoModifier : Qt::ControlModifier);
        }
        QTRY_VERIFY(view.documentText().contains(assetText(1999)));
        QTest::qWait(50);
        // The view stays at the end of the page, with the last row above the footer; the rows between were
        // never laid out.
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(browser->viewport()->rect().contains(browser->cursorRect(browser->document()->find(assetText(1999)))));
        const QString text = view.documentText();
        QVERIFY(text.indexOf(QStringLiteral("End of the asset list")) > text.indexOf(assetText(1999)));
        QVERIFY(!text.contains(assetText(1000)));

        view.showWholePage();
        QVERIFY(view.pageComplete());
        QCOMPARE(dataRowsInOrder(view.documentText()), 2000);
        QCOMPARE(view.documentText().count(QStringLiteral("Description")), 1);
    }

    void theViewStaysStillAsRowsAboveItComeIn() {
        // Rows from 400 on wrap, so their blocks are taller than the first block's rows led the view to expect.
        TextBrowserView view;
        QTextBrowser* browser = showLongPage(view, 320);
        QVERIFY(browser);
        QScrollBar* bar = browser->verticalScrollBar();
        QTest::keyClick(browser, Qt::Key_End, Qt::ControlModifier);
        QTRY_VERIFY(view.documentText().contains(assetText(1999)));
        int moved = 0;
        for (int step = 0; step < 40; ++step) {
            QTest::qWait(50);
            // Half a screen up is still laid out; the blocks within a screen above come in next.
            bar->setValue(bar->value() - bar->pageStep() / 2);
            const QString top = rowAt(*browser, QPoint(20, 20));
            QVERIFY(!top.isEmpty());
            QTest::qWait(50);
            moved += rowAt(*browser, QPoint(20, 20)) == top ? 0 : 1;
        }
        QCOMPARE(moved, 0);
    }

    void aClosedViewStopsBringingRowsIn() {
        TextBrowserView view;
        QTextBrowser* browser = showLongPage(view);
        QVERIFY(browser);
        QTest::keyClick(browser, Qt::Key_End, Qt::ControlModifier);
        browser->hide();
        QTest::qWait(200);
        QVERIFY(!view.documentText().contains(assetText(1999)));
        browser->show();
        QTRY_VERIFY(view.documentText().contains(assetText(1999)));
    }

    void appendedRowsContinueTheTable_data() {
        QTest::addColumn<bool>("shownFirst");
        QTest::newRow("rows brought in on screen") << true;
        QTest::newRow("rows brought in before the view is shown") << false;
    }
    void appendedRowsContinueTheTable() {
        QFETCH(bool, shownFirst);
        TextBrowserView view;
        view.navigate(writePage(QStringLiteral("long.htm"), longPage(700)));
        view.widget()->resize(600, 400);
        if (!shownFirst) {
            view.showWholePage();
        }
        view.widget()->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.widget()));
        QTextDocument& document = *view.document();
        const auto tablesShown = [&document] {
            QList<QTextTable*> tables;
            for (QTextFrame* frame : document.rootFrame()->childFrames()) {
                if (auto* table = qobject_cast<QTextTable*>(frame)) {
                    tables.append(table);
                }
            }
            return tables;
        };
        QList<QRectF> firstShown;
        for (int c = 0; c < 2; ++c) {
            firstShown.append(cellRect(document, *tablesShown().at(1), 1, c));
        }
        view.showWholePage();
        QVERIFY(view.pageComplete());
        // The heading's table, then the title row and 700 data rows in blocks.
        const QList<QTextTable*> blocks = tablesShown().mid(1);
        constexpr int rows = 701;
        constexpr int first = TextBrowserView::kFirstBlockRows;
        constexpr int block = TextBrowserView::kBlockRows;
        QCOMPARE(blocks.size(), 1 + (rows - first + block - 1) / block);
        QCOMPARE(blocks.first()->rows(), first);
        int total = 0;
        for (qsizetype b = 0; b < blocks.size(); ++b) {
            total += blocks[b]->rows();
            if (b > 0 && b + 1 < blocks.size()) {
                QCOMPARE(blocks[b]->rows(), block);
            }
        }
        QCOMPARE(total, rows);
        // Every column starts and ends where it does in the first block, and the gap between the text of the
        // rows either side of a seam is the gap between the text of two rows of one block. Shown first, the
        // first block keeps its columns where they were when the rows came in.
        for (int c = 0; c < 2; ++c) {
            if (shownFirst) {
                QCOMPARE(cellRect(document, *blocks.first(), 1, c), firstShown[c]);
            }
            const qreal gap = cellRect(document, *blocks.first(), 2, c).top() - rowBottom(document, *blocks.first(), 1);
            for (qsizetype b = 1; b < blocks.size(); ++b) {
                QTextTable& before = *blocks[b - 1];
                const QRectF above = cellRect(document, before, before.rows() - 1, c);
                const QRectF below = cellRect(document, *blocks[b], 0, c);
                QCOMPARE(below.left(), above.left());
                QCOMPARE(below.width(), above.width());
                QCOMPARE(below.top() - rowBottom(document, before, before.rows() - 1), gap);
                QCOMPARE(blocks[b]->format().border(), before.format().border());
            }
        }
    }

    void tableWithRowSpansIsShownWhole() {
        TextBrowserView view;
        QByteArray page = longPage(600);
        page.replace("<td><div align=\"center\">Asset 00450", "<td rowspan=\"2\"><div align=\"center\">Asset 00450");
        view.navigate(writePage(QStringLiteral("spans.htm"), page));
        QVERIFY(view.pageComplete());
        QVERIFY(view.documentText().contains(assetText(599)));
    }

    void savingALongPageWritesItsBytesAndPrintsEveryRow() {
        const QByteArray page = longPage(500);
        TextBrowserView view;
        view.navigate(writePage(QStringLiteral("long.htm"), page));
        QVERIFY(!view.pageComplete());
        const QString saved = dir_->filePath(QStringLiteral("copy.htm"));
        saveAs(view, saved);
        QCOMPARE(readFile(saved), page);

        const QString pdf = dir_->filePath(QStringLiteral("copy.pdf"));
        saveAs(view, pdf);
        // As many pages as the whole page laid out by itself takes, not the rows shown.
        QTextDocument whole;
        whole.setDefaultFont(view.document()->defaultFont());
        whole.setHtml(QString::fromLatin1(page));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir_->filePath(QStringLiteral("whole.pdf")));
        whole.print(&printer);
        const int expectedPages = pdfPages(readFile(printer.outputFileName()));
        QVERIFY(expectedPages > 1);
        QCOMPARE(pdfPages(readFile(pdf)), expectedPages);
        QVERIFY(!view.pageComplete()); // printing leaves the view as it was
    }

    void printingALongPagePrintsEveryRow_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("fromPage");
        QTest::addColumn<int>("toPage");
        QTest::addColumn<bool>("lastFirst");
        QTest::newRow("the first block and one more") << 500 << 0 << 0 << false;
        QTest::newRow("many blocks, the last one short") << 1234 << 0 << 0 << false;
        QTest::newRow("pages 2 to 3, last first") << 1234 << 2 << 3 << true;
    }

    // Every row is printed once, in order, across the seams between the blocks the page is printed in and
    // across page breaks; a page range and a reversed order print those pages only, in that order.
    void printingALongPagePrintsEveryRow() {
        QFETCH(int, rows);
        QFETCH(int, fromPage);
        QFETCH(int, toPage);
        QFETCH(bool, lastFirst);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty()) {
            QSKIP("pdftotext is not installed");
        }
        const auto textOf = [&](const QString& pdf, int page) {
            QProcess extract;
            QStringList arguments{pdf, QStringLiteral("-")};
            if (page > 0) {
                arguments << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
                          << QString::number(page);
            }
            extract.start(pdftotext, arguments);
            extract.waitForFinished(60000);
            return QString::fromUtf8(extract.readAllStandardOutput());
        };
        const QString whole = dir_->filePath(QStringLiteral("whole.pdf"));
        PdfPrintingView all(whole);
        all.navigate(writePage(QStringLiteral("long.htm"), longPage(rows)));
        DialogScript::setNextPrintAccepted(true);
        all.print();
        QCOMPARE(all.printed, 1);
        const QString text = textOf(whole, 0);
        QCOMPARE(dataRowsInOrder(text), rows);
        QVERIFY(text.indexOf(QStringLiteral("End of the asset list")) > text.indexOf(assetText(rows - 1)));
        if (fromPage == 0) {
            return;
        }
        const QString part = dir_->filePath(QStringLiteral("part.pdf"));
        PdfPrintingView some(part);
        some.navigate(writePage(QStringLiteral("long.htm"), longPage(rows)));
        some.choices = [&](QPrinter& printer) {
            printer.setFromTo(fromPage, toPage);
            printer.setPageOrder(lastFirst ? QPrinter::LastPageFirst : QPrinter::FirstPageFirst);
        };
        DialogScript::setNextPrintAccepted(true);
        some.print();
        QCOMPARE(pdfPages(readFile(part)), toPage - fromPage + 1);
        for (int n = 0; n <= toPage - fromPage; ++n) {
            QCOMPARE(textOf(part, n + 1), textOf(whole, lastFirst ? toPage - n : fromPage + n));
        }
    }

    void navigatingAwayWhileRowsArriveShowsTheNewPage() {
        TextBrowserView view;
        QVERIFY(showLongPage(view));
        QTest::keyClick(view.widget(), Qt::Key_End, Qt::ControlModifier);
        QTest::qWait(20);
        view.navigate(address());
        QVERIFY(view.pageComplete());
        QTest::qWait(50);
        QVERIFY(view.documentText().contains(QStringLiteral("Caf\u00e9 chairs")));
        QVERIFY(!view.documentText().contains(assetText(0)));

        // A long page shown again starts from its first block.
        view.navigate(writePage(QStringLiteral("long.htm"), longPage(2000)));
        QCOMPARE(dataRowsInOrder(view.documentText()), TextBrowserView::kFirstBlockRows - 1);
    }

private:
    QString pagePath() const {
        return dir_->filePath(QStringLiteral("report.htm"));
    }
    QString address() const {
        return QStringLiteral("file://") + pagePath();
    }

    // Shows view on a page of 2,000 rows, width wide, once the window is exposed; null when it is not.
    QTextBrowser* showLongPage(TextBrowserView& view, int width = 500) {
        view.navigate(writePage(QStringLiteral("long.htm"), longPage(2000)));
        auto* browser = static_cast<QTextBrowser*>(view.widget());
        browser->resize(width, 400);
        browser->show();
        return QTest::qWaitForWindowExposed(browser) ? browser : nullptr;
    }

    QString writePage(const QString& name, const QByteArray& bytes) {
        const QString path = dir_->filePath(name);
        return writeFile(path, bytes) ? QStringLiteral("file://") + path : QString();
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QByteArray pageBytes_;
};

QTEST_MAIN(TestHtmlView)
#include "tst_htmlview.moc"
