// Pages are shown from their bytes rather than through QTextBrowser::setSource, so that the 8-bit report
// files are decoded as Latin-1 and a save writes back exactly what was read. QTextBrowser lays a table out
// whole, and again whenever a row is added to it, so a long table is shown in blocks instead: each block
// of rows is parsed on its own (behind the page's markup up to the table's start tag, so it is styled as
// on the page) and its table takes the place of the block's blank, with the first block's format and
// column widths and a negative top margin that lays its top border over the previous block's bottom
// border. Only the new block's table is laid out, so a block takes a fraction of a second however many
// rows the page has.
#include "widgets/htmlview.h"

#include "data/errors.h"
#include "widgets/dialogs.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextTable>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Pages whose longest table starts further in than this are shown whole: every block is parsed behind
// the markup before the table, and beyond this that would cost more than the rows themselves.
constexpr qsizetype kMaxMarkupBeforeTable = 256 * 1024;

// The local file an address names. Addresses are made as "file://" followed by the path as it stands, so
// the path is taken literally (a folder may hold '#' or '%'); an encoded URL is accepted as well.
QString localFileOf(const QString& address) {
    const QString scheme = QStringLiteral("file://");
    if (!address.startsWith(scheme, Qt::CaseInsensitive)) {
        return address;
    }
    QString literal = address.mid(scheme.size());
    if (QFileInfo::exists(literal)) {
        return literal;
    }
    return QUrl(address).toLocalFile();
}

// The permissions the user's new files get: read and write for all, less what the process's mask takes.
QFileDevice::Permissions newFilePermissions() {
    const mode_t mask = umask(0);
    umask(mask);
    QFileDevice::Permissions p;
    const mode_t mode = 0666 & ~mask;
    if (mode & S_IRUSR)
        p |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & S_IWUSR)
        p |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    if (mode & S_IRGRP)
        p |= QFileDevice::ReadGroup;
    if (mode & S_IWGRP)
        p |= QFileDevice::WriteGroup;
    if (mode & S_IROTH)
        p |= QFileDevice::ReadOther;
    if (mode & S_IWOTH)
        p |= QFileDevice::WriteOther;
    return p;
}

QByteArray notFoundPage(const QString& address) {
    QString page = QStringLiteral("<html><head><title>Page not found</title></head><body>"
                                  "<h2>The page cannot be found</h2>"
                                  "<p>There is no page at %1.</p></body></html>")
                       .arg(address.toHtmlEscaped());
    return page.toLatin1();
}

// ---------------------------------------------------------------------------------------------------------
// Reading the page's tags

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether the bytes [from, to) are word, which is lower case, without regard to case.
bool sameName(const char* data, qsizetype from, qsizetype to, const char* word) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(word));
    if (to - from != length) {
        return false;
    }
    for (qsizetype i = 0; i < length; ++i) {
        if (lowerAscii(data[from + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// The first place at or after from where needle (lower case) starts, without regard to case; size when none.
qsizetype findNoCase(const char* data, qsizetype size, qsizetype from, const char* needle) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(needle));
    for (qsizetype i = from; i + length <= size; ++i) {
        if (lowerAscii(data[i]) != needle[0]) {
            continue;
        }
        qsizetype k = 1;
        while (k < length && lowerAscii(data[i + k]) == needle[k]) {
            ++k;
        }
        if (k == length) {
            return i;
        }
    }
    return size;
}

// The '>' that ends the tag whose name ends at from; quoted attribute values may hold '>'. size when the
// page ends first.
qsizetype tagEnd(const char* data, qsizetype size, qsizetype from) {
    for (qsizetype i = from; i < size; ++i) {
        const char c = data[i];
        if (c == '>') {
            return i;
        }
        if (c == '"' || c == '\'') {
            const void* close = std::memchr(data + i + 1, c, static_cast<size_t>(size - i - 1));
            if (!close) {
                return size;
            }
            i = static_cast<const char*>(close) - data;
        }
    }
    return size;
}

// ---------------------------------------------------------------------------------------------------------
// The tables of a QTextDocument

void collectTables(QTextFrame* frame, QList<QTextTable*>& out) {
    const QList<QTextFrame*> children = frame->childFrames();
    for (QTextFrame* child : children) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            out.append(table);
        }
        collectTables(child, out);
    }
}

// Every table of document in the order their start tags had on the page.
QList<QTextTable*> tablesOf(QTextDocument& document) {
    QList<QTextTable*> tables;
    collectTables(document.rootFrame(), tables);
    return tables;
}

// How many of the tables listed (by start offset, ascending) start in [from, to).
qsizetype tablesBetween(const QList<qsizetype>& starts, qsizetype from, qsizetype to) {
    auto first = std::lower_bound(starts.begin(), starts.end(), from);
    auto last = std::lower_bound(starts.begin(), starts.end(), to);
    return last - first;
}

// Finishes the layout the browser does a piece at a time after a change, and tells the browser the page's
// length, so its scroll bar reaches the page's end (asked for the size, the layout finishes without saying
// that the size changed).
void layOutToTheEnd(QTextBrowser& browser) {
    QAbstractTextDocumentLayout* layout = browser.document()->documentLayout();
    emit layout->documentSizeChanged(layout->documentSize());
}

// The format of a blank height tall with the given bottom margin, standing in for a block of rows: an
// empty table of one cell, so it abuts its neighbours as the blocks' tables do (a plain frame would get an
// empty paragraph between it and the next).
QTextTableFormat blankFormat(qreal height, qreal bottomMargin) {
    QTextTableFormat format;
    format.setBorder(0);
    format.setMargin(0);
    format.setPadding(0);
    format.setCellPadding(0);
    format.setCellSpacing(0);
    format.setBottomMargin(bottomMargin);
    format.setHeight(QTextLength(QTextLength::FixedLength, height));
    return format;
}

// The format of a table continuing first's rows: its top border lies over the bottom border of the table
// before, so the seam looks like the line between two rows of one table; no header rows, no bottom margin.
QTextTableFormat continuationFormat(const QTextTableFormat& first) {
    QTextTableFormat format = first;
    format.setTopMargin(-(2 * first.border() + first.cellSpacing()));
    format.setBottomMargin(0);
    format.setHeaderRowCount(0);
    return format;
}

// Gives table column widths the blocks cut from its rows will share, from the widths it was laid out with
// in document; a table whose columns all have widths keeps them.
void fixColumnWidths(QTextDocument& document, QTextTable& table) {
    QTextTableFormat format = table.format();
    const int columns = table.columns();
    const QList<QTextLength> given = format.columnWidthConstraints();
    const bool allGiven = given.size() == columns && std::none_of(given.begin(), given.end(), [](const QTextLength& l) {
                              return l.type() == QTextLength::VariableLength;
                          });
    if (allGiven || columns == 0) {
        return;
    }
    // Each column's left edge and text width from a cell that spans it alone. A column's width is the
    // distance to the next column's left edge less the borders and spacing between them; the last one's is
    // its text width plus the padding the first column has around its text.
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    const auto count = static_cast<size_t>(columns);
    std::vector<qreal> left(count, -1);
    std::vector<qreal> text(count, -1);
    for (size_t c = 0; c < count; ++c) {
        for (int r = 0; r < table.rows(); ++r) {
            const QTextTableCell cell = table.cellAt(r, static_cast<int>(c));
            if (cell.column() != static_cast<int>(c) || cell.columnSpan() != 1) {
                continue;
            }
            const QTextBlock block = cell.firstCursorPosition().block();
            const QTextBlockFormat blockFormat = block.blockFormat();
            const qreal before = blockFormat.leftMargin() + blockFormat.indent() * document.indentWidth();
            const QRectF rect = layout->blockBoundingRect(block);
            left[c] = rect.left() - before;
            text[c] = rect.width() + before + blockFormat.rightMargin();
            break;
        }
        if (left[c] < 0) {
            return; // no cell spans this column alone: the blocks keep the page's own widths
        }
    }
    const qreal between = 2 * format.border() + format.cellSpacing();
    std::vector<qreal> widths(count);
    for (size_t c = 0; c + 1 < count; ++c) {
        widths[c] = left[c + 1] - left[c] - between;
    }
    widths[count - 1] = text[count - 1] + (count > 1 ? widths[0] - text[0] : 2 * format.cellPadding());
    qreal sum = 0;
    for (qreal w : widths) {
        if (w <= 0) {
            return;
        }
        sum += w;
    }
    // A table as wide as its contents keeps its columns' widths. In a table as wide as a share of the page
    // the columns keep their shares, so the blocks stay aligned however the view is resized, and the last
    // column takes what rounding leaves, so the table stays as wide as before.
    QList<QTextLength> constraints;
    const bool contentWide = format.width().type() == QTextLength::VariableLength;
    for (size_t c = 0; c < count; ++c) {
        if (contentWide) {
            constraints.append(QTextLength(QTextLength::FixedLength, widths[c]));
        } else if (c + 1 < count) {
            // An eighth of a pixel more, so the layout's rounding down of a share does not cost a pixel.
            constraints.append(QTextLength(QTextLength::PercentageLength, 100.0 * (widths[c] + 1.0 / 8) / sum));
        } else {
            constraints.append(QTextLength());
        }
    }
    format.setColumnWidthConstraints(constraints);
    table.setFormat(format);
}

} // namespace

HtmlTableRows findLongestTable(const QByteArray& page) {
    struct OpenTable {
        qsizetype start;
        qsizetype openEnd;
        QList<qsizetype> rows;
        bool hasCells = false;
        bool spansRows = false;
    };
    HtmlTableRows best;
    QList<OpenTable> open;
    const char* data = page.constData();
    const qsizetype size = page.size();

    auto closeTable = [&](qsizetype end) {
        OpenTable table = open.takeLast();
        if (table.hasCells) {
            best.tablesWithCells.append(table.start);
        }
        if (table.rows.size() > best.rowStarts.size()) {
            best.tableStart = table.start;
            best.tableOpenEnd = table.openEnd;
            best.tableEnd = end;
            best.rowStarts = std::move(table.rows);
            best.spansRows = table.spansRows;
        }
    };

    qsizetype at = 0;
    while (at < size) {
        const void* found = std::memchr(data + at, '<', static_cast<size_t>(size - at));
        if (!found) {
            break;
        }
        const qsizetype lt = static_cast<const char*>(found) - data;
        if (size - lt >= 4 && std::memcmp(data + lt, "<!--", 4) == 0) {
            const qsizetype close = findNoCase(data, size, lt + 4, "-->");
            at = close + 3;
            continue;
        }
        qsizetype nameStart = lt + 1;
        const bool closing = nameStart < size && data[nameStart] == '/';
        if (closing) {
            ++nameStart;
        }
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && isNameChar(data[nameEnd])) {
            ++nameEnd;
        }
        if (nameEnd == nameStart) {
            at = lt + 1; // a '<' in text, or a declaration
            continue;
        }
        const qsizetype gt = tagEnd(data, size, nameEnd);
        at = gt + 1;
        if (closing) {
            if (sameName(data, nameStart, nameEnd, "table") && !open.isEmpty()) {
                closeTable(lt);
            }
            continue;
        }
        if (sameName(data, nameStart, nameEnd, "table")) {
            open.append(OpenTable{lt, std::min(gt + 1, size), {}});
        } else if (sameName(data, nameStart, nameEnd, "tr")) {
            if (!open.isEmpty()) {
                open.last().rows.append(lt);
            }
        } else if (sameName(data, nameStart, nameEnd, "td") || sameName(data, nameStart, nameEnd, "th")) {
            if (!open.isEmpty()) {
                open.last().hasCells = true;
                if (findNoCase(data, gt, nameEnd, "rowspan") < gt) {
                    open.last().spansRows = true;
                }
            }
        } else if (sameName(data, nameStart, nameEnd, "style") || sameName(data, nameStart, nameEnd, "script")) {
            // Their text is not markup; it runs to the matching end tag.
            const char* endTag = sameName(data, nameStart, nameEnd, "style") ? "</style" : "</script";
            at = findNoCase(data, size, at, endTag);
        }
    }
    while (!open.isEmpty()) {
        closeTable(size);
    }
    std::sort(best.tablesWithCells.begin(), best.tablesWithCells.end());
    return best;
}

// ---------------------------------------------------------------------------------------------------------
// The rows still to show

// Holds a split page: its bytes, where its longest table's rows lie, and the blocks those rows are cut
// into. The first block is shown as a table at once. Every other block stands in the document as an empty
// frame as tall as its rows are expected to be, so the page is as long as it will be from the start and
// the scroll bar, End and Ctrl+End reach any part of it at once. A block's frame gives way to the block's
// table when the view comes near it, one block per pass of the event loop, the nearest first; the blocks
// the view never comes near are never laid out.
class TextBrowserView::RowFeeder : public QObject {
public:
    explicit RowFeeder(QTextBrowser& browser);

    // Forgets the page shown, if it was split.
    void reset();
    // Shows page with only the first block of its longest table's rows as a table, and the other blocks'
    // stand-ins; false (with nothing settled) when the document made of that part does not hold the tables
    // the page's tags promise, or its table cannot be continued seamlessly.
    bool showSplit(const QByteArray& page, HtmlTableRows rows);
    bool split() const { return !blocks_.empty(); }
    bool complete() const { return waiting_ == 0; }
    // True when no block within reach of the view waits to be shown.
    bool settled() const { return complete() || nearestWaitingBlock() < 0; }
    // Shows every block still waiting, in page order.
    void finish();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Block {
        qsizetype firstRow = 0;
        qsizetype endRow = 0;
        QPointer<QTextFrame> standIn; // null once the block's table is shown
    };

    void schedule();
    void tick();
    // The waiting block nearest the view, if one lies within a screen above or two below it; -1 if none.
    qsizetype nearestWaitingBlock() const;
    // Puts the block's table in place of its stand-in, keeping what the view shows where it is; false when
    // the table could not be made, in which case the page has been shown whole instead.
    bool showBlock(size_t index);
    void showWhole();

    QTextBrowser& browser_;
    QTimer tick_;
    QByteArray page_;
    HtmlTableRows rows_;
    qsizetype tableIndex_ = 0; // the table's place among the page's tables that have cells
    std::vector<Block> blocks_;
    qsizetype waiting_ = 0;
    QTextTableFormat blockFormat_; // the format of every block's table after the first
    qreal bottomMargin_ = 0;       // the page's table's own bottom margin, kept by the last block
};

TextBrowserView::RowFeeder::RowFeeder(QTextBrowser& browser) : QObject(&browser), browser_(browser) {
    tick_.setSingleShot(true);
    tick_.setInterval(0);
    connect(&tick_, &QTimer::timeout, this, &RowFeeder::tick);
    QScrollBar* bar = browser.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &RowFeeder::schedule);
    connect(bar, &QScrollBar::rangeChanged, this, &RowFeeder::schedule);
    browser.installEventFilter(this);
}

void TextBrowserView::RowFeeder::reset() {
    tick_.stop();
    page_.clear();
    rows_ = HtmlTableRows();
    blocks_.clear();
    waiting_ = 0;
}

bool TextBrowserView::RowFeeder::showSplit(const QByteArray& page, HtmlTableRows rows) {
    reset();
    const qsizetype firstBlockEnd = rows.rowStarts[kFirstBlockRows];
    QByteArray shown;
    shown.reserve(firstBlockEnd + page.size() - rows.tableEnd);
    shown.append(page.constData(), firstBlockEnd);
    shown.append(page.constData() + rows.tableEnd, page.size() - rows.tableEnd);
    browser_.setHtml(QString::fromLatin1(shown));

    QTextDocument& document = *browser_.document();
    const QList<QTextTable*> tables = tablesOf(document);
    const QList<qsizetype>& starts = rows.tablesWithCells;
    const qsizetype expected =
        tablesBetween(starts, 0, firstBlockEnd) + tablesBetween(starts, rows.tableEnd, page.size());
    const qsizetype index = tablesBetween(starts, 0, rows.tableStart);
    if (tables.size() != expected || index >= tables.size() || tables[index]->format().borderCollapse()) {
        return false;
    }
    QTextTable& first = *tables[index];
    if (document.pageSize().width() <= 0) {
        // A view never shown has not laid its page out; it is measured as wide as the view is now.
        document.setTextWidth(browser_.viewport()->width());
    }
    fixColumnWidths(document, first);
    QTextTableFormat format = first.format();
    bottomMargin_ = format.bottomMargin();
    blockFormat_ = continuationFormat(format);
    format.setBottomMargin(0);
    first.setFormat(format);

    // The blocks still to come are expected to have rows as tall as the first block's after its first.
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    const auto rowTop = [&](int row) {
        return layout->blockBoundingRect(first.cellAt(row, 0).firstCursorPosition().block()).top();
    };
    const int shownRows = first.rows();
    qreal rowHeight = layout->frameBoundingRect(&first).height() / std::max(shownRows, 1);
    if (shownRows > 2 && rowTop(shownRows - 1) > rowTop(1)) {
        rowHeight = (rowTop(shownRows - 1) - rowTop(1)) / (shownRows - 2);
    }

    page_ = page;
    rows_ = std::move(rows);
    tableIndex_ = index;
    const qsizetype total = rows_.rowStarts.size();
    blocks_.push_back(Block{0, kFirstBlockRows, nullptr});
    // The blanks are made in a document of their own and put in place in one insertion: inserted one by
    // one, each would have the page after it laid out again.
    QTextDocument blanks;
    blanks.setUndoRedoEnabled(false);
    QTextCursor make(&blanks);
    for (qsizetype row = kFirstBlockRows; row < total; row += kBlockRows) {
        const qsizetype end = std::min(row + kBlockRows, total);
        make.movePosition(QTextCursor::End);
        make.insertTable(1, 1,
                         blankFormat(rowHeight * static_cast<qreal>(end - row), end == total ? bottomMargin_ : 0));
        blocks_.push_back(Block{row, end, nullptr});
    }
    const QList<QTextFrame*> made = blanks.rootFrame()->childFrames();
    QTextCursor pick(&blanks);
    pick.setPosition(made.first()->firstPosition() - 1);
    pick.setPosition(made.last()->lastPosition() + 1, QTextCursor::KeepAnchor);
    const int position = first.lastPosition() + 1;
    QTextCursor at(&document);
    at.setPosition(position);
    at.insertFragment(QTextDocumentFragment(pick));
    // The blanks follow the first block's table in page order.
    const QList<QTextFrame*> frames = first.parentFrame()->childFrames();
    const auto blank = std::find(frames.begin(), frames.end(), &first) + 1;
    if (frames.end() - blank < static_cast<qsizetype>(blocks_.size()) - 1) {
        reset();
        return false;
    }
    for (size_t i = 1; i < blocks_.size(); ++i) {
        blocks_[i].standIn = *(blank + static_cast<qsizetype>(i) - 1);
    }
    waiting_ = static_cast<qsizetype>(blocks_.size()) - 1;
    // Laid out to the end now, so the scroll bar has the page's whole length before the user can move it.
    layOutToTheEnd(browser_);
    schedule();
    return true;
}

void TextBrowserView::RowFeeder::finish() {
    for (size_t i = 0; i < blocks_.size() && !complete(); ++i) {
        if (blocks_[i].standIn && !showBlock(i)) {
            return;
        }
    }
}

bool TextBrowserView::RowFeeder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &browser_) {
        return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        // A read-only browser moves no cursor, so Home and End, with or without Ctrl, go to the top and the
        // bottom of the page.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier)) == Qt::NoModifier;
        if (plain && (key->key() == Qt::Key_End || key->key() == Qt::Key_Home)) {
            layOutToTheEnd(browser_);
            browser_.verticalScrollBar()->triggerAction(key->key() == Qt::Key_End ? QAbstractSlider::SliderToMaximum
                                                                                  : QAbstractSlider::SliderToMinimum);
            return true;
        }
    } else if (split() && (event->type() == QEvent::Show || event->type() == QEvent::Resize)) {
        schedule();
    }
    return QObject::eventFilter(watched, event);
}

void TextBrowserView::RowFeeder::schedule() {
    if (!complete() && !tick_.isActive()) {
        tick_.start();
    }
}

void TextBrowserView::RowFeeder::tick() {
    // A view closed while its rows arrive stops bringing them in; shown again, it carries on.
    if (complete() || !browser_.isVisible()) {
        return;
    }
    // The page laid out to its end first (a resized view lays out lazily), so the view's place is known.
    layOutToTheEnd(browser_);
    const qsizetype next = nearestWaitingBlock();
    if (next >= 0 && showBlock(static_cast<size_t>(next))) {
        // Checked again once the view has taken the new rows in: one block may not be enough.
        schedule();
    }
}

qsizetype TextBrowserView::RowFeeder::nearestWaitingBlock() const {
    const qreal viewHeight = browser_.viewport()->height();
    const qreal viewTop = browser_.verticalScrollBar()->value();
    const qreal viewBottom = viewTop + viewHeight;
    QAbstractTextDocumentLayout* layout = browser_.document()->documentLayout();
    qsizetype nearest = -1;
    qreal nearestDistance = 0;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        if (!blocks_[i].standIn) {
            continue;
        }
        const QRectF rect = layout->frameBoundingRect(blocks_[i].standIn);
        if (rect.top() > viewBottom + 2 * viewHeight) {
            break; // the blocks lie in page order: the rest are further down still
        }
        const qreal distance =
            rect.bottom() < viewTop ? viewTop - rect.bottom() : std::max(0.0, rect.top() - viewBottom);
        const bool within = rect.bottom() < viewTop ? distance <= viewHeight : true;
        if (within && (nearest < 0 || distance < nearestDistance)) {
            nearest = static_cast<qsizetype>(i);
            nearestDistance = distance;
        }
    }
    return nearest;
}

bool TextBrowserView::RowFeeder::showBlock(size_t index) {
    Block& block = blocks_[index];
    const qsizetype total = rows_.rowStarts.size();
    const qsizetype from = rows_.rowStarts[block.firstRow];
    const qsizetype to = block.endRow < total ? rows_.rowStarts[block.endRow] : rows_.tableEnd;

    // The block's rows behind everything up to the table's start tag, so they are styled as on the page.
    QByteArray html;
    html.reserve(rows_.tableOpenEnd + (to - from) + 8);
    html.append(page_.constData(), rows_.tableOpenEnd);
    html.append(page_.constData() + from, to - from);
    html.append("</table>");
    QTextDocument scratch;
    scratch.setUndoRedoEnabled(false);
    scratch.setHtml(QString::fromLatin1(html));
    const QList<QTextTable*> tables = tablesOf(scratch);
    const QList<qsizetype>& starts = rows_.tablesWithCells;
    if (tables.size() != tablesBetween(starts, 0, rows_.tableOpenEnd) + tablesBetween(starts, from, to) ||
        tableIndex_ >= tables.size()) {
        showWhole();
        return false;
    }
    // The block's table takes its format before it is moved, so it is laid out once.
    QTextTableFormat format = blockFormat_;
    if (block.endRow == total) {
        format.setBottomMargin(bottomMargin_);
    }
    QTextTable* source = tables[tableIndex_];
    source->setFormat(format);
    QTextCursor pick(&scratch);
    pick.setPosition(source->firstPosition() - 1);
    pick.setPosition(source->lastPosition() + 1, QTextCursor::KeepAnchor);
    const QTextDocumentFragment rowsBlock(pick);

    QTextDocument& document = *browser_.document();
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    QScrollBar* bar = browser_.verticalScrollBar();
    const int value = bar->value();
    const bool atBottom = value > 0 && value >= bar->maximum();
    const QRectF before = layout->frameBoundingRect(block.standIn);

    QTextFrame* parent = block.standIn->parentFrame();
    QTextCursor at(&document);
    at.beginEditBlock();
    at.setPosition(block.standIn->firstPosition() - 1);
    at.setPosition(block.standIn->lastPosition() + 1, QTextCursor::KeepAnchor);
    at.removeSelectedText();
    const int position = at.position();
    at.insertFragment(rowsBlock);
    at.endEditBlock();
    QTextTable* added = nullptr;
    for (QTextFrame* child : parent->childFrames()) {
        if (child->firstPosition() > position) {
            added = qobject_cast<QTextTable*>(child);
            break;
        }
    }
    if (!added) {
        showWhole();
        return false;
    }
    block.standIn = nullptr;
    --waiting_;

    // The rows may be taller or shorter than expected. What the view shows stays where it is: a block
    // above the view moves the view by the difference, one the view's top lies in keeps that row in place,
    // and a view at the bottom of the page stays there.
    layOutToTheEnd(browser_);
    const QRectF after = layout->frameBoundingRect(added);
    if (atBottom) {
        bar->setValue(bar->maximum());
    } else if (before.bottom() <= value) {
        bar->setValue(value + qRound(after.bottom() - before.bottom()));
    } else if (before.top() < value && before.height() > 0) {
        bar->setValue(qRound(after.top() + (value - before.top()) * after.height() / before.height()));
    }
    return true;
}

void TextBrowserView::RowFeeder::showWhole() {
    const QByteArray page = page_;
    const int position = browser_.verticalScrollBar()->value();
    reset();
    browser_.setHtml(QString::fromLatin1(page));
    browser_.verticalScrollBar()->setValue(position);
}

// ---------------------------------------------------------------------------------------------------------
// The view

TextBrowserView::TextBrowserView(QWidget* parent) : browser_(new QTextBrowser(parent)) {
    browser_->setObjectName(QStringLiteral("WebBrowser1"));
    browser_->setOpenLinks(false);
    // Nothing is ever undone in a view, and rows appended to a long page would only fill the undo stack.
    browser_->document()->setUndoRedoEnabled(false);
    feeder_ = new RowFeeder(*browser_);
}

TextBrowserView::~TextBrowserView() {
    // The browser belongs to this view unless a window has already destroyed it with its other children.
    delete browser_.data();
}

QWidget* TextBrowserView::widget() {
    return browser_;
}

QTextDocument* TextBrowserView::document() const {
    return browser_->document();
}

QString TextBrowserView::documentText() const {
    return browser_->document()->toPlainText();
}

bool TextBrowserView::pageComplete() const {
    return feeder_->complete();
}

bool TextBrowserView::viewSettled() const {
    return feeder_->settled();
}

void TextBrowserView::showWholePage() {
    feeder_->finish();
}

void TextBrowserView::clear() {
    feeder_->reset();
    bytes_ = QByteArray();
    address_.clear();
    browser_->document()->clear();
    browser_->setSearchPaths({});
    browser_->document()->setBaseUrl(QUrl());
    // The page's memory goes back to the system rather than staying with the allocator.
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void TextBrowserView::navigate(const QString& address) {
    address_ = address;
    QString path = localFileOf(address);
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        showPage(notFoundPage(address), QString());
        return;
    }
    showPage(file.readAll(), QFileInfo(path).absolutePath());
}

void TextBrowserView::showPage(const QByteArray& bytes, const QString& folder) {
    feeder_->reset();
    bytes_ = bytes;
    if (folder.isEmpty()) {
        browser_->setSearchPaths({});
        browser_->document()->setBaseUrl(QUrl());
    } else {
        browser_->setSearchPaths({folder});
        browser_->document()->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    }
    HtmlTableRows rows = findLongestTable(bytes);
    // A page with rows that span rows cannot be cut between rows.
    if (rows.rowStarts.size() > kSplitRows && !rows.spansRows && rows.tableOpenEnd <= kMaxMarkupBeforeTable &&
        feeder_->showSplit(bytes, std::move(rows))) {
        return;
    }
    browser_->setHtml(QString::fromLatin1(bytes));
}

// A document printed in part: [top, bottom) of it is printed, and a page may end at any of its breaks in
// between.
struct TextBrowserView::PrintPiece {
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
class TextBrowserView::PieceThreads {
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

namespace {

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
void findBreaks(TextBrowserView::PrintPiece& piece, QTextTable* table) {
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
TextBrowserView::PrintPiece makePiece(const QByteArray& html, const PieceSettings& settings, qsizetype tables,
                                      const QImage& device, QObject* parent) {
    TextBrowserView::PrintPiece piece;
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
qreal rowEdge(const TextBrowserView::PrintPiece& piece, qsizetype row) {
    return piece.rowEdges.at(static_cast<size_t>(row - 1));
}

} // namespace

bool TextBrowserView::printPieces(QPrinter& printer, qreal width, std::vector<PrintPiece>& pieces,
                                  PieceThreads& threads, const std::function<bool(size_t, size_t)>& ready) const {
    pieces.clear();
    const HtmlTableRows rows = findLongestTable(bytes_);
    const qsizetype total = rows.rowStarts.size();
    if (total <= kSplitRows || rows.spansRows || rows.tableOpenEnd > kMaxMarkupBeforeTable) {
        return false;
    }
    PieceSettings settings(*browser_->document());
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
            return bytes_.left(rowEnd(span.to)) + "</table>";
        }
        const qsizetype from = rows.rowStarts[span.from - 1];
        const qsizetype to = i + 1 < spans.size() ? rowEnd(span.to) : bytes_.size();
        QByteArray piece;
        piece.reserve(rows.tableOpenEnd + (to - from) + 8);
        piece.append(bytes_.constData(), rows.tableOpenEnd);
        piece.append(bytes_.constData() + from, to - from);
        if (i + 1 < spans.size()) {
            piece.append("</table>");
        }
        return piece;
    };
    const auto tablesIn = [&](size_t i) {
        const qsizetype from = i == 0 ? 0 : rows.rowStarts[spans[i].from - 1];
        const qsizetype to = i + 1 < spans.size() ? rowEnd(spans[i].to) : bytes_.size();
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
        pieces[0] = makePiece(html(0), probe, tablesIn(0), device, browser_.data());
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
    PrintPiece last = makePiece(html(spans.size() - 1), settings, tablesIn(spans.size() - 1), device, browser_.data());
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

std::unique_ptr<QTextDocument> TextBrowserView::printDocument(QPrinter& printer, const QSizeF& pageSize) const {
    // Made a child of the browser, so pictures are looked up the same way as for the page shown.
    auto document = std::make_unique<QTextDocument>(browser_.data());
    PieceSettings(*browser_->document()).applyTo(*document);
    document->documentLayout()->setPaintDevice(&printer);
    document->setPageSize(pageSize);
    document->setHtml(QString::fromLatin1(bytes_));
    return document;
}

void TextBrowserView::saveAs() {
    const QString pdfType = QStringLiteral("PDF (*.pdf)");
    QString fileType;
    QString fileName = Dialogs::getSaveFileName(browser_, QStringLiteral("Save As"),
                                                QStringLiteral("Web page (*.htm *.html);;") + pdfType, &fileType);
    if (fileName.isEmpty()) {
        return;
    }
    // A name's own ending decides; a name without one gets the ending of the file type chosen.
    const QString ending = QFileInfo(fileName).suffix().toLower();
    bool pdf = ending == QLatin1String("pdf");
    if (!pdf && ending != QLatin1String("htm") && ending != QLatin1String("html")) {
        pdf = fileType == pdfType;
        fileName += pdf ? QStringLiteral(".pdf") : QStringLiteral(".htm");
    }
    if (pdf) {
        savePdf(fileName);
    } else {
        saveBytes(fileName);
    }
}

void TextBrowserView::saveBytes(const QString& fileName) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes_) != bytes_.size() || !file.commit()) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    }
}

void TextBrowserView::savePdf(const QString& fileName) {
    // The PDF is printed into a new file beside the target and put in the target's place only when it is
    // complete, so a print that fails leaves a PDF already there as it was.
    const QFileInfo target(fileName);
    QTemporaryFile part(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!part.open()) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), part.errorString()));
    }
    part.close();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(part.fileName());
    if (!printTo(printer)) {
        return; // cancelled: the file already there stays as it was
    }
    // A new file gets the permissions any new file of the user gets; a replaced one keeps its own.
    QFileDevice::Permissions permissions = target.exists() ? QFile::permissions(fileName) : newFilePermissions();
    QFile::setPermissions(part.fileName(), permissions);
    if (std::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(fileName).constData()) != 0) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), QString::fromLocal8Bit(std::strerror(errno))));
    }
    part.setAutoRemove(false);
}

void TextBrowserView::print() {
    QPrinter printer(QPrinter::HighResolution);
    if (!Dialogs::execPrintDialog(browser_, printer)) {
        return;
    }
    printTo(printer);
}

namespace {

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

    void add(const std::vector<TextBrowserView::PrintPiece>& pieces, size_t i) {
        const TextBrowserView::PrintPiece& piece = pieces[i];
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
    static const TextBrowserView::PrintPiece::Break* breakAt(const TextBrowserView::PrintPiece& piece, qreal y) {
        const auto it = std::lower_bound(piece.breaks.begin(), piece.breaks.end(), y - kNothing,
                                         [](const auto& b, qreal at) { return b.at < at; });
        return it != piece.breaks.end() && it->at <= y + kNothing ? &*it : nullptr;
    }

    void place(const TextBrowserView::PrintPiece& piece, size_t i, qreal from, qreal to, qreal room) {
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

bool TextBrowserView::printTo(QPrinter& printer) {
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
    Dialogs::ProgressWindow progress(browser_->window(),
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
    const bool inPieces = printPieces(printer, content.width(), pieces, threads, [&](size_t ready, size_t of) {
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
        pieces[0].document.reset(printDocument(printer, content).release());
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
