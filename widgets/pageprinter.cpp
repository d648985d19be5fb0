// Printing a page. A page is printed in pieces when its long table is cut into blocks (pageblocks.h): the
// page up to the first block's rows, then a block of rows each, every piece parsed and laid out as a
// document of its own, on as many threads as the machine has cores (up to four), with the first block's
// column widths. The paginator then lays the pieces' ranges one under the other on pages, breaking only
// between paragraphs, frames and the table's rows, and each page is drawn as soon as the pieces on it are
// laid out. Any other page is laid out as one document and paginated by QTextDocument itself.
#include "widgets/pageprinter.h"

#include "data/errors.h"
#include "widgets/dialogs.h"
#include "widgets/pageblocks.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using PageBlocks::fixColumnWidths;
using PageBlocks::kBlockRows;
using PageBlocks::kFirstBlockRows;
using PageBlocks::tablesBetween;
using PageBlocks::tablesOf;

namespace {

// A document printed in part: [top, bottom) of it is printed, and a page may end at any of its breaks in
// between.
struct PrintPiece {
    struct Break {
        qreal at;
        qreal textAt; // where the text below it starts: below the borders and padding of a table row
    };
    // A document made on another thread is deleted there: its layout's timers belong to that thread.
    struct DeleteInItsThread {
        void operator()(QTextDocument* document) const {
            if (document->thread() == QThread::currentThread()) {
                delete document;
            } else {
                document->deleteLater();
            }
        }
    };
    std::unique_ptr<QImage> device; // what the document was measured for; outlives its layout
    std::unique_ptr<QTextDocument, DeleteInItsThread> document;
    qreal top = 0;
    qreal bottom = 0;
    std::vector<Break> breaks;   // by position
    std::vector<qreal> rowEdges; // the top edge of the long table's rows from its second on
    bool cut = false;            // the long table was found where the piece's markup put it
};

// The threads a page's pieces are laid out on. A piece's document stays with the thread that made it: its
// layout keeps that thread's fonts and timers. The thread is only waiting while this thread draws the
// piece, and ends only after the pieces have been let go (they are declared after this, so they go
// first) and it has deleted their documents.
class PieceThreads {
public:
    PieceThreads() = default;
    PieceThreads(const PieceThreads&) = delete;
    PieceThreads& operator=(const PieceThreads&) = delete;
    ~PieceThreads() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        released.notify_all();
        for (const auto& worker : workers_) {
            worker->wait();
        }
    }
    void start(unsigned count, const std::function<void()>& work) {
        for (unsigned t = 0; t < count; ++t) {
            // Threads of Qt's own: a layout starts timers, which need the thread's event dispatcher.
            workers_.emplace_back(QThread::create([this, work] {
                work();
                std::unique_lock<std::mutex> lock(mutex_);
                ++idle_;
                workDone.notify_all();
                for (bool last = false; !last;) {
                    last = released.wait_for(lock, std::chrono::milliseconds(20), [this] { return released_; });
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                }
            }));
            workers_.back()->start();
        }
    }
    // Waits until every thread has finished its work (what the work uses may go after this).
    void waitForWork() {
        std::unique_lock<std::mutex> lock(mutex_);
        workDone.wait(lock, [this] { return idle_ == workers_.size(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable released;
    std::condition_variable workDone;
    size_t idle_ = 0;
    bool released_ = false;
    std::vector<std::unique_ptr<QThread>> workers_;
};

// What every printed piece of a page shares with the page shown.
struct PieceSettings {
    // Copied from the page shown, on its thread, so that other threads never touch it.
    explicit PieceSettings(const QTextDocument& shown)
        : font(shown.defaultFont()), styleSheet(shown.defaultStyleSheet()), option(shown.defaultTextOption()),
          documentMargin(shown.documentMargin()), indentWidth(shown.indentWidth()), baseUrl(shown.baseUrl()) {}
    // Gives document the page's default font, styles, margins and base address.
    void applyTo(QTextDocument& document) const {
        document.setUndoRedoEnabled(false);
        document.setDefaultFont(font);
        document.setDefaultStyleSheet(styleSheet);
        document.setDefaultTextOption(option);
        document.setDocumentMargin(documentMargin);
        document.setIndentWidth(indentWidth);
        document.setBaseUrl(baseUrl);
    }

    QFont font;
    QString styleSheet;
    QTextOption option;
    qreal documentMargin = 0;
    qreal indentWidth = 0;
    QUrl baseUrl;
    qreal width = 0;
    std::optional<QTextTableFormat> format; // the long table's, with the first block's column widths
    qsizetype tableIndex = 0;
};

// A paint device of the printer's resolution, which a layout on any thread can measure text for.
QImage measuringDevice(const QPrinter& printer) {
    QImage device(1, 1, QImage::Format_RGB32);
    device.setDotsPerMeterX(qRound(printer.logicalDpiX() / 0.0254));
    device.setDotsPerMeterY(qRound(printer.logicalDpiY() / 0.0254));
    return device;
}

// Lays piece out and notes where its pages may break: before each of its top-level paragraphs and frames,
// and between the rows of table (its long table, when found).
void findBreaks(PrintPiece& piece, QTextTable* table) {
    QTextDocument& document = *piece.document;
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    layout->documentSize();
    piece.breaks.clear();
    piece.rowEdges.clear();
    for (QTextFrame::iterator it = document.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            const qreal top = layout->frameBoundingRect(frame).top();
            piece.breaks.push_back({top, top});
        } else if (it.currentBlock().isValid()) {
            const qreal top = layout->blockBoundingRect(it.currentBlock()).top();
            piece.breaks.push_back({top, top});
        }
    }
    piece.cut = table != nullptr && table->rows() > 1;
    if (piece.cut) {
        // A row's edge (the top of its cells' borders) lies a cell border and padding above its text; the
        // layout measures both in pixels of a 96 dpi screen.
        const auto rowTop = [&](int row) {
            return layout->blockBoundingRect(table->cellAt(row, 0).firstCursorPosition().block()).top();
        };
        const QTextTableFormat format = table->format();
        const qreal above = (format.border() + format.cellPadding()) * piece.device->logicalDpiY() / 96.0;
        for (int row = 1; row < table->rows(); ++row) {
            const qreal text = rowTop(row);
            piece.breaks.push_back({text - above, text});
            piece.rowEdges.push_back(text - above);
        }
    }
    std::sort(piece.breaks.begin(), piece.breaks.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
    piece.top = 0;
    piece.bottom = layout->documentSize().height();
}

// Parses html as a piece of the page, gives its long table (tables[tableIndex], when the piece has the
// expected number of tables) the shared format, and lays it out unpaginated for a copy of device. Its
// range is the whole document until the caller narrows it. Runs on any thread; the document belongs to
// the calling one.
PrintPiece makePiece(const QByteArray& html, const PieceSettings& settings, qsizetype tables, const QImage& device,
                     QObject* parent) {
    PrintPiece piece;
    piece.device = std::make_unique<QImage>(device);
    piece.document.reset(new QTextDocument(parent));
    QTextDocument& document = *piece.document;
    settings.applyTo(document);
    document.setHtml(QString::fromLatin1(html));
    const QList<QTextTable*> found = tablesOf(document);
    QTextTable* table = found.size() == tables ? found.value(settings.tableIndex) : nullptr;
    if (table != nullptr && settings.format) {
        // A format of this piece's own: formats shared between threads compute their hash in place.
        QTextTableFormat format;
        format.merge(*settings.format);
        table->setFormat(format);
    }
    document.documentLayout()->setPaintDevice(piece.device.get());
    document.setTextWidth(settings.width);
    findBreaks(piece, table);
    return piece;
}

// The top edge of a cut piece's long table's row (from 1 on).
qreal rowEdge(const PrintPiece& piece, qsizetype row) {
    return piece.rowEdges.at(static_cast<size_t>(row - 1));
}

// The page cut for printing into pieces laid out width wide at printer's resolution: the page up to the
// first kFirstBlockRows rows of its long table, then blocks of kBlockRows rows, each parsed behind the
// page's markup up to the table and given the first block's column widths, laid out on as many threads as
// the machine has cores. ready(n, of) is told on this thread whenever the first n pieces are all laid out,
// and returns false to stop. False when stopped, or, having told nothing, when the page has no long table
// to cut.
bool printPieces(const QByteArray& bytes, QTextBrowser& shown, QPrinter& printer, qreal width,
                 std::vector<PrintPiece>& pieces, PieceThreads& threads,
                 const std::function<bool(size_t, size_t)>& ready) {
    pieces.clear();
    const HtmlTableRows rows = findLongestTable(bytes);
    if (!PageBlocks::cutsIntoBlocks(rows)) {
        return false;
    }
    const qsizetype total = rows.rowStarts.size();
    PieceSettings settings(*shown.document());
    settings.width = width;
    settings.tableIndex = tablesBetween(rows.tablesWithCells, 0, rows.tableStart);

    // The pieces: the page up to the first block's rows, then a block of rows each. Each piece holds the
    // row before its own and the row after them, so that every seam between pieces is an edge between two
    // rows of one table, where the neighbouring pieces' ranges meet.
    struct Span {
        qsizetype from; // first row of its own
        qsizetype to;   // past its last row
    };
    std::vector<Span> spans{{0, kFirstBlockRows}};
    for (qsizetype row = kFirstBlockRows; row < total; row += kBlockRows) {
        spans.push_back({row, std::min<qsizetype>(row + kBlockRows, total)});
    }
    const auto rowEnd = [&](qsizetype row) { return row + 1 < total ? rows.rowStarts[row + 1] : rows.tableEnd; };
    const auto html = [&](size_t i) {
        const Span& span = spans[i];
        if (i == 0) {
            return bytes.left(rowEnd(span.to)) + "</table>";
        }
        const qsizetype from = rows.rowStarts[span.from - 1];
        const qsizetype to = i + 1 < spans.size() ? rowEnd(span.to) : bytes.size();
        QByteArray piece;
        piece.reserve(rows.tableOpenEnd + (to - from) + 8);
        piece.append(bytes.constData(), rows.tableOpenEnd);
        piece.append(bytes.constData() + from, to - from);
        if (i + 1 < spans.size()) {
            piece.append("</table>");
        }
        return piece;
    };
    const auto tablesIn = [&](size_t i) {
        const qsizetype from = i == 0 ? 0 : rows.rowStarts[spans[i].from - 1];
        const qsizetype to = i + 1 < spans.size() ? rowEnd(spans[i].to) : bytes.size();
        return i == 0 ? tablesBetween(rows.tablesWithCells, 0, to)
                      : tablesBetween(rows.tablesWithCells, 0, rows.tableOpenEnd) +
                            tablesBetween(rows.tablesWithCells, from, to);
    };

    // Each piece's range runs from the edge of its first row of its own to the edge of the row after its
    // last. A piece whose table has not the rows its markup gave it is printed whole, markup before the
    // table and all, rather than lose a row.
    const auto setRange = [&](size_t i) {
        PrintPiece& piece = pieces[i];
        const bool last = i + 1 == pieces.size();
        const qsizetype after = spans[i].to - spans[i].from + (i == 0 ? 0 : 1);
        if (!piece.cut || static_cast<qsizetype>(piece.rowEdges.size()) < (last ? 1 : after)) {
            return false;
        }
        piece.top = i == 0 ? 0 : rowEdge(piece, 1);
        if (!last) {
            piece.bottom = rowEdge(piece, after);
        }
        return true;
    };

    // The first piece, made on this thread as a child of the browser so its pictures are found as the
    // page's are, gives the columns their widths. So is the last, which holds the page's markup after the
    // table, while the threads make the others.
    QImage device = measuringDevice(printer);
    pieces.resize(spans.size());
    {
        PieceSettings probe = settings;
        probe.format.reset();
        pieces[0] = makePiece(html(0), probe, tablesIn(0), device, &shown);
        const QList<QTextTable*> tables = tablesOf(*pieces[0].document);
        if (!pieces[0].cut || tables[settings.tableIndex]->format().borderCollapse()) {
            pieces.clear();
            return false;
        }
        fixColumnWidths(*pieces[0].document, *tables[settings.tableIndex]);
        settings.format = tables[settings.tableIndex]->format();
        findBreaks(pieces[0], tables[settings.tableIndex]);
        if (!setRange(0)) {
            pieces.clear();
            return false;
        }
    }
    std::mutex mutex;
    std::condition_variable pieceMade;
    std::atomic<size_t> next{1};
    std::atomic<bool> stop{false};
    std::vector<char> made(spans.size(), 0);
    made.front() = 1;
    const auto work = [&] {
        for (size_t i = next++; i + 1 < spans.size() && !stop; i = next++) {
            PrintPiece piece = makePiece(html(i), settings, tablesIn(i), device, nullptr);
            const std::lock_guard<std::mutex> lock(mutex);
            pieces[i] = std::move(piece);
            made[i] = 1;
            pieceMade.notify_one();
        }
    };
    threads.start(std::clamp(std::thread::hardware_concurrency(), 1U, 4U), work);
    // However this ends (a page that cannot be printed throws from ready), the threads stop taking pieces
    // and finish the one they have before what they use goes.
    struct StopAndWait {
        std::atomic<bool>& stop;
        PieceThreads& threads;
        ~StopAndWait() {
            stop = true;
            threads.waitForWork();
        }
    } const stopAndWait{stop, threads};
    // The last piece is made here while the threads make the others.
    PrintPiece last = makePiece(html(spans.size() - 1), settings, tablesIn(spans.size() - 1), device, &shown);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        pieces.back() = std::move(last);
        made.back() = 1;
    }
    size_t inOrder = 1;
    while (inOrder < spans.size() && !stop) {
        size_t now = inOrder;
        {
            std::unique_lock<std::mutex> lock(mutex);
            pieceMade.wait_for(lock, std::chrono::milliseconds(50), [&] { return made[inOrder] != 0; });
            while (now < spans.size() && made[now] != 0) {
                ++now;
            }
        }
        for (; inOrder < now; ++inOrder) {
            if (!setRange(inOrder)) {
                findBreaks(pieces[inOrder], nullptr);
            }
        }
        if (!ready(inOrder, spans.size())) {
            stop = true;
        }
    }
    return !stop;
}

// The whole page as one document laid out on pages of the given size.
std::unique_ptr<QTextDocument> printDocument(const QByteArray& bytes, QTextBrowser& shown, QPrinter& printer,
                                             const QSizeF& pageSize) {
    // Made a child of the browser, so pictures are looked up the same way as for the page shown.
    auto document = std::make_unique<QTextDocument>(&shown);
    PieceSettings(*shown.document()).applyTo(*document);
    document->documentLayout()->setPaintDevice(&printer);
    document->setPageSize(pageSize);
    document->setHtml(QString::fromLatin1(bytes));
    return document;
}

// Where a piece's [from, to) goes on a page: its top at the page's at. What lies in [drawFrom, drawTo) is
// drawn, clipped to [from, clipTo). A table's drawing takes in a row that reaches into that range, and the
// rows either side of an edge between rows both reach a little across it; so a strip between two edges
// draws from a little below its top edge to a little above its bottom edge (each row's text lies further
// from the edge than that), and is clipped on down to where the text of the row below starts, so its last
// row's bottom line is whole.
struct Strip {
    size_t piece;
    qreal from;
    qreal to;
    qreal drawFrom;
    qreal drawTo;
    qreal clipTo;
    qreal at;
};

// Lays pieces' ranges one under the other on pages height tall, in the pieces' order, each page ending at
// the last break that lets its content fit; content with no break that fits is cut at the page's end.
class Paginator {
public:
    explicit Paginator(qreal height) : height_(height) {}

    void add(const std::vector<PrintPiece>& pieces, size_t i) {
        const PrintPiece& piece = pieces[i];
        qreal from = piece.top;
        while (piece.bottom - from > kNothing) {
            const qreal room = height_ - used_;
            if (piece.bottom - from <= room) {
                place(piece, i, from, piece.bottom, room);
                used_ += piece.bottom - from;
                return;
            }
            const auto fits = std::upper_bound(piece.breaks.begin(), piece.breaks.end(), from + room,
                                               [](qreal y, const auto& b) { return y < b.at; });
            if (fits != piece.breaks.begin() && std::prev(fits)->at > from + kNothing) {
                const qreal to = std::prev(fits)->at;
                place(piece, i, from, to, room);
                from = to;
            } else if (used_ <= kNothing) {
                place(piece, i, from, from + room, room);
                from += room;
            }
            pages_.emplace_back();
            used_ = 0;
        }
    }
    // How many pages nothing more will be added to: all but the last while pieces are still to come.
    int complete(bool allAdded) const {
        const int count = static_cast<int>(pages_.size());
        if (!allAdded) {
            return count - 1;
        }
        return count > 1 && pages_.back().empty() ? count - 1 : count;
    }
    const std::vector<Strip>& page(int index) const { return pages_[static_cast<size_t>(index)]; }

private:
    static constexpr qreal kNothing = 1e-6;

    // The break of piece at y, if it has one there.
    static const PrintPiece::Break* breakAt(const PrintPiece& piece, qreal y) {
        const auto it = std::lower_bound(piece.breaks.begin(), piece.breaks.end(), y - kNothing,
                                         [](const auto& b, qreal at) { return b.at < at; });
        return it != piece.breaks.end() && it->at <= y + kNothing ? &*it : nullptr;
    }

    void place(const PrintPiece& piece, size_t i, qreal from, qreal to, qreal room) {
        const auto* start = breakAt(piece, from);
        const auto* end = breakAt(piece, to);
        const qreal above = start != nullptr ? start->textAt - start->at : 0;
        const qreal below = end != nullptr ? end->textAt - end->at : 0;
        Strip strip{i, from, to, from, to, to, used_};
        if (above + below < to - from) {
            strip.drawFrom = from + above;
            strip.drawTo = to - below;
        }
        strip.clipTo = std::max(std::min(to + below, from + room), to);
        pages_.back().push_back(strip);
    }

    qreal height_;
    qreal used_ = 0;
    std::vector<std::vector<Strip>> pages_{1};
};

} // namespace

bool printHtmlPage(const QByteArray& bytes, QTextBrowser& shown, QPrinter& printer) {
    QString target = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : printer.printerName();
    if (target.isEmpty()) {
        throw ControlError(QStringLiteral("No printer or file was chosen to print the page to"));
    }
    if (!printer.isValid()) {
        throw ControlError(QStringLiteral("The printer %1 cannot be used").arg(target));
    }
    const auto failed = [&target] {
        return ControlError(QStringLiteral("Could not print the page to %1").arg(QDir::toNativeSeparators(target)));
    };
    QPainter painter;
    if (!painter.begin(&printer)) {
        throw failed();
    }
    // Pages as the document's own printing lays them out: 2 cm margins, and the page's number at the
    // bottom right of each. The margins are left by the drawing: a margin on the document's frame also
    // breaks the page before every row of a table.
    const int dpi = printer.logicalDpiY();
    const qreal margin = static_cast<int>(2 / 2.54 * dpi);
    const QSizeF content(printer.width() - 2 * margin, printer.height() - 2 * margin);

    // Progress in two halves: the page laid out, then the pages drawn. It shows once a second has passed.
    constexpr int kSteps = 1000;
    Dialogs::ProgressWindow progress(shown.window(),
                                     printer.outputFormat() == QPrinter::PdfFormat
                                         ? QStringLiteral("Saving the page as a PDF...")
                                         : QStringLiteral("Printing the page..."),
                                     kSteps);
    const auto cancelled = [&] {
        if (!progress.wasCanceled()) {
            return false;
        }
        printer.abort();
        return true;
    };

    // Pages go to the printer as soon as every piece on them is laid out, and a piece is let go once its
    // last page is out. Pages printed last first wait for the whole page.
    const bool reversed = printer.pageOrder() == QPrinter::LastPageFirst;
    const int firstWanted = std::max(printer.fromPage(), 1);
    const int lastWanted = printer.toPage() > 0 ? printer.toPage() : std::numeric_limits<int>::max();
    PieceThreads threads;
    std::vector<PrintPiece> pieces;
    Paginator pages(content.height());
    QFont numberFont;
    qreal numberAscent = 0;
    size_t added = 0;
    int out = 0;      // pages done with, printed or outside the range
    bool any = false; // a page has been printed
    const auto printPage = [&](int index) {
        if (any && !printer.newPage()) {
            throw failed();
        }
        any = true;
        for (const Strip& strip : pages.page(index)) {
            painter.save();
            painter.translate(margin, margin + strip.at - strip.from);
            painter.setClipRect(QRectF(0, strip.from, content.width(), strip.clipTo - strip.from));
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = QRectF(0, strip.drawFrom, content.width(), strip.drawTo - strip.drawFrom);
            // Black text whatever the desktop's colours, as on paper.
            context.palette.setColor(QPalette::Text, Qt::black);
            pieces[strip.piece].document->documentLayout()->draw(&painter, context);
            painter.restore();
        }
        painter.save();
        painter.translate(margin, margin);
        painter.setFont(numberFont);
        const QString number = QString::number(index + 1);
        painter.drawText(QPointF(content.width() - painter.fontMetrics().horizontalAdvance(number),
                                 content.height() + numberAscent + 5 * dpi / 72.0),
                         number);
        painter.restore();
    };
    const auto printReady = [&](size_t ready, bool all) {
        if (added == 0 && ready > 0) {
            numberFont = pieces[0].document->defaultFont();
            numberAscent = QFontMetrics(numberFont, &printer).ascent();
        }
        for (; added < ready; ++added) {
            pages.add(pieces, added);
        }
        if (reversed) {
            return;
        }
        for (const int complete = pages.complete(all); out < complete && out < lastWanted; ++out) {
            if (out + 1 >= firstWanted) {
                printPage(out);
            }
            // The pieces before the first one the next page shows are done with.
            const bool nextShown = out + 1 < pages.complete(false) + 1 && !pages.page(out + 1).empty();
            const size_t needed = nextShown ? pages.page(out + 1).front().piece : (all ? 0 : added - 1);
            for (size_t i = 0; i < needed; ++i) {
                pieces[i].document.reset();
            }
            if (all) {
                progress.setValue(std::max(progress.value(), kSteps / 2 + kSteps / 2 * (out + 1) / complete));
            }
            if (progress.wasCanceled()) {
                return;
            }
        }
    };

    // A long table is laid out in pieces, in parallel; any other page as one document, paginated by itself.
    size_t count = 0;
    const bool inPieces =
        printPieces(bytes, shown, printer, content.width(), pieces, threads, [&](size_t ready, size_t of) {
            count = of;
            printReady(ready, false);
            progress.setValue(static_cast<int>(kSteps * ready / (of + 1)));
            return !progress.wasCanceled();
        });
    if (cancelled()) {
        return false;
    }
    if (!inPieces) {
        pieces.resize(1);
        pieces[0].document.reset(printDocument(bytes, shown, printer, content).release());
        // Each of the document's own pages is a stretch of it that no page break falls inside.
        const int ownPages = pieces[0].document->pageCount();
        for (int page = 0; page < ownPages; ++page) {
            pieces[0].breaks.push_back({page * content.height(), page * content.height()});
        }
        pieces[0].bottom = content.height() * ownPages;
        count = 1;
    }
    printReady(count, true);
    if (cancelled()) {
        return false;
    }
    const int pageCount = pages.complete(true);
    for (int n = 0; reversed && n < pageCount; ++n) {
        const int index = pageCount - 1 - n;
        if (index + 1 >= firstWanted && index + 1 <= lastWanted) {
            printPage(index);
        }
        progress.setValue(kSteps / 2 + kSteps / 2 * (n + 1) / pageCount);
        if (cancelled()) {
            return false;
        }
    }
    progress.setValue(kSteps);
    if (!painter.end()) {
        throw failed();
    }
    const bool written = printer.outputFormat() != QPrinter::PdfFormat || QFileInfo(target).size() > 0;
    if (printer.printerState() == QPrinter::Error || !written) {
        throw failed();
    }
    return true;
}
