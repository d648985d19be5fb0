// The "Current List" report of 10,000 and 100,000 assets: from the print choice's OK button to the page
// painted in the viewer, split into writing and showing, beside the same page's lines written through
// WriteReportLine, written with an open, append and close per line, and written in one buffered write.
// It also times reaching the end of the page (Ctrl+End pressed in the view until its last rows are shown)
// and, for pages of up to kPdfRows rows, saving the page as a PDF, each beside the page laid out or printed
// whole as one text document.
#include "app/session.h"
#include "app/status.h"
#include "bench/benchutil.h"
#include "data/datamodule.h"
#include "reporting/print.h"
#include "reporting/reporter.h"
#include "reporting/reportwriter.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/htmlview.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr int kPdfRows = 10000;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> linesOf(const QByteArray& page) {
    QList<QByteArray> lines = page.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (QByteArray& l : lines) {
        l.chop(1); // the CR
    }
    return lines;
}

// Notes the moment the viewer starts to show, which is when the producer has finished writing.
class ShowClock : public QObject {
public:
    explicit ShowClock(const QElapsedTimer& clock) : clock_(clock) {}
    double shownAtMs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            shownAtMs = bench::msSince(clock_);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& clock_;
};

struct Measure {
    double okToLoadedMs = 0;     // OK to the page laid out and painted in the viewer
    double writingMs = 0;        // OK to the viewer starting to show
    double loadMs = 0;           // loading the page again into the view
    double toEndMs = -1;         // Ctrl+End pressed to the last rows shown in the view
    double longestPassMs = 0;    // the longest the event loop was kept busy meanwhile
    double wholeLayoutMs = -1;   // the whole page laid out in one document at the view's width
    double pdfMs = -1;           // Save as PDF of the whole page
    double wholePdfMs = -1;      // the whole page printed to PDF as one document
    double residentBeforeMb = 0; // resident memory before OK
    double residentAfterMb = 0;  // and after Dismiss
    qint64 pageBytes = 0;
    int pageLines = 0;
};

// Lets pending layout and painting happen, so the page is on screen as the user would see it.
void paintNow(QWidget& window) {
    QCoreApplication::processEvents();
    window.repaint();
}

// Presses OK on "Current List" and times until the viewer has painted the page; then times loading it
// again, bringing every row in, and for a page of up to kPdfRows rows, saving it as a PDF.
Measure currentList(Tprintfrm& choice, Treporterfrm& viewerWindow, const ReportWriter& writer, int rows,
                    const QString& pdf, const QString& pageCopy) {
    Measure m;
    int viewWidth = 0;
    QElapsedTimer clock;
    ShowClock shown(clock);
    viewerWindow.installEventFilter(&shown);
    DialogScript::setNextModal([&](QDialog& dialog) {
        dialog.findChild<QRadioButton*>(QStringLiteral("CurrentListItem"))->click();
        // What earlier measurements freed is given back first, so the figure is the program's own.
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        m.residentBeforeMb = bench::residentMb();
        clock.start();
        dialog.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
    DialogScript::setNextModal([&](QDialog& viewer) {
        paintNow(viewer);
        m.okToLoadedMs = bench::msSince(clock);
        // A copy of the page is kept on disk, not in memory, so the memory measured after Dismiss is the
        // program's own.
        QFile::remove(pageCopy);
        QFile::copy(writer.ReportFilePath(), pageCopy);
        m.pageBytes = QFileInfo(pageCopy).size();
        const QString address = viewerWindow.web->currentAddress();
        QElapsedTimer load;
        load.start();
        viewerWindow.web->navigate(address);
        paintNow(viewer);
        m.loadMs = bench::msSince(load);
        QElapsedTimer end;
        end.start();
        QWidget* view = viewerWindow.web->widget();
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        const auto atEnd = [view] {
            const QScrollBar* bar = static_cast<QAbstractScrollArea*>(view)->verticalScrollBar();
            return bar->value() == bar->maximum();
        };
        while (!viewerWindow.web->viewSettled() || !atEnd()) {
            QElapsedTimer pass;
            pass.start();
            QCoreApplication::processEvents();
            m.longestPassMs = std::max(m.longestPassMs, bench::msSince(pass));
        }
        paintNow(viewer);
        m.toEndMs = bench::msSince(end);
        if (rows <= kPdfRows) {
            QElapsedTimer save;
            save.start();
            DialogScript::setNextFileName(pdf);
            viewer.findChild<QToolButton*>(QStringLiteral("ToolButton1"))->click();
            m.pdfMs = bench::msSince(save);
        }
        viewWidth = view->width();
        viewer.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
    });
    Dialogs::showModal(choice);
    m.residentAfterMb = bench::residentMb();
    viewerWindow.removeEventFilter(&shown);
    m.writingMs = shown.shownAtMs;
    if (rows <= kPdfRows) {
        // The baselines, after the memory is read: the page laid out whole, as a plain text browser has to
        // before it can show the end, and printed to PDF as one document, the text document's own way.
        QTextDocument whole;
        whole.setDefaultFont(viewerWindow.web->document()->defaultFont());
        QElapsedTimer layout;
        layout.start();
        whole.setHtml(QString::fromLatin1(readAll(pageCopy)));
        whole.setTextWidth(viewWidth);
        whole.documentLayout()->documentSize();
        m.wholeLayoutMs = bench::msSince(layout);
        QElapsedTimer print;
        print.start();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf + QStringLiteral(".whole.pdf"));
        whole.print(&printer);
        m.wholePdfMs = bench::msSince(print);
    }
    return m;
}

// The page's lines through the writer, as a producer writes them.
double writerMs(ReportWriter& writer, const QList<QByteArray>& lines) {
    return bench::medianMs(3, [&] {
        writer.BeginReport(QStringLiteral("Asset List"), QStringLiteral("s"));
        for (const QByteArray& l : lines) {
            writer.WriteReportLine(QString::fromLatin1(l));
        }
        writer.EndReport();
        QFile::remove(writer.ReportFilePath());
    });
}

// The same lines with the file opened for appending, written and closed for every line.
double openClosePerLineMs(const QList<QByteArray>& lines, const QString& path) {
    return bench::medianMs(3, [&] {
        QFile::remove(path);
        for (const QByteArray& l : lines) {
            QFile f(path);
            f.open(QIODevice::WriteOnly | QIODevice::Append);
            f.write(l);
            f.write("\r\n", 2);
            f.close();
        }
    });
}

double oneWriteMs(const QByteArray& page, const QString& path) {
    return bench::medianMs(3, [&] {
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(page);
        f.close();
    });
}

} // namespace

int main(int argc, char** argv) {
    bench::prepareApplication();
    QApplication app(argc, argv);
    DialogScript::enable();
    QTemporaryDir programDir;
    Session session;
    session.ProgramFolder = bench::programFolder(programDir.path());
    if (!session.CheckReportFiles()) {
        std::fprintf(stderr, "report templates not found in %s\n", qPrintable(bench::reportsSource()));
        return 1;
    }
    TStatusFrm status;
    Treporterfrm viewer(nullptr);
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");

    std::printf("%-7s %6s %9s %10s %9s %9s %9s | %9s %9s %7s %8s | %9s %9s %7s | %9s %9s %9s %7s %7s | %8s %8s\n",
                "assets", "rows", "page MB", "OK->shown", "writing", "showing", "reload", "to end", "whole lay",
                "end/wh", "longest", "PDF", "whole PDF", "pdf/wh", "writer", "open/line", "one write", "w/one", "o/one",
                "RSS bef", "RSS aft");
    // Sizes may be given on the command line; by default both.
    QList<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.append(QString::fromLocal8Bit(argv[i]).toInt());
    }
    if (sizes.isEmpty()) {
        sizes = {10000, 100000};
    }
    for (int n : sizes) {
        const QString path = bench::demoRegister(folder, n);
        DataModule dm;
        dm.ADOConnection1.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        dm.GroupsTable.open();
        dm.SystemTable.open();
        dm.mainquery.open();
        ReportWriter writer(session, dm.SystemTable, status, viewer);
        // The main list as the main window shows it: seven titled columns, on screen.
        TDBGrid grid(QStringLiteral("DBGrid1"), &dm.mainsource);
        grid.setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 90},
                         {QStringLiteral("Make"), QStringLiteral("Make"), 90},
                         {QStringLiteral("Model"), QStringLiteral("Model"), 90},
                         {QStringLiteral("SerialNumber"), QStringLiteral("Serial"), 90},
                         {QStringLiteral("Description"), QStringLiteral("Description"), 160},
                         {QStringLiteral("Supplier"), QStringLiteral("Supplier"), 110},
                         {QStringLiteral("OrderNumber"), QStringLiteral("Order"), 90}});
        grid.resize(800, 500);
        grid.show();
        Tprintfrm choice(nullptr, grid, writer);

        const QString pageCopy = programDir.filePath(QStringLiteral("page.htm"));
        const Measure m = currentList(choice, viewer, writer, dm.mainquery.recordCount(),
                                      programDir.filePath(QStringLiteral("page.pdf")), pageCopy);
        const QByteArray page = readAll(pageCopy);
        const QList<QByteArray> lines = linesOf(page);
        const QString scratch = programDir.filePath(QStringLiteral("scratch.htm"));
        const double writerTime = writerMs(writer, lines);
        const double perLine = openClosePerLineMs(lines, scratch);
        const double once = oneWriteMs(page, scratch);
        const auto optionalMs = [](double ms) {
            return ms < 0 ? QByteArray("-") : QByteArray::number(ms, 'f', 0) + "ms";
        };
        const auto ratio = [](double a, double b) {
            return a < 0 || b <= 0 ? QByteArray("-") : QByteArray::number(a / b, 'f', 3) + "x";
        };
        std::printf("%-7d %6d %9.1f %8.0fms %7.0fms %7.0fms %7.0fms | %9s %9s %7s %6.0fms | %9s %9s %7s | %7.0fms "
                    "%7.0fms %7.0fms %6.1fx %6.1fx | %6.0fMB %6.0fMB\n",
                    n, dm.mainquery.recordCount(), static_cast<double>(m.pageBytes) / (1024.0 * 1024.0), m.okToLoadedMs,
                    m.writingMs, m.okToLoadedMs - m.writingMs, m.loadMs, optionalMs(m.toEndMs).constData(),
                    optionalMs(m.wholeLayoutMs).constData(), ratio(m.toEndMs, m.wholeLayoutMs).constData(),
                    m.longestPassMs, optionalMs(m.pdfMs).constData(), optionalMs(m.wholePdfMs).constData(),
                    ratio(m.pdfMs, m.wholePdfMs).constData(), writerTime, perLine, once, writerTime / once,
                    perLine / once, m.residentBeforeMb, m.residentAfterMb);
        std::fflush(stdout);
    }
    return 0;
}
